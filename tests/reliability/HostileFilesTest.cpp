// Definition files and settings files that are broken in every way we could think of. Each
// case states what the user must be told; the same file is given to the loader in this process
// and to the built dezadizi-cli, which must print that text and exit 1, never crash.
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// What a file must give: Accepted, or the message (exactly; a parse error only by its start,
// since it names the path and the parser's offset), and the line the command-line tool adds to
// it where one of its options would load the file.
struct TExpect {
    bool accepted = false;
    std::string message;
    std::string cliHint;
};
const TExpect Accepted{true, {}, {}};
TExpect Refused(std::string message, std::string cliHint = {}) {
    return {false, std::move(message), std::move(cliHint)};
}

bool Matches(const TExpect& expect, const std::string& text) {
    if (expect.message.rfind("XML parse error", 0) == 0)
        return text.rfind("XML parse error in ", 0) == 0 && text.find(" at offset ") != std::string::npos;
    return text == expect.message;
}

std::string Missing(const std::string& attribute) {
    return "Could not find attribute \"" + attribute + "\" in XML node.";
}

std::string NotInteger(const std::string& text) {
    return "'" + text + "' is not a valid integer value";
}

// ---- Definition files ---------------------------------------------------------------------

using TAttributes = std::vector<std::pair<std::string, std::string>>;

std::string Element(const std::string& name, const TAttributes& attributes, const std::string& inner = {}) {
    std::string text = "<" + name;
    for (const auto& [key, value] : attributes)
        text += " " + key + "=\"" + value + "\"";
    return inner.empty() ? text + "/>" : text + ">" + inner + "</" + name + ">";
}

TAttributes Without(TAttributes attributes, const std::string& name) {
    std::erase_if(attributes, [&](const auto& a) { return a.first == name; });
    return attributes;
}

TAttributes With(TAttributes attributes, const std::string& name, const std::string& value) {
    for (auto& a : attributes) {
        if (a.first == name) {
            a.second = value;
            return attributes;
        }
    }
    attributes.emplace_back(name, value);
    return attributes;
}

const TAttributes DeviceAttributes{
    {"name", "Unit"}, {"device_id", "17"}, {"live_status_id", "0"}, {"settings_id", "1"}};
const TAttributes GroupAttributes{{"name", "Main"}, {"description", "d"}};

// One setting of every kind that the file can name, with every attribute it needs.
struct TKind {
    TAttributes attributes;
    std::string inner;
};
const std::vector<TKind> Kinds{
    {{{"value_type", "int"},
      {"name", "Speed"},
      {"register", "9"},
      {"type", "holding_register"},
      {"min", "0"},
      {"max", "1000"},
      {"default", "5"},
      {"value_text", "%"}},
     {}},
    {{{"value_type", "checkbox"},
      {"name", "Enable"},
      {"register", "2"},
      {"type", "coil"},
      {"default", "checked"}},
     {}},
    {{{"value_type", "drop_down"}, {"name", "Mode"}, {"register", "11"}, {"type", "holding_register"}},
     R"(<ddvalue name="Off" value="0"/><ddvalue name="On" value="1" default="true"/>)"},
    {{{"value_type", "name"},
      {"name", "Label"},
      {"register", "20"},
      {"type", "holding_register"},
      {"NumOfRegisters", "8"},
      {"default", "Zone"}},
     {}},
    {{{"value_type", "label"},
      {"name", "Info"},
      {"register", "12"},
      {"type", "holding_register"},
      {"default", "0"}},
     {}},
    {{{"value_type", "uint32"},
      {"name", "Hours"},
      {"register", "30"},
      {"type", "holding_register"},
      {"min", "0"},
      {"max", "100000"},
      {"default", "7"},
      {"value_text", "h"}},
     {}},
    {{{"value_type", "units"},
      {"name", "Flow"},
      {"register", "40"},
      {"type", "holding_register"},
      {"min", "0"},
      {"max", "1000"},
      {"default", "0"}},
     {}},
};

std::string Definitions(const std::string& settings, const TAttributes& device = DeviceAttributes,
                        const TAttributes& group = GroupAttributes) {
    return "<?xml version=\"1.0\"?>\n<rur>" + Element("device", device) +
           Element("settings", {{"settings_id", "1"}}, Element("group", group, settings)) + "</rur>\n";
}

