#include "SettingsTestSupport.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_name.h"
#include "settings/Setting_sectionlabel.h"
#include "support/TestSupport.h"

namespace {

// One ordinary group, then a template of three settings: the layout of the bundled file.
const char* const Replicated = R"(<settings>
  <group name="Unit" description="Unit settings">
    <setting value_type="int" name="Speed" register="5" type="holding_register" min="0" max="100" default="7" value_text="%"/>
  </group>
  <group name="Group" description="one group">
    <setting value_type="int" name="Fan" register="100" type="holding_register" offset="16" min="0" max="100" default="60" value_text="%"/>
    <setting value_type="checkbox" name="Occupied" register="10" type="coil" offset="1" default="unchecked"/>
    <setting value_type="name" name="Label" register="1000" type="holding_register" offset="16" NumOfRegisters="2" default="Zone"/>
  </group>
</settings>)";

} // namespace

TEST(SettingsTreeBuild, TemplateBecomesTwentyFourGroupsWithNamesHeadingsAndCopyIndices) {
    TTestTree t(Replicated);
    TSettings& tree = t.Tree();
    ASSERT_EQ(tree.Groups.size(), 25u);
    EXPECT_EQ(t.Group(0).Name, "Unit");
    EXPECT_EQ(t.Group(0).SettingCount, 1);

    for (int c = 1; c <= 4; ++c) {
        TGroup& templ = t.Group(static_cast<size_t>(1 + 6 * (c - 1)));
        EXPECT_EQ(templ.Name, "ZA9 " + std::to_string(c));
        EXPECT_EQ(templ.Description, "Group Template");
        EXPECT_TRUE(templ.IsTemplate);
        EXPECT_EQ(templ.Controller, c);
        ASSERT_EQ(templ.SettingCount, 4);
        EXPECT_EQ(templ.Settings[0]->Name, "Template Group");
        for (size_t e = 1; e < 4; ++e) {
            EXPECT_TRUE(templ.Settings[e]->InTemplate);
            EXPECT_EQ(templ.Settings[e]->CopyIndex, -50);
        }
        for (int k = 0; k < 5; ++k) {
            TGroup& tens = t.Group(static_cast<size_t>(1 + 6 * (c - 1) + 1 + k));
            EXPECT_EQ(tens.Name,
                      "Groups " + std::to_string(10 * k + 1) + " to " + std::to_string(10 * k + 10));
            EXPECT_EQ(tens.Description, "Groups on ZA9 " + std::to_string(c));
            EXPECT_TRUE(tens.TenGroups);
            EXPECT_FALSE(tens.IsTemplate);
            ASSERT_EQ(tens.SettingCount, 40);
            for (int i = 0; i < 10; ++i) {
                const auto& heading = tens.Settings[static_cast<size_t>(4 * i)];
                EXPECT_NE(dynamic_cast<TSettingSectionLabel*>(heading.get()), nullptr);
                EXPECT_EQ(heading->Name, "Group " + std::to_string(10 * k + 1 + i));
                EXPECT_EQ(heading->Id, 0);
                for (int e = 1; e < 4; ++e) {
                    const auto& entry = tens.Settings[static_cast<size_t>(4 * i + e)];
                    EXPECT_EQ(entry->CopyIndex, 50 * (c - 1) + 10 * k + i);
                    EXPECT_EQ(entry->IndexInGroup, 4 * i + e);
                    EXPECT_FALSE(entry->InTemplate);
                }
            }
        }
    }
    // The second ten-copy group of controller 2 (offset 8 of the 24) holds groups 11 to 20.
    TGroup& second = t.Group(1 + 8);
    EXPECT_EQ(second.Settings[0]->Name, "Group 11");
    EXPECT_EQ(second.Settings[36]->Name, "Group 20");
    EXPECT_EQ(second.Settings[1]->CopyIndex, 60);
    EXPECT_EQ(second.Settings[37]->CopyIndex, 69);
}

