#include "app/Registry.h"

#include <QSettings>
#include <gtest/gtest.h>

namespace {

QSettings Key() {
    return QSettings("Roduzede", "Dezadizi Config Manager");
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { Key().clear(); }
    void TearDown() override { Key().clear(); }
};

} // namespace

TEST_F(Registry, MissingValuesAreWrittenWithTheirDefaults) {
    EXPECT_EQ(ReadRegistryInteger("CommPortIndex", 0), 0);
    EXPECT_EQ(ReadRegistryInteger("DeviceIndex", 7), 7);
    EXPECT_TRUE(ReadRegistryBool("Online", true));
    QSettings key = Key();
    EXPECT_EQ(key.value("CommPortIndex").toInt(), 0);
    EXPECT_EQ(key.value("DeviceIndex").toInt(), 7);
    EXPECT_EQ(key.value("Online").toInt(), 1);
}

TEST_F(Registry, StoredValuesWinOverTheDefault) {
    WriteRegistryInteger("CommPortIndex", 2);
    WriteRegistryBool("Online", false);
    EXPECT_EQ(ReadRegistryInteger("CommPortIndex", 0), 2);
    EXPECT_FALSE(ReadRegistryBool("Online", true));
    EXPECT_EQ(Key().value("Online").toInt(), 0);
    // Any non-zero integer reads as true.
    WriteRegistryInteger("Online", 5);
    EXPECT_TRUE(ReadRegistryBool("Online", false));
}

TEST_F(Registry, ANonNumberIsReplacedByTheDefault) {
    Key().setValue("DeviceIndex", "abc");
    EXPECT_EQ(ReadRegistryInteger("DeviceIndex", 1), 1);
    EXPECT_EQ(Key().value("DeviceIndex").toInt(), 1);
}
