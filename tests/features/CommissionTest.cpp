#include "features/Commission.h"

#include "base/Errors.h"
#include "settings/SettingsTestSupport.h"
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
    result.backup = "/home/a b/backups/x.rur";
    result.warnings = {"one \\r two\nthree", "", "four"};
    const auto back = ParseCommissionResultLine(CommissionResultLine(result));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->port, result.port);
    EXPECT_EQ(back->address, 12);
    EXPECT_EQ(back->deviceId, 17);
    EXPECT_EQ(back->deviceType, result.deviceType);
    EXPECT_EQ(back->outcome, TOutcome::Mismatch);
    EXPECT_EQ(back->changed, 4);
    EXPECT_EQ(back->message, result.message);
    EXPECT_EQ(back->backup, result.backup);
    EXPECT_EQ(back->warnings, result.warnings);
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

    // A device that never ends is not read to the end.
    try {
        LoadPerUnitValues("/dev/zero");
        ADD_FAILURE() << "/dev/zero was read";
    } catch (const TModelError& e) {
        EXPECT_NE(std::string(e.what()).find("larger than 16 MiB"), std::string::npos) << e.what();
    }
}

TEST(Commission, AKeptSettingSharingBitsWithASettingTheRunSetsIsAConflict) {
    // A drop-down and a check box on one register; fields of one register by bit masks.
    TTestTree t(R"(<settings><group name="U" description="u">
      <setting value_type="drop_down" name="Mode" register="124" type="holding_register">
        <ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/></setting>
      <setting value_type="checkbox" name="Setback" register="124" type="holding_register" default="unchecked" unchecked_value="2" checked_value="5"/>
      <setting value_type="int" name="A" register="131" type="holding_register" bitmask="240" min="0" max="9" default="1" value_text=""/>
      <setting value_type="int" name="B" register="131" type="holding_register" bitmask="255" min="0" max="9" default="1" value_text=""/>
      <setting value_type="int" name="C" register="131" type="holding_register" bitmask="3840" min="0" max="9" default="1" value_text=""/>
    </group></settings>)");
    TTempDir dir;
    const std::string file = dir.Path("site.rur");
    t.Tree().SaveToFile(file);
    const auto conflict = [&](std::vector<std::string> keep,
                              std::vector<std::pair<std::string, std::string>> own) {
        return KeepConflict(t.Tree(), file, {}, keep, own);
    };
    EXPECT_EQ(conflict({"U/Mode"}, {}),
              "\"U/Mode\" shares its register with \"U/Setback\", which this run sets: "
              "keep both, or neither");
    EXPECT_NE(conflict({"U/B"}, {}), "");
    // Kept together, given for the unit, or on bits of their own: nothing is overwritten.
    EXPECT_EQ(conflict({"U/Mode", "U/Setback"}, {}), "");
    EXPECT_EQ(conflict({"U/Mode"}, {{"U/Mode", "On"}}), "");
    EXPECT_EQ(conflict({"U/C"}, {}), "");
}

TEST(Commission, PerUnitValuesAreReadAsTheirSettingsEditorsReadThem) {
    TTestTree t(R"(<settings><group name="U" description="u">
      <setting value_type="drop_down" name="Units" register="1" type="holding_register" units="v">
        <ddvalue name="m/sec" value="0" default="true"/><ddvalue name="ft/min" value="1"/></setting>
      <setting value_type="units" name="Speed" register="2" type="holding_register" min="0" max="2000" default="250"/>
      <setting value_type="drop_down" name="Fan" register="3" type="holding_register">
        <ddvalue name="Low speed" value="1" default="true"/><ddvalue name="Low" value="2"/></setting>
    </group></settings>)");
    auto& speed = *t.Tree().FindSetting("Speed");
    // Typed as the editor takes it, not only as the window shows it ("2.50 m/sec").
    EXPECT_EQ(ShownLoadedValue(speed, "2.5").Value, 250);
    EXPECT_EQ(ShownLoadedValue(speed, "7.25 m/sec").Value, 725);
    // A choice by its whole name; another choice's first word is not it.
    auto& fan = *t.Tree().FindSetting("Fan");
    EXPECT_EQ(ShownLoadedValue(fan, "Low").Value, 2);
    EXPECT_EQ(ErrorOf([&] { ShownLoadedValue(fan, "Low speed x"); }),
              "\"Low speed x\" is not a value of U/Fan");
}
