// The offline road through the window: open a device type, edit, switch units, save, load,
// restore, and the groups list as the user moves between device types.
#include "WindowRig.h"

#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_units.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace {

class OfflineRoad : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRememberedChoices();
        rig = std::make_unique<TWindowRig>();
        rig->OpenOffline(0);
        ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
        rig->messages.Clear();
    }
    void TearDown() override {
        rig.reset();
        ClearRememberedChoices();
    }

    template <class T> T* Setting(const std::string& name) {
        auto* setting = dynamic_cast<T*>(rig->Find(name));
        EXPECT_NE(setting, nullptr) << name;
        return setting;
    }

    std::unique_ptr<TWindowRig> rig;
};

void Wheel(QWidget* target, int delta) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

} // namespace

TEST_F(OfflineRoad, TypedValuesAreCheckedAndGoIntoTheImage) {
    auto* speed = Setting<TSettingInt>("Supply Fan Minimum Speed");
    ASSERT_TRUE(EditBoxOf(*speed));

    rig->Type(EditBoxOf(*speed), "35");
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(rig->HoldingRegister(116), 35);
    EXPECT_TRUE(EditBoxOf(*speed)->text().startsWith("35"));

    rig->Type(EditBoxOf(*speed), "abc");
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"'abc' is not a valid integer value"});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    // The box keeps the focus and the image its value until the text is valid.
    EXPECT_TRUE(EditBoxOf(*speed)->hasFocus());
    EXPECT_EQ(rig->HoldingRegister(116), 35);

    rig->messages.Clear();
    rig->Type(EditBoxOf(*speed), "101");
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"The maximum value this setting can be is '100'"});
    EXPECT_EQ(rig->HoldingRegister(116), 35);

    // Refused by its bound: the maximum speed is 90.
    rig->messages.Clear();
    rig->Type(EditBoxOf(*speed), "95");
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{
                  "Setting 'Supply Fan Minimum Speed' must be less than setting 'Supply Fan Maximum Speed'"});
    EXPECT_EQ(rig->HoldingRegister(116), 35);

    rig->messages.Clear();
    rig->Type(EditBoxOf(*speed), "40");
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(rig->HoldingRegister(116), 40);
    EXPECT_FALSE(EditBoxOf(*speed)->hasFocus());
}

TEST_F(OfflineRoad, MutuallyExclusiveChoicesAreRefused) {
    auto* input1 = Setting<TSettingDropDown>("Digital Input 1");
    auto* input2 = Setting<TSettingDropDown>("Digital Input 2");
    ASSERT_TRUE(DropDownOf(*input1));
    ASSERT_TRUE(DropDownOf(*input2));
    rig->Choose(DropDownOf(*input1), 1); // Fire Alarm
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(rig->HoldingRegister(126), 1);

    rig->Choose(DropDownOf(*input2), 1);
    ASSERT_EQ(rig->messages.messages.size(), 1u);
    EXPECT_EQ(rig->messages.Last(), "This setting is mutually exclusive and can not share the same value\n"
                                    "as the following settings:\n\n"
                                    " \u2022 Digital Input 1\n \u2022 Digital Input 3\n"
                                    "\nPlease choose another value that is not being used.");
    EXPECT_EQ(DropDownOf(*input2)->currentIndex(), 0);
    EXPECT_EQ(rig->HoldingRegister(127), 0);

    // "Not Used" may be shared.
    rig->messages.Clear();
    rig->Choose(DropDownOf(*input1), 0);
    rig->Choose(DropDownOf(*input2), 1);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(rig->HoldingRegister(127), 1);
}

