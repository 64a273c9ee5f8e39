#include "SettingsTestSupport.h"
#include "base/Xmlutil.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_name.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"
#include "support/StrictXml.h"
#include "support/TestSupport.h"

#include <fstream>

namespace {

// Every kind, a units selector and a template of three settings.
const char* const EveryKind = R"(<settings>
  <group name="Unit, main" description="Unit settings">
    <setting value_type="name" name="Unit Name" register="100" type="holding_register" NumOfRegisters="4" default="Unit 1"/>
    <setting value_type="drop_down" name="Units" register="110" type="holding_register" units="v">
      <ddvalue name="m/sec" value="0" default="true"/><ddvalue name="ft/min" value="1"/><ddvalue name="Pa" value="2"/></setting>
    <setting value_type="label" name="Firmware" register="111" type="holding_register" default="7"/>
    <setting value_type="units" name="Velocity" register="112" type="holding_register" min="0" max="2000" default="250"/>
    <setting value_type="int" name="Speed" register="113" type="holding_register" min="0" max="100" default="20" value_text="%"/>
    <setting value_type="uint32" name="Service, hours" register="114" type="holding_register" min="$80000000" max="$7FFFFFFF" default="8760" value_text="hours"/>
    <setting value_type="checkbox" name="Frost" register="0" type="coil" default="checked"/>
    <setting value_type="drop_down" name="Mode" register="116" type="holding_register">
      <ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/></setting>
  </group>
  <group name="Group" description="one group">
    <setting value_type="int" name="Fan" register="1000" type="holding_register" offset="16" min="0" max="100" default="60" value_text="%"/>
    <setting value_type="checkbox" name="Occupied" register="100" type="coil" offset="1" default="unchecked"/>
    <setting value_type="name" name="Label" register="1001" type="holding_register" offset="16" NumOfRegisters="3" default="Zone"/>
  </group>
</settings>)";

std::string Load(TTestTree& t, const std::string& path) {
    return ErrorOf([&] { t.Tree().LoadFromFile(path); });
}

// Every value of the tree, in tree order, with text settings' texts.
std::vector<std::string> Snapshot(TTestTree& t) {
    std::vector<std::string> values;
    for (auto& group : t.Tree().Groups) {
        for (auto& entry : group->Settings) {
            values.push_back(std::to_string(entry->Value));
            if (auto* name = dynamic_cast<TSettingName*>(entry.get()))
                values.push_back(name->Text);
        }
    }
    return values;
}

} // namespace

