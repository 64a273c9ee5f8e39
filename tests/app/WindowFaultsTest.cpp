// Faults on the line as the window shows them: every simulator fault during a read, a silent unit
// (the window keeps serving events), a hostile definition file at start-up, and a unit whose
// simulator is restarted under the same comm port while a write is under way (the window's
// reopen finds it, and writing again completes the unit).
#include "WindowRig.h"

#include "SimUnit.h"
#include "modbus/MbusMasterFunctions.h"
#include "settings/Device.h"
#include "settings/Setting.h"
#include "settings/Setting_int.h"
#include "sim/SimProcess.h"

#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The line of advice every failed run's box ends with.
const std::string Advice = "\nCheck the cable, the unit's power and its Modbus DIP switches.";

constexpr int SimCommIndex = 2; // "Comm 3"
constexpr int RunTimeoutMs = 60000;
constexpr int Coils = 4;
constexpr int Registers = 10;

class WindowFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRememberedChoices();
        definitions = dir.Write("Devices.xml", LineDefinitions(Coils, Registers));
        rig = std::make_unique<TWindowRig>(definitions);
    }
    void TearDown() override {
        rig.reset();
        sim.reset();
        ClearRememberedChoices();
    }

    // A simulated unit (device id 17 unless told) published as Comm 3.
    void StartSim(QStringList arguments, int deviceId = 17) {
        sim.reset();
        arguments << "--device-id" << QString::number(deviceId);
        sim = std::make_unique<TSimProcess>(arguments);
        ASSERT_FALSE(sim->Port().empty()) << sim->Errors();
        QSettings("Roduzede", "Dezadizi Config Manager")
            .setValue("Ports/COM3", QString::fromStdString(sim->Port()));
    }

    // Connect, online, Comm 3, Connect; a device type that is open is let go first (Yes).
    void ConnectOnline() {
        TConnectRunnerScope scope([](TfmConnect& dialog) {
            dialog.show();
            QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
            dialog.cbCommPort->setCurrentIndex(SimCommIndex);
            QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
            (void)QTest::qWaitFor([&] { return !dialog.isVisible() || dialog.btnConnect->isEnabled(); },
                                  20000);
            if (dialog.isVisible())
                QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
            return dialog.result();
        });
        rig->messages.answers = {TAnswer::Yes};
        QTest::mouseClick(rig->w().btConnectNew, Qt::LeftButton);
        rig->Activate();
    }

    bool AwaitMessage() {
        return QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, RunTimeoutMs);
    }

    bool AwaitReadShown() {
        return QTest::qWaitFor(
                   [this] {
                       return rig->w().btWriteSettingsNew->isEnabled() &&
                              !rig->w().ReadCompleteTimer.isActive();
                   },
                   RunTimeoutMs) &&
               rig->messages.messages.empty();
    }

    TTempDir dir;
    std::string definitions;
    std::unique_ptr<TWindowRig> rig;
    std::unique_ptr<TSimProcess> sim;
};

} // namespace

TEST_F(WindowFaults, EveryFaultDuringTheReadShowsTheFailingBlockAndTheNextConnectReads) {
    for (const char* kind :
         {"no-reply", "bad-crc", "wrong-slave", "exception", "garbage", "truncated", "slow"}) {
        SCOPED_TRACE(kind);
        // The search is answered, every reply after it is spoilt; a slow one comes after both
        // tries of the 1000 ms time-out and the quiet time-out between them.
        StartSim({"--fault", QString::fromLatin1(kind) + "=1", "--fault-after", "1", "--slow-ms", "4000"});
        rig->messages.Clear();
        ConnectOnline();
        ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
        // Connecting asked nothing (first time) or whether to let the last unit go.
        rig->messages.Clear();
        ASSERT_TRUE(AwaitMessage());
        ASSERT_EQ(rig->messages.messages.size(), 1u) << rig->messages.Last();
        EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
        EXPECT_EQ(rig->messages.Last(), "Reading coils1 to 4Failed" + Advice);
        EXPECT_EQ(rig->w().lbConnectStatus->text(), "Disconnected.");
        EXPECT_FALSE(rig->w().btWriteSettingsNew->isEnabled());

        // The same window reaches a sound unit at once.
        StartSim({});
        rig->messages.Clear();
        ConnectOnline();
        EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Are you sure you wish to disconnect?"});
        rig->messages.Clear();
        EXPECT_TRUE(AwaitReadShown()) << rig->messages.Last();
    }
}