TEST_F(OfflineRoad, SwitchingUnitsRedisplaysEverySettingButKeepsTheImage) {
    auto* velocity = Setting<TSettingUnits>("Minimum Supply Air Velocity");
    auto* units = Setting<TSettingDropDown>("Display Units");
    ASSERT_TRUE(EditBoxOf(*velocity));
    EXPECT_EQ(EditBoxOf(*velocity)->text(), "1.50 m/sec");
    rig->Choose(DropDownOf(*units), 1); // ft/min
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(rig->Current()->Settings->CurrentUnits, "ft/min");
    EXPECT_TRUE(EditBoxOf(*velocity)->text().endsWith(" ft/min"))
        << EditBoxOf(*velocity)->text().toStdString();
    EXPECT_EQ(rig->HoldingRegister(113), 150);
    // A template group's velocities follow too, once shown.
    rig->ClickGroup(1);
    auto* groupVelocity =
        dynamic_cast<TSettingUnits*>(rig->w().Pages->Shown()->FindSetting("Group Minimum Air Velocity"));
    ASSERT_NE(groupVelocity, nullptr);
    ASSERT_TRUE(EditBoxOf(*groupVelocity));
    EXPECT_TRUE(EditBoxOf(*groupVelocity)->text().endsWith(" ft/min"))
        << EditBoxOf(*groupVelocity)->text().toStdString();
}

TEST_F(OfflineRoad, GroupsAreSelectedFromTheListAndTemplatesCopyToTheirGroups) {
    TfmMain& w = rig->w();
    rig->ClickGroup(1); // ZA9 1, the template of controller 1
    TGroup* shown = rig->w().Pages->Shown();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->IsTemplate);
    ASSERT_NE(w.Pages->Page(), nullptr);
    QPointer<QLabel> shownTitle = w.Pages->Page()->TitleLabel;
    ASSERT_TRUE(shownTitle);
    EXPECT_EQ(shownTitle->text(), "ZA9 1");
    auto* fan = dynamic_cast<TSettingInt*>(shown->FindSetting("Group Fan Speed"));
    ASSERT_NE(fan, nullptr);
    ASSERT_TRUE(EditBoxOf(*fan));
    ASSERT_TRUE(EditorOf(*fan) != nullptr && EditorOf(*fan)->CopyToAllGroupsButton);
    rig->Type(EditBoxOf(*fan), "75");
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    // A template setting is not in the image; the copy button carries it to group copies 1 to 50.
    w.sbMainArea->ensureWidgetVisible(EditorOf(*fan)->CopyToAllGroupsButton);
    QTest::mouseClick(EditorOf(*fan)->CopyToAllGroupsButton, Qt::LeftButton);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    // Group Fan Speed: register 1009, offset 16; copy index 0 is reference 1010, index 49 is 1010 + 16 * 49.
    EXPECT_EQ(rig->HoldingRegister(1010), 75);
    EXPECT_EQ(rig->HoldingRegister(1010 + 16 * 49), 75);
    EXPECT_EQ(rig->HoldingRegister(1010 + 16 * 50), 60); // controller 2 keeps its default

    rig->ClickGroup(2); // Groups 1 to 10
    ASSERT_NE(rig->w().Pages->Shown(), nullptr);
    EXPECT_TRUE(rig->w().Pages->Shown()->TenGroups);
    EXPECT_EQ(rig->w().Pages->Page()->TitleLabel->text(), "Groups 1 to 10");
    EXPECT_FALSE(shownTitle); // the template's page is gone
}