std::string Int(const TAttributes& changed) {
    return Element("setting", changed);
}
TAttributes IntAttributes() {
    return Kinds[0].attributes;
}

struct TCase {
    std::string name;
    std::string content;
    TExpect expect;
};

std::vector<TCase> DefinitionCases() {
    std::vector<TCase> cases;
    std::string all;
    for (const TKind& kind : Kinds)
        all += Element("setting", kind.attributes, kind.inner);
    cases.push_back({"every kind, well formed", Definitions(all), Accepted});

    // Not well-formed, in several ways, and not a definition file at all.
    cases.push_back({"empty file", "", Refused("XML parse error")});
    cases.push_back({"unclosed element", "<rur><device name='a'</rur>", Refused("XML parse error")});
    cases.push_back({"truncated half-way", Definitions(all).substr(0, 200), Refused("XML parse error")});
    cases.push_back({"mismatched end tag", "<rur><settings></group></rur>", Refused("XML parse error")});
    cases.push_back(
        {"binary noise", std::string("\x01\x02\xff\xfe\x00\x10 <rur/>", 12), Refused("XML parse error")});
    cases.push_back(
        {"wrong root", "<settings><device/></settings>", Refused("Could not find parent tag: rur")});
    cases.push_back({"root of another case", "<Rur/>", Refused("Could not find parent tag: rur")});

    // Every required attribute of every element, one missing at a time.
    for (const auto& [name, value] : DeviceAttributes)
        cases.push_back({"device without " + name, Definitions(all, Without(DeviceAttributes, name)),
                         Refused(Missing(name))});
    for (const auto& [name, value] : GroupAttributes)
        cases.push_back({"group without " + name,
                         Definitions(all, DeviceAttributes, Without(GroupAttributes, name)),
                         Refused(Missing(name))});
    cases.push_back({"settings without settings_id",
                     "<rur>" + Element("device", DeviceAttributes) + "<settings/></rur>",
                     Refused(Missing("settings_id"))});
    for (const TKind& kind : Kinds) {
        for (const auto& [name, value] : kind.attributes) {
            cases.push_back({kind.attributes[0].second + " setting without " + name,
                             Definitions(Element("setting", Without(kind.attributes, name), kind.inner)),
                             Refused(Missing(name))});
        }
    }
    cases.push_back({"ddvalue without name",
                     Definitions(Element("setting", Kinds[2].attributes, R"(<ddvalue value="0"/>)")),
                     Refused(Missing("name"))});
    cases.push_back({"ddvalue without value",
                     Definitions(Element("setting", Kinds[2].attributes, R"(<ddvalue name="Off"/>)")),
                     Refused(Missing("value"))});

    // Numbers: out of range, not numbers, and the hexadecimal forms the conversion accepts.
    cases.push_back({"device_id beyond 32 bits",
                     Definitions(all, With(DeviceAttributes, "device_id", "2147483648")),
                     Refused(NotInteger("2147483648"))});
    cases.push_back({"register not a number", Definitions(Int(With(IntAttributes(), "register", "9a"))),
                     Refused(NotInteger("9a"))});
    cases.push_back(
        {"register empty", Definitions(Int(With(IntAttributes(), "register", ""))), Refused(NotInteger(""))});
    cases.push_back({"default far beyond 32 bits",
                     Definitions(Int(With(IntAttributes(), "default", "99999999999999999999"))),
                     Refused(NotInteger("99999999999999999999"))});
    cases.push_back({"register in hexadecimal (0x)",
                     Definitions(Int(With(IntAttributes(), "register", "0x10"))), Accepted});
    cases.push_back({"register in hexadecimal ($)",
                     Definitions(Int(With(IntAttributes(), "register", "$1F"))), Accepted});
    cases.push_back({"hexadecimal beyond 32 bits",
                     Definitions(Int(With(IntAttributes(), "min", "0x100000000"))),
                     Refused(NotInteger("0x100000000"))});
    cases.push_back({"bitmask above 16 bits", Definitions(Int(With(IntAttributes(), "bitmask", "65536"))),
                     Refused("'65536' is not a valid bitmask (-32768 to 32767)")});
    cases.push_back({"bitmask 0xFFFF (bit 15 set, written positive)",
                     Definitions(Int(With(IntAttributes(), "bitmask", "0xFFFF"))),
                     Refused("'0xFFFF' is not a valid bitmask (-32768 to 32767)")});
    cases.push_back({"bitmask below -32768", Definitions(Int(With(IntAttributes(), "bitmask", "-32769"))),
                     Refused("'-32769' is not a valid bitmask (-32768 to 32767)")});
    cases.push_back(
        {"bitmask -1 (all 16 bits)", Definitions(Int(With(IntAttributes(), "bitmask", "-1"))), Accepted});
    cases.push_back(
        {"scaling_factor 0", Definitions(Int(With(IntAttributes(), "scaling_factor", "0"))), Accepted});
    cases.push_back({"min above max", Definitions(Int(With(IntAttributes(), "min", "2000"))), Accepted});

    // Register counts and register numbers the unit cannot have. The text kind refuses a bad
    // count as it loads; an integer loads and is refused when the device type is opened.
    const TAttributes text = Kinds[3].attributes;
    for (const char* count : {"0", "51", "-1"}) {
        cases.push_back({std::string("text NumOfRegisters ") + count,
                         Definitions(Element("setting", With(text, "NumOfRegisters", count))),
                         Refused(std::string("Setting 'Label' has NumOfRegisters ") + count +
                                 ": a text setting holds 1 to 50 registers")});
    }
    cases.push_back({"text NumOfRegisters 50",
                     Definitions(Element("setting", With(text, "NumOfRegisters", "50"))), Accepted});
    for (const char* count : {"0", "3", "51"}) {
        cases.push_back({std::string("int NumOfRegisters ") + count,
                         Definitions(Int(With(IntAttributes(), "NumOfRegisters", count))),
                         Refused("An Int register has been set to a size of more than 2 registers")});
    }
    cases.push_back({"register 65535 (the last reference)",
                     Definitions(Int(With(IntAttributes(), "register", "65535"))), Accepted});
    cases.push_back(
        {"register 65536", Definitions(Int(With(IntAttributes(), "register", "65536"))),
         Refused("InserHoldingRegistersSingleIndex - Trying to access a vector position that doesn't "
                 "exist")});
    cases.push_back(
        {"register 2147483647", Definitions(Int(With(IntAttributes(), "register", "2147483647"))),
         Refused("InserHoldingRegistersSingleIndex - Trying to access a vector position that doesn't "
                 "exist")});
    cases.push_back(
        {"register -2147483648", Definitions(Int(With(IntAttributes(), "register", "-2147483648"))),
         Refused("InserHoldingRegistersSingleIndex - Trying to access a vector position that doesn't "
                 "exist")});
    cases.push_back(
        {"template copies past -2147483648",
         "<rur>" + Element("device", DeviceAttributes) +
             Element("settings", {{"settings_id", "1"}},
                     Element("group", GroupAttributes, Int(IntAttributes())) +
                         Element("group", {{"name", "Group"}, {"description", "t"}},
                                 Int(With(With(IntAttributes(), "register", "-2147483648"), "offset",
                                          "-1000000000")))) +
             "</rur>",
         Refused("InserHoldingRegistersSingleIndex - Trying to access a vector position that doesn't "
                 "exist")});
    cases.push_back({"coil register -2",
                     Definitions(Element("setting", With(Kinds[1].attributes, "register", "-2"))),
                     Refused("InsertCoilIndex - Trying to access a vector position that doesn't exist")});
    cases.push_back(
        {"template offset past the last register",
         "<rur>" + Element("device", DeviceAttributes) +
             Element("settings", {{"settings_id", "1"}},
                     Element("group", GroupAttributes, Int(IntAttributes())) +
                         Element("group", {{"name", "Group"}, {"description", "t"}},
                                 Int(With(IntAttributes(), "offset", "100000000")))) +
             "</rur>",
         Refused("InserHoldingRegistersSingleIndex - Trying to access a vector position that doesn't "
                 "exist")});

    // Unknown kinds and register types.
    cases.push_back({"value_type of another case",
                     Definitions(Int(With(IntAttributes(), "value_type", "Int"))),
                     Refused("Unknown setting type Int")});
    cases.push_back({"type unknown", Definitions(Int(With(IntAttributes(), "type", "holding"))),
                     Refused("Unknown value type : holding")});

    // Encodings.
    cases.push_back({"UTF-8 byte-order mark", "\xEF\xBB\xBF" + Definitions(all), Accepted});
    cases.push_back({"invalid UTF-8 in names",
                     Definitions(Int(With(IntAttributes(), "name",
                                          "Sp\xC3\x28"
                                          "ed\xFF")),
                                 With(DeviceAttributes, "name", "Unit \xE2\x82")),
                     Accepted});

    // Limits that name each other, and themselves: a loop that must not be followed for ever.
    cases.push_back(
        {"settings naming each other as limits",
         Definitions(Int(With(With(IntAttributes(), "minsetting", "Limit"), "maxsetting", "Speed")) +
                     Int(With(With(With(IntAttributes(), "name", "Limit"), "register", "10"), "maxsetting",
                              "Speed"))),
         Accepted});
    cases.push_back({"device types sharing one settings element",
                     "<rur>" + Element("device", DeviceAttributes) +
                         Element("device", With(With(DeviceAttributes, "name", "Twin"), "device_id", "18")) +
                         Element("settings", {{"settings_id", "1"}}, Element("group", GroupAttributes, all)) +
                         "</rur>",
                     Accepted});
    cases.push_back({"settings_id naming no settings element",
                     Definitions(all, With(DeviceAttributes, "settings_id", "2")),
                     Refused("Could not find a settings node with id 2")});

    // Size and depth.
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<x>";
    for (int i = 0; i < 20000; ++i)
        deep += "</x>";
    cases.push_back({"20,000 nested unknown elements in a group", Definitions(all + deep), Accepted});
    cases.push_back({"20,000 nested unknown elements under the root",
                     "<rur>" + deep + Definitions(all).substr(Definitions(all).find("<rur>") + 5), Accepted});
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += Element("setting", With(With(IntAttributes(), "name", "S" + std::to_string(i)), "register",
                                        std::to_string(i % 60000)));
    cases.push_back({"20,000 settings in one group and a 16 MB comment",
                     Definitions(many) + "<!--" + std::string(16 << 20, 'x') + "-->", Accepted});
    return cases;
}