// A device type the store refuses as it is opened (a register past the last reference) ends the
// connection with its message, whether or not another unit was read in this window before.
TEST_F(WindowFaults, ADeviceTypeRefusedAsItOpensSaysSoAlsoAfterAnotherUnitWasRead) {
    std::string content = LineDefinitions(Coils, Registers);
    content.insert(content.rfind("</rur>"),
                   "<device name=\"Far Unit\" device_id=\"18\" live_status_id=\"0\" settings_id=\"2\"/>"
                   "<settings settings_id=\"2\"><group name=\"G\" description=\"d\"><setting "
                   "value_type=\"int\" name=\"Far\" register=\"65536\" type=\"holding_register\" "
                   "min=\"0\" max=\"1\" default=\"0\" value_text=\"\"/></group></settings>");
    rig.reset();
    rig = std::make_unique<TWindowRig>(dir.Write("Devices.xml", content));
    ASSERT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();

    const auto connectToFarUnit = [this] {
        StartSim({}, 18);
        rig->messages.Clear();
        ConnectOnline();
        return QTest::qWaitFor(
            [this] {
                return !rig->messages.messages.empty() &&
                       rig->messages.messages.back().kind == TMessageKind::Error;
            },
            RunTimeoutMs);
    };
    ASSERT_TRUE(connectToFarUnit());
    const std::string first = rig->messages.Last();
    EXPECT_EQ(first.rfind("InserHoldingRegistersSingleIndex", 0), 0u) << first;
    EXPECT_EQ(rig->w().lbConnectStatus->text(), "Disconnected.");

    StartSim({});
    rig->messages.Clear();
    ConnectOnline();
    rig->messages.Clear();
    ASSERT_TRUE(AwaitReadShown()) << rig->messages.Last();

    ASSERT_TRUE(connectToFarUnit()) << rig->messages.Last();
    EXPECT_EQ(rig->messages.Last(), first);
    EXPECT_EQ(rig->w().lbConnectStatus->text(), "Disconnected.");
    EXPECT_FALSE(rig->w().btWriteSettingsNew->isEnabled());
}

TEST_F(WindowFaults, TheWindowKeepsServingEventsWhileTheUnitIsSilent) {
    // Every request after the search goes unanswered: the worker spends two 1000 ms time-outs on
    // the first block. A window waiting on the line would stop its timers for as long.
    StartSim({"--fault", "no-reply=1", "--fault-after", "1"});
    ConnectOnline();
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    rig->messages.Clear();
    // Posted while the read runs: a window that waited on the line would serve it only once
    // the run had failed and said so.
    bool served = false;
    bool failedWhenServed = false;
    QTimer::singleShot(0, [&] {
        served = true;
        failedWhenServed = !rig->messages.messages.empty();
    });
    ASSERT_TRUE(AwaitMessage());
    EXPECT_TRUE(served);
    EXPECT_FALSE(failedWhenServed) << "the user-interface thread waited for the unit";
    EXPECT_EQ(rig->messages.Last(), "Reading coils1 to 4Failed" + Advice);
}

TEST_F(WindowFaults, AReadBackUnansweredAfterAnAnsweredCommitIsAWarningNotVerified) {
    // The search and the two read blocks are requests 1 to 3, the register and the commit 4 and
    // 5: the unit is silent from the read-back on.
    StartSim({"--fault", "no-reply=1", "--fault-after", "5"});
    ConnectOnline();
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    ASSERT_TRUE(AwaitReadShown()) << rig->messages.Last();
    TSetting* setting = rig->Find("R0");
    setting->Value = 1000;
    setting->WriteToStore();
    rig->messages.Clear();
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(AwaitMessage());
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Warning);
    EXPECT_EQ(rig->messages.messages[0].text,
              "Settings written; the unit did not answer the read-back, so they are not verified: " +
                  ErrorText(FTALK_REPLY_TIMEOUT_ERROR) + ".");
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_EQ(sim->CountLines("commit (123"), 1) << sim->Output();
}