TEST_F(OfflineRoad, WheelScrollsTheSettingsAreaByANotchNeverPastItsEnds) {
    TfmMain& w = rig->w();
    rig->ClickGroup(2); // ten group copies: a long page
    QScrollBar* bar = w.sbMainArea->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 240);
    EXPECT_EQ(bar->value(), 0);
    Wheel(w.sbMainArea->viewport(), -120);
    EXPECT_EQ(bar->value(), 120);
    // Over another part of the window: the settings area scrolls all the same.
    Wheel(w.pnToolbarBottom, -120);
    EXPECT_EQ(bar->value(), 240);
    Wheel(w.pb, 120);
    EXPECT_EQ(bar->value(), 120);
    Wheel(w.sbMainArea->viewport(), 120 * 5);
    EXPECT_EQ(bar->value(), 0);
    Wheel(w.sbMainArea->viewport(), -120 * 10000);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(OfflineRoad, NeitherTheGroupsListNorThePageScrollsSideways) {
    TfmMain& w = rig->w();
    rig->ClickGroup(20); // far down the list, which has scrolled to show it
    QScrollArea* list = w.sbSettingsGroups;
    EXPECT_GT(list->verticalScrollBar()->value(), 0);
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    for (QPushButton* button : rig->GroupButtons())
        ASSERT_LE(button->geometry().right(), list->viewport()->width() - 1);
    // A long page gets a vertical scroll bar and stays as wide as what is left beside it.
    QCoreApplication::processEvents();
    EXPECT_GT(w.sbMainArea->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(w.sbMainArea->verticalScrollBar()->isVisibleTo(w.sbMainArea));
    EXPECT_EQ(w.sbMainArea->horizontalScrollBar()->maximum(), 0);
}

TEST_F(OfflineRoad, ClickingAnEmptyPartOfThePageFocusesTheGroupButton) {
    TfmMain& w = rig->w();
    rig->ClickGroup(3);
    ASSERT_NE(rig->w().Pages->Shown(), nullptr);
    w.btConnectNew->setFocus();
    QWidget* page = w.sbMainArea->widget();
    QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(rig->w().Pages->ButtonOf(*rig->w().Pages->Shown()));
    EXPECT_TRUE(rig->w().Pages->ButtonOf(*rig->w().Pages->Shown())->hasFocus());
}

TEST_F(OfflineRoad, SavesLoadsAndExportsThroughTheFileDialogs) {
    TfmMain& w = rig->w();
    TTempDir dir;
    TFileDialogScope files;
    auto* speed = Setting<TSettingInt>("Supply Fan Minimum Speed");
    rig->Type(EditBoxOf(*speed), "33");

    const QString saved = QString::fromStdString(dir.Path("unit.RUR"));
    const QString csvLower = QString::fromStdString(dir.Path("unit.csv"));
    const QString csvMixed = QString::fromStdString(dir.Path("other.CsV"));
    const QString noExtension = QString::fromStdString(dir.Path("plain"));
    files.answers = {saved, csvLower, csvMixed, noExtension, QString()};
    for (int i = 0; i < 5; ++i)
        rig->ClickOptionsItem(w.tbSaveSettings);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    ASSERT_EQ(files.shown.size(), 5u);
    EXPECT_TRUE(files.shown[0].Save);
    EXPECT_EQ(files.shown[0].Title, "Save Settings...");
    EXPECT_EQ(files.shown[0].DefaultExtension, ".RUR");
    EXPECT_EQ(files.shown[0].Filter,
              "RUR Settings File (*.RUR)|*.RUR|Comma Separated Values (*.CSV)|*.CSV|All Files (*.*)|*.*");

    const std::string xml = ReadFileText(saved.toStdString());
    EXPECT_NE(xml.find("<settings>"), std::string::npos);
    EXPECT_NE(xml.find("name=\"Supply Fan Minimum Speed\""), std::string::npos);
    EXPECT_EQ(ReadFileText(csvLower.toStdString()).rfind("Setting Name,Value\r\n", 0), 0u);
    EXPECT_NE(ReadFileText(csvLower.toStdString()).find("Supply Fan Minimum Speed,33 %"), std::string::npos);
    EXPECT_EQ(ReadFileText(csvMixed.toStdString()).rfind("Setting Name,Value", 0), 0u);
    EXPECT_NE(ReadFileText(noExtension.toStdString()).find("<settings>"), std::string::npos);

    // Change the value, then load the saved file back.
    rig->Type(EditBoxOf(*speed), "50");
    EXPECT_EQ(rig->HoldingRegister(116), 50);
    files.shown.clear();
    files.answers = {saved};
    rig->ClickOptionsItem(w.tbLoadSettings);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    ASSERT_EQ(files.shown.size(), 1u);
    EXPECT_FALSE(files.shown[0].Save);
    EXPECT_EQ(files.shown[0].Title, "Load Settings...");
    EXPECT_EQ(files.shown[0].Filter, "RUR Settings File (*.RUR)|*.RUR|All Files (*.*)|*.*");
    EXPECT_EQ(rig->HoldingRegister(116), 33);
    ASSERT_TRUE(EditBoxOf(*speed));
    EXPECT_TRUE(EditBoxOf(*speed)->text().startsWith("33"));
    // Offline, nothing is asked.
    for (const auto& message : rig->messages.messages)
        EXPECT_NE(message.kind, TMessageKind::Question);
}

TEST_F(OfflineRoad, ALoadErrorIsShownAndEditingGoesOn) {
    TfmMain& w = rig->w();
    TTempDir dir;
    TFileDialogScope files;
    files.answers = {QString::fromStdString(dir.Write("bad.RUR", "<?xml version=\"1.0\"?>\n<other/>\n"))};
    rig->ClickOptionsItem(w.tbLoadSettings);
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Could not find root node 'settings' in XML document"});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_TRUE(w.tbLoadSettings->isEnabled());
    EXPECT_EQ(rig->Current()->Name, "Z7E AHU Interface");
}

TEST_F(OfflineRoad, ValuesOutsideTheirLimitsAndOtherDefinitionsLoadOnlyWhenTheUserSaysSo) {
    TfmMain& w = rig->w();
    TTempDir dir;
    const std::string saved = dir.Path("unit.rur");
    {
        TFileDialogScope files;
        files.answers = {QString::fromStdString(saved)};
        rig->ClickOptionsItem(w.tbSaveSettings);
    }
    const std::string text = ReadFileText(saved);
    const auto attribute = [&](const std::string& setting, const std::string& name) {
        const size_t start = text.find(name + "=\"", text.find("name=\"" + setting + "\"")) + name.size() + 2;
        return std::make_pair(start, text.find('"', start) - start);
    };
    const auto load = [&](const std::string& content, TAnswer answer) {
        TFileDialogScope files;
        files.answers = {QString::fromStdString(dir.Write("load.rur", content))};
        rig->messages.Clear();
        rig->messages.answers = {answer};
        rig->ClickOptionsItem(w.tbLoadSettings);
    };

    std::string outside = text;
    const auto [at, size] = attribute("Supply Fan Minimum Speed", "value");
    outside.replace(at, size, "150");
    const std::string value =
        "'Supply Fan Minimum Speed' (Unit Settings, register 115): 150 % (limits 0 to 100 %)";
    const std::string question =
        "1 value in the file is outside its setting's limits: " + value + ". Load it anyway?";
    load(outside, TAnswer::No);
    ASSERT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::CautiousQuestion);
    EXPECT_EQ(rig->messages.Last(), question);
    EXPECT_EQ(rig->HoldingRegister(116), 20);
    load(outside, TAnswer::Yes);
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{question});
    EXPECT_EQ(rig->HoldingRegister(116), 150);
    EXPECT_FALSE(w.lbProgress->isHidden());
    EXPECT_EQ(w.lbProgress->text().toStdString(), "Loaded outside its limits: " + value);

    // The file's numbers of the two fan speeds swapped, as a file saved before the definitions
    // swapped them would have them.
    std::string swapped = text;
    const auto [minimumAt, minimumSize] = attribute("Supply Fan Minimum Speed", "ID");
    const auto [maximumAt, maximumSize] = attribute("Supply Fan Maximum Speed", "ID");
    const std::string minimumId = text.substr(minimumAt, minimumSize);
    swapped.replace(maximumAt, maximumSize, minimumId);
    swapped.replace(minimumAt, minimumSize, text.substr(maximumAt, maximumSize));
    const std::string byName =
        "This settings file was saved with a different version of Devices.xml. Load it by "
        "group and setting names?\n\nBy group and setting names: 0 settings of the file match "
        "nothing and are skipped; 0 settings are not in the file and keep their values.";
    load(swapped, TAnswer::No);
    EXPECT_EQ(
        rig->messages.Texts(),
        (std::vector<std::string>{byName, "Setting 'Supply Fan Minimum Speed' has the ID of setting 'Supply "
                                          "Fan Maximum Speed' in the XML document"}));
    EXPECT_EQ(rig->HoldingRegister(116), 150);
    load(swapped, TAnswer::Yes);
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{byName});
    EXPECT_EQ(rig->HoldingRegister(116), 20);
    EXPECT_EQ(rig->HoldingRegister(117), 90);
    EXPECT_EQ(w.lbProgress->text().toStdString(), byName.substr(byName.find("By group")));

    // A load with nothing to tell takes the last load's warnings down.
    load(text, TAnswer::No);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_TRUE(w.lbProgress->isHidden());
}

