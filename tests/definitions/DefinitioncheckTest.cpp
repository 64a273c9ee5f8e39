#include "definitions/Definitioncheck.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// One device type (line 3) whose settings element (line 4) holds `groups` from line 5 on; every
// group and setting below sits on a line of its own, so the lines are counted from there.
std::string Definitions(const std::string& groups, const std::string& more = "") {
    return "<?xml version=\"1.0\"?>\n<rur>\n"
           "<device name=\"Unit\" device_id=\"1\" live_status_id=\"0\" settings_id=\"1\"/>\n"
           "<settings settings_id=\"1\">\n" +
           groups + "</settings>\n" + more + "</rur>\n";
}

// A group (its line) and its settings (one line each after it).
std::string Group(const std::vector<std::string>& settings, const std::string& name = "Unit") {
    std::string text = "<group name=\"" + name + "\" description=\"d\">\n";
    for (const auto& setting : settings)
        text += setting + "\n";
    return text + "</group>\n";
}

std::string Int(const std::string& name, int reg, const std::string& extra = "",
                const std::string& limits = "min=\"0\" max=\"100\" default=\"5\"") {
    return "<setting value_type=\"int\" name=\"" + name + "\" register=\"" + std::to_string(reg) +
           "\" type=\"holding_register\" " + limits + " value_text=\"%\" " + extra + "/>";
}

std::string Choices(const std::string& name, int reg, const std::string& extra,
                    const std::string& values = "<ddvalue name=\"Off\" value=\"2\" default=\"true\"/>"
                                                "<ddvalue name=\"On\" value=\"5\"/>") {
    return "<setting value_type=\"drop_down\" name=\"" + name + "\" register=\"" + std::to_string(reg) +
           "\" type=\"holding_register\" " + extra + ">" + values + "</setting>";
}

std::string CustomBox(const std::string& name, int reg, int unchecked = 2, int checked = 5) {
    return "<setting value_type=\"checkbox\" name=\"" + name + "\" register=\"" + std::to_string(reg) +
           "\" type=\"holding_register\" default=\"unchecked\" unchecked_value=\"" +
           std::to_string(unchecked) + "\" checked_value=\"" + std::to_string(checked) + "\"/>";
}

// Each finding as "LINE error|warning TEXT".
std::vector<std::string> Check(const std::string& xml) {
    TTempDir dir;
    const TDefinitionReport report = CheckDefinitionFile(dir.Write("Devices.xml", xml));
    std::vector<std::string> lines;
    int errors = 0;
    for (const auto& finding : report.Findings) {
        lines.push_back(std::to_string(finding.Line) + (finding.IsError ? " error " : " warning ") +
                        finding.Text);
        errors += finding.IsError ? 1 : 0;
    }
    EXPECT_EQ(report.Errors, errors);
    EXPECT_EQ(report.Warnings, static_cast<int>(report.Findings.size()) - errors);
    return lines;
}

} // namespace

TEST(DefinitionCheck, TheBundledFileIsClean) {
    EXPECT_EQ(Check(ReadFileText(SourcePath("data/Devices.xml"))), std::vector<std::string>{});
}

TEST(DefinitionCheck, OverlapsAreReportedAtBothSettingsTheSecondNamingTheFirst) {
    EXPECT_EQ(Check(Definitions(Group({Int("A", 10), Int("B", 11), Int("C", 10)}))),
              (std::vector<std::string>{
                  "6 error setting 'A' overlaps setting 'C' (line 8) on holding register 10",
                  "8 error setting 'C' overlaps setting 'A' (line 6) on holding register 10"}));
    // Bit fields: apart they share a register; overlapping bits are named.
    EXPECT_EQ(
        Check(Definitions(
            Group({Int("Low", 10, "bitmask=\"$000F\"", "min=\"0\" max=\"15\" default=\"1\""),
                   Int("High", 10, "bitmask=\"$00F0\"", "min=\"0\" max=\"15\" default=\"1\""),
                   Int("Across", 10, "bitmask=\"$0018\"", "min=\"0\" max=\"3\" default=\"1\"")}))),
        (std::vector<std::string>{
            "6 error setting 'Low' overlaps setting 'Across' (line 8) on holding register 10 (bits 0x0008)",
            "8 error setting 'Across' overlaps setting 'Low' (line 6) on holding register 10 (bits "
            "0x0008)"}));
    // Coils and holding registers are apart; two-register and text settings cover their whole run.
    const auto wide = Check(Definitions(Group(
        {"<setting value_type=\"checkbox\" name=\"Coil\" register=\"11\" type=\"coil\" default=\"checked\"/>",
         "<setting value_type=\"uint32\" name=\"Wide\" register=\"10\" type=\"coil\" min=\"0\" max=\"9\" "
         "default=\"1\" value_text=\"h\"/>",
         Int("Next", 11),
         "<setting value_type=\"name\" name=\"Title\" register=\"20\" type=\"holding_register\" "
         "NumOfRegisters=\"8\" default=\"x\"/>",
         Int("Inside", 25)})));
    EXPECT_EQ(
        wide,
        (std::vector<std::string>{
            "7 error setting 'Wide' overlaps setting 'Next' (line 8) on holding register 11",
            "8 error setting 'Next' overlaps setting 'Wide' (line 7) on holding register 11",
            "9 error text setting 'Title' (holding registers 20 to 27) runs into setting 'Inside' (line "
            "10) on holding register 25",
            "10 error setting 'Inside' overlaps text setting 'Title' (line 9) on holding register 25"}));
}

