#include "base/Convert.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

TEST(Convert, DecimalAndHexadecimalForms) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("  -42"), -42);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x7fff"), 0x7FFF);
    EXPECT_EQ(StrToInt("0XFFFFFFFF"), -1);
    EXPECT_EQ(StrToInt("$8000"), 0x8000);
}

TEST(Convert, RejectsWhatIsNotANumber) {
    for (const char* bad :
         {"", " ", "-", "$", "0x", "1.5", "12 ", "abc", "2147483648", "-2147483649", "$100000000"}) {
        EXPECT_FALSE(TryStrToInt(bad).has_value()) << bad;
    }
    try {
        StrToInt("abc");
        FAIL();
    } catch (const TConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
}

TEST(Convert, Booleans) {
    EXPECT_TRUE(StrToBool("true"));
    EXPECT_TRUE(StrToBool("True"));
    EXPECT_FALSE(StrToBool("false"));
    EXPECT_TRUE(StrToBool("1"));
    EXPECT_FALSE(StrToBool("0"));
    EXPECT_THROW(StrToBool("yes"), TConvertError);
}
