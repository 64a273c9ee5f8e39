#include "model/Commission.h"

#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

TCommissionResult Result(TOutcome outcome) {
    TCommissionResult result;
    result.outcome = outcome;
    return result;
}

} // namespace

TEST(Commission, TheSitesStatusFollowsItsWorstUnit) {
    using O = TOutcome;
    const auto status = [](std::initializer_list<O> outcomes, bool dryRun = false) {
        std::vector<TCommissionResult> results;
        for (O outcome : outcomes)
            results.push_back(Result(outcome));
        return SiteStatus(results, dryRun);
    };
    EXPECT_EQ(status({O::Verified, O::Unchanged}), TSiteStatus::Done);
    EXPECT_EQ(status({O::Verified, O::Unconfirmed, O::Unchanged}), TSiteStatus::Unconfirmed);
    EXPECT_EQ(status({O::Unconfirmed, O::Mismatch}), TSiteStatus::Failed);
    EXPECT_EQ(status({O::Verified, O::NoUnit}), TSiteStatus::Failed);
    EXPECT_EQ(status({O::Failed, O::Stopped}), TSiteStatus::Stopped);
    EXPECT_EQ(status({O::WouldChange, O::Unchanged}, true), TSiteStatus::Done);
    EXPECT_EQ(status({O::WouldChange, O::WrongDevice}, true), TSiteStatus::Failed);
}

TEST(Commission, AResultLineCarriesEveryFieldWhateverItHolds) {
    TCommissionResult result;
    result.port = "/dev/pts/3";
    result.address = 12;
    result.deviceId = 17;
    result.deviceType = "Z7E AHU Interface";
    result.outcome = TOutcome::Mismatch;
    result.changed = 4;
    result.seconds = 11.24;
    result.message = "a\tb\\n\nc";
    const auto back = ParseCommissionResultLine(CommissionResultLine(result));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->port, result.port);
    EXPECT_EQ(back->address, 12);
    EXPECT_EQ(back->deviceId, 17);
    EXPECT_EQ(back->deviceType, result.deviceType);
    EXPECT_EQ(back->outcome, TOutcome::Mismatch);
    EXPECT_EQ(back->changed, 4);
    EXPECT_EQ(back->message, result.message);
    EXPECT_FALSE(ParseCommissionResultLine("warning: something else"));
    EXPECT_EQ(CommissionResultText(*back), "/dev/pts/3@12  Z7E AHU Interface  mismatch: " + result.message);
    result.outcome = TOutcome::Verified;
    EXPECT_EQ(CommissionResultText(result),
              "/dev/pts/3@12  Z7E AHU Interface  verified  4 settings changed  11.2 s");
}

TEST(Commission, PerUnitValuesReadQuotedFieldsAndRefuseRepeatedTargets) {
    TTempDir dir;
    const std::string path = dir.Path("own.csv");
    {
        std::ofstream csv(path);
        csv << "target,Unit Settings/Unit Name,Unit Settings/Boost Run Time\r\n"
               "COM1@2,\"North, \"\"A\"\"\",\r\n"
               "COM1@3,,15\r\n";
    }
    const TPerUnitValues values = LoadPerUnitValues(path);
    ASSERT_EQ(values.size(), 2u);
    ASSERT_EQ(values.at("COM1@2").size(), 1u);
    EXPECT_EQ(values.at("COM1@2")[0].first, "Unit Settings/Unit Name");
    EXPECT_EQ(values.at("COM1@2")[0].second, "North, \"A\"");
    ASSERT_EQ(values.at("COM1@3").size(), 1u);
    EXPECT_EQ(values.at("COM1@3")[0].second, "15");
    {
        std::ofstream csv(path);
        csv << "target,Unit Settings/Unit Name\nCOM1@2,a\nCOM1@2,b\n";
    }
    EXPECT_THROW(LoadPerUnitValues(path), std::exception);
}