TEST(DefinitionCheck, TheSharedRegisterIdiomAndTheUnitsSelectorAreNotOverlaps) {
    const std::string selector =
        Choices("Units", 30, "units=\"v\"",
                "<ddvalue name=\"m/sec\" value=\"0\"/><ddvalue name=\"ft/min\" value=\"1\"/>");
    EXPECT_EQ(
        Check(Definitions(Group({Choices("Mode", 20, ""), CustomBox("Mode on", 20), Int("Level", 21),
                                 CustomBox("Level high", 21, 0, 100), selector, Int("Beside units", 30)}))),
        std::vector<std::string>{});
    // A custom value the drop-down does not offer; a second custom check box on the register; a
    // custom check box whose register nobody announces.
    EXPECT_EQ(
        Check(Definitions(Group({Choices("Mode", 20, ""), CustomBox("Mode on", 20, 2, 7),
                                 CustomBox("Mode again", 20), CustomBox("Alone", 40)}))),
        (std::vector<std::string>{
            "7 warning check box 'Mode on': custom value 7 is not among the choices of drop-down 'Mode' "
            "(line 6)",
            "7 error setting 'Mode on' overlaps setting 'Mode again' (line 8) on holding register 20",
            "8 error setting 'Mode again' overlaps setting 'Mode on' (line 7) on holding register 20",
            "9 error check box 'Alone' has custom values, but no other setting announces its holding "
            "register 40"}));
}

TEST(DefinitionCheck, TemplateCopiesThatRunIntoOtherRegistersOrOffTheEnd) {
    const std::string unit = Group({Int("Plain", 1050)});
    const std::string copies =
        Group({Int("Speed", 1000, "offset=\"1\""),
               "<setting value_type=\"name\" name=\"Label\" register=\"3000\" "
               "type=\"holding_register\" offset=\"4\" NumOfRegisters=\"6\" default=\"x\"/>",
               Int("Far", 65000, "offset=\"10\""), Int("Low", 10, "offset=\"-1\"")},
              "Group");
    EXPECT_EQ(Check(Definitions(unit + copies)),
              (std::vector<std::string>{
                  "6 error setting 'Plain' overlaps setting 'Speed' (line 9) on holding register 1050",
                  "9 error setting 'Speed' overlaps setting 'Plain' (line 6) on holding register 1050",
                  "10 error group copies of setting 'Label' overlap each other on holding register 3004 (398 "
                  "overlaps in "
                  "all)",
                  "11 error setting 'Far' in group 5 of ZA9 2 uses holding register 65540, beyond 65535 (146 "
                  "group copies "
                  "in all)",
                  "12 error setting 'Low' in group 12 of ZA9 1 uses holding register -1, below 0 (189 group "
                  "copies in "
                  "all)"}));
    // Names repeat in every copy, and template settings themselves never reach a unit.
    EXPECT_EQ(Check(Definitions(Group({Int("Speed", 1000, "offset=\"16\"")}, "Group"))),
              std::vector<std::string>{});
}

