#include "app/Application.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <stdexcept>

TEST(StandardExceptionDisplay, ShowsTheMessageInAnErrorBoxAndCarriesOn) {
    TMessageCapture messages;
    EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("Could not open the file"); }));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(messages.Last(), "Could not open the file");
    EXPECT_TRUE(RunGuarded([] {}));
    EXPECT_EQ(messages.messages.size(), 1u);
}

TEST(StandardExceptionDisplay, SomethingThatIsNotAStandardExceptionShowsAnEmptyMessage) {
    TMessageCapture messages;
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(messages.Last(), "");
}