// Loads `path` as the window does, then opens every device type as offline editing does.
// Returns the message of the first failure, empty when there was none.
std::string LoadAndOpen(const std::string& path) {
    TRegisterDataStore store;
    std::string message;
    try {
        TDevices devices(store);
        devices.LoadFromFile(path);
        for (const auto& device : devices.Devices) {
            store.Reset();
            device->Settings->RegisterWithStore();
            device->Settings->RestoreDefaults();
        }
    } catch (const std::exception& e) {
        message = e.what();
    }
    return message;
}

} // namespace

TEST(HostileDefinitions, EveryCaseGivesItsMessageHereAndInTheCli) {
    TTempDir dir;
    int index = 0;
    for (const TCase& c : DefinitionCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("case" + std::to_string(index++) + ".xml", c.content);
        const std::string message = LoadAndOpen(path);
        if (c.expect.accepted)
            EXPECT_EQ(message, "");
        else
            EXPECT_TRUE(Matches(c.expect, message)) << "got: " << message;

        // The command-line tool loads and opens the first device type; it prints the same text.
        const TCliRun run =
            RunCliProcess({"defaults", "#0", "-o", QString::fromStdString(dir.Path("out.rur")), "-d",
                           QString::fromStdString(path)});
        if (c.expect.accepted) {
            EXPECT_EQ(run.code, 0) << run.err;
        } else {
            EXPECT_EQ(run.code, 1) << run.err;
            std::string first = run.err.substr(0, run.err.find('\n'));
            EXPECT_TRUE(Matches(c.expect, first)) << "cli said: " << run.err;
        }
    }
}