TEST(SettingsTreeBuild, OffsetMovesEachCopysRegister) {
    TTestTree t(Replicated);
    // Group number 1 of controller 1 uses the register itself; group 50 of controller 4 the
    // register plus 16 x 199.
    EXPECT_EQ(t.Entry(2, 1).Register, 101);
    EXPECT_EQ(t.Entry(2, 1).FileRegister(), 100);
    EXPECT_EQ(t.Entry(24, 37).CopyIndex, 199);
    EXPECT_EQ(t.Entry(24, 37).FileRegister(), 100 + 16 * 199);
    // The coil with offset 1: copy 73 uses coil 10 + 73.
    EXPECT_EQ(t.Entry(1 + 6 + 2, 4 * 3 + 2).CopyIndex, 50 + 10 + 3);
    EXPECT_EQ(t.Entry(1 + 6 + 2, 4 * 3 + 2).FileRegister(), 10 + 63);
    // Template settings carry copy index -50: only a saved file shows their register.
    EXPECT_EQ(t.Entry(1, 1).FileRegister(), 100 - 16 * 50);
}

TEST(SettingsTreeBuild, NumberingFollowsBuildOrderAcrossTrees) {
    const char* const twoGroups = R"(<settings>
      <group name="A" description="a"><setting value_type="checkbox" name="x" register="0" type="coil" default="checked"/></group>
      <group name="B" description="b"><setting value_type="checkbox" name="y" register="1" type="coil" default="checked"/>
        <setting value_type="checkbox" name="z" register="2" type="coil" default="checked"/></group>
    </settings>)";
    TTestTree first(twoGroups);
    TTestTree second(twoGroups, true, "Test Unit", 17, first.Tree().NextGroupId, first.Tree().NextSettingId);
    EXPECT_EQ(first.Group(0).Id, first.FirstGroupId);
    EXPECT_EQ(first.Group(1).Id, first.FirstGroupId + 1);
    EXPECT_EQ(second.Group(0).Id, first.FirstGroupId + 2);
    EXPECT_EQ(second.Group(1).Id, first.FirstGroupId + 3);
    EXPECT_EQ(first.Entry(1, 1).Id, first.FirstSettingId + 2);
    EXPECT_EQ(second.Entry(0, 0).Id, first.FirstSettingId + 3);

    // Each group of a template takes its Id as its entries are built; headings keep Id 0.
    TTestTree replicated(Replicated, true, "Test Unit", 17, second.Tree().NextGroupId,
                         second.Tree().NextSettingId);
    EXPECT_EQ(replicated.Group(1).Id, replicated.FirstGroupId + 1);
    EXPECT_EQ(replicated.Group(24).Id, replicated.FirstGroupId + 24);
    EXPECT_EQ(replicated.Entry(1, 1).Id, replicated.FirstSettingId + 1);
    EXPECT_EQ(replicated.Entry(2, 1).Id, replicated.FirstSettingId + 4);
    EXPECT_EQ(replicated.Entry(2, 4).Id, 0);
    EXPECT_EQ(replicated.Tree().NextSettingId, replicated.FirstSettingId + 1 + 3 * (4 + 200));
}

TEST(SettingsTreeBuild, OnlyTheExactNameGroupIsATemplate) {
    for (const char* name : {"group", "Group ", "GROUP"}) {
        TTestTree t(
            std::string("<settings><group name=\"") + name +
            R"(" description="d"><setting value_type="checkbox" name="x" register="0" type="coil" default="checked"/></group></settings>)");
        ASSERT_EQ(t.Tree().Groups.size(), 1u) << name;
        EXPECT_EQ(t.Group(0).Name, name);
        EXPECT_EQ(t.Group(0).SettingCount, 1);
    }
}