TEST(SettingsFileSave, LayoutOfEveryKind) {
    TTestTree t(EveryKind, true, "Unit <A>", 17);
    TTempDir dir;
    const std::string path = dir.Path("a.RUR");
    t.As<TSettingUint32>("Service, hours").Value = -1;
    t.Tree().SaveToFile(path);
    const std::string text = ReadFileText(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?>\n<settings>\n", 0), 0u) << text.substr(0, 80);

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    const pugi::xml_node device = doc.child("settings").child("device");
    EXPECT_STREQ(device.attribute("name").value(), "Unit <A>");
    EXPECT_EQ(device.attribute("device_id").as_int(), 17);
    std::vector<pugi::xml_node> groups;
    for (pugi::xml_node g : device.children("group"))
        groups.push_back(g);
    ASSERT_EQ(groups.size(), 25u);
    EXPECT_STREQ(groups[1].attribute("name").value(), "ZA9 1");
    EXPECT_EQ(groups[24].attribute("ID").as_int(), t.Group(24).Id);

    const pugi::xml_node name = groups[0].first_child();
    EXPECT_STREQ(name.attribute("name").value(), "Unit Name");
    EXPECT_EQ(name.attribute("ID").as_int(), t.Entry(0, 0).Id);
    EXPECT_STREQ(name.attribute("register").value(), "100");
    EXPECT_STREQ(name.attribute("text").value(), "Unit 1");
    // The 32-bit setting: all ones is value -1 and Address 4294967295, written last.
    const pugi::xml_node hours = groups[0].find_child_by_attribute("setting", "name", "Service, hours");
    EXPECT_STREQ(hours.attribute("value").value(), "-1");
    EXPECT_STREQ(hours.last_attribute().name(), "Address");
    EXPECT_STREQ(hours.last_attribute().value(), "4294967295");
    // Attributes in their order; a heading has ID 0, value 0 and register -1.
    const pugi::xml_node heading = groups[2].first_child();
    std::vector<std::string> attributes;
    for (pugi::xml_attribute a : heading.attributes())
        attributes.push_back(std::string(a.name()) + "=" + a.value());
    EXPECT_EQ(attributes, (std::vector<std::string>{"name=Group 1", "ID=0", "value=0", "register=-1"}));
    const pugi::xml_node lastCopy = groups[24].last_child();
    EXPECT_STREQ(lastCopy.attribute("register").value(), std::to_string(1001 + 16 * 199).c_str());
}

TEST(SettingsFileSave, EveryFileParsesStrictlyWhateverItsTextsHold) {
    // Control bytes, a DEL, a byte that is no UTF-8, a noncharacter and the line breaks XML keeps.
    const std::string hostile = "a\x03"
                                "b\x1f\x7f\xff\xef\xbf\xbf\tc\r\nd\xc3\xa9";
    TTestTree t(EveryKind, true, "Unit\x01");
    t.As<TSettingName>("Unit Name").Text = hostile;
    TTempDir dir;
    const std::string path = dir.Path("a.rur");
    t.Tree().SaveToFile(path);
    const std::string text = ReadFileText(path);
    EXPECT_EQ(StrictXmlError(text), "") << text.substr(0, 400);

    // What XML forbids became '?'; what it allows, a DEL and a line break included, is kept.
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(text.c_str()));
    const pugi::xml_node device = doc.child("settings").child("device");
    EXPECT_STREQ(device.attribute("name").value(), "Unit?");
    EXPECT_STREQ(device.child("group").first_child().attribute("text").value(), "a?b?\x7f??\tc\r\nd\xc3\xa9");
}

TEST(SettingsFileLoad, RoundTripOfEveryKindThroughTemplateAndTenCopyGroups) {
    TTempDir dir;
    TTestTree t(EveryKind);
    // Change something in every kind, in template groups and in ten-copy groups.
    t.As<TSettingName>("Unit Name").Text = "Plant 12"; // as much as its four registers hold
    t.As<TSettingDropDown>("Units").Value = 1;
    t.Entry(0, 2).Value = 12;
    t.Entry(0, 3).Value = 0x81EA;
    t.Entry(0, 4).Value = 99;
    t.Entry(0, 5).Value = -1;
    t.Entry(0, 6).Value = 0;
    t.Entry(0, 7).Value = 5;
    t.Entry(1, 1).Value = 33; // template group
    dynamic_cast<TSettingName&>(t.Entry(1, 3)).Text = "Tmpl";
    t.Entry(24, 37).Value = 77; // group 50 of controller 4
    t.Entry(24, 38).Value = 1;
    dynamic_cast<TSettingName&>(t.Entry(24, 39)).Text = "Last";
    const std::vector<std::string> before = Snapshot(t);
    const std::string first = dir.Path("first.rur");
    t.Tree().SaveToFile(first);

    t.Open(); // back to defaults
    ASSERT_NE(Snapshot(t), before);
    ASSERT_EQ(Load(t, first), "");
    EXPECT_EQ(Snapshot(t), before);
    EXPECT_EQ(t.Tree().CurrentUnits, "ft/min"); // the selector's loaded choice
    // Loaded values are in the register image; template values are not.
    EXPECT_EQ(t.Register(113), 99);
    EXPECT_EQ(t.Register(114), 0xFFFF);
    EXPECT_EQ(t.Register(115), 0xFFFF);
    EXPECT_EQ(t.Register(1000 + 16 * 199), 77);
    EXPECT_TRUE(t.Coil(100 + 199));
    EXPECT_EQ(t.Register(1001 + 16 * 199), 0x4C61); // "La" pair-exchanged
    EXPECT_EQ(t.Register(100), 0x506C);             // "Pl"
    EXPECT_FALSE(t.Coil(0));

    // Saving again gives the same file.
    const std::string second = dir.Path("second.rur");
    t.Tree().SaveToFile(second);
    EXPECT_EQ(ReadFileText(first), ReadFileText(second));
}

