// The online road through the window, against the simulated unit on a pseudo-terminal published
// as "Comm 3": search, read, edit, write, failures, disconnecting.
#include "WindowRig.h"

#include "features/History.h"
#include "link/Devicelist.h"
#include "link/Serialmanager.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_int.h"
#include "settings/Setting_name.h"
#include "settings/Settings.h"
#include "sim/SimProcess.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QSettings>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <modbus/modbus.h>

namespace {

constexpr int SimCommIndex = 2; // "Comm 3"
constexpr int SearchTimeoutMs = 20000;
constexpr int RunTimeoutMs = 60000;

class OnlineState : public ::testing::Test {
protected:
    void SetUp() override { ClearRememberedChoices(); }
    void TearDown() override {
        rig.reset();
        sim.reset();
        ClearRememberedChoices();
    }

    // A simulated unit reporting `deviceId`, reachable as Comm 3, and the window.
    void Start(int deviceId, const QStringList& simOptions = {}) {
        sim =
            std::make_unique<TSimProcess>(QStringList{"--device-id", QString::number(deviceId)} + simOptions);
        ASSERT_FALSE(sim->Port().empty()) << sim->Errors();
        QSettings("Roduzede", "Dezadizi Config Manager")
            .setValue("Ports/COM3", QString::fromStdString(sim->Port()));
        rig = std::make_unique<TWindowRig>();
    }

    // Connect, online, Comm 3, press Connect and wait for the dialog's answer. `afterSearch`
    // runs once the dialog has closed, before the window takes the result.
    void ConnectOnline(const std::function<void()>& afterSearch = {}) {
        TConnectRunnerScope scope([&](TfmConnect& dialog) {
            dialog.show();
            QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
            dialog.cbCommPort->setCurrentIndex(SimCommIndex);
            QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
            searchingCaption = dialog.btnConnect->text().toStdString();
            searchingEnabled = dialog.btnConnect->isEnabled();
            searchingTitle = dialog.windowTitle().toStdString();
            searchingBusy = QApplication::overrideCursor() != nullptr &&
                            QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            (void)QTest::qWaitFor([&] { return !dialog.isVisible() || dialog.btnConnect->isEnabled(); },
                                  SearchTimeoutMs);
            if (dialog.isVisible())
                QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
            if (afterSearch)
                afterSearch();
            return dialog.result();
        });
        QTest::mouseClick(rig->w().btConnectNew, Qt::LeftButton);
        writeEnabledAfterConnect = rig->w().btWriteSettingsNew->isEnabled();
        rig->Activate();
    }

    // Connects and waits until the read of the unit has completed and been shown.
    void ConnectAndRead() {
        ConnectOnline();
        ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return rig->w().btWriteSettingsNew->isEnabled(); }, RunTimeoutMs));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !rig->w().ReadCompleteTimer.isActive(); }, 1000));
        QCoreApplication::processEvents();
    }

    bool OptionsEnabled() {
        TfmMain& w = rig->w();
        return w.tbLoadSettings->isEnabled() && w.tbSaveSettings->isEnabled() &&
               w.tbRestoreDefault->isEnabled();
    }

    TSettingInt* Speed() { return dynamic_cast<TSettingInt*>(rig->Find("Supply Fan Minimum Speed")); }
    // Maximum speed 100, minimum speed 1.
    void SetSpeeds() {
        auto* maximum = dynamic_cast<TSettingInt*>(rig->Find("Supply Fan Maximum Speed"));
        ASSERT_NE(maximum, nullptr);
        // Leaving by Tab would enter the next box, whose zero the unit's limits refuse.
        rig->Type(EditBoxOf(*maximum), "100", TWindowRig::TLeave::ClickPage);
        rig->Type(EditBoxOf(*Speed()), "1", TWindowRig::TLeave::ClickPage);
        EXPECT_EQ(rig->HoldingRegister(117), 100);
    }

    std::unique_ptr<TSimProcess> sim;
    std::unique_ptr<TWindowRig> rig;
    // The connect button right after it was pressed.
    std::string searchingCaption;
    bool searchingEnabled = true;
    std::string searchingTitle;
    bool searchingBusy = false;
    // "Write Settings" as the connect handler left it, before the read's reports arrive.
    bool writeEnabledAfterConnect = true;
};

} // namespace