TEST(SettingsTreeBuild, BuildErrorsKeepWhatWasBuilt) {
    const struct {
        const char* group;
        const char* message;
        size_t groups;
        size_t entries;
    } cases[] = {
        {R"(<group name="g"><setting value_type="checkbox" name="x" register="0" type="coil" default="checked"/></group>)",
         "Could not find attribute \"description\" in XML node.", 1, 0},
        {R"(<group description="d"/>)", "Could not find attribute \"name\" in XML node.", 1, 0},
        {R"(<group name="g" description="d"><setting value_type="checkbox" name="x" register="0" type="coil" default="checked"/>
             <setting value_type="Checkbox" name="y" register="1" type="coil" default="checked"/></group>)",
         "Unknown setting type Checkbox", 1, 1},
        {R"(<group name="g" description="d"><setting name="y" register="1" type="coil" default="checked"/></group>)",
         "Could not find attribute \"value_type\" in XML node.", 1, 0},
        {R"(<group name="g" description="d"><setting value_type="checkbox" name="y" register="1" type="Coil" default="checked"/></group>)",
         "Unknown value type : Coil", 1, 0},
    };
    for (const auto& c : cases) {
        TRegisterDataStore store;
        TDevice device(store);
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string((std::string("<settings>") + c.group + "</settings>").c_str()));
        EXPECT_EQ(ErrorOf([&] { device.Settings->LoadFromXml(doc.document_element()); }), c.message);
        ASSERT_EQ(device.Settings->Groups.size(), c.groups) << c.message;
        EXPECT_EQ(device.Settings->Groups[0]->Settings.size(), c.entries) << c.message;
    }
}

TEST(SettingsTreeLookup, FindSettingTakesTheFirstInTreeOrder) {
    TTestTree t(Replicated);
    EXPECT_EQ(t.Tree().FindSetting("Fan"), &t.Entry(1, 1)); // the first template group
    EXPECT_EQ(t.Tree().FindSetting("Group 11"), &t.Entry(3, 0));
    EXPECT_EQ(ErrorOf([&] { t.Tree().FindSetting("fan"); }),
              "Could not find setting with name 'fan'.\nThe most likely cause is a problem in the "
              "devices.xml file");
}

namespace {
const char* const Exclusive = R"(<settings>
  <group name="Inputs" description="d">
    <setting value_type="drop_down" name="Input 1" register="1" type="holding_register" exclusiongroup="3" excludeallowed="0">
      <ddvalue name="Not used" value="0" default="true"/><ddvalue name="Fire" value="1"/><ddvalue name="Occupancy" value="2"/></setting>
    <setting value_type="drop_down" name="Input 2" register="2" type="holding_register" exclusiongroup="3" excludeallowed="0">
      <ddvalue name="Not used" value="0" default="true"/><ddvalue name="Fire" value="1"/><ddvalue name="Occupancy" value="2"/></setting>
    <setting value_type="drop_down" name="Mode" register="3" type="holding_register">
      <ddvalue name="Off" value="0" default="true"/><ddvalue name="On" value="1"/></setting>
  </group>
  <group name="More" description="d">
    <setting value_type="drop_down" name="Input 3" register="4" type="holding_register" exclusiongroup="3">
      <ddvalue name="Not used" value="0" default="true"/><ddvalue name="Fire" value="1"/><ddvalue name="Occupancy" value="2"/></setting>
    <setting value_type="drop_down" name="Other" register="5" type="holding_register">
      <ddvalue name="Off" value="0" default="true"/><ddvalue name="On" value="1"/></setting>
  </group>
</settings>)";
}

TEST(SettingsTreeLookup, MutualExclusionAcrossGroups) {
    TTestTree t(Exclusive);
    TMessageCapture capture;
    TSetting& input1 = t.Entry(0, 0);
    TSetting& input3 = t.Entry(1, 0);
    // Everybody holds 0, which is exempt for inputs 1 and 2 but not for input 3.
    EXPECT_TRUE(t.Tree().CheckExclusion(&input1, 0, true));
    EXPECT_FALSE(t.Tree().CheckExclusion(&input3, 0, false));
    EXPECT_TRUE(capture.messages.empty());
    t.Entry(0, 1).Value = 2;
    EXPECT_FALSE(t.Tree().CheckExclusion(&input3, 2, true));
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(capture.Last(),
              "This setting is mutually exclusive and can not share the same value\nas the following "
              "settings:\n\n \u2022 Input 1\n \u2022 Input 2\n\nPlease choose another value that is not "
              "being used.");
    EXPECT_TRUE(t.Tree().CheckExclusion(&input3, 1, true));
    // Settings outside any exclusion group never conflict, whatever others hold.
    t.Entry(1, 1).Value = 1;
    EXPECT_TRUE(t.Tree().CheckExclusion(&t.Entry(0, 2), 1, true));
    EXPECT_EQ(t.Tree().ExclusionPeers(&t.Entry(0, 2)), "");
}