TEST_F(WindowFaults, ASimulatorRestartedDuringAWriteIsReopenedAndWritingAgainCompletesTheUnit) {
    const std::string state = dir.Path("unit.state");
    StartSim({"--state", QString::fromStdString(state), "--wire-speed"});
    ConnectOnline();
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    ASSERT_TRUE(AwaitReadShown()) << rig->messages.Last();

    // Accepted edits go straight into the store's image, as the editors put them there.
    std::vector<int16_t> wanted;
    for (int i = 0; i < Registers; ++i) {
        TSetting* setting = rig->Find("R" + std::to_string(i));
        setting->Value = 1000 + i;
        setting->WriteToStore();
        wanted.push_back(static_cast<int16_t>(1000 + i));
    }
    for (int i = 0; i < Coils; i += 2) {
        TSetting* setting = rig->Find("C" + std::to_string(i));
        setting->Value = 1;
        setting->WriteToStore();
    }

    rig->messages.Clear();
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    // At wire speed a write request takes some 20 ms; pull the line once the progress bar shows a
    // few written and bring the unit back, with what it had received, under the same comm port.
    ASSERT_TRUE(QTest::qWaitFor([this] { return rig->w().ProgressBar1->value() >= 3; }, RunTimeoutMs));
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    // The search and the two read blocks were 3 requests; the line went after some writes and
    // before the commit.
    const std::string first = sim->Output();
    const size_t at = first.find("stopped after ");
    ASSERT_NE(at, std::string::npos) << first;
    EXPECT_GT(std::stoi(first.substr(at + 14)), 3) << first;
    EXPECT_EQ(first.find("commit (123"), std::string::npos) << first;
    StartSim({"--state", QString::fromStdString(state)});
    ASSERT_TRUE(AwaitMessage());
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Writing settings failed, please try writing again" + Advice});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    ASSERT_TRUE(rig->w().btWriteSettingsNew->isEnabled()) << "the window is not back to idle";
    for (int i = 0; i < Registers; ++i)
        EXPECT_EQ(rig->HoldingRegister(101 + i), wanted[static_cast<size_t>(i)])
            << "the failed write changed the image";

    rig->messages.Clear();
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(AwaitMessage());
    EXPECT_EQ(rig->messages.Last().rfind("Settings written and verified (", 0), 0u) << rig->messages.Last();
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_EQ(sim->CountLines("commit (123"), 1) << sim->Output();

    TSimUnit unit;
    ASSERT_TRUE(unit.LoadState(state));
    for (int i = 0; i < Registers; ++i)
        EXPECT_EQ(static_cast<int16_t>(unit.HoldingRegister(100 + i)), wanted[static_cast<size_t>(i)])
            << "R" << i;
    for (int i = 0; i < Coils; ++i)
        EXPECT_EQ(unit.Coil(i), i % 2 == 0) << "C" << i;
}