TEST_F(OnlineState, AFoundUnitOpensItsDeviceTypeAndReadsWithWriteSettingsHeldBack) {
    Start(17);
    TfmMain& w = rig->w();
    ConnectOnline();
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    EXPECT_EQ(searchingCaption, "&Connecting");
    EXPECT_FALSE(searchingEnabled);
    // A search takes seconds on a silent line: the dialog says so while it runs.
    EXPECT_EQ(searchingTitle, "Connect - searching Comm 3...");
    EXPECT_TRUE(searchingBusy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // Nothing has been read yet: writing now would send an empty image to the unit.
    EXPECT_FALSE(writeEnabledAfterConnect);
    EXPECT_TRUE(rig->Current()->Online);
    EXPECT_EQ(rig->Current()->Name, "Z7E AHU Interface");
    EXPECT_EQ(rig->Current()->CommPort, 3);
    EXPECT_EQ(rig->Current()->Address, 1);
    EXPECT_EQ(w.lbConnectStatus->text(), "Connected to Z7E AHU Interface.");
    EXPECT_EQ(rig->GroupButtons().size(), 25u);
    EXPECT_EQ(QSettings("Roduzede", "Dezadizi Config Manager").value("CommPortIndex").toInt(), SimCommIndex);

    ASSERT_TRUE(QTest::qWaitFor([&] { return w.btWriteSettingsNew->isEnabled(); }, RunTimeoutMs));
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    const int32_t total = w.Store()->TotalCount();
    ASSERT_GT(total, 0);
    EXPECT_EQ(w.ProgressBar1->maximum(), total);
    EXPECT_EQ(w.ProgressBar1->value(), total);
    EXPECT_FALSE(w.ProgressBar1->isVisible());
    EXPECT_FALSE(w.lbProgress->isVisible());
    EXPECT_TRUE(OptionsEnabled());
    // After the read the first group is shown again with the unit's values.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.ReadCompleteTimer.isActive(); }, 1000));
    EXPECT_EQ(rig->w().Pages->Shown(), rig->Current()->Settings->Groups[0].get());
    TSettingInt* speed = Speed();
    ASSERT_NE(speed, nullptr);
    QLineEdit* edit = EditBoxOf(*speed);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_EQ(edit->text().toStdString(), std::to_string(rig->HoldingRegister(116)) + " %");
}

TEST_F(OnlineState, WriteSettingsSendsTheImageAndAFreshReadFindsIt) {
    Start(17);
    TfmMain& w = rig->w();
    ConnectAndRead();
    rig->messages.Clear();
    // A fresh unit holds zeros: raise the bounding maximum first, then change the value.
    SetSpeeds();
    ASSERT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(rig->HoldingRegister(116), 1);

    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_EQ(w.lbProgress->text(), "Writing settings please wait...");
    QLineEdit* edit = EditBoxOf(*Speed());
    ASSERT_NE(edit, nullptr);
    EXPECT_FALSE(edit->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Settings written and verified (2 settings)."});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Information);
    EXPECT_TRUE(w.btWriteSettingsNew->isEnabled());
    EXPECT_TRUE(edit->isEnabled());

    // Disconnect (Yes), connect again: the unit now holds the written value.
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::Yes};
    ConnectAndRead();
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Are you sure you wish to disconnect?"});
    EXPECT_EQ(rig->HoldingRegister(116), 1);
}

TEST_F(OnlineState, AFailedReadShowsTheWindowDisconnectedAndTheReportText) {
    Start(17);
    TfmMain& w = rig->w();
    // The unit goes away between the search and the read.
    ConnectOnline([this] { sim->Stop(); });
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    ASSERT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_FALSE(rig->messages.Last().empty());
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_FALSE(OptionsEnabled());
    // The device stays current and online: the next Connect asks first, and No keeps it.
    ASSERT_NE(rig->Current(), nullptr);
    EXPECT_TRUE(rig->Current()->Online);
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::No};
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Are you sure you wish to disconnect?"});
    EXPECT_NE(rig->Current(), nullptr);
}

