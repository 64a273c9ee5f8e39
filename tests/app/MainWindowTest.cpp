#include "WindowRig.h"

#include "app/Gradient.h"
#include "app/Grouppage.h"
#include "app/Settingeditors.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_int.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { ClearRememberedChoices(); }
    void TearDown() override { ClearRememberedChoices(); }
};

} // namespace

TEST_F(MainWindow, OpensWithItsCaptionsAndEverythingButConnectAndExitDisabled) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    EXPECT_TRUE(rig.messages.messages.empty()) << rig.messages.Last();
    EXPECT_EQ(w.windowTitle(), "Dezadizi (Z7E) Configuration Manager");
    EXPECT_EQ(w.Label1->text(), "Dezadizi (Z7E) Configuration Manager");
    // The captions, each with an underlined letter for Alt.
    EXPECT_EQ(w.btConnectNew->text(), "&Connect");
    EXPECT_EQ(w.btRefresh2->text(), "&Options...");
    EXPECT_EQ(w.btWriteSettingsNew->text(), "&Write Settings");
    EXPECT_EQ(w.btExitNew->text(), "E&xit");
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
    EXPECT_TRUE(w.btConnectNew->isEnabled());
    EXPECT_TRUE(w.btExitNew->isEnabled());
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_FALSE(w.lbProgress->isVisible());
    EXPECT_TRUE(w.ProgressBar1->isVisible());
    EXPECT_EQ(w.ProgressBar1->value(), 0);
    EXPECT_EQ(w.ProgressBar1->maximum(), 100);
    const QList<QAction*> items = w.PopupMenu->actions();
    ASSERT_EQ(items.size(), 13);
    EXPECT_EQ(items[0]->text(), "&Load Settings");
    EXPECT_EQ(items[1]->text(), "&Save Settings");
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->text(), "&Restore Factory Defaults");
    EXPECT_EQ(items[3]->statusTip(), "Restore Factory Defaults");
    EXPECT_TRUE(items[4]->isSeparator());
    EXPECT_EQ(items[5]->text(), "Compare with &File...");
    EXPECT_EQ(items[6]->text(), "Compare with Factory &Defaults");
    EXPECT_EQ(items[7]->text(), "&History...");
    EXPECT_TRUE(items[8]->isSeparator());
    EXPECT_EQ(items[9]->text(), "Write &All Settings");
    // A preference, not an action on the settings: on until the engineer says otherwise.
    EXPECT_EQ(items[10]->text(), "Re&view Changes Before Writing");
    EXPECT_TRUE(items[10]->isCheckable());
    EXPECT_TRUE(items[10]->isChecked());
    EXPECT_TRUE(items[10]->isEnabled());
    EXPECT_TRUE(items[11]->isSeparator());
    // The log shows what goes over the line whatever the window is doing.
    EXPECT_EQ(items[12]->text(), "&Traffic Log...");
    EXPECT_TRUE(items[12]->isEnabled());
    for (QAction* item : {w.tbLoadSettings, w.tbSaveSettings, w.tbRestoreDefault, w.tbCompareFile,
                          w.tbCompareDefaults, w.tbHistory, w.tbWriteAll})
        EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(w.Devices()->Devices.size(), 3u);
}