// ---- Settings files -----------------------------------------------------------------------

namespace {

std::string AllKinds() {
    std::string all;
    for (const TKind& kind : Kinds)
        all += Element("setting", kind.attributes, kind.inner);
    return all;
}

std::string Serialized(const pugi::xml_document& document) {
    std::ostringstream text;
    // Unindented: 20,000 nested elements indented would make a file of hundreds of megabytes.
    document.save(text, "", pugi::format_raw);
    return text.str();
}

// A settings file made from the valid one by `change`.
std::string Changed(const std::string& valid, const std::function<void(pugi::xml_node settings)>& change) {
    pugi::xml_document document;
    document.load_string(valid.c_str());
    change(document.document_element());
    return Serialized(document);
}

pugi::xml_node FirstGroup(pugi::xml_node settings) {
    return settings.child("device").child("group");
}

pugi::xml_node FirstSetting(pugi::xml_node settings) {
    return FirstGroup(settings).child("setting");
}

std::vector<TCase> SettingsFileCases(const std::string& valid) {
    std::vector<TCase> cases;
    cases.push_back({"as saved", valid, Accepted});
    cases.push_back({"empty file", "", Refused("XML parse error")});
    cases.push_back({"truncated half-way", valid.substr(0, valid.size() / 2), Refused("XML parse error")});
    cases.push_back({"a definition file instead", Definitions(AllKinds()),
                     Refused("Could not find root node 'settings' in XML document")});
    cases.push_back({"no device element", Changed(valid, [](pugi::xml_node s) { s.remove_child("device"); }),
                     Refused("Could not find node 'device' in XML document")});
    cases.push_back(
        {"another device type's name",
         Changed(valid, [](pugi::xml_node s) { s.child("device").attribute("name") = "Other"; }),
         Refused("Device name is not ' Unit.'\nThis settings file has been created for a different "
                 "type of device.")});
    cases.push_back(
        {"invalid UTF-8 in the device name",
         Changed(valid, [](pugi::xml_node s) { s.child("device").attribute("name") = "Un\xFFit"; }),
         Refused("Device name is not ' Unit.'\nThis settings file has been created for a different "
                 "type of device.")});
    cases.push_back(
        {"another device id",
         Changed(valid, [](pugi::xml_node s) { s.child("device").attribute("device_id") = "18"; }),
         Refused("Device id is not ' 17'")});
    cases.push_back(
        {"device id in hexadecimal",
         Changed(valid, [](pugi::xml_node s) { s.child("device").attribute("device_id") = "0x11"; }),
         Accepted});
    cases.push_back(
        {"device id missing",
         Changed(valid, [](pugi::xml_node s) { s.child("device").remove_attribute("device_id"); }),
         Refused(NotInteger(""))});
    cases.push_back({"group missing",
                     Changed(valid, [](pugi::xml_node s) { s.child("device").remove_child("group"); }),
                     Refused("Could not find settings group 'Main' in the XML document")});
    cases.push_back({"group without ID",
                     Changed(valid, [](pugi::xml_node s) { FirstGroup(s).remove_attribute("ID"); }),
                     Refused(NotInteger(""))});
    cases.push_back({"group ID not a number",
                     Changed(valid, [](pugi::xml_node s) { FirstGroup(s).attribute("ID") = "one"; }),
                     Refused(NotInteger("one"))});
    cases.push_back({"setting missing",
                     Changed(valid, [](pugi::xml_node s) { FirstGroup(s).remove_child(FirstSetting(s)); }),
                     Refused("Could not find a value for setting 'Speed' in the XML document")});
    cases.push_back({"setting without ID",
                     Changed(valid, [](pugi::xml_node s) { FirstSetting(s).remove_attribute("ID"); }),
                     Refused(NotInteger(""))});
    cases.push_back({"setting without value",
                     Changed(valid, [](pugi::xml_node s) { FirstSetting(s).remove_attribute("value"); }),
                     Refused(NotInteger(""))});
    cases.push_back(
        {"value beyond 32 bits",
         Changed(valid, [](pugi::xml_node s) { FirstSetting(s).attribute("value") = "4294967296"; }),
         Refused(NotInteger("4294967296"))});
    cases.push_back({"value in exponent form",
                     Changed(valid, [](pugi::xml_node s) { FirstSetting(s).attribute("value") = "1e3"; }),
                     Refused(NotInteger("1e3"))});
    // Values are checked as the editors check them: one the register cannot hold is refused, one
    // outside the setting's limits needs consent.
    cases.push_back(
        {"value beyond 16 bits",
         Changed(valid, [](pugi::xml_node s) { FirstSetting(s).attribute("value") = "99999"; }),
         Refused("The value 99999 in the XML document does not fit the register of setting 'Speed' "
                 "(Main, register 9)")});
    cases.push_back(
        {"value beyond the setting's limits",
         Changed(valid, [](pugi::xml_node s) { FirstSetting(s).attribute("value") = "5000"; }),
         Refused("1 value in the file is outside its setting's limits:\n'Speed' (Main, register 9): "
                 "5000 % (limits 0 to 1000 %)",
                 "--allow-out-of-range loads them anyway.")});
    cases.push_back({"value in hexadecimal",
                     Changed(valid, [](pugi::xml_node s) { FirstSetting(s).attribute("value") = "$20"; }),
                     Accepted});
    cases.push_back({"UTF-8 byte-order mark", "\xEF\xBB\xBF" + valid, Accepted});
    cases.push_back({"the group twice: the later values win",
                     Changed(valid,
                             [](pugi::xml_node s) {
                                 pugi::xml_node copy = s.child("device").append_copy(FirstGroup(s));
                                 copy.child("setting").attribute("value") = "321";
                             }),
                     Accepted});
    cases.push_back(
        {"setting IDs that point at each other's values",
         Changed(valid,
                 [](pugi::xml_node s) {
                     pugi::xml_node first = FirstSetting(s);
                     pugi::xml_node second = first.next_sibling("setting");
                     const std::string id = first.attribute("ID").value();
                     first.attribute("ID") = second.attribute("ID").value();
                     second.attribute("ID") = id.c_str();
                 }),
         Refused("Setting 'Speed' has the ID of setting 'Enable' in the XML document",
                 "The settings file was saved with other definitions; --by-name loads it by group and "
                 "setting names.")});
    cases.push_back({"20,000 nested unknown elements in a group",
                     Changed(valid,
                             [](pugi::xml_node s) {
                                 pugi::xml_node node = FirstGroup(s);
                                 for (int i = 0; i < 20000; ++i)
                                     node = node.append_child("x");
                             }),
                     Accepted});
    cases.push_back({"20,000 groups of no device type",
                     Changed(valid,
                             [](pugi::xml_node s) {
                                 pugi::xml_node device = s.child("device");
                                 for (int i = 0; i < 20000; ++i) {
                                     pugi::xml_node group = device.prepend_child("group");
                                     group.append_attribute("name") = "Noise";
                                     group.append_attribute("ID") = 1000000 + i;
                                 }
                             }),
                     Accepted});
    return cases;
}

struct THostileSettings : ::testing::Test {
    TTempDir dir;
    std::string definitions;
    std::string valid;