TEST_F(OnlineState, AFailedWriteWhosePortCannotReopenShowsDisconnected) {
    Start(17);
    TfmMain& w = rig->w();
    ConnectAndRead();
    rig->messages.Clear();
    sim->Stop();
    // Comm 3 now names a line that is not there: a freed pseudo-terminal's number may be taken
    // at once by another test's simulator, which a reopen would then reach.
    const TTempDir gone;
    QSettings("Roduzede", "Dezadizi Config Manager")
        .setValue("Ports/COM3", QString::fromStdString(gone.Path("gone")));
    w.tbWriteAll->trigger(); // the image is the unit's: only a full write sends it
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    // The one message is the failing block's, which the window says only once the link has
    // given up reopening the port (a reopened port says "please try writing again").
    ASSERT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(rig->messages.Last(),
              "Writing coils1 to 1Failed\nCheck the cable, the unit's power and its Modbus DIP switches.");
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_FALSE(OptionsEnabled());
}

TEST_F(OnlineState, DisconnectingAsksAndReleasesTheDeviceOnYes) {
    Start(17);
    TfmMain& w = rig->w();
    ConnectAndRead();
    TDevice* device = rig->Current();
    rig->messages.Clear();
    TConnectRunnerScope cancel([](TfmConnect&) { return static_cast<int>(mrCancel); });
    // No, or the question closed without an answer, keeps the connection.
    for (TAnswer answer : {TAnswer::No, TAnswer::Closed}) {
        rig->messages.Clear();
        rig->messages.answers = {answer};
        QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
        EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Are you sure you wish to disconnect?"});
        EXPECT_EQ(rig->Current(), device);
        EXPECT_EQ(rig->GroupButtons().size(), 25u);
    }
    // Yes releases it, even though the dialog is then cancelled.
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::Yes};
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->Current(), nullptr);
    EXPECT_EQ(w.lbConnectStatus->text(), "Disconnected.");
    EXPECT_TRUE(rig->GroupButtons().empty());
    EXPECT_EQ(rig->w().Pages->Shown(), nullptr);
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_FALSE(OptionsEnabled());
}