TEST(SettingsTreeCopy, CopyToAllGroupsReachesEveryCopyOfOneController) {
    TTestTree t(Replicated);
    // Template setting "Fan" of controller 2 (group position 7), copied to its 50 group copies.
    TGroup& templ2 = t.Group(7);
    TSetting& fan = *templ2.Settings[1];
    fan.Value = 42;
    t.Tree().CopyToAllGroups(&fan, &templ2);
    for (size_t g = 1; g < 25; ++g) {
        for (size_t e = 1; e < t.Group(g).Settings.size(); e += 4) {
            // Controller 2 is its template group (7) and the five groups after it.
            const bool controller2 = g >= 7 && g <= 12;
            EXPECT_EQ(t.Entry(g, e).Value, controller2 ? 42 : 60) << g << "/" << e;
        }
    }
    // The copies reached the register image, so a write sends them.
    EXPECT_EQ(t.Register(100 + 16 * 50), 42);
    EXPECT_EQ(t.Register(100 + 16 * 99), 42);
    EXPECT_EQ(t.Register(100 + 16 * 100), 60);

    TSetting& label = *t.Group(1).Settings[3];
    dynamic_cast<TSettingName&>(label).Text = "Office";
    t.Tree().CopyToAllControllers(&label);
    for (size_t g = 2; g < 25; ++g) {
        if (!t.Group(g).IsTemplate) {
            EXPECT_EQ(dynamic_cast<TSettingName&>(t.Entry(g, 3)).Text, "Office");
        }
    }
    EXPECT_EQ(t.Register(1000 + 16 * 199), 0x4F66); // "Of" pair-exchanged: 'O' in the high byte
}

TEST(SettingsTreeCopy, CopyErrorsAndShortGroups) {
    TTestTree t(Replicated);
    TMessageCapture capture;
    // The ordinary group has one entry: a step of 0 copies once and stops.
    TSetting& speed = t.Entry(0, 0);
    TSettingInt source(&t.Group(1), 0);
    source.Value = 9;
    t.Group(0).CopyToRange(&source);
    EXPECT_EQ(speed.Value, 9);
    EXPECT_EQ(t.Register(5), 9);

    // A check box copied into an integer setting: the click handler shows the class error.
    TSetting& occupied = t.Entry(1, 2);
    occupied.Value = 1;
    TGroup& tens = t.Group(2);
    tens.Settings[2]->Value = 0;
    std::swap(tens.Settings[1], tens.Settings[2]); // the counterpart is now the other kind
    occupied.CopyToAllGroupsClick();
    std::swap(tens.Settings[1], tens.Settings[2]);
    EXPECT_EQ(capture.Last(),
              "Copy to all groups exception - CopyValuesFrom Exception - class is not of type TSettingInt");
    EXPECT_EQ(capture.messages.back().kind, TMessageKind::Plain);

    // A controller whose positions lie outside the tree ends the copy with a range error.
    TGroup& templ = t.Group(1);
    templ.Controller = 5;
    t.Entry(1, 1).CopyToAllGroupsClick();
    EXPECT_EQ(capture.Last(), "Copy to all groups exception - List index out of bounds (26)");
    templ.Controller = 1;

    // Without the replicated layout, positions address other groups: the third entry of the
    // first group has no counterpart in the two-entry second group.
    TTestTree ordinary(Exclusive);
    ordinary.Entry(0, 2).Value = 1;
    ordinary.Entry(0, 2).CopyToAllControllersClick();
    EXPECT_EQ(capture.Last(), "Copy to all ZA9's exception - List index out of bounds (2)");
}