TEST(WindowHostileDefinitions, TheWindowOpensWithWhatLoadedAndShowsTheMessage) {
    struct TCase {
        const char* name;
        std::string content;
        std::string message; // exact, or the start of a parse error
        size_t deviceTypes;  // offered by the connect dialog
    };
    const std::string device = "<device name=\"A\" device_id=\"1\" live_status_id=\"0\" settings_id=\"1\"/>";
    const std::string settings =
        "<settings settings_id=\"1\"><group name=\"G\" description=\"d\"/></settings>";
    const std::vector<TCase> cases{
        {"not well-formed", "<rur><device name='a'</rur>", "XML parse error in ", 0},
        {"wrong root", "<settings/>", "Could not find parent tag: rur", 0},
        {"second device without settings_id",
         "<rur>" + device + "<device name=\"B\" device_id=\"2\" live_status_id=\"0\"/>" + settings + "</rur>",
         "Could not find attribute \"settings_id\" in XML node.", 2},
        {"bitmask out of range",
         "<rur>" + device +
             "<settings settings_id=\"1\"><group name=\"G\" description=\"d\"><setting value_type=\"int\" "
             "name=\"S\" register=\"1\" type=\"holding_register\" min=\"0\" max=\"1\" default=\"0\" "
             "value_text=\"\" bitmask=\"65536\"/></group></settings></rur>",
         "'65536' is not a valid bitmask (-32768 to 32767)", 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTempDir dir;
        const std::string path = dir.Write("Devices.xml", c.content);
        ClearRememberedChoices();
        TWindowRig rig(path);
        ASSERT_EQ(rig.messages.messages.size(), 1u);
        EXPECT_EQ(rig.messages.Last().rfind(c.message, 0), 0u) << rig.messages.Last();
        // The connect dialog offers the device types read before the failure.
        size_t offered = 0;
        TConnectRunnerScope scope([&](TfmConnect& dialog) {
            offered = static_cast<size_t>(dialog.cbDevice->count());
            return static_cast<int>(mrCancel);
        });
        QTest::mouseClick(rig.w().btConnectNew, Qt::LeftButton);
        EXPECT_EQ(offered, c.deviceTypes);
    }
}

TEST(WindowHostileDefinitions, ADefinitionFileWithoutDeviceTypesSaysSoOnConnect) {
    TTempDir dir;
    const std::string path = dir.Write("Devices.xml", "<rur/>");
    ClearRememberedChoices();
    TWindowRig rig(path);
    EXPECT_TRUE(rig.messages.messages.empty()) << rig.messages.Last();
    rig.OpenOffline(0);
    EXPECT_EQ(rig.Current(), nullptr);
    EXPECT_EQ(rig.messages.Texts(),
              std::vector<std::string>{"There are no device types in the definition file."});
    ClearRememberedChoices();
}

TEST(WindowHostileSettings, ARefusedFileShowsItsMessageAndChangesNothing) {
    ClearRememberedChoices();
    TWindowRig rig;
    rig.OpenOffline(0);
    ASSERT_NE(rig.Current(), nullptr) << rig.messages.Last();
    auto* speed = dynamic_cast<TSettingInt*>(rig.Find("Supply Fan Minimum Speed"));
    ASSERT_NE(speed, nullptr);
    TTempDir dir;
    const std::string good = dir.Path("good.rur");
    {
        TFileDialogScope files;
        files.answers = {QString::fromStdString(good)};
        rig.ClickOptionsItem(rig.w().tbSaveSettings);
    }
    const std::string saved = ReadFileText(good);
    ASSERT_NE(saved.find("<settings>"), std::string::npos) << rig.messages.Last();
    // The user's edit, made after saving: a refused load must leave it standing.
    rig.Type(EditBoxOf(*speed), "44");
    ASSERT_EQ(rig.HoldingRegister(116), 44);
    rig.messages.Clear();

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = saved;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    // Loading applies nothing unless the whole file is sound: the last setting's value spoilt
    // (the speed comes before it).
    std::string lastValueBroken = saved;
    {
        const size_t at = lastValueBroken.rfind(" value=\"") + 8;
        lastValueBroken.replace(at, lastValueBroken.find('"', at) - at, "one");
        EXPECT_LT(saved.find("name=\"Supply Fan Minimum Speed\""), at);
    }
    struct TCase {
        const char* name;
        std::string content;
        std::string message; // the start of the error box's text
    };
    const std::vector<TCase> cases{
        {"empty", "", "XML parse error in "},
        {"truncated half-way", saved.substr(0, saved.size() / 2), "XML parse error in "},
        {"another device type", replaced("name=\"Z7E AHU Interface\"", "name=\"Other\""),
         "Device name is not '"},
        {"the last value no number", lastValueBroken, "'one' is not a valid integer value"},
        {"another device id", replaced("device_id=\"17\"", "device_id=\"18\""), "Device id is not ' 17'"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("hostile.rur", c.content);
        TFileDialogScope files;
        files.answers = {QString::fromStdString(path)};
        rig.ClickOptionsItem(rig.w().tbLoadSettings);
        ASSERT_EQ(rig.messages.messages.size(), 1u) << rig.messages.Last();
        EXPECT_EQ(rig.messages.messages[0].kind, TMessageKind::Error);
        EXPECT_EQ(rig.messages.Last().rfind(c.message, 0), 0u) << rig.messages.Last();
        EXPECT_EQ(rig.HoldingRegister(116), 44) << "a refused file changed a setting";
        EXPECT_TRUE(EditBoxOf(*speed)->text().startsWith("44")) << EditBoxOf(*speed)->text().toStdString();
        rig.messages.Clear();
    }

    // The sound file still loads, and puts back what it holds.
    TFileDialogScope files;
    files.answers = {QString::fromStdString(good)};
    rig.ClickOptionsItem(rig.w().tbLoadSettings);
    EXPECT_TRUE(rig.messages.messages.empty()) << rig.messages.Last();
    EXPECT_EQ(rig.HoldingRegister(116), 20);
    EXPECT_TRUE(EditBoxOf(*speed)->text().startsWith("20"));
    ClearRememberedChoices();
}