TEST_F(OnlineState, LoadAndRestoreAskFirstAndOnlyNoAbandons) {
    Start(17);
    TfmMain& w = rig->w();
    ConnectAndRead();
    rig->messages.Clear();
    SetSpeeds();
    ASSERT_EQ(rig->HoldingRegister(116), 1);

    rig->messages.answers = {TAnswer::No};
    rig->ClickOptionsItem(w.tbRestoreDefault);
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Are you sure you wish to restore the factory defaults?"});
    EXPECT_EQ(rig->HoldingRegister(116), 1);
    // A question closed without an answer goes ahead, as Yes does.
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::Closed};
    rig->ClickOptionsItem(w.tbRestoreDefault);
    EXPECT_EQ(rig->HoldingRegister(116), 20);
    // The question spoke of the unit: the window says it has not been written yet.
    const QString notWritten = "Loaded into the program; press Write Settings to send it to the unit.";
    EXPECT_TRUE(w.lbProgress->isVisible());
    EXPECT_EQ(w.lbProgress->text(), notWritten);
    w.lbProgress->hide();

    TTempDir dir;
    const std::string path = dir.Path("unit.RUR");
    rig->Current()->Settings->SaveToFile(path);
    rig->Type(EditBoxOf(*Speed()), "5", TWindowRig::TLeave::ClickPage);
    TFileDialogScope files;
    files.answers = {QString::fromStdString(path), QString::fromStdString(path),
                     QString::fromStdString(path)};
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::No};
    rig->ClickOptionsItem(w.tbLoadSettings);
    EXPECT_EQ(
        rig->messages.Texts(),
        std::vector<std::string>{"Are you sure you wish to load the new settings?  This will overwrite any "
                                 "settings stored in the unit."});
    EXPECT_EQ(rig->HoldingRegister(116), 5);
    rig->messages.Clear();
    EXPECT_FALSE(w.lbProgress->isVisible());
    rig->messages.answers = {TAnswer::Yes};
    rig->ClickOptionsItem(w.tbLoadSettings);
    EXPECT_EQ(rig->HoldingRegister(116), 20);
    EXPECT_TRUE(w.lbProgress->isVisible());
    EXPECT_EQ(w.lbProgress->text(), notWritten);
    rig->Type(EditBoxOf(*Speed()), "6", TWindowRig::TLeave::ClickPage);
    ASSERT_EQ(rig->HoldingRegister(116), 6);
    rig->messages.answers = {TAnswer::Closed};
    rig->ClickOptionsItem(w.tbLoadSettings);
    EXPECT_EQ(rig->HoldingRegister(116), 20);
}

TEST_F(OnlineState, AnUnknownDeviceIdIsShownPlainAndTheWindowStaysAsItWas) {
    Start(99);
    ConnectOnline();
    EXPECT_EQ(rig->Current(), nullptr);
    ASSERT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Plain);
    EXPECT_EQ(rig->messages.Last(), "Could not find device with ID '99' in the XML device definitions list");
    EXPECT_EQ(rig->w().lbConnectStatus->text(), "Disconnected.");
}

TEST_F(OnlineState, AUnitReportingIdZeroIsNamedByPortAndAddress) {
    Start(0);
    ConnectOnline();
    EXPECT_EQ(rig->Current(), nullptr);
    ASSERT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
    EXPECT_EQ(rig->messages.Last(), "Could not find a device attached to comm port '3' address '1'\n\n"
                                    "Please ensure the device is connected to the serial bus, \n"
                                    "you have chosen the correct comm port and address,\n"
                                    "and the serial options are set correctly");
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
}

TEST_F(OnlineState, ASearchWithoutAnswerFailsAndACancelledSearchNeverReportsBack) {
    Start(17);
    sim->Stop();
    // The published path now leads nowhere that answers: the search fails at once or after its
    // attempts, and the dialog says so.
    QSettings("Roduzede", "Dezadizi Config Manager").setValue("Ports/COM3", "/nonexistent/ttyDEZ3");
    ConnectOnline();
    EXPECT_EQ(rig->Current(), nullptr);
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Failed to connect, please check connections and settings"});

    // A unit that answers slowly: the user cancels while the search is pending.
    rig->messages.Clear();
    sim = std::make_unique<TSimProcess>(
        QStringList{"--device-id", "17", "--fault", "slow=1", "--slow-ms", "800"});
    ASSERT_FALSE(sim->Port().empty()) << sim->Errors();
    QSettings("Roduzede", "Dezadizi Config Manager")
        .setValue("Ports/COM3", QString::fromStdString(sim->Port()));
    TConnectRunnerScope scope([](TfmConnect& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
        dialog.cbCommPort->setCurrentIndex(SimCommIndex);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
        EXPECT_FALSE(dialog.btnConnect->isEnabled());
        QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
        return dialog.result();
    });
    QTest::mouseClick(rig->w().btConnectNew, Qt::LeftButton);
    // The late answer arrives and its result is taken on this thread, for nobody.
    TSerialManager& link = *rig->w().FSerialManager;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !link.HasThreadOnPort(3) || !link.FindThread(3)->SearchPending(); }, SearchTimeoutMs));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(rig->Current(), nullptr);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
}