TEST(SettingsFileLoad, FilesWithoutTextKeepTheTextAndReadAddressUnsigned) {
    TTempDir dir;
    TTestTree t(EveryKind);
    const std::string path = dir.Path("plain.rur");
    t.Tree().SaveToFile(path);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    for (pugi::xml_node g : doc.child("settings").child("device").children("group")) {
        for (pugi::xml_node s : g.children("setting"))
            s.remove_attribute("text");
    }
    doc.child("settings")
        .child("device")
        .first_child()
        .find_child_by_attribute("setting", "name", "Service, hours")
        .attribute("Address")
        .set_value("3000000000");
    ASSERT_TRUE(doc.save_file(path.c_str()));

    t.As<TSettingName>("Unit Name").Text = "Kept";
    ASSERT_EQ(Load(t, path), "");
    EXPECT_EQ(t.As<TSettingName>("Unit Name").Text, "Kept");
    EXPECT_EQ(t.Register(100), 0x4B65); // written again from the kept text
    EXPECT_EQ(static_cast<uint32_t>(t.As<TSettingUint32>("Service, hours").Value), 3000000000u);
}

TEST(SettingsFileLoad, ErrorsInOrderAndNothingApplied) {
    TTempDir dir;
    TTestTree t(EveryKind, true, "Unit", 17);
    const std::string good = dir.Path("good.rur");
    t.Entry(0, 4).Value = 55;
    t.Tree().SaveToFile(good);
    t.Open();
    const std::string goodText = ReadFileText(good);

    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = goodText;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
        return dir.Write("bad.rur", text);
    };
    // Names with IDs, since group and setting numbers may coincide.
    const auto named = [](const std::string& name, int32_t id) {
        return "name=\"" + name + "\" ID=\"" + std::to_string(id) + "\"";
    };
    const std::string group0 = named("Unit, main", t.Group(0).Id);
    const std::string group5 = named(t.Group(5).Name, t.Group(5).Id);
    const std::string speedId = named("Speed", t.Entry(0, 4).Id);
    const std::string frostId = named("Frost", t.Entry(0, 6).Id);

    EXPECT_NE(Load(t, dir.Write("bad.rur", "<settings><device>")).find("XML parse error"), std::string::npos);
    EXPECT_EQ(Load(t, dir.Write("bad.rur", "<Settings/>")),
              "Could not find root node 'settings' in XML document");
    EXPECT_EQ(Load(t, dir.Write("bad.rur", "<settings><Device/></settings>")),
              "Could not find node 'device' in XML document");
    EXPECT_EQ(
        Load(t, replaced("name=\"Unit\" device_id=\"17\"", "name=\"Other\" device_id=\"17\"")),
        "Device name is not ' Unit.'\nThis settings file has been created for a different type of device.");
    EXPECT_EQ(Load(t, replaced("device_id=\"17\"", "device_id=\"18\"")), "Device id is not ' 17'");
    EXPECT_EQ(Load(t, replaced(group5, named(t.Group(5).Name, -9))),
              "Could not find settings group '" + t.Group(5).Name + "' in the XML document");
    EXPECT_EQ(Load(t, replaced(speedId, named("Speed", -9))),
              "Could not find a value for setting 'Speed' in the XML document");
    EXPECT_EQ(Load(t, replaced(frostId + " value=\"1\"", frostId + " value=\"x\"")),
              "'x' is not a valid integer value");
    EXPECT_EQ(Load(t, replaced(group0, "name=\"Unit, main\"")), "'' is not a valid integer value");
    // A setting element without its value attribute fails when it is examined.
    EXPECT_EQ(Load(t, replaced(speedId + " value=\"55\"", speedId)), "'' is not a valid integer value");

    // None of the failed loads applied anything: the speed setting (55 in the file) is at its
    // default, in the tree and in the register image.
    EXPECT_EQ(t.Entry(0, 4).Value, 20);
    EXPECT_EQ(t.Register(113), 20);
    ASSERT_EQ(Load(t, good), "");
    EXPECT_EQ(t.Register(113), 55);
}