TEST(SettingsTreePoll, NextSettingVisitsEveryEntryThenGroupAndTreeEnds) {
    TTestTree t(R"(<settings><group name="g" description="d">
      <setting value_type="checkbox" name="a" register="0" type="coil" default="checked"/>
      <setting value_type="checkbox" name="b" register="1" type="coil" default="checked"/></group></settings>)");
    // Bring the shared cursor to the start of a pass.
    while (t.Tree().NextSetting() != nullptr || t.Tree().NextSetting() != nullptr) {
    }
    std::vector<TSetting*> seen;
    for (int i = 0; i < 8; ++i)
        seen.push_back(t.Tree().NextSetting());
    TSetting* a = &t.Entry(0, 0);
    TSetting* b = &t.Entry(0, 1);
    EXPECT_EQ(seen, (std::vector<TSetting*>{a, b, nullptr, nullptr, a, b, nullptr, nullptr}));
}

TEST(SettingsTreePoll, ServiceAndReportDeliverProgressThenDisplay) {
    TTestTree t(R"(<settings><group name="g" description="d">
      <setting value_type="int" name="Speed" register="4" type="holding_register" min="0" max="100" default="3" value_text="%"/>
      <setting value_type="uint32" name="Hours" register="6" type="holding_register" min="0" max="1000000" default="0" value_text="h"/>
      <setting value_type="int" name="Idle" register="9" type="input_register" min="0" max="100" default="3" value_text="%"/>
      </group></settings>)");
    std::vector<std::tuple<void*, std::string, bool, int32_t>> reports;
    t.Tree().OnProgress = [&](void* sender, const std::string& text, bool error, int32_t increment) {
        reports.emplace_back(sender, text, error, increment);
    };
    while (t.Tree().NextSetting() != nullptr || t.Tree().NextSetting() != nullptr) {
    }
    t.SetRegister(4, 55);
    t.SetRegister(6, 1);
    t.SetRegister(7, 0x86A0);
    for (auto& entry : t.Group(0).Settings)
        entry->MarkForRead();
    int32_t pending = 0;
    for (auto& entry : t.Group(0).Settings)
        pending += entry->PendingCount();
    EXPECT_EQ(pending, 4);

    for (int i = 0; i < 3; ++i) {
        t.Tree().PollNext(1, nullptr);
        t.Tree().RefreshPolled();
    }
    EXPECT_EQ(t.Entry(0, 0).Value, 55);
    EXPECT_EQ(t.Entry(0, 1).Value, 100000);
    EXPECT_EQ(t.Entry(0, 2).Value, 0); // an input register reads 0
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], std::make_tuple(static_cast<void*>(&t.Entry(0, 0)),
                                          std::string("Reading setting Speed..."), false, 1));
    EXPECT_EQ(std::get<3>(reports[1]), 2);
    // A second pass finds nothing pending: no reports, values kept.
    t.Tree().PollNext(1, nullptr); // group end
    for (int i = 0; i < 4; ++i) {
        t.Tree().PollNext(1, nullptr);
        t.Tree().RefreshPolled();
    }
    EXPECT_EQ(reports.size(), 3u);
    EXPECT_EQ(t.Entry(0, 0).Value, 55);

    // ClearPending drops a read that was asked for.
    t.Entry(0, 0).MarkForRead();
    t.Tree().ClearPending();
    EXPECT_EQ(t.Entry(0, 0).PendingCount(), 0);
}

TEST(SettingsTreeStore, RegistrationSkipsTemplatesAndInputs) {
    TTestTree t(Replicated, false);
    t.Store.Reset();
    t.Tree().RegisterWithStore();
    // Per copy: one register, one coil, two text registers; 200 copies plus the unit's register.
    EXPECT_EQ(t.Store.TotalCount(), 1 + 200 * 4);
    // Template settings are never in the image.
    EXPECT_THROW(t.Register(100 - 16 * 50), std::out_of_range);
    EXPECT_NO_THROW(t.Register(100 + 16 * 199));
}