TEST_F(OnlineState, ClosingTheWindowLetsGoOfTheUnit) {
    Start(17);
    ConnectAndRead();
    TfmMain& w = rig->w();
    w.close();
    EXPECT_EQ(rig->Current(), nullptr);
    EXPECT_TRUE(w.FSerialManager->DeviceList()->IsEmpty());
}

TEST_F(OnlineState, ControlBytesInAUnitsTextShowAsQuestionMarksAndTheStatusLineSaysSo) {
    Start(17);
    {
        // The unit's name registers: 'A', 0x01, 'B', then a zero byte that ends the text.
        modbus_t* ctx = modbus_new_rtu(sim->Port().c_str(), 9600, 'N', 8, 1);
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
        modbus_set_response_timeout(ctx, 0, 500000);
        modbus_set_slave(ctx, 1);
        const uint16_t name[2] = {0x4101, 0x4200};
        EXPECT_EQ(modbus_write_register(ctx, 100, name[0]), 1);
        EXPECT_EQ(modbus_write_register(ctx, 101, name[1]), 1);
        modbus_close(ctx);
        modbus_free(ctx);
    }
    ConnectAndRead();
    auto* name = dynamic_cast<TSettingName*>(rig->Find("Unit Name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->Text, "A?B");
    ASSERT_NE(EditBoxOf(*name), nullptr);
    EXPECT_EQ(EditBoxOf(*name)->text(), "A?B");
    EXPECT_FALSE(rig->w().lbProgress->isHidden());
    EXPECT_EQ(rig->w().lbProgress->text().toStdString(),
              "Setting 'Unit Name': 1 control byte(s) in the unit's text are shown as \"?\".");
}

namespace {
// The group holding a setting, by position in the groups list.
int GroupOf(TSettings* tree, TSetting* setting) {
    for (size_t i = 0; i < tree->Groups.size(); ++i) {
        if (setting->Group == tree->Groups[i].get())
            return static_cast<int>(i);
    }
    return -1;
}
} // namespace

TEST_F(OnlineState, AWriteEndsAfterItsCommitAndAnUnansweredCommitIsSaidBesideTheSuccess) {
    Start(17, {"--silent-commit"});
    TfmMain& w = rig->w();
    ConnectAndRead();
    rig->messages.Clear();
    // The engineer works on the third group and writes from there.
    rig->ClickGroup(2);
    TGroup* engineers = rig->Current()->Settings->Groups[2].get();
    ASSERT_EQ(rig->w().Pages->Shown(), engineers);
    w.tbWriteAll->trigger(); // the image is the unit's: only a full write sends it
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(
        rig->messages.Texts(),
        std::vector<std::string>{"Settings written successfully.\n\nThe unit did not answer the save command "
                                 "(commit to register 9999: " +
                                 ErrorText(FTALK_REPLY_TIMEOUT_ERROR) +
                                 "). If it was restarted before it finished saving, write again."});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Warning);
    // Nothing more comes of the run: the page stays where the engineer was.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Store()->State() == ssIdle; }, RunTimeoutMs));
    // The run's last reports are queued by now: taken, they must start nothing.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.ReadCompleteTimer.isActive());
    EXPECT_EQ(rig->w().Pages->Shown(), engineers);
    EXPECT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
    EXPECT_TRUE(w.btWriteSettingsNew->isEnabled());
}

TEST_F(OnlineState, ExitCloseOrConnectDuringAWriteAskFirstAndOnlyYesCutsItOff) {
    // At wire speed a write run lasts seconds.
    Start(17, {"--wire-speed"});
    TfmMain& w = rig->w();
    ConnectAndRead();
    const std::string question =
        "A write to the unit is in progress. Stop it and leave the unit partly written?";
    rig->messages.Clear();
    w.tbWriteAll->trigger(); // the image is the unit's: only a full write sends it
    // No, or the question closed unanswered, keeps the window and the write.
    rig->messages.answers = {TAnswer::No, TAnswer::Closed, TAnswer::No};
    QTest::mouseClick(w.btExitNew, Qt::LeftButton);
    EXPECT_FALSE(w.close());
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(), (std::vector<std::string>{question, question, question}));
    EXPECT_TRUE(w.isVisible());
    ASSERT_NE(rig->Current(), nullptr);
    EXPECT_EQ(w.Store()->State(), ssWriting) << "the write goes on";
    // Yes cuts it off.
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::Yes};
    QTest::mouseClick(w.btExitNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{question});
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(rig->Current(), nullptr);
}