    void SetUp() override {
        definitions = dir.Write("Devices.xml", Definitions(AllKinds()));
        // Saved by the tool, which numbers groups and settings from 0 as a fresh program run does.
        const TCliRun run =
            RunCliProcess({"defaults", "Unit", "-o", QString::fromStdString(dir.Path("valid.rur")), "-d",
                           QString::fromStdString(definitions)});
        ASSERT_EQ(run.code, 0) << run.err;
        valid = ReadFileText(dir.Path("valid.rur"));

        // The same numbering as the tool's: a catalogue of its own numbers from 0.
        devices.LoadFromFile(definitions);
        tree = devices.Devices.at(0)->Settings.get();
        store.Reset();
        tree->RegisterWithStore();
    }

    TRegisterDataStore store;
    TDevices devices{store};
    TSettings* tree = nullptr;
};

} // namespace

TEST_F(THostileSettings, EveryCaseGivesItsMessageAndARefusedFileChangesNothing) {
    TSettings& tree = *this->tree;

    int index = 0;
    for (const TCase& c : SettingsFileCases(valid)) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("case" + std::to_string(index++) + ".rur", c.content);
        // A value the file does not carry must be seen to survive a refused load.
        tree.RestoreDefaults();
        tree.FindSetting("Speed")->Value = 77;
        tree.FindSetting("Speed")->WriteToStore();
        const std::string before = dir.Path("before.rur");
        tree.SaveToFile(before);
        int16_t registerBefore = 0;
        store.GetHoldingRegisters(10, &registerBefore, 1);

        std::string message;
        try {
            tree.LoadFromFile(path);
        } catch (const std::exception& e) {
            message = e.what();
        }
        if (c.expect.accepted) {
            EXPECT_EQ(message, "");
        } else {
            EXPECT_TRUE(Matches(c.expect, message)) << "got: " << message;
            tree.SaveToFile(dir.Path("after.rur"));
            EXPECT_EQ(ReadFileText(dir.Path("after.rur")), ReadFileText(before))
                << "a refused file changed values";
            int16_t registerAfter = 0;
            store.GetHoldingRegisters(10, &registerAfter, 1);
            EXPECT_EQ(registerAfter, registerBefore) << "a refused file changed the register image";
        }

        const TCliRun run = RunCliProcess({"convert", "Unit", QString::fromStdString(path), "-o",
                                           QString::fromStdString(dir.Path("out.rur")), "-d",
                                           QString::fromStdString(definitions)});
        if (c.expect.accepted) {
            EXPECT_EQ(run.code, 0) << run.err;
        } else {
            EXPECT_EQ(run.code, 1) << run.err;
            std::string said = run.err.substr(0, run.err.size() - 1);
            if (!c.expect.cliHint.empty()) {
                const size_t hint = said.size() - std::min(said.size(), c.expect.cliHint.size() + 1);
                EXPECT_EQ(said.substr(hint), "\n" + c.expect.cliHint);
                said.resize(hint);
            }
            EXPECT_TRUE(Matches(c.expect, said)) << "cli said: " << run.err;
        }
    }
}

