// Check boxes and the registers they share: what reaches the image is what the page shows,
// whatever the order of the settings in their group.
#include "SettingsTestSupport.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "support/TestSupport.h"

namespace {

// A drop-down and a check box with custom values on one register, in the given order.
std::string Pair(bool checkBoxFirst, const std::string& registerAttributes) {
    const std::string mode =
        R"(<setting value_type="drop_down" name="Mode" type="holding_register" )" + registerAttributes +
        R"(><ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/>)"
        R"(<ddvalue name="Optimised" value="7"/></setting>)";
    const std::string modeOn =
        R"(<setting value_type="checkbox" name="Mode on" type="holding_register" default="unchecked" )"
        R"(unchecked_value="2" checked_value="5" )" +
        registerAttributes + "/>";
    return checkBoxFirst ? modeOn + mode : mode + modeOn;
}

// The pair in an ordinary group (register 124) and in a template (registers 300 to 499).
std::string Shared(bool checkBoxFirst) {
    return "<settings><group name=\"Unit\" description=\"d\">" + Pair(checkBoxFirst, R"(register="124")") +
           "</group><group name=\"Group\" description=\"d\">" +
           Pair(checkBoxFirst, R"(register="300" offset="1")") + "</group></settings>";
}

} // namespace

TEST(SharedRegister, LoadRestoreAndCopyKeepTheDropDownsValueInEitherOrder) {
    for (const bool checkBoxFirst : {false, true}) {
        SCOPED_TRACE(checkBoxFirst ? "check box first" : "drop-down first");
        TTestTree t(Shared(checkBoxFirst));
        auto& mode = dynamic_cast<TSettingDropDown&>(*t.Tree().FindSetting("Mode"));
        auto& modeOn = dynamic_cast<TSettingCheckBox&>(*t.Tree().FindSetting("Mode on"));
        EXPECT_EQ(t.Register(124), 2);

        // A unit in "Optimised", read and saved, then loaded into a tree in "On".
        TTempDir dir;
        t.SetRegister(124, 7);
        t.Group(0).RefreshFromStore();
        EXPECT_EQ(mode.Value, 7);
        EXPECT_EQ(modeOn.Value, 0);
        t.Tree().SaveToFile(dir.Path("optimised.rur"));
        t.SetRegister(124, 5);
        t.Group(0).RefreshFromStore();
        t.Tree().LoadFromFile(dir.Path("optimised.rur"));
        EXPECT_EQ(t.Register(124), 7);
        EXPECT_EQ(mode.Value, 7);
        EXPECT_EQ(modeOn.Value, 0);

        t.Tree().RestoreDefaults();
        EXPECT_EQ(t.Register(124), 2);

        // Copying the template's choice, then its (unchecked) box, to every group copy.
        TGroup& templ = t.Group(1);
        TSetting* templMode = templ.FindSetting("Mode");
        TSetting* templModeOn = templ.FindSetting("Mode on");
        templMode->Value = 7;
        t.Tree().CopyToAllControllers(templMode);
        templModeOn->Value = 0;
        t.Tree().CopyToAllControllers(templModeOn);
        EXPECT_EQ(t.Register(300), 7);
        EXPECT_EQ(t.Register(499), 7);
        // A checked box does change a register that reads unchecked.
        templModeOn->Value = 1;
        t.Tree().CopyToAllControllers(templModeOn);
        EXPECT_EQ(t.Register(499), 5);
    }
}

TEST(CheckBoxRegisters, EveryKindReadsBackWhatItWrote) {
    TTestTree t(R"(<settings><group name="G" description="d">
      <setting value_type="checkbox" name="Only unchecked value" register="10" type="holding_register" default="unchecked" unchecked_value="2"/>
      <setting value_type="checkbox" name="Offset" register="11" type="holding_register" default="unchecked" value_offset="10"/>
      <setting value_type="checkbox" name="Scaled" register="12" type="holding_register" default="unchecked" scaling_factor="4"/>
      <setting value_type="int" name="Owner" register="13" type="holding_register" min="0" max="999" default="0" value_text="x"/>
      <setting value_type="checkbox" name="Custom offset" register="13" type="holding_register" default="unchecked" unchecked_value="2" checked_value="5" value_offset="100"/>
      <setting value_type="checkbox" name="Masked offset" register="14" type="holding_register" default="unchecked" bitmask="$00F0" value_offset="3"/>
    </group></settings>)");
    for (auto& entry : t.Group(0).Settings) {
        auto* box = dynamic_cast<TSettingCheckBox*>(entry.get());
        if (box == nullptr)
            continue;
        for (const int32_t state : {1, 0, 1, 0}) {
            box->Value = state;
            box->WriteToStore();
            box->Value = 99;
            TTestTree::Read(*box);
            EXPECT_EQ(box->Value != 0, state != 0) << box->Name << " written " << state;
        }
    }
    // The only unchecked value is what the unchecked box writes.
    EXPECT_EQ(t.Register(10), 2);
}