TEST_F(OnlineState, DisconnectingDuringAReadClearsTheProgress) {
    Start(17, {"--wire-speed"});
    TfmMain& w = rig->w();
    ConnectOnline();
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.ProgressBar1->value() > 0; }, RunTimeoutMs));
    ASSERT_TRUE(w.Store()->State() == ssReading);
    rig->messages.answers = {TAnswer::Yes};
    TConnectRunnerScope cancel([](TfmConnect&) { return static_cast<int>(mrCancel); });
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    ASSERT_EQ(rig->Current(), nullptr);
    // Reports the stopped worker had already posted (it has ended) change nothing when taken.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.lbProgress->isVisible());
    EXPECT_TRUE(w.lbProgress->text().isEmpty()) << w.lbProgress->text().toStdString();
    EXPECT_FALSE(w.ProgressBar1->isVisible());
    EXPECT_EQ(w.ProgressBar1->value(), 0);
}

TEST_F(OnlineState, GroupClicksAndCustomCheckBoxesWhileTheWorkerPolls) {
    Start(17);
    ConnectAndRead();
    TSettings* tree = rig->Current()->Settings.get();
    auto* setback = dynamic_cast<TSettingCheckBox*>(rig->Find("Night Setback"));
    ASSERT_NE(setback, nullptr);
    ASSERT_TRUE(setback->HasCustomValues);
    const int setbackGroup = GroupOf(tree, setback);
    ASSERT_GE(setbackGroup, 0);
    // An idle worker polls the store, not the line: what it found is in its reports, each taken
    // here after a click.
    const auto takeReports = [] {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    };
    for (int round = 0; round < 12; ++round) {
        const int group = (round * 7) % static_cast<int>(tree->Groups.size());
        rig->ClickGroup(group);
        takeReports();
        ASSERT_EQ(rig->w().Pages->Shown(), tree->Groups[static_cast<size_t>(group)].get())
            << "round " << round;
        rig->ClickGroup(setbackGroup);
        ASSERT_NE(CheckBoxOf(*setback), nullptr);
        QTest::mouseClick(CheckBoxOf(*setback), Qt::LeftButton);
        takeReports();
        ASSERT_EQ(rig->w().Pages->Shown(), tree->Groups[static_cast<size_t>(setbackGroup)].get())
            << "round " << round;
        EXPECT_EQ(CheckBoxOf(*setback)->isChecked(), setback->Value != 0);
        EXPECT_EQ(rig->HoldingRegister(setback->Register),
                  setback->Value != 0 ? setback->CheckedValue : setback->UncheckedValue);
    }
}

TEST_F(OnlineState, StopEndsAWriteWithoutACommitAndWritingAgainFinishesIt) {
    Start(17, {"--wire-speed"});
    TfmMain& w = rig->w();
    ConnectAndRead();
    rig->messages.Clear();
    EXPECT_FALSE(w.btStop->isVisible());
    w.tbWriteAll->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.ProgressBar1->value() >= 3; }, RunTimeoutMs));
    ASSERT_TRUE(w.btStop->isVisible());
    QTest::mouseClick(w.btStop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(rig->messages.Last().rfind("Write stopped: ", 0), 0u) << rig->messages.Last();
    EXPECT_FALSE(w.btStop->isVisible());
    EXPECT_TRUE(w.btWriteSettingsNew->isEnabled());

    // What the stopped run sent is not confirmed: the change-only write sends it and commits.
    rig->messages.Clear();
    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(rig->messages.Last().rfind("Settings written and verified (", 0), 0u) << rig->messages.Last();
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_EQ(sim->CountLines("commit (123"), 1) << "only the second write committed";
}

