#include "SettingsTestSupport.h"
#include "base/Csv.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_label.h"
#include "settings/Setting_name.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"
#include "support/TestSupport.h"

namespace {

// One ordinary group holding the given settings, opened offline.
std::string OneGroup(const std::string& settings) {
    return "<settings><group name=\"G\" description=\"d\">" + settings + "</group></settings>";
}

std::string BuildError(const std::string& setting) {
    TRegisterDataStore store;
    TDevice device(store);
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(OneGroup(setting).c_str()));
    return ErrorOf([&] { device.Settings->LoadFromXml(doc.document_element()); });
}

// The setting's export line without its line end.
std::vector<std::string> Csv(TSetting& setting) {
    TCsvWriter csv;
    setting.AddCsvLine(csv);
    std::string line = csv.Text();
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    line.resize(line.size() - 2);
    return {line};
}

} // namespace

TEST(SettingAttributes, RegisterNumbersHexFormsAndFlags) {
    TTestTree t(OneGroup(R"(
      <setting value_type="int" name="A" register="0" type="holding_register" min="0" max="9" default="0" value_text="x"/>
      <setting value_type="int" name="B" register="$64" type="holding_register" bitmask="0x00F0" value_offset="$A"
               scaling_factor="3" min="-$10" max="0x7FFFFFFF" default="1" value_text="x" bold="TRUE"
               exclusiongroup="4" excludeallowed="2" minsetting="A" maxsetting="C" units="any" XOffset="5" YOffset="6"/>
      <setting value_type="int" name="C" register="7" type="holding_register" bitmask="$FFFF8000" min="0" max="9" default="0" value_text="x"/>)"));
    TSetting& a = t.Entry(0, 0);
    EXPECT_EQ(a.Register, 1);
    EXPECT_EQ(a.RegisterType, rtHoldingRegister);
    EXPECT_EQ(a.ScalingFactor, 1);
    EXPECT_EQ(a.ExclusionGroup, -1);
    EXPECT_FALSE(a.IsUnitsSelector);
    const auto& b = dynamic_cast<TSettingInt&>(t.Entry(0, 1));
    EXPECT_EQ(b.Register, 101);
    EXPECT_EQ(b.BitMask, 0x00F0);
    EXPECT_EQ(b.ValueOffset, 10);
    EXPECT_EQ(b.ScalingFactor, 3);
    EXPECT_EQ(b.MinValue, -16);
    EXPECT_EQ(b.MaxValue, 2147483647);
    EXPECT_TRUE(b.Bold);
    EXPECT_TRUE(b.IsUnitsSelector);
    EXPECT_EQ(b.ExclusionGroup, 4);
    EXPECT_EQ(b.ExcludeAllowed, 2);
    EXPECT_EQ(b.MinSetting, "A");
    EXPECT_EQ(b.MaxSetting, "C");
    EXPECT_EQ(b.XOffset, 5);
    EXPECT_EQ(b.YOffset, 6);
    EXPECT_EQ(t.Entry(0, 2).BitMask, -32768);
}

TEST(SettingAttributes, LoadErrorsInReadingOrder) {
    // The check box reads its own attributes first; every other kind reads the base ones first.
    EXPECT_EQ(BuildError(R"(<setting value_type="checkbox" register="0" type="coil"/>)"),
              "Could not find attribute \"default\" in XML node.");
    EXPECT_EQ(BuildError(R"(<setting value_type="int" register="0" type="coil"/>)"),
              "Could not find attribute \"name\" in XML node.");
    EXPECT_EQ(BuildError(R"(<setting value_type="int" name="n" type="coil"/>)"),
              "Could not find attribute \"register\" in XML node.");
    EXPECT_EQ(BuildError(R"(<setting value_type="int" name="n" register="1"/>)"),
              "Could not find attribute \"type\" in XML node.");
    EXPECT_EQ(
        BuildError(R"(<setting value_type="int" name="n" register="1" type="coil" min="0" default="0"/>)"),
        "Could not find attribute \"max\" in XML node.");
    EXPECT_EQ(
        BuildError(
            R"(<setting value_type="int" name="n" register="1" type="coil" min="0" max="1" default="0"/>)"),
        "Could not find attribute \"value_text\" in XML node.");
    EXPECT_EQ(
        BuildError(R"(<setting value_type="uint32" name="n" register="1" type="coil" min="0" max="1"/>)"),
        "Could not find attribute \"default\" in XML node.");
    EXPECT_EQ(
        BuildError(
            R"(<setting value_type="units" name="n" register="1" type="holding_register" max="1" default="0"/>)"),
        "Could not find attribute \"min\" in XML node.");
    EXPECT_EQ(BuildError(R"(<setting value_type="label" name="n" register="1" type="holding_register"/>)"),
              "Could not find attribute \"default\" in XML node.");
    EXPECT_EQ(
        BuildError(
            R"(<setting value_type="name" name="n" register="1" type="holding_register" default="x"/>)"),
        "Could not find attribute \"NumOfRegisters\" in XML node.");
    EXPECT_EQ(
        BuildError(
            R"(<setting value_type="drop_down" name="n" register="1" type="coil"><ddvalue name="a"/></setting>)"),
        "Could not find attribute \"value\" in XML node.");
    EXPECT_EQ(BuildError(R"(<setting value_type="int" name="n" register="1x" type="coil"/>)"),
              "'1x' is not a valid integer value");
    EXPECT_EQ(BuildError(
                  R"(<setting value_type="checkbox" name="n" register="1" type="input" default="checked"/>)"),
              "Unknown value type : input");
    EXPECT_EQ(BuildError(R"(<setting value_type="int" name="n" register="1" type="coil" bitmask="$FFFF"/>)"),
              "'$FFFF' is not a valid bitmask (-32768 to 32767)");
    EXPECT_EQ(BuildError(R"(<setting value_type="int" name="n" register="1" type="coil" bold="yes"/>)"),
              "'yes' is not a valid Boolean value");
    // Text settings hold 1 to 50 registers: the packing buffer's words.
    EXPECT_EQ(
        BuildError(
            R"(<setting value_type="name" name="Long" register="1" type="holding_register" NumOfRegisters="51" default=""/>)"),
        "Setting 'Long' has NumOfRegisters 51: a text setting holds 1 to 50 registers");
    EXPECT_EQ(
        BuildError(
            R"(<setting value_type="name" name="None" register="1" type="holding_register" NumOfRegisters="0" default=""/>)"),
        "Setting 'None' has NumOfRegisters 0: a text setting holds 1 to 50 registers");
}

TEST(SettingConversion, HoldingRegisterMaskOffsetScaling) {
    TTestTree t(OneGroup(R"(
      <setting value_type="drop_down" name="Masked" register="10" type="holding_register" bitmask="240"/>
      <setting value_type="drop_down" name="Scaled" register="11" type="holding_register" scaling_factor="4"/>
      <setting value_type="drop_down" name="Offset" register="12" type="holding_register" value_offset="10" scaling_factor="3"/>
      <setting value_type="drop_down" name="Whole" register="13" type="holding_register"/>
      <setting value_type="drop_down" name="Zero scale" register="14" type="holding_register" scaling_factor="0"/>
      <setting value_type="drop_down" name="Input" register="15" type="input_register"/>
      <setting value_type="drop_down" name="Coil" register="16" type="coil" value_offset="3" scaling_factor="2"/>)"));
    t.SetRegister(10, 0x12A5);
    t.SetRegister(11, 0xFFF6);
    t.SetRegister(12, 64);
    t.SetRegister(14, 77);
    t.Store.SetCoil(17, true);
    for (auto& entry : t.Group(0).Settings)
        TTestTree::Read(*entry);
    EXPECT_EQ(t.Entry(0, 0).Value, 10);
    EXPECT_EQ(t.Entry(0, 1).Value, -2); // truncation toward zero
    EXPECT_EQ(t.Entry(0, 2).Value, 18);
    EXPECT_EQ(t.Entry(0, 4).Value, 77); // a factor of 0 converts as 1
    EXPECT_EQ(t.Entry(0, 5).Value, 0);
    EXPECT_EQ(t.Entry(0, 6).Value, 1); // coils take no offset or scaling
    EXPECT_EQ(t.Entry(0, 0).ProgressText, "Reading setting Masked...");
    EXPECT_TRUE(t.Entry(0, 0).DisplayPending);
    EXPECT_FALSE(t.Entry(0, 0).ReadPending);

    t.Entry(0, 0).Value = 5;
    t.Entry(0, 0).WriteToStore();
    EXPECT_EQ(t.Register(10), 0x1255); // only the mask's bits change
    t.Entry(0, 2).Value = 18;
    t.Entry(0, 2).WriteToStore();
    EXPECT_EQ(t.Register(12), 64);
    t.Entry(0, 3).Value = 40000;
    t.Entry(0, 3).WriteToStore();
    EXPECT_EQ(t.Register(13), 0x9C40);
    TTestTree::Read(t.Entry(0, 3));
    EXPECT_EQ(t.Entry(0, 3).Value, -25536);
    // Input registers are never announced or written.
    EXPECT_THROW(t.Register(15), std::out_of_range);
    EXPECT_NO_THROW(t.Entry(0, 5).WriteToStore());
    t.Entry(0, 6).Value = 0;
    t.Entry(0, 6).WriteToStore();
    EXPECT_FALSE(t.Coil(16));
}

TEST(SettingConversion, IntegerSettingsOneAndTwoRegisters) {
    TTestTree t(OneGroup(R"(
      <setting value_type="int" name="Temp" register="20" type="holding_register" scaling_factor="10" value_offset="5" min="-100" max="100" default="0" value_text="C"/>
      <setting value_type="int" name="Hours" register="21" type="holding_register" NumOfRegisters="2" min="-10" max="200000" default="0" value_text="h"/>
      <setting value_type="int" name="Bad" register="30" type="holding_register" NumOfRegisters="3" min="0" max="1" default="0" value_text="h"/>)"),
                false);
    t.Store.Reset();
    EXPECT_EQ(ErrorOf([&] { t.Tree().RegisterWithStore(); }),
              "An Int register has been set to a size of more than 2 registers");
    auto& temp = t.As<TSettingInt>("Temp");
    auto& hours = t.As<TSettingInt>("Hours");
    auto& bad = t.As<TSettingInt>("Bad");
    t.SetRegister(20, 255);
    TTestTree::Read(temp);
    EXPECT_EQ(temp.Value, 25);
    temp.Value = 25;
    t.SetRegister(20, 0);
    temp.WriteToStore();
    EXPECT_EQ(t.Register(20), 255);

    t.SetRegister(21, 0x0001);
    t.SetRegister(22, 0x86A0);
    TTestTree::Read(hours);
    EXPECT_EQ(hours.Value, 100000);
    hours.Value = -2;
    hours.WriteToStore();
    EXPECT_EQ(t.Register(21), 0xFFFF);
    EXPECT_EQ(t.Register(22), 0xFFFE);

    EXPECT_EQ(ErrorOf([&] { bad.WriteToStore(); }),
              "An Int register has been set to a size of more than 2 registers");
    bad.MarkForRead();
    EXPECT_EQ(ErrorOf([&] { bad.ReadFromStore(); }), "An Int register has been set to more than 2 registers");
    EXPECT_EQ(Csv(temp), std::vector<std::string>{"Temp,25 C"});
}

TEST(SettingConversion, Uint32HalvesAreUnsignedAndSavedUnsigned) {
    TTestTree t(OneGroup(R"(
      <setting value_type="uint32" name="Count" register="40" type="coil" min="$80000000" max="$7FFFFFFF" default="$FFFFFFFF" value_text="cycles"/>)"));
    auto& count = t.As<TSettingUint32>("Count");
    EXPECT_EQ(count.DefaultValue32, -1);
    EXPECT_EQ(count.MinValue32, INT32_MIN);
    // Registered and written as two holding registers whatever its type says.
    EXPECT_EQ(t.Register(40), 0xFFFF);
    EXPECT_EQ(t.Register(41), 0xFFFF);
    const struct {
        uint16_t high, low;
        int32_t value;
    } cases[] = {
        {0x0001, 0x86A0, 100000}, {0x8000, 0x0000, INT32_MIN}, {0xFFFF, 0xFFFF, -1}, {0x0000, 0xFFFF, 65535}};
    for (const auto& c : cases) {
        t.SetRegister(40, c.high);
        t.SetRegister(41, c.low);
        TTestTree::Read(count);
        EXPECT_EQ(count.Value, c.value);
    }
    EXPECT_EQ(Csv(count), std::vector<std::string>{"Count,65535 cycles"});
    count.Value = INT32_MIN;
    EXPECT_EQ(Csv(count), std::vector<std::string>{"Count,-2147483648 cycles"});
}

TEST(SettingCheckBox, DefaultsCustomValuesAndMasks) {
    TTestTree t(OneGroup(R"(
      <setting value_type="drop_down" name="Mode" register="50" type="holding_register">
        <ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/><ddvalue name="Other" value="7"/></setting>
      <setting value_type="checkbox" name="Custom" register="50" type="holding_register" default="checked" unchecked_value="2" checked_value="5"/>
      <setting value_type="checkbox" name="Capital" register="51" type="holding_register" default="Checked"/>
      <setting value_type="checkbox" name="HalfCustom" register="52" type="holding_register" default="checked" checked_value="9"/>
      <setting value_type="checkbox" name="Masked" register="53" type="holding_register" default="unchecked" bitmask="$0010"/>
      <setting value_type="checkbox" name="Coil" register="3" type="coil" default="checked"/>)"));
    auto& custom = t.As<TSettingCheckBox>("Custom");
    EXPECT_TRUE(custom.HasCustomValues);
    EXPECT_EQ(t.As<TSettingCheckBox>("Capital").DefaultValue, 0);
    EXPECT_FALSE(t.As<TSettingCheckBox>("HalfCustom").HasCustomValues);
    EXPECT_EQ(t.Register(52), 1); // no custom values: 1 or 0
    EXPECT_TRUE(t.Coil(3));
    // Defaults: the drop-down restored 2, then the check box (checked) wrote 5.
    EXPECT_EQ(t.Register(50), 5);
    custom.Value = 0;
    custom.WriteToStore();
    EXPECT_EQ(t.Register(50), 2);
    for (uint16_t raw : {5, 2, 7}) {
        t.SetRegister(50, raw);
        TTestTree::Read(custom);
        EXPECT_EQ(custom.Value, raw == 5 ? 1 : 0) << raw;
    }
    // A masked register keeps its other bits when the check box writes.
    auto& masked = t.As<TSettingCheckBox>("Masked");
    t.SetRegister(53, 0xAB0F);
    masked.Value = 1;
    masked.WriteToStore();
    EXPECT_EQ(t.Register(53), 0xAB1F);
    masked.Value = 0;
    masked.WriteToStore();
    EXPECT_EQ(t.Register(53), 0xAB0F);
    EXPECT_EQ(Csv(masked), std::vector<std::string>{"Masked,Disabled"});
    masked.Value = -3; // any nonzero value counts as checked
    EXPECT_EQ(Csv(masked), std::vector<std::string>{"Masked,Enabled"});
}

TEST(SettingDropDown, ChoicesDefaultsAndUnitsSelector) {
    TTestTree t(OneGroup(R"(
      <setting value_type="drop_down" name="Units" register="60" type="holding_register" units="yes">
        <ddvalue name="m/sec" value="1"/><ddvalue name="ft/min" value="0"/><ddvalue name="Pa" value="2" default="true"/></setting>
      <setting value_type="drop_down" name="Caps" register="61" type="holding_register">
        <ddvalue name="a" value="3"/><!-- skipped --><ddvalue name="b" value="4" default="TRUE"/><other name="x" value="9"/>
        <ddvalue name="c" value="3"/></setting>
      <setting value_type="drop_down" name="Empty" register="62" type="holding_register"/>)"),
                false);
    // The value-0 choice named the units while loading.
    EXPECT_EQ(t.Tree().CurrentUnits, "ft/min");
    auto& units = t.As<TSettingDropDown>("Units");
    auto& caps = t.As<TSettingDropDown>("Caps");
    EXPECT_EQ(units.DefaultValue, 2);
    EXPECT_EQ(caps.DefaultValue, 0);
    ASSERT_EQ(caps.Choices.size(), 3u);
    EXPECT_EQ(caps.IndexOfValue(3), 0);
    EXPECT_EQ(caps.IndexOfValue(4), 1);
    EXPECT_EQ(caps.IndexOfValue(9), -1);

    t.Open();
    EXPECT_EQ(t.Tree().CurrentUnits, "Pa"); // restoring the selector's default sets the units
    EXPECT_EQ(t.Register(60), 0);           // announced, but the selector never writes its register
    // A value that no choice holds exports the number, never the first choice's name.
    EXPECT_EQ(Csv(caps), std::vector<std::string>{"Caps,0"});
    caps.Value = 4;
    EXPECT_EQ(Csv(caps), std::vector<std::string>{"Caps,b"});
    EXPECT_EQ(Csv(t.As<TSettingDropDown>("Empty")), std::vector<std::string>{"Empty,0"});
}

TEST(SettingName, PackingForEvenAndOddCountsAndReadingBack) {
    TTestTree t(OneGroup(R"(
      <setting value_type="name" name="Four" register="70" type="holding_register" NumOfRegisters="4" default="ABCDEFG"/>
      <setting value_type="name" name="Three" register="80" type="holding_register" NumOfRegisters="3" default="ABC"/>
      <setting value_type="name" name="Coil typed" register="90" type="coil" NumOfRegisters="2" default="xyz"/>)"));
    auto& four = t.As<TSettingName>("Four");
    auto& three = t.As<TSettingName>("Three");
    const auto registers = [&](int32_t first, int count) {
        std::vector<uint16_t> words;
        for (int i = 0; i < count; ++i)
            words.push_back(t.Register(first + i));
        return words;
    };
    EXPECT_EQ(registers(70, 4), (std::vector<uint16_t>{0x4142, 0x4344, 0x4645, 0x0047}));
    EXPECT_EQ(registers(80, 3), (std::vector<uint16_t>{0x4142, 0x0043, 0}));
    // Text settings use holding registers whatever their type.
    EXPECT_EQ(registers(90, 2), (std::vector<uint16_t>{0x7879, 0x007A}));

    four.Text.clear();
    TTestTree::Read(four);
    EXPECT_EQ(four.Text, "ABCDEFG"); // the whole name comes back
    TTestTree::Read(three);
    EXPECT_EQ(three.Text, "ABC");

    four.Text = "AB";
    four.WriteToStore();
    EXPECT_EQ(registers(70, 4), (std::vector<uint16_t>{0x4142, 0, 0, 0}));
    TTestTree::Read(four);
    EXPECT_EQ(four.Text, "AB");
    four.Text = "ABCDEFGHIJKL"; // longer than the registers: the rest is dropped
    four.WriteToStore();
    TTestTree::Read(four);
    EXPECT_EQ(four.Text, "ABCDEFGH");
    four.Text.clear();
    four.WriteToStore();
    EXPECT_EQ(registers(70, 4), (std::vector<uint16_t>{0, 0, 0, 0}));
    TTestTree::Read(four);
    EXPECT_EQ(four.Text, "");
    EXPECT_EQ(four.ProgressText, "Reading setting Four...");
    EXPECT_EQ(Csv(three), std::vector<std::string>{"Three,ABC"});

    EXPECT_EQ(ErrorOf([&] { four.CopyValueFrom(&t.Entry(0, 1)); }), "");
    EXPECT_EQ(four.Text, "ABC");
    TSettingCheckBox other(&t.Group(0), 0);
    EXPECT_EQ(ErrorOf([&] { four.CopyValueFrom(&other); }),
              "CopyValuesFromSetting Exception - class is not of type TSettingName");
}

TEST(SettingName, TemplateTextSettingsWriteNothing) {
    TTestTree t(R"(<settings><group name="Unit" description="d"/><group name="Group" description="d">
      <setting value_type="name" name="N" register="100" type="holding_register" offset="2" NumOfRegisters="2" default="Hi"/>
      </group></settings>)");
    // Copies 0 to 199 each hold "Hi"; the template (copy -50, register 0) was never announced.
    EXPECT_EQ(t.Register(100), 0x4869);
    EXPECT_EQ(t.Register(100 + 2 * 199), 0x4869);
    EXPECT_THROW(t.Register(0), std::out_of_range);
    EXPECT_NO_THROW(t.Entry(1, 1).WriteToStore());
}

TEST(SettingSectionLabel, HasNoRegisterAndExportsZero) {
    TTestTree t(R"(<settings><group name="Unit" description="d"/><group name="Group" description="d">
      <setting value_type="checkbox" name="C" register="1" type="coil" offset="1" default="checked"/></group></settings>)");
    TSetting& heading = t.Entry(2, 4);
    EXPECT_EQ(heading.Name, "Group 3");
    EXPECT_EQ(heading.RegisterType, rtNone);
    EXPECT_EQ(Csv(heading), std::vector<std::string>{"Group 3,0"});
    TTestTree::Read(heading);
    EXPECT_EQ(heading.Value, 0);
    EXPECT_EQ(heading.ProgressText, "Reading setting Group 3...");
}

TEST(SettingUnits, CodecTablesInAllFourUnits) {
    using U = TSettingUnits;
    // Velocity words.
    EXPECT_EQ(U::FormatFixed2(U::DecodeAs(250, "m/sec")), "2.50");
    EXPECT_EQ(std::trunc(U::DecodeAs(250, "ft/min")), 490);
    EXPECT_EQ(U::FormatFixed2(U::DecodeAs(0x81EA, "m/sec")), "2.50");
    EXPECT_FLOAT_EQ(U::DecodeAs(0x81EA, "m/sec"), 2.499f);
    EXPECT_EQ(U::DecodeAs(0x81EA, "ft/min"), 490);
    EXPECT_EQ(U::EncodeAs("m/sec", 2.5f), 250);
    EXPECT_EQ(U::EncodeAs("m/sec", 2.3f), 230); // single-precision rounding before truncation
    EXPECT_EQ(U::EncodeAs("ft/min", 490), 0x81EA);
    // Pressure words.
    EXPECT_EQ(U::FormatFixed2(U::DecodeAs(0x4064, "ins Wg")), "1.00");
    EXPECT_EQ(std::trunc(U::DecodeAs(0x4064, "Pa")), 249);
    EXPECT_EQ(U::FormatFixed2(U::DecodeAs(0x0064, "ins Wg")), "-1.00");
    EXPECT_EQ(U::EncodeAs("Pa", -25), 0x8019);
    EXPECT_EQ(U::EncodeAs("Pa", 25), 0xC019);
    EXPECT_EQ(U::EncodeAs("ins Wg", 1.0f), 0x4064);
    EXPECT_EQ(U::EncodeAs("ins Wg", -1.0f), 0x0064);
    EXPECT_EQ(U::FormatFixed2(U::DecodeAs(0xC0F9, "ins Wg")), "1.00"); // 249 Pa
    // A word always decodes to itself in the unit it was entered in.
    for (float x : {0.0f, 0.01f, 1.23f, 99.99f, 150.0f})
        EXPECT_EQ(U::FormatFixed2(U::DecodeAs(U::EncodeAs("m/sec", x), "m/sec")), U::FormatFixed2(x)) << x;
    for (float x : {0.0f, 1.0f, 490.0f, 16383.0f})
        EXPECT_EQ(U::DecodeAs(U::EncodeAs("Pa", x), "Pa"), x);
    // Magnitudes too large for their field never fault.
    EXPECT_NO_THROW(U::EncodeAs("m/sec", 3.0e38f));
    EXPECT_EQ(U::FormatFixed2(-0.0f), "0.00");
}

TEST(SettingUnits, DisplayCsvAndLimitQuantisation) {
    TTestTree t(OneGroup(R"(
      <setting value_type="drop_down" name="Units" register="1" type="holding_register" units="v">
        <ddvalue name="m/sec" value="0" default="true"/><ddvalue name="ft/min" value="1"/>
        <ddvalue name="Pa" value="2"/><ddvalue name="ins Wg" value="3"/></setting>
      <setting value_type="units" name="Speed" register="2" type="holding_register" min="0" max="2000" default="250"/>
      <setting value_type="label" name="Reading" register="3" type="holding_register" default="42"/>
      <setting value_type="label" name="Caption" register="4" type="holding_register" default="9" label_only="true"/>)"));
    TMessageCapture capture;
    auto& speed = t.As<TSettingUnits>("Speed");
    auto& reading = t.As<TSettingLabel>("Reading");
    EXPECT_EQ(Csv(speed), std::vector<std::string>{"Speed,2.50 m/sec"});
    t.Tree().SetCurrentUnits("ft/min");
    EXPECT_EQ(speed.DisplayText(true), "490 ft/min");
    EXPECT_EQ(speed.DisplayText(false), "490");

    t.Tree().SetCurrentUnits("m/sec");
    EXPECT_FALSE(speed.ValidateText("20.01"));
    EXPECT_EQ(capture.Last(), "The maximum value this setting can be is '20.00'");
    EXPECT_TRUE(speed.ValidateText("20.00"));
    EXPECT_FALSE(speed.ValidateText("fast"));
    EXPECT_EQ(capture.Last(), "'fast' is not a valid floating point value");
    t.Tree().SetCurrentUnits("ft/min");
    EXPECT_TRUE(speed.ValidateText("3921"));
    EXPECT_FALSE(speed.ValidateText("3922"));
    EXPECT_EQ(capture.Last(), "The maximum value this setting can be is '3921.57'");
    EXPECT_FALSE(speed.ValidateText("2.5"));
    EXPECT_EQ(capture.Last(), "'2.5' is not a valid integer value");
    // Numbers that do not fit the word's field are refused by the limit they lie beyond.
    EXPECT_FALSE(speed.ValidateText("-1"));
    EXPECT_EQ(capture.Last(), "The minimum value this setting can be is '0.00'");
    EXPECT_FALSE(speed.ValidateText("40000"));
    EXPECT_EQ(capture.Last(), "The maximum value this setting can be is '3921.57'");

    // Labels show the number as read, with whatever units are current.
    t.Tree().SetCurrentUnits("Pa");
    EXPECT_EQ(Csv(reading), std::vector<std::string>{"Reading,42 Pa"});
    t.Tree().SetCurrentUnits("ins Wg");
    EXPECT_EQ(reading.DisplayText(true), "42 ins Wg");
    EXPECT_EQ(t.Register(3), 42); // restoring defaults wrote the label's value
    // A caption-only label is announced like any other, but never read or written.
    EXPECT_EQ(t.Register(4), 0);
    auto& caption = t.As<TSettingLabel>("Caption");
    caption.MarkForRead();
    EXPECT_FALSE(caption.ReadPending);
}

TEST(SettingLimits, BoundsFromOtherSettings) {
    TTestTree t(OneGroup(R"(
      <setting value_type="int" name="Low" register="1" type="holding_register" min="0" max="100" default="20" value_text="%" maxsetting="High"/>
      <setting value_type="int" name="High" register="2" type="holding_register" min="0" max="100" default="80" value_text="%" minsetting="Low"/>
      <setting value_type="int" name="Mid" register="3" type="holding_register" min="0" max="100" default="50" value_text="%" minsetting="Low" maxsetting="High"/>
      <setting value_type="int" name="Lost" register="4" type="holding_register" min="0" max="100" default="50" value_text="%" minsetting="Nobody"/>
      <setting value_type="drop_down" name="Units" register="5" type="holding_register" units="v"><ddvalue name="m/sec" value="0"/><ddvalue name="Pa" value="1"/></setting>
      <setting value_type="units" name="Vmin" register="6" type="holding_register" min="0" max="1000" default="250" maxsetting="Vmax"/>
      <setting value_type="units" name="Vmax" register="7" type="holding_register" min="0" max="1000" default="250" minsetting="Vmin"/>)"));
    TMessageCapture capture;
    TSetting& high = t.Entry(0, 1);
    EXPECT_TRUE(high.CheckLimitSettings(20)); // equal to the bound
    EXPECT_FALSE(high.CheckLimitSettings(19));
    EXPECT_EQ(capture.Last(), "Setting 'High' must be greater than setting 'Low'");
    EXPECT_FALSE(t.Entry(0, 0).CheckLimitSettings(81));
    EXPECT_EQ(capture.Last(), "Setting 'Low' must be less than setting 'High'");
    EXPECT_FALSE(t.Entry(0, 2).CheckLimitSettings(81));
    EXPECT_EQ(capture.Last(),
              "Setting 'Mid' must be greater than setting 'Low' and less than setting 'High'");
    EXPECT_TRUE(t.Entry(0, 2).CheckLimitSettings(80));
    EXPECT_EQ(ErrorOf([&] { t.Entry(0, 3).CheckLimitSettings(1); }),
              "Could not find setting with name 'Nobody'.\nThe most likely cause is a problem in the "
              "devices.xml file");
    // Units settings compare in whole m/sec: 2.40 against 2.50 passes, 1.99 does not.
    capture.Clear();
    TSetting& vmax = t.Entry(0, 6);
    EXPECT_TRUE(vmax.CheckLimitSettings(240));
    EXPECT_FALSE(vmax.CheckLimitSettings(199));
    EXPECT_EQ(capture.messages.size(), 1u);
}

TEST(SettingText, EveryKindTakesBackWhatItShowsAndRefusesAsItsEditor) {
    TTestTree t(OneGroup(R"(
      <setting value_type="drop_down" name="Units" register="1" type="holding_register" units="v">
        <ddvalue name="m/sec" value="0" default="true"/><ddvalue name="ft/min" value="1"/></setting>
      <setting value_type="units" name="Speed" register="2" type="holding_register" min="0" max="2000" default="250"/>
      <setting value_type="int" name="Temp" register="3" type="holding_register" min="-10" max="40" default="21" value_text="C"/>
      <setting value_type="uint32" name="Count" register="4" type="holding_register" min="0" max="$7FFFFFFF" default="7" value_text="cycles"/>
      <setting value_type="checkbox" name="Heat" register="6" type="holding_register" default="checked"/>
      <setting value_type="drop_down" name="Mode" register="7" type="holding_register">
        <ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/></setting>
      <setting value_type="name" name="Unit Name" register="8" type="holding_register" NumOfRegisters="4" default="AHU"/>)"));
    for (const char* name : {"Units", "Speed", "Temp", "Count", "Heat", "Mode"}) {
        TSetting& setting = *t.Tree().FindSetting(name);
        const TParsed parsed = setting.Parse(setting.Text());
        EXPECT_TRUE(parsed.Ok()) << name << ": " << parsed.Error;
        EXPECT_EQ(parsed.Value, setting.Value) << name << " read back from " << setting.Text();
    }
    auto& count = t.As<TSettingUint32>("Count");
    count.Value = -2; // shown unsigned
    EXPECT_EQ(count.Parse(count.Text()).Value, -2);
    EXPECT_EQ(t.Tree().FindSetting("Unit Name")->Parse("North").Text, "North");

    // The editors' messages; a number outside the limits still names its value.
    auto& temp = t.As<TSettingInt>("Temp");
    EXPECT_EQ(temp.Parse("41").Error, "The maximum value this setting can be is '40'");
    EXPECT_EQ(temp.Parse("41").Value, 41);
    EXPECT_EQ(temp.Parse("-11 C").Error, "The minimum value this setting can be is '-10'");
    EXPECT_EQ(temp.Parse("21 F").Error, "'21 F' is not a valid integer value");
    EXPECT_FALSE(temp.Parse("21 F").Value);
    auto& speed = t.As<TSettingUnits>("Speed");
    EXPECT_EQ(speed.Parse("fast m/sec").Error, "'fast m/sec' is not a valid floating point value");
    EXPECT_EQ(speed.Parse("20.01").Error, "The maximum value this setting can be is '20.00'");
    EXPECT_EQ(t.Tree().FindSetting("Heat")->Parse("On").Error, "'On' is neither Enabled nor Disabled");
    EXPECT_FALSE(t.Tree().FindSetting("Mode")->Parse("Auto").Value);
    EXPECT_NE(t.Tree().FindSetting("Unit Name")->Parse("\u4e00").Error, "");
}