TEST_F(THostileSettings, TheLaterOfTwoCopiesOfAGroupWinsAndLimitsYieldToConsent) {
    TSettings& tree = *this->tree;
    tree.RestoreDefaults();
    const std::vector<TCase> cases = SettingsFileCases(valid);
    const auto load = [&](const std::string& name, const TLoadOptions& options = {}) {
        for (const TCase& c : cases) {
            if (c.name == name)
                tree.LoadFromFile(dir.Write("one.rur", c.content), options);
        }
    };
    load("the group twice: the later values win");
    EXPECT_EQ(tree.FindSetting("Speed")->Value, 321);
    load("value beyond the setting's limits", {false, true});
    EXPECT_EQ(tree.FindSetting("Speed")->Value, 5000);
    load("setting IDs that point at each other's values", {true, false});
    EXPECT_EQ(tree.FindSetting("Speed")->Value, 5);
    load("value in hexadecimal");
    EXPECT_EQ(tree.FindSetting("Speed")->Value, 32);
}

// A FIFO named as a file would hold every reader forever, and a huge file would be read whole:
// both are refused at once, wherever the file is named.
TEST(HostileFiles, AFileThatIsNoRegularFileOrFarTooLargeIsRefusedAtOnce) {
    TTempDir dir;
    const std::string fifo = dir.Path("fifo.rur");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = dir.Write("large.rur", "");
    ASSERT_EQ(::truncate(large.c_str(), (off_t{64} << 20) + 1), 0);
    const QString out = QString::fromStdString(dir.Path("out.rur"));
    const QString definitions = QString::fromStdString(SourcePath("data/Devices.xml"));
    const auto q = [](const std::string& text) { return QString::fromStdString(text); };
    const std::string isFifo = "\". It is a FIFO, not a regular file. Name a regular file.\n";
    const std::string isLarge =
        "\". It is larger than 64 MiB, more than such a file ever holds. Check that it is the right file.\n";

    // The settings file IN, as convert and diff load it, and the definition file check reads.
    TCliRun run = RunCliProcess({"convert", "id:17", q(fifo), "-o", out, "-d", definitions}, 30000);
    EXPECT_EQ(run.err, "Cannot open file \"" + fifo + isFifo);
    run = RunCliProcess({"diff", "id:17", "defaults", q(large), "-d", definitions}, 30000);
    EXPECT_EQ(run.err, "Cannot open file \"" + large + isLarge);
    run = RunCliProcess({"check", "-d", q(fifo)}, 30000);
    EXPECT_NE(run.out.find("1 errors, 0 warnings"), std::string::npos) << run.out;
}