TEST(SettingsFileLoad, DeviceElementAndGroupMatchingById) {
    TTempDir dir;
    TTestTree t(EveryKind, true, "Unit", 17);
    const std::string path = dir.Path("s.rur");
    t.Entry(0, 4).Value = 64;
    t.Tree().SaveToFile(path);
    std::string text = ReadFileText(path);

    // Two device elements: the second one is compared and loaded.
    std::string twice = text;
    const size_t end = twice.find("</device>") + std::string("</device>").size();
    const size_t begin = twice.find("<device ");
    std::string copy = twice.substr(begin, end - begin);
    const std::string speed = "value=\"64\"";
    copy.replace(copy.find(speed), speed.size(), "value=\"65\"");
    twice.insert(end, "\n" + copy);
    t.Open();
    ASSERT_EQ(Load(t, dir.Write("twice.rur", twice)), "");
    EXPECT_EQ(t.Entry(0, 4).Value, 65);

    // A second group element with the same ID is applied after the first.
    std::string dup = text;
    const size_t groupEnd = dup.find("</group>") + std::string("</group>").size();
    std::string group = dup.substr(dup.find("<group "), groupEnd - dup.find("<group "));
    group.replace(group.find(speed), speed.size(), "value=\"66\"");
    dup.insert(groupEnd, "\n" + group);
    ASSERT_EQ(Load(t, dir.Write("dup.rur", dup)), "");
    EXPECT_EQ(t.Entry(0, 4).Value, 66);

    // Another device type with the same ids fails at the name.
    TTestTree other(EveryKind, true, "Other", 17);
    EXPECT_EQ(
        Load(other, path),
        "Device name is not ' Other.'\nThis settings file has been created for a different type of device.");
}

