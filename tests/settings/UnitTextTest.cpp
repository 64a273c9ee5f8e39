// Text settings hold the unit's text: one byte a character in Windows-1252, while the tree,
// settings files and exports hold UTF-8.
#include "base/Unittext.h"
#include "SettingsTestSupport.h"
#include "settings/Setting_name.h"
#include "support/TestSupport.h"

#include <fstream>

namespace {

const char* const Names = R"(<settings><group name="G" description="d">
  <setting value_type="name" name="Unit Name" register="100" type="holding_register" NumOfRegisters="4" default="Z7E"/>
  <setting value_type="name" name="Short" register="110" type="holding_register" NumOfRegisters="2" default="ab"/>
</group></settings>)";

std::vector<uint16_t> Registers(TTestTree& t, int32_t first, int count) {
    std::vector<uint16_t> words;
    for (int i = 0; i < count; ++i)
        words.push_back(t.Register(first + i));
    return words;
}

} // namespace

TEST(UnitText, CodePageBothWays) {
    // The bytes 0x80 to 0x9F, where Windows-1252 differs from Latin-1, and Latin-1 above them.
    EXPECT_EQ(EncodeUnitText("€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ"),
              "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A"
              "\x9B\x9C\x9E\x9F");
    EXPECT_EQ(EncodeUnitText("Büro ÿ ¡"), "B\xFCro \xFF \xA1");
    EXPECT_EQ(DecodeUnitText("\x80\x9F\xA0\xFC\xFF"), "€Ÿ\u00A0üÿ");
    std::string refused;
    EXPECT_EQ(EncodeUnitText("Łódź Łx\t\u0081", &refused), "?\xF3"
                                                           "d? ?x??");
    EXPECT_EQ(refused, "Łź\t\u0081");
    int replaced = 0;
    // Control bytes and the five bytes without a character.
    EXPECT_EQ(DecodeUnitText("a\x01\x1F\x7F\x81\x8D\x8F\x90\x9Dz", &replaced), "a????????z");
    EXPECT_EQ(replaced, 8);
}

TEST(UnitText, PackedOneByteACharacterAndReadBackToTheFirstZero) {
    TTestTree t(Names);
    auto& name = t.As<TSettingName>("Unit Name");
    name.Text = "Büro";
    name.WriteToStore();
    EXPECT_EQ(Registers(t, 100, 4), (std::vector<uint16_t>{0x42FC, 0x726F, 0, 0}));
    name.Text.clear();
    TTestTree::Read(name);
    EXPECT_EQ(name.Text, "Büro");
    EXPECT_EQ(name.ReadWarning, "");

    // A unit's text ends at its first zero byte; control bytes before it show as "?".
    t.SetRegister(100, 0x4101); // 'A', 0x01 (pair-exchanged)
    t.SetRegister(101, 0x0742);
    t.SetRegister(102, 0x4300); // zero, then 'C'
    TTestTree::Read(name);
    EXPECT_EQ(name.Text, "A??B");
    EXPECT_NE(name.ReadWarning.find("'Unit Name'"), std::string::npos) << name.ReadWarning;

    // A read run's values: every warning of the tree, one line each.
    t.Tree().TakeValuesFromStore();
    ASSERT_EQ(t.Tree().ReadWarnings.size(), 1u);
    EXPECT_EQ(t.Tree().ReadWarnings[0], name.ReadWarning);
    t.SetRegister(100, 0x4142);
    t.SetRegister(101, 0x4443);
    t.Tree().TakeValuesFromStore();
    EXPECT_TRUE(t.Tree().ReadWarnings.empty());
}

TEST(UnitText, SettingsFileTextsThatDoNotFitAreMadeToFitWithAWarning) {
    TTestTree t(Names);
    TTempDir dir;
    const std::string path = dir.Path("a.rur");
    t.Tree().SaveToFile(path);
    std::string file = ReadFileText(path);
    const auto replace = [&](const std::string& from, const std::string& to) {
        const size_t at = file.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        file.replace(at, from.size(), to);
    };
    replace("text=\"Z7E\"", "text=\"Łódź\"");
    replace("text=\"ab\"", "text=\"abcdefgh\"");
    std::ofstream(path, std::ios::binary) << file;

    t.Tree().LoadFromFile(path);
    EXPECT_EQ(t.As<TSettingName>("Unit Name").Text, "?ód?");
    EXPECT_EQ(Registers(t, 100, 2), (std::vector<uint16_t>{0x3FF3, 0x643F}));
    EXPECT_EQ(t.As<TSettingName>("Short").Text, "abcd");
    ASSERT_EQ(t.Tree().LoadWarnings.size(), 2u);
    EXPECT_NE(t.Tree().LoadWarnings[0].find("'Unit Name'"), std::string::npos) << t.Tree().LoadWarnings[0];
    EXPECT_NE(t.Tree().LoadWarnings[1].find("'Short'"), std::string::npos) << t.Tree().LoadWarnings[1];

    // The next load starts afresh, and UTF-8 that fits loads as it is.
    t.As<TSettingName>("Unit Name").Text = "Café";
    t.As<TSettingName>("Short").Text = "ab";
    t.Tree().SaveToFile(path);
    t.Tree().LoadFromFile(path);
    EXPECT_TRUE(t.Tree().LoadWarnings.empty());
    EXPECT_EQ(t.As<TSettingName>("Unit Name").Text, "Café");
    EXPECT_NE(ReadFileText(path).find("text=\"Café\""), std::string::npos);
}