TEST_F(OfflineRoad, RestoreFactoryDefaultsPutsBackEveryDefault) {
    TfmMain& w = rig->w();
    auto* speed = Setting<TSettingInt>("Supply Fan Minimum Speed");
    auto* frost = Setting<TSettingCheckBox>("Frost Protection");
    rig->Type(EditBoxOf(*speed), "44");
    ASSERT_TRUE(CheckBoxOf(*frost));
    w.sbMainArea->ensureWidgetVisible(CheckBoxOf(*frost));
    QTest::mouseClick(CheckBoxOf(*frost), Qt::LeftButton);
    EXPECT_FALSE(rig->Coil(1));
    EXPECT_EQ(rig->HoldingRegister(116), 44);
    rig->ClickOptionsItem(w.tbRestoreDefault);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(rig->HoldingRegister(116), 20);
    EXPECT_TRUE(rig->Coil(1));
    EXPECT_TRUE(EditBoxOf(*speed)->text().startsWith("20"));
    EXPECT_TRUE(CheckBoxOf(*frost)->isChecked());
}

TEST_F(OfflineRoad, EditingTheSameDeviceTypeAgainStartsFromItsFirstGroup) {
    TfmMain& w = rig->w();
    TDevice* device = rig->Current();
    rig->ClickGroup(4);
    ASSERT_NE(rig->w().Pages->Shown(), device->Settings->Groups[0].get());
    // Offline is remembered, so the dialog opens with Edit ready.
    TConnectRunnerScope scope([](TfmConnect& dialog) {
        dialog.show();
        EXPECT_TRUE(dialog.rbOffline->isChecked());
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
        return dialog.result();
    });
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->Current(), device);
    EXPECT_EQ(rig->GroupButtons().size(), 25u);
    EXPECT_EQ(rig->w().Pages->Shown(), device->Settings->Groups[0].get());
}

