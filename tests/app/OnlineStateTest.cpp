// The window's side of the online road: a unit reported by the connect dialog, read and write
// runs stepped on a worker thread of the test's own (an in-memory unit), and the states the
// window passes through.
#include "WindowRig.h"

#include "modbus/Registerdatastore.h"
#include "model/Device.h"
#include "model/Group.h"
#include "model/Settings.h"
#include "settings/Setting_int.h"
#include "support/FakeUnit.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

namespace {

class OnlineState : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRememberedChoices();
        // Comm 3 leads nowhere: the window's own worker never talks to anything.
        QSettings("Roduzede", "Dezadizi Config Manager").setValue("Ports/COM3", "/nonexistent/ttyDEZ3");
        rig = std::make_unique<TWindowRig>();
        unit.registers[116] = 55; // Supply Fan Minimum Speed
        unit.registers[117] = 90; // Supply Fan Maximum Speed
        unit.coils[1] = 0;        // Frost Protection
    }
    void TearDown() override {
        if (rig && rig->window)
            rig->window->Store()->SetProtocol(nullptr);
        rig.reset();
        ClearRememberedChoices();
    }

    // The connect dialog reports a unit with `deviceId` on Comm 3.
    void ConnectOnline(int32_t deviceId) {
        TConnectRunnerScope scope([deviceId](TfmConnect& dialog) {
            dialog.FDeviceInfo = {1, 3, deviceId};
            return static_cast<int>(mrOk);
        });
        QTest::mouseClick(rig->w().btConnectNew, Qt::LeftButton);
    }

    // What the port's worker does for a read: the tree registers its settings, the read starts,
    // the window resets its bar, then the store reads block by block.
    void WorkerRead() {
        TfmMain& w = rig->w();
        TDevice* device = rig->Current();
        std::thread worker([&] {
            w.Store()->SetProtocol(&unit);
            device->Settings->RegisterWithStore();
            w.Store()->StartRead();
            w.BeginReadProgress();
            while (w.Store()->State() == ssReading)
                w.Store()->ReadStep();
        });
        worker.join();
    }

    void WorkerWrite() {
        TfmMain& w = rig->w();
        std::thread worker([&] {
            while (w.Store()->State() == ssWriting)
                w.Store()->WriteStep();
        });
        worker.join();
    }

    bool OptionsEnabled() {
        TfmMain& w = rig->w();
        return w.tbLoadSettings->isEnabled() && w.tbSaveSettings->isEnabled() &&
               w.tbRestoreDefault->isEnabled();
    }

    std::unique_ptr<TWindowRig> rig;
    TFakeUnitMaster unit;
};

} // namespace

TEST_F(OnlineState, AFoundUnitOpensItsDeviceTypeAndReadsWithWriteSettingsHeldBack) {
    TfmMain& w = rig->w();
    ConnectOnline(17);
    rig->messages.Clear(); // the window's own worker cannot open Comm 3
    ASSERT_NE(rig->Current(), nullptr);
    EXPECT_TRUE(rig->Current()->Online);
    EXPECT_EQ(rig->Current()->CommPort, 3);
    EXPECT_EQ(rig->Current()->Address, 1);
    EXPECT_EQ(w.lbConnectStatus->text(), "Connected to Z7E AHU Interface.");
    EXPECT_EQ(w.lbProgress->text(), "Reading settings please wait...");
    EXPECT_TRUE(w.lbProgress->isVisible());
    // Nothing has been read: writing now would send an empty image to the unit.
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_TRUE(w.btConnectNew->isEnabled());
    EXPECT_TRUE(w.btExitNew->isEnabled());
    EXPECT_EQ(rig->GroupButtons().size(), 25u);
    EXPECT_EQ(ShownGroup, rig->Current()->Settings->Groups[0].get());

    WorkerRead();
    const int32_t total = w.Store()->TotalCount();
    ASSERT_GT(total, 0);
    QTRY_VERIFY(w.btWriteSettingsNew->isEnabled());
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(w.ProgressBar1->maximum(), total);
    EXPECT_EQ(w.ProgressBar1->value(), total);
    EXPECT_FALSE(w.ProgressBar1->isVisible());
    EXPECT_FALSE(w.lbProgress->isVisible());
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_EQ(rig->HoldingRegister(116), 55);
    EXPECT_FALSE(rig->Coil(1));
    EXPECT_TRUE(w.ReadCompleteTimer.isActive());
    QTRY_VERIFY(!w.ReadCompleteTimer.isActive());
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
}

TEST_F(OnlineState, WriteSettingsSendsTheImageAndReportsSuccessFromTheTimer) {
    TfmMain& w = rig->w();
    ConnectOnline(17);
    WorkerRead();
    QTRY_VERIFY(w.btWriteSettingsNew->isEnabled());
    QTRY_VERIFY(!w.ReadCompleteTimer.isActive());
    // Showing the group again takes every value from the image just read.
    rig->ClickGroup(0);
    rig->messages.Clear();
    auto* speed = dynamic_cast<TSettingInt*>(rig->Find("Supply Fan Minimum Speed"));
    ASSERT_NE(speed, nullptr);
    ASSERT_TRUE(speed->Edit);
    EXPECT_TRUE(speed->Edit->text().startsWith("55"));
    ASSERT_TRUE(speed->Edit);
    rig->Type(speed->Edit, "66");
    EXPECT_EQ(rig->HoldingRegister(116), 66);

    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_EQ(w.lbProgress->text(), "Writing settings please wait...");
    EXPECT_TRUE(w.lbProgress->isVisible());
    EXPECT_EQ(w.ProgressBar1->value(), 0);
    EXPECT_EQ(w.ProgressBar1->maximum(), w.Store()->TotalCount());
    EXPECT_FALSE(speed->Edit->isEnabled());
    EXPECT_EQ(w.Store()->State(), ssWriting);

    WorkerWrite();
    QTRY_VERIFY(!rig->messages.messages.empty());
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Settings written successfully."});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Information);
    EXPECT_EQ(unit.registers[116], 66);
    EXPECT_EQ(unit.registers[9999], 123); // the commit
    EXPECT_TRUE(w.btWriteSettingsNew->isEnabled());
    EXPECT_TRUE(speed->Edit->isEnabled());
    EXPECT_TRUE(OptionsEnabled());
}

