// Comparing two sets of values by named setting: every kind of setting is compared by what it
// would put into the unit's registers and shown as the engineer reads it.
#include "features/Compare.h"
#include "settings/Setting_name.h"
#include "settings/Setting_units.h"
#include "support/TestSupport.h"

#include "../settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

namespace {

const char* const Kinds = R"(<settings settings_id="0">
  <group name="Unit" description="Unit settings">
    <setting value_type="drop_down" name="Units" register="1" type="holding_register" units="v">
      <ddvalue name="m/sec" value="0" default="true"/><ddvalue name="ft/min" value="1"/></setting>
    <setting value_type="units" name="Velocity" register="2" type="holding_register" min="0" max="2000" default="250"/>
    <setting value_type="int" name="Low nibble" register="3" type="holding_register" bitmask="$000F" min="0" max="9" default="1" value_text="x"/>
    <setting value_type="int" name="High nibble" register="3" type="holding_register" bitmask="$00F0" min="0" max="15" default="2" value_text="x"/>
    <setting value_type="int" name="Wide" register="4" type="holding_register" NumOfRegisters="2" min="0" max="1000000" default="7" value_text="s"/>
    <setting value_type="uint32" name="Hours" register="6" type="holding_register" min="0" max="1000000" default="8760" value_text="h"/>
    <setting value_type="name" name="Unit Name" register="20" type="holding_register" NumOfRegisters="4" default="Z7E"/>
    <setting value_type="drop_down" name="Mode" register="8" type="holding_register">
      <ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/></setting>
    <setting value_type="checkbox" name="Mode on" register="8" type="holding_register" default="unchecked" unchecked_value="2" checked_value="5"/>
    <setting value_type="checkbox" name="Relay" register="1" type="coil" default="unchecked"/>
    <setting value_type="label" name="Firmware" register="30" type="holding_register" default="42"/>
  </group>
  <group name="Group" description="one group">
    <setting value_type="int" name="Fan" register="100" type="holding_register" offset="16" min="0" max="100" default="60" value_text="%"/>
  </group>
</settings>)";

class CompareTest : public ::testing::Test {
protected:
    CompareTest() : Test(Kinds) {
        EXPECT_TRUE(Root.load_string((std::string("<rur>") + Kinds + "</rur>").c_str()));
    }
    std::vector<TDifference> AgainstDefaults() {
        TScratchTree scratch(Test.Tree(), Root.document_element());
        return CompareSnapshots(Test.Tree(), scratch.Defaults(), TakeSnapshot(Test.Tree()));
    }
    static std::vector<std::string> Rows(const std::vector<TDifference>& differences) {
        std::vector<std::string> rows;
        for (const TDifference& row : differences)
            rows.push_back(row.Group + "|" + row.Setting + "|" + row.A + "|" + row.B);
        return rows;
    }

    TTestTree Test;
    pugi::xml_document Root;
};

TEST_F(CompareTest, EveryKindIsListedInTreeOrderAsTheEngineerReadsIt) {
    EXPECT_TRUE(AgainstDefaults().empty());

    Test.As<TSetting>("Units").Value = 1;
    Test.Tree().SetCurrentUnits("ft/min");
    Test.As<TSetting>("High nibble").Value = 9;
    Test.As<TSetting>("Wide").Value = 70000;
    Test.As<TSetting>("Hours").Value = -1; // all 32 bits set
    Test.As<TSettingName>("Unit Name").Text = "AHU 2";
    Test.As<TSetting>("Mode").Value = 9; // no choice holds it
    Test.As<TSetting>("Relay").Value = 1;
    Test.As<TSetting>("Firmware").Value = 43; // a display, never compared
    // The fifth group copy of controller 1: "Groups 1 to 10" holds a heading and a setting a copy.
    TGroup& tens = Test.Group(2);
    tens.Settings.at(9)->Value = 61;

    EXPECT_EQ(Rows(AgainstDefaults()),
              (std::vector<std::string>{
                  "Unit|Units|m/sec|ft/min", "Unit|High nibble|2 x|9 x", "Unit|Wide|7 s|70000 s",
                  "Unit|Hours|8760 h|4294967295 h", "Unit|Unit Name|Z7E|AHU 2", "Unit|Mode|Off|9",
                  "Unit|Relay|Disabled|Enabled", "Groups 1 to 10 / Group 5|Fan|60 %|61 %"}));
    EXPECT_TRUE(AgainstDefaults().front().UnitsSelector);
}

TEST_F(CompareTest, ASharedRegisterListsOnlyTheSettingThatChangedIt) {
    // The check box and the drop-down write one register: "On" is what "checked" writes.
    Test.As<TSetting>("Mode").Value = 5;
    EXPECT_EQ(Rows(AgainstDefaults()), (std::vector<std::string>{"Unit|Mode|Off|On"}));
    Test.As<TSetting>("Mode on").Value = 1;
    EXPECT_EQ(Rows(AgainstDefaults()),
              (std::vector<std::string>{"Unit|Mode|Off|On", "Unit|Mode on|Disabled|Enabled"}));
}

TEST_F(CompareTest, UnitsWordsThatReadAlikeButDifferShowTheirStoredNumbers) {
    // 2.50 m/sec entered as feet a minute: another word, the same text in m/sec.
    auto& velocity = Test.As<TSettingUnits>("Velocity");
    velocity.Value = TSettingUnits::EncodeAs("ft/min", TSettingUnits::DecodeAs(250, "ft/min"));
    ASSERT_EQ(velocity.Text(), "2.50 m/sec");
    EXPECT_EQ(Rows(AgainstDefaults()),
              (std::vector<std::string>{"Unit|Velocity|2.50 m/sec (250)|2.50 m/sec (" +
                                        std::to_string(velocity.Value) + ")"}));
}

TEST_F(CompareTest, AFileIsTakenAsTheLoadTakesItWithoutTouchingTheTreeOrItsImage) {
    TTempDir dir;
    Test.As<TSetting>("Fan").Value = 5; // the template group: compared, never written
    const std::string saved = dir.Path("saved.rur");
    Test.Tree().SaveToFile(saved);
    const uint16_t registerBefore = Test.Register(3);

    TScratchTree scratch(Test.Tree(), Root.document_element());
    EXPECT_TRUE(CompareSnapshots(Test.Tree(), TakeSnapshot(Test.Tree()), scratch.File(saved, false)).empty())
        << "a file saved from the tree reads back alike, numbered alike";

    // Outside its limits: compared as it is, and the tree is left as it was.
    std::string text = ReadFileText(saved);
    const std::string from = R"(name="Low nibble" ID=")";
    const size_t at = text.find(R"(value="1")", text.find(from));
    text.replace(at, 9, R"(value="12")");
    const std::string edited = dir.Write("edited.rur", text);
    EXPECT_EQ(Rows(CompareSnapshots(Test.Tree(), TakeSnapshot(Test.Tree()), scratch.File(edited, true))),
              (std::vector<std::string>{"Unit|Low nibble|1 x|12 x"}));
    EXPECT_EQ(Test.As<TSetting>("Low nibble").Value, 1);
    EXPECT_EQ(Test.Register(3), registerBefore);
}

} // namespace