namespace {

// Requests the simulator has logged (with --verbose) of the given function code ("01 03").
int Requests(const TSimProcess& sim, const std::string& function) {
    return sim.CountLines("request " + function);
}

} // namespace

TEST_F(OnlineState, StopDuringAReadLeavesEditingToANewReadAndSaysHowFarItGot) {
    Start(17, {"--wire-speed", "--verbose"});
    TfmMain& w = rig->w();
    ConnectOnline();
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return w.ProgressBar1->value() >= 1 && w.btStop->isVisible(); }, RunTimeoutMs));
    QTest::mouseClick(w.btStop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    ASSERT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Information);
    EXPECT_EQ(rig->messages.Last().rfind("Read stopped: ", 0), 0u) << rig->messages.Last();
    EXPECT_FALSE(w.btStop->isVisible());
    EXPECT_FALSE(w.ProgressBar1->isVisible());
    // Part of the image is not the unit's: nothing can be written or edited until a read
    // completes, and the window is still connected.
    EXPECT_EQ(w.lbConnectStatus->text().toStdString().rfind("Connected to ", 0), 0u);
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled());
    EXPECT_FALSE(w.tbWriteAll->isEnabled());
    EXPECT_FALSE(OptionsEnabled());
    EXPECT_FALSE(w.Store()->IsComplete());
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.btWriteSettingsNew->isEnabled()) << "a late report enabled writing";
    const int reads = Requests(*sim, "01 01") + Requests(*sim, "01 03");

    // A new read completes and lets the engineer write.
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::Yes};
    ConnectAndRead();
    EXPECT_TRUE(w.btWriteSettingsNew->isEnabled());
    EXPECT_TRUE(OptionsEnabled());
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_GT(Requests(*sim, "01 01") + Requests(*sim, "01 03") - reads, reads)
        << "the stopped read read all";
    EXPECT_EQ(Requests(*sim, "01 05") + Requests(*sim, "01 06"), 0) << "a read sent something";
}

TEST_F(OnlineState, EscapeStopsAWriteBeforeItsCommit) {
    Start(17, {"--wire-speed", "--verbose"});
    TfmMain& w = rig->w();
    ConnectAndRead();
    rig->messages.Clear();
    // Escape with no run under way stops nothing later.
    QTest::keyClick(&w, Qt::Key_Escape);
    w.tbWriteAll->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.ProgressBar1->value() >= 3; }, RunTimeoutMs));
    const int total = w.ProgressBar1->maximum();
    QTest::keyClick(&w, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(rig->messages.Last().rfind("Write stopped: ", 0), 0u) << rig->messages.Last();
    EXPECT_EQ(rig->messages.messages.back().kind, TMessageKind::Warning);
    EXPECT_FALSE(w.btStop->isVisible());
    EXPECT_TRUE(w.btWriteSettingsNew->isEnabled());
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_EQ(sim->CountLines("commit (123"), 0) << "a stopped write committed";
    const int sent = Requests(*sim, "01 05") + Requests(*sim, "01 06");
    EXPECT_GE(sent, 3);
    EXPECT_LT(sent, total) << "the write went on after Escape";
}