TEST_F(OnlineState, AFailedReadShowsTheWindowDisconnectedAndTheReportText) {
    TfmMain& w = rig->w();
    ConnectOnline(17);
    rig->messages.Clear();
    unit.failRequest = 1;
    WorkerRead();
    QTRY_VERIFY(!rig->messages.messages.empty());
    ASSERT_EQ(rig->messages.messages.size(), 1u);
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_FALSE(rig->messages.Last().empty());
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_FALSE(OptionsEnabled());
    // The device stays current and online: the next Connect asks first.
    ASSERT_NE(rig->Current(), nullptr);
    EXPECT_TRUE(rig->Current()->Online);
    rig->messages.answers = {false};
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Last(), "Are you sure you wish to disconnect?");
    EXPECT_NE(rig->Current(), nullptr);
}

TEST_F(OnlineState, AFailedWriteWhosePortStaysClosedShowsDisconnected) {
    TfmMain& w = rig->w();
    ConnectOnline(17);
    WorkerRead();
    QTRY_VERIFY(w.btWriteSettingsNew->isEnabled());
    rig->messages.Clear();
    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    unit.failRequest = static_cast<int32_t>(unit.requests.size());
    // Three reopen attempts, a second apart, run on the worker inside the report.
    const auto started = std::chrono::steady_clock::now();
    WorkerWrite();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2900));
    QTRY_VERIFY(!rig->messages.messages.empty());
    ASSERT_EQ(rig->messages.messages.size(), 1u);
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_NE(rig->messages.Last(), "Writing settings failed, please try writing again");
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
}

TEST_F(OnlineState, DisconnectingAsksAndReleasesTheDeviceOnYes) {
    TfmMain& w = rig->w();
    ConnectOnline(17);
    TDevice* device = rig->Current();
    rig->messages.Clear();
    // No keeps the connection.
    rig->messages.answers = {false};
    TConnectRunnerScope cancel([](TfmConnect&) { return static_cast<int>(mrCancel); });
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Are you sure you wish to disconnect?"});
    EXPECT_EQ(rig->Current(), device);
    EXPECT_EQ(rig->GroupButtons().size(), 25u);
    // Yes releases it, even though the dialog is then cancelled.
    rig->messages.Clear();
    rig->messages.answers = {true};
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->Current(), nullptr);
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
    EXPECT_TRUE(rig->GroupButtons().empty());
    EXPECT_EQ(ShownGroup, nullptr);
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_FALSE(OptionsEnabled());
}

TEST_F(OnlineState, LoadAndRestoreAskFirstAndOnlyNoAbandons) {
    TfmMain& w = rig->w();
    ConnectOnline(17);
    WorkerRead();
    QTRY_VERIFY(w.btWriteSettingsNew->isEnabled());
    rig->messages.Clear();
    EXPECT_EQ(rig->HoldingRegister(116), 55);

    rig->messages.answers = {false};
    rig->ClickOptionsItem(w.tbRestoreDefault);
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Are you sure you wish to restore the factory defaults?"});
    EXPECT_EQ(rig->HoldingRegister(116), 55);
    rig->messages.Clear();
    rig->messages.answers = {true};
    rig->ClickOptionsItem(w.tbRestoreDefault);
    EXPECT_EQ(rig->HoldingRegister(116), 20);

    TTempDir dir;
    const std::string path = dir.Path("unit.RUR");
    rig->Current()->Settings->SaveToFile(path);
    auto* speed = dynamic_cast<TSettingInt*>(rig->Find("Supply Fan Minimum Speed"));
    rig->Type(speed->Edit, "70");
    TFileDialogScope files;
    files.answers = {QString::fromStdString(path), QString::fromStdString(path)};
    rig->messages.Clear();
    rig->messages.answers = {false};
    rig->ClickOptionsItem(w.tbLoadSettings);
    EXPECT_EQ(
        rig->messages.Texts(),
        std::vector<std::string>{"Are you sure you wish to load the new settings?  This will overwrite any "
                                 "settings stored in the unit."});
    EXPECT_EQ(rig->HoldingRegister(116), 70);
    rig->messages.Clear();
    rig->messages.answers = {true};
    rig->ClickOptionsItem(w.tbLoadSettings);
    EXPECT_EQ(rig->HoldingRegister(116), 20);
}

TEST_F(OnlineState, AnUnknownDeviceIdIsShownPlainAndTheWindowStaysAsItWas) {
    TfmMain& w = rig->w();
    ConnectOnline(99);
    EXPECT_EQ(rig->Current(), nullptr);
    ASSERT_EQ(rig->messages.messages.size(), 1u);
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Plain);
    EXPECT_EQ(rig->messages.Last(), "Could not find device with ID '99' in the XML device definitions list");
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
}

TEST_F(OnlineState, ClosingTheWindowLetsGoOfTheUnit) {
    TfmMain& w = rig->w();
    ConnectOnline(17);
    TDevice* device = rig->Current();
    ASSERT_NE(device, nullptr);
    w.close();
    EXPECT_EQ(rig->Current(), nullptr);
    EXPECT_TRUE(device->Online); // the device type itself keeps its last connection state
}