TEST(SettingsFileCsv, ATextStaysOneFieldAndIsNeverAFormula) {
    TTestTree t(EveryKind);
    t.As<TSettingName>("Unit Name").Text = "=cmd|' /C calc'!A0,\"x\"\nEvil,row";
    auto& labels = t.Group(2).Settings;
    const std::vector<std::string> texts{"+1", "-2", "@SUM(A1)", "\tx", "\ry", "plain text", "a'b"};
    for (size_t i = 0; i < texts.size(); ++i)
        dynamic_cast<TSettingName&>(*labels.at(4 * i + 3)).Text = texts[i];
    t.As<TSettingInt>("Speed").Value = -5;
    TTempDir dir;
    const std::string path = dir.Path("a.csv");
    t.Tree().ExportCsv(path);
    const std::string text = ReadFileText(path);
    EXPECT_EQ(
        text.rfind("Setting Name,Value\r\nUnit Name,\"'=cmd|' /C calc'!A0,\"\"x\"\"\nEvil,row\"\r\n", 0), 0u)
        << text.substr(0, 120);
    EXPECT_NE(text.find("\r\nLabel,'+1\r\nGroup 2,0\r\nFan,60 %\r\nOccupied,Disabled\r\nLabel,'-2\r\n"),
              std::string::npos);
    for (const char* line : {"\r\nLabel,'@SUM(A1)\r\n", "\r\nLabel,'\tx\r\n", "\r\nLabel,\"'\ry\"\r\n",
                             "\r\nLabel,plain text\r\n", "\r\nLabel,a'b\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // A negative number is no text: it stays as it is.
    EXPECT_NE(text.find("\r\nSpeed,-5 %\r\n"), std::string::npos);
}

TEST(SettingsFileCsv, LinesOfEveryKind) {
    TTempDir dir;
    TTestTree t(EveryKind);
    t.As<TSettingUint32>("Service, hours").Value = -1;
    const std::string path = dir.Path("a.csv");
    t.Tree().ExportCsv(path);
    const std::string text = ReadFileText(path);
    // Only a field with a comma is quoted; everything else is written as it is.
    const std::string unitGroup = "Setting Name,Value\r\n"
                                  "Unit Name,Unit 1\r\n"
                                  "Units,m/sec\r\n"
                                  "Firmware,7 m/sec\r\n"
                                  "Velocity,2.50 m/sec\r\n"
                                  "Speed,20 %\r\n"
                                  "\"Service, hours\",-1 hours\r\n"
                                  "Frost,Enabled\r\n"
                                  "Mode,Off\r\n";
    EXPECT_EQ(text.substr(0, unitGroup.size()), unitGroup);
    EXPECT_NE(
        text.find("\r\nTemplate Group,0\r\nFan,60 %\r\nOccupied,Disabled\r\nLabel,Zone\r\nGroup 1,0\r\n"),
        std::string::npos);
    EXPECT_NE(text.find("\r\nGroup 50,0\r\nFan,60 %\r\nOccupied,Disabled\r\nLabel,Zone\r\n"),
              std::string::npos);
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, 1 + t.Tree().EntryCount());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    TTestTree empty("<settings/>");
    empty.Tree().ExportCsv(path);
    EXPECT_EQ(ReadFileText(path), "Setting Name,Value\r\n");
    EXPECT_EQ(
        ErrorOf([&] { empty.Tree().ExportCsv(dir.Path("missing/x.csv")); }).rfind("Cannot create file", 0),
        0u);
    EXPECT_EQ(
        ErrorOf([&] { empty.Tree().SaveToFile(dir.Path("missing/x.rur")); }).rfind("Cannot create file", 0),
        0u);
}

namespace {

// Fields of several widths and limits of every kind.
const char* const Checked = R"(<settings>
  <group name="Main" description="d">
    <setting value_type="drop_down" name="Units" register="10" type="holding_register" units="v">
      <ddvalue name="m/sec" value="0" default="true"/><ddvalue name="ft/min" value="1"/></setting>
    <setting value_type="int" name="Speed" register="11" type="holding_register" min="0" max="100" default="20" value_text="%"/>
    <setting value_type="int" name="Steps" register="12" type="holding_register" bitmask="0x0070" min="0" max="7" default="3" value_text=""/>
    <setting value_type="int" name="Offset" register="13" type="holding_register" scaling_factor="10" value_offset="500" min="-5" max="5" default="0" value_text="K"/>
    <setting value_type="int" name="Hours" register="14" type="holding_register" NumOfRegisters="2" min="0" max="100000" default="7" value_text="h"/>
    <setting value_type="units" name="Velocity" register="16" type="holding_register" min="0" max="1000" default="150"/>
    <setting value_type="checkbox" name="Frost" register="0" type="coil" default="checked"/>
    <setting value_type="drop_down" name="Mode" register="17" type="holding_register">
      <ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/></setting>
    <setting value_type="uint32" name="Count" register="18" type="holding_register" min="0" max="1000" default="0" value_text="x"/>
    <setting value_type="int" name="Boost" register="20" type="holding_register" min="10" max="240" default="10" DisabledValue="0" value_text="min"/>
  </group>
</settings>)";

// The tree's own file with some values replaced, by setting name (the Address of 32-bit ones).
std::string WithValues(TTestTree& t, const TTempDir& dir,
                       const std::vector<std::pair<std::string, std::string>>& values) {
    const std::string path = dir.Path("values.rur");
    t.Tree().SaveToFile(path);
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(path.c_str()));
    for (const auto& [name, value] : values) {
        pugi::xml_node setting = doc.child("settings")
                                     .child("device")
                                     .child("group")
                                     .find_child_by_attribute("setting", "name", name.c_str());
        EXPECT_TRUE(setting) << name;
        (setting.attribute("Address") ? setting.attribute("Address") : setting.attribute("value"))
            .set_value(value.c_str());
    }
    EXPECT_TRUE(doc.save_file(path.c_str()));
    return path;
}

} // namespace