TEST_F(MainWindow, LaysOutTheControlsAtTheirSizes) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    EXPECT_EQ(w.pnTitle->height(), 71);
    EXPECT_EQ(w.pnTitle->width(), w.centralWidget()->width());
    EXPECT_EQ(w.Label1->pos(), QPoint(16, 20));
    EXPECT_EQ(w.pnGroups->width(), 225);
    EXPECT_EQ(w.pnGroups->y(), 71);
    EXPECT_EQ(w.Panel2->height(), 41);
    EXPECT_EQ(w.btConnectNew->geometry(), QRect(8, 8, 81, 25));
    EXPECT_EQ(w.btRefresh2->geometry(), QRect(96, 8, 81, 25));
    EXPECT_EQ(w.pnConnectStatus->height(), 33);
    EXPECT_EQ(w.pnConnectStatus->geometry().bottom(), w.pnGroups->height() - 1);
    EXPECT_EQ(w.lbConnectStatus->geometry(), QRect(6, 3, 211, 27));
    EXPECT_EQ(w.pnToolbarBottom->height(), 40);
    EXPECT_EQ(w.pnToolbarBottom->x(), 225);
    EXPECT_EQ(w.ProgressBar1->geometry(), QRect(15, 23, 409, 17));
    EXPECT_EQ(w.btWriteSettingsNew->geometry(), QRect(560, 8, 91, 25));
    EXPECT_EQ(w.btExitNew->geometry(), QRect(664, 8, 91, 25));
    // The settings area takes the rest of the client area.
    EXPECT_EQ(w.sbMainArea->x(), 225);
    EXPECT_EQ(w.sbMainArea->geometry().bottom() + 1, w.pnToolbarBottom->y());
}

TEST_F(MainWindow, PaintsPanelsAndTheTitleStrip) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    const QImage title = w.pb->grab().toImage();
    const int width = title.width();
    const int height = title.height();
    ASSERT_EQ(height, 71);
    // White left edge (but its last pixel), grey bottom edge, light grey to white bands between.
    EXPECT_EQ(title.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(title.pixelColor(0, height - 2), QColor(Qt::white));
    EXPECT_EQ(title.pixelColor(0, height - 1), QColor(156, 155, 155));
    EXPECT_EQ(title.pixelColor(width - 1, height - 1), QColor(156, 155, 155));
    EXPECT_EQ(title.pixelColor(1, 2), QColor(221, 221, 221));
    EXPECT_EQ(title.pixelColor(width - 1, 2), QColor(255, 255, 255));
    const int middleBand = 128;
    const int x = MulDiv(middleBand, width, 256);
    const int level = 221 + MulDiv(middleBand, 34, 255);
    EXPECT_EQ(title.pixelColor(x, 2), QColor(level, level, level));

    const QImage buttons = w.Panel2->grab().toImage();
    EXPECT_EQ(buttons.pixelColor(2, 2), QColor(212, 208, 200));
    EXPECT_EQ(buttons.pixelColor(2, 40), QColor(Qt::red));
    const QImage groups = w.pnGroups->grab().toImage();
    EXPECT_EQ(groups.pixelColor(224, 100), QColor(172, 168, 153));
    const QImage toolbar = w.pnToolbarBottom->grab().toImage();
    EXPECT_EQ(toolbar.pixelColor(500, 0), QColor(172, 168, 153));
    EXPECT_EQ(toolbar.pixelColor(500, 1), QColor(Qt::white));
}

TEST_F(MainWindow, AMissingDefinitionFileIsShownAndTheWindowStillOpens) {
    TTempDir dir;
    TWindowRig rig(dir.Path("Devices.xml"));
    ASSERT_EQ(rig.messages.messages.size(), 1u);
    EXPECT_EQ(rig.messages.messages[0].kind, TMessageKind::Error);
    EXPECT_FALSE(rig.messages.Last().empty());
    EXPECT_TRUE(rig.w().isVisible());
    EXPECT_TRUE(rig.w().Devices()->Devices.empty());
    // The connect dialog then offers no device type, and Edit fails with a message.
    rig.messages.Clear();
    rig.OpenOffline(0);
    EXPECT_EQ(rig.Current(), nullptr);
    ASSERT_EQ(rig.messages.messages.size(), 1u);
    EXPECT_EQ(rig.messages.messages[0].kind, TMessageKind::Plain);
    EXPECT_EQ(rig.w().lbConnectStatus->text(), "Disconnected.");
}