TEST(DefinitionCheck, ValuesTheEditorsOrTheRegistersCannotHold) {
    const auto found = Check(Definitions(Group({
        Int("Default high", 1, "", "min=\"0\" max=\"100\" default=\"101\""),       // 6
        Int("Upside down", 2, "", "min=\"10\" max=\"5\" default=\"7\""),           // 7
        Int("Off", 3, "DisabledValue=\"0\"", "min=\"1\" max=\"9\" default=\"0\""), // 8
        "<setting value_type=\"units\" name=\"Speed\" register=\"4\" type=\"holding_register\" min=\"0\" "
        "max=\"1000\" default=\"1500\"/>", // 9
        Choices("No default", 5, "",
                "<ddvalue name=\"A\" value=\"1\"/><ddvalue name=\"B\" value=\"2\"/>"), // 10
        Choices("Two defaults", 6, "",
                "<ddvalue name=\"A\" value=\"0\" default=\"true\"/><ddvalue name=\"B\" value=\"1\" "
                "default=\"true\"/>"),                                                 // 11
        Int("Bounded", 7, "minsetting=\"Nothing\""),                                   // 12
        Int("Narrow", 8, "bitmask=\"$000F\"", "min=\"0\" max=\"20\" default=\"1\""),   // 13
        Int("High bits", 9, "bitmask=\"$0E00\"", "min=\"0\" max=\"7\" default=\"1\""), // 14
        Int("Bit eight", 9, "bitmask=\"$0100\"", "min=\"0\" max=\"1\" default=\"1\""), // 15
        Int("Scaled", 12, "bitmask=\"$00F0\" scaling_factor=\"10\"",
            "min=\"0\" max=\"2\" default=\"1\""), // 16
        "<setting value_type=\"uint32\" name=\"Wide\" register=\"20\" type=\"holding_register\" min=\"0\" "
        "max=\"9\" default=\"10\" value_text=\"h\"/>", // 17
    })));
    EXPECT_EQ(
        found,
        (std::vector<std::string>{
            "6 error setting 'Default high': default 101 is outside its limits 0 to 100",
            "7 warning setting 'Upside down': min 10 is greater than max 5",
            "7 error setting 'Upside down': default 7 is outside its limits 10 to 5",
            "9 error setting 'Speed': default 15.00 is outside its limits 0.00 to 10.00",
            "10 error drop-down 'No default': default value 0 is not one of its choices",
            "11 warning drop-down 'Two defaults' has 2 choices with default=\"true\"; the last one wins",
            "12 error setting 'Bounded': minsetting 'Nothing' names no setting",
            "13 error setting 'Narrow': bit mask 0x000F holds 0 to 15, so max 20 does not fit",
            "14 error setting 'High bits': bit mask 0x0E00 starts above bit 8, so its values are stored in "
            "the wrong bits",
            "16 error setting 'Scaled': bit mask 0x00F0 holds 0 to 15, so max 2 (stored as 20) does not fit",
            "17 error setting 'Wide': default 10 is outside its limits 0 to 9"}));
}

TEST(DefinitionCheck, DeviceTypesSettingsElementsAndGroups) {
    const std::string more =
        "<device name=\"Twin\" device_id=\"1\" live_status_id=\"0\" settings_id=\"1\"/>\n"
        "<settings settings_id=\"1\">\n</settings>\n"
        "<settings settings_id=\"9\">\n</settings>\n";
    EXPECT_EQ(
        Check(Definitions(Group({Int("A", 1, "exclusiongroup=\"4\""), Int("B", 2), Int("B", 3)}), more)),
        (std::vector<std::string>{
            "3 error device 'Unit' shares its device_id 1 with device 'Twin' (line 11)",
            "6 warning exclusion group 4 has only one member, setting 'A'",
            "8 warning setting name 'B' is used twice in this group, first (line 7)",
            "11 error device 'Twin' has the device_id 1 of device 'Unit' (line 3)",
            "12 warning settings element 1 is used by no device: the one with the same settings_id (line 4) "
            "is found first",
            "14 warning settings element 9 is used by no device"}));
}

TEST(DefinitionCheck, AFileTheLoaderRefusesIsReportedAtItsLine) {
    EXPECT_EQ(
        Check(Definitions(Group({Int("A", 1), "<setting value_type=\"int\" name=\"B\" type=\"coil\"/>"}))),
        std::vector<std::string>{"7 error Could not find attribute \"register\" in XML node."});
    EXPECT_EQ(Check(Definitions(
                  "", "<device name=\"Lost\" device_id=\"2\" live_status_id=\"0\" settings_id=\"5\"/>\n")),
              std::vector<std::string>{"6 error Could not find a settings node with id 5"});
    const auto broken = Check("<?xml version=\"1.0\"?>\n<rur>\n<device name=\"x\">\n</rur>\n");
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_EQ(broken[0].rfind("4 error XML parse error in ", 0), 0u) << broken[0];
}