TEST(SettingsFileValues, AValueItsRegisterFieldCannotHoldRefusesTheWholeFile) {
    TTempDir dir;
    TTestTree t(Checked);
    struct TCase {
        const char* setting;
        const char* value;
        bool refused;
    };
    const std::vector<TCase> cases{
        {"Speed", "-40000", true},
        {"Speed", "65536", true},
        {"Speed", "-32768", false},
        {"Steps", "8", true},
        {"Steps", "-5", true},
        {"Steps", "7", false},
        // Scaled by 10 and offset by 500 on the way into the register.
        {"Offset", "6600", true},
        {"Offset", "-3400", true},
        {"Offset", "-3300", false},
        {"Hours", "2147483647", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " " + c.value);
        const std::string path = WithValues(t, dir, {{"Speed", "55"}, {c.setting, c.value}});
        const std::string message = ErrorOf([&] { t.Tree().LoadFromFile(path, {false, true}); });
        if (c.refused) {
            EXPECT_EQ(message.rfind(std::string("The value ") + c.value +
                                        " in the XML document does not fit the register of setting '" +
                                        c.setting + "' (Main, register ",
                                    0),
                      0u)
                << message;
            EXPECT_EQ(t.Register(11), 20) << "a refused file changed the register image";
        } else {
            EXPECT_EQ(message, "");
        }
        t.Open();
    }
    EXPECT_EQ(ErrorOf([&] {
                  t.Tree().LoadFromFile(WithValues(t, dir, {{"Speed", "-40000"}}));
              }),
              "The value -40000 in the XML document does not fit the register of setting 'Speed' (Main, "
              "register 11)");
}

TEST(SettingsFileValues, ValuesOutsideTheirLimitsLoadOnlyWhenAllowed) {
    TTempDir dir;
    TTestTree t(Checked);
    // Limits as the editors check them: a units word decoded in the units the file selects, a
    // scaled value before scaling, a reserved value that shows as a dash.
    const std::string outside = WithValues(t, dir,
                                           {{"Units", "1"},
                                            {"Speed", "150"},
                                            {"Velocity", "1500"},
                                            {"Frost", "3"},
                                            {"Mode", "7"},
                                            {"Count", "1001"},
                                            {"Boost", "5"}});
    const std::vector<std::string> lines{
        "'Speed' (Main, register 11): 150 % (limits 0 to 100 %)",
        "'Velocity' (Main, register 16): 2941 ft/min (limits 0 to 1960 ft/min)",
        "'Frost' (Main, coil 0): 3 (a check box holds 0 or 1)",
        "'Mode' (Main, register 17): 7 (not one of its choices)",
        "'Count' (Main, register 18): 1001 x (limits 0 to 1000 x)",
        "'Boost' (Main, register 20): 5 min (limits 10 to 240 min)",
    };
    try {
        t.Tree().LoadFromFile(outside);
        ADD_FAILURE() << "values outside their limits were loaded without consent";
    } catch (const TOutOfLimitsError& e) {
        EXPECT_EQ(e.Values, lines);
        EXPECT_EQ(std::string(e.what()).rfind(
                      "6 values in the file are outside their settings' limits:\n'Speed'", 0),
                  0u);
    }
    EXPECT_EQ(t.Register(11), 20);
    EXPECT_EQ(t.Tree().CurrentUnits, "m/sec");

    ASSERT_EQ(ErrorOf([&] { t.Tree().LoadFromFile(outside, {false, true}); }), "");
    EXPECT_EQ(t.Register(11), 150);
    ASSERT_EQ(t.Tree().LoadWarnings.size(), lines.size());
    EXPECT_EQ(t.Tree().LoadWarnings[0], "Loaded outside its limits: " + lines[0]);

    // Raw register words beyond the limits that the editor shows within them.
    t.Open();
    const std::string inside =
        WithValues(t, dir, {{"Velocity", std::to_string(0x8000 | 100)}, {"Offset", "5"}, {"Boost", "0"}});
    EXPECT_EQ(ErrorOf([&] { t.Tree().LoadFromFile(inside); }), "");
    EXPECT_TRUE(t.Tree().LoadWarnings.empty());
    EXPECT_EQ(t.Register(13), 550);
}

namespace {

// Two versions of a device type's definitions: the second swaps two settings, drops one, adds
// one, and keeps a template whose copies share their names.
const char* const Before = R"(<settings>
  <group name="Main" description="d">
    <setting value_type="int" name="Minimum" register="1" type="holding_register" min="0" max="100" default="20" value_text="%"/>
    <setting value_type="int" name="Maximum" register="2" type="holding_register" min="0" max="100" default="90" value_text="%"/>
    <setting value_type="int" name="Old" register="3" type="holding_register" min="0" max="100" default="1" value_text="%"/>
  </group>
  <group name="Group" description="t">
    <setting value_type="int" name="Fan" register="1000" type="holding_register" offset="16" min="0" max="100" default="60" value_text="%"/>
  </group>
</settings>)";
const char* const After = R"(<settings>
  <group name="Main" description="d">
    <setting value_type="int" name="Maximum" register="2" type="holding_register" min="0" max="100" default="90" value_text="%"/>
    <setting value_type="int" name="Minimum" register="1" type="holding_register" min="0" max="100" default="20" value_text="%"/>
    <setting value_type="int" name="New" register="4" type="holding_register" min="0" max="100" default="4" value_text="%"/>
  </group>
  <group name="Group" description="t">
    <setting value_type="int" name="Fan" register="1000" type="holding_register" offset="16" min="0" max="100" default="60" value_text="%"/>
  </group>