TEST_F(MainWindow, OptionsOpensBelowTheButtonAndClosesItsPressedLook) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    // Away from the screen's edges, so the menu is not pushed back onto the screen.
    w.move(20, 30);
    QTest::mousePress(w.btRefresh2, Qt::LeftButton);
    ASSERT_TRUE(w.PopupMenu->isVisible());
    EXPECT_EQ(w.PopupMenu->pos(), w.btRefresh2->mapToGlobal(QPoint(0, w.btRefresh2->height())));
    QTest::keyClick(w.PopupMenu, Qt::Key_Escape);
    QTest::mouseRelease(w.btRefresh2, Qt::LeftButton);
    EXPECT_FALSE(w.PopupMenu->isVisible());
    EXPECT_FALSE(w.btRefresh2->isDown());
    EXPECT_TRUE(w.btRefresh2->isEnabled());
    // The release after the press does not open it a second time.
    EXPECT_FALSE(w.PopupMenu->isVisible());
}

TEST_F(MainWindow, OptionsItemsDoNothingWithoutADevice) {
    TWindowRig rig;
    TFileDialogScope files;
    // Enabled by hand: even then there is nothing to act on.
    for (QAction* item : {rig.w().tbLoadSettings, rig.w().tbSaveSettings, rig.w().tbRestoreDefault}) {
        item->setEnabled(true);
        item->trigger();
    }
    EXPECT_TRUE(files.shown.empty());
    EXPECT_TRUE(rig.messages.messages.empty());
}

TEST_F(MainWindow, ExitClosesTheWindow) {
    TWindowRig rig;
    QTest::mouseClick(rig.w().btExitNew, Qt::LeftButton);
    EXPECT_FALSE(rig.w().isVisible());
}

TEST_F(MainWindow, CancellingTheConnectDialogChangesNothing) {
    TWindowRig rig;
    TConnectRunnerScope scope([](TfmConnect& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
        return dialog.result();
    });
    QTest::mouseClick(rig.w().btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig.Current(), nullptr);
    EXPECT_EQ(rig.w().lbConnectStatus->text(), "Disconnected.");
    EXPECT_TRUE(rig.GroupButtons().empty());
}

TEST_F(MainWindow, OfflineEditingOpensTheDeviceTypeWithDefaultsAndItsFirstGroup) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    rig.OpenOffline(0);
    ASSERT_NE(rig.Current(), nullptr);
    EXPECT_TRUE(rig.messages.messages.empty()) << rig.messages.Last();
    EXPECT_EQ(rig.Current()->Name, "Z7E AHU Interface");
    EXPECT_FALSE(rig.Current()->Online);
    EXPECT_EQ(w.lbConnectStatus->text(), "Offline edit Z7E AHU Interface.");
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    for (QAction* item : {w.tbLoadSettings, w.tbSaveSettings, w.tbRestoreDefault})
        EXPECT_TRUE(item->isEnabled());
    // One ordinary group and the 24 of the template, one button each.
    const auto buttons = rig.GroupButtons();
    ASSERT_EQ(buttons.size(), 25u);
    EXPECT_EQ(buttons[0]->text().trimmed(), "Unit Settings");
    EXPECT_EQ(buttons[1]->text().trimmed(), "ZA9 1");
    EXPECT_EQ(buttons[2]->text().trimmed(), "Groups 1 to 10");
    ASSERT_NE(rig.w().Pages->Shown(), nullptr);
    EXPECT_EQ(rig.w().Pages->Shown(), rig.Current()->Settings->Groups[0].get());
    // Defaults are in the image: fan minimum speed 20 % in register 115 (reference 116).
    EXPECT_EQ(rig.HoldingRegister(116), 20);
    EXPECT_TRUE(rig.Coil(1)); // Frost Protection, checked by default
    auto* speed = dynamic_cast<TSettingInt*>(rig.Find("Supply Fan Minimum Speed"));
    ASSERT_NE(speed, nullptr);
    QLineEdit* edit = EditBoxOf(*speed);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_TRUE(edit->text().startsWith("20"));
}