TEST_F(OfflineRoad, ACancelledDialogLeavesTheReleasedDeviceWithoutListOrPage) {
    TfmMain& w = rig->w();
    TDevice* device = rig->Current();
    rig->ClickGroup(2);
    // Comm 20 leads nowhere, so the search fails at once.
    QSettings("Roduzede", "Dezadizi Config Manager").setValue("Ports/COM20", "/nonexistent/ttyDEZ20");
    TConnectRunnerScope scope([](TfmConnect& dialog) {
        dialog.show();
        // The connect button releases the offline device before the search is even tried.
        dialog.cbCommPort->setCurrentIndex(19);
        QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
        QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
        return dialog.result();
    });
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Failed to connect, please check connections and settings"});
    // The device stays current, but neither its buttons nor its page are left to edit.
    EXPECT_EQ(rig->Current(), device);
    EXPECT_TRUE(rig->GroupButtons().empty());
    EXPECT_EQ(rig->w().Pages->Shown(), nullptr);
    const auto editors = w.sbMainArea->widget()->findChildren<QLineEdit*>();
    EXPECT_TRUE(editors.isEmpty());
}

TEST_F(OfflineRoad, OpeningAnotherDeviceTypeShowsItsOwnFirstGroup) {
    TfmMain& w = rig->w();
    rig->ClickGroup(5);
    rig->OpenOffline(2);
    ASSERT_NE(rig->Current(), nullptr);
    EXPECT_EQ(rig->Current()->Name, "Z7E VAV Zone Interface");
    EXPECT_EQ(w.lbConnectStatus->text(), "Offline edit Z7E VAV Zone Interface.");
    const auto buttons = rig->GroupButtons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0]->text().trimmed(), "Zone Settings");
    EXPECT_EQ(buttons[1]->text().trimmed(), "Airflow");
    EXPECT_EQ(rig->w().Pages->Shown(), rig->Current()->Settings->Groups[0].get());
    // The defaults of this device type are in the image (Damper Stroke Time 90 s at 214).
    EXPECT_EQ(rig->HoldingRegister(215), 90);
    auto* stroke = Setting<TSettingInt>("Damper Stroke Time");
    ASSERT_TRUE(EditBoxOf(*stroke));
    rig->Type(EditBoxOf(*stroke), "120");
    EXPECT_EQ(rig->HoldingRegister(215), 120);
}