</settings>)";

// Builds a tree numbered from `firstId` on, as a program run whose earlier device types number
// that many groups and settings.
std::unique_ptr<TTestTree> NumberedTree(const char* xml, int32_t firstId) {
    return std::make_unique<TTestTree>(xml, true, "Test Unit", 17, firstId, firstId);
}

// The second "Groups 1 to 10" (after Main, and ZA9 1 with its five groups, and ZA9 2), and in
// it the Fan of the third copy (heading, Fan, heading, Fan, heading, Fan).
constexpr size_t SecondGroups = 8;
constexpr size_t ThirdFan = 5;

template <class F> std::vector<std::string> NotesOf(F&& call) {
    try {
        call();
    } catch (const TOtherDefinitionsError& e) {
        return e.ByNameNotes;
    }
    ADD_FAILURE() << "no TOtherDefinitionsError";
    return {};
}

} // namespace

TEST(SettingsFileDefinitions, AFileOfOtherDefinitionsLoadsOnlyByNameAndThenByName) {
    TTempDir dir;
    const std::string path = dir.Path("before.rur");
    {
        auto before = NumberedTree(Before, 5000);
        before->Entry(0, 0).Value = 25;
        before->Entry(0, 1).Value = 80;
        before->Entry(SecondGroups, ThirdFan).Value = 33;
        before->Tree().SaveToFile(path);
    }
    auto after = NumberedTree(After, 5000);
    TSetting& copy = after->Entry(SecondGroups, ThirdFan);
    ASSERT_EQ(copy.Name, "Fan");
    EXPECT_EQ(ErrorOf([&] { after->Tree().LoadFromFile(path); }),
              "Setting 'Maximum' has the ID of setting 'Minimum' in the XML document");
    const std::vector<std::string> notes{
        "By group and setting names: 1 setting of the file matches nothing and is skipped; 1 setting is not "
        "in the "
        "file and keeps its value.",
        "Kept as it is: setting 'New' of group 'Main' (not in the file)",
        "Skipped: setting 'Old' of group 'Main' in the file (no setting of that name)",
    };
    EXPECT_EQ(NotesOf([&] { after->Tree().LoadFromFile(path); }), notes);
    EXPECT_EQ(after->Register(1), 20) << "a refused file changed the register image";

    after->Entry(0, 2).Value = 44;
    ASSERT_EQ(ErrorOf([&] { after->Tree().LoadFromFile(path, {true, false}); }), "");
    EXPECT_EQ(after->Tree().FindSetting("Minimum")->Value, 25);
    EXPECT_EQ(after->Tree().FindSetting("Maximum")->Value, 80);
    EXPECT_EQ(after->Register(1), 25);
    EXPECT_EQ(after->Entry(0, 2).Value, 44);
    EXPECT_EQ(copy.Value, 33);
    EXPECT_EQ(after->Tree().LoadWarnings, notes);

    // Definitions that number everything later (a device type added before this one): the
    // message is the one such a file always gave, and the names still lead to every value.
    auto shifted = NumberedTree(Before, 7000);
    EXPECT_EQ(ErrorOf([&] { shifted->Tree().LoadFromFile(path); }),
              "Could not find settings group 'Main' in the XML document");
    EXPECT_EQ(NotesOf([&] { shifted->Tree().LoadFromFile(path); }).size(), 1u);
    ASSERT_EQ(ErrorOf([&] { shifted->Tree().LoadFromFile(path, {true, false}); }), "");
    EXPECT_EQ(shifted->Entry(SecondGroups, ThirdFan).Value, 33);
}