TEST_F(OnlineState, WritesAreRecordedAndTheHistoryDialogShowsThemNewestFirst) {
    TTempDir data;
    const std::string old = std::getenv("XDG_DATA_HOME") != nullptr ? std::getenv("XDG_DATA_HOME") : "";
    ::setenv("XDG_DATA_HOME", data.Path("").c_str(), 1);
    Start(17, {"--wire-speed"});
    TfmMain& w = rig->w();
    ConnectAndRead();
    rig->messages.Clear();
    SetSpeeds();
    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));

    // A full write stopped half-way is recorded too, as stopped.
    rig->messages.Clear();
    w.tbWriteAll->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.ProgressBar1->value() >= 3; }, RunTimeoutMs));
    QTest::mouseClick(w.btStop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));

    const THistory history = ReadHistory(data.Path("dezadizi/history.jsonl"));
    ::setenv("XDG_DATA_HOME", old.c_str(), 1);
    ASSERT_EQ(history.Entries.size(), 2u);
    const THistoryEntry& first = history.Entries[0];
    EXPECT_EQ(first.Port, "COM3");
    EXPECT_EQ(first.Result, "verified");
    std::string changes;
    for (const THistoryChange& c : first.Changes)
        changes += c.Setting + ": " + c.Before + " > " + c.After + " = " + c.Held + "\n";
    EXPECT_EQ(changes,
              "Supply Fan Minimum Speed: 0 % > 1 % = 1 %\nSupply Fan Maximum Speed: 0 % > 100 % = 100 %\n");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(first.Backup)));
    EXPECT_EQ(history.Entries[1].Result, "stopped");

    ::setenv("XDG_DATA_HOME", data.Path("").c_str(), 1);
    rig->ClickOptionsItem(w.tbHistory);
    ::setenv("XDG_DATA_HOME", old.c_str(), 1);
    auto* dialog = w.findChild<QDialog*>("fmHistory");
    ASSERT_NE(dialog, nullptr);
    auto* table = dialog->findChild<QTableWidget*>("Table");
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(0, 7)->text(), "stopped")
        << "newest first; a run that changed no setting is one row";
    EXPECT_EQ(table->item(0, 3)->text(), "");
    EXPECT_EQ(table->item(1, 7)->text(), "verified");
    EXPECT_EQ(table->item(1, 3)->text(), "Supply Fan Minimum Speed");
    EXPECT_EQ(table->item(1, 6)->text(), "1 %");

    TFileDialogScope files;
    files.answers = {QString::fromStdString(data.Path("out.csv"))};
    QTest::mouseClick(dialog->findChild<QPushButton*>("btExport"), Qt::LeftButton);
    const std::string csv = ReadFileText(data.Path("out.csv"));
    EXPECT_EQ(csv.rfind("Time,User,", 0), 0u) << csv;
    EXPECT_NE(csv.find(",COM3,1,17,"), std::string::npos) << csv;
}

TEST_F(OnlineState, AWriteWithNothingToSendSendsTheSaveCommandTheLastRunOwedOnce) {
    Start(17, {"--verbose"});
    TfmMain& w = rig->w();
    ConnectAndRead();
    // The record says the last run on this unit sent values and nobody answered its commit.
    THistoryEntry owing;
    owing.Time = "2026-03-01T10:00:00Z";
    owing.Port = "COM3";
    owing.Address = 1;
    owing.DeviceId = 17;
    owing.Result = "unconfirmed";
    owing.Commit = "unanswered";
    owing.Sent = 2;
    ASSERT_EQ(AppendHistoryEntry(HistoryPath(), owing), "");
    rig->messages.Clear();
    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Nothing differs; sent the save command the last run owed."});
    EXPECT_EQ(sim->CountLines("commit (123 to holding register 9999)"), 1) << sim->Output();
    const THistory history = ReadHistory(HistoryPath());
    ASSERT_EQ(history.Entries.size(), 2u);
    EXPECT_EQ(history.Entries[1].Result, "saved");

    // Paid once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.btWriteSettingsNew->isEnabled(); }, RunTimeoutMs));
    rig->messages.Clear();
    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"The unit already holds these settings."});
    EXPECT_EQ(sim->CountLines("commit (123 to holding register 9999)"), 1);
}
