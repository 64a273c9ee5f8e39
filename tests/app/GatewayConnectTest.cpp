#include "WindowRig.h"

#include "app/Devicechoice.h"
#include "app/Settingeditors.h"
#include "modbus/Masterfactory.h"
#include "modbus/Porttarget.h"
#include "settings/Device.h"
#include "settings/Setting_int.h"
#include "settings/Settings.h"
#include "sim/SimProcess.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int SearchTimeoutMs = 20000;
constexpr int RunTimeoutMs = 60000;

class GatewayConnect : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRememberedChoices();
        rig = std::make_unique<TWindowRig>();
    }
    void TearDown() override {
        rig.reset();
        ClearRememberedChoices();
    }

    std::unique_ptr<TfmConnect> Open() {
        auto dialog = std::make_unique<TfmConnect>(&rig->w());
        FillDeviceList(*rig->w().Devices(), dialog->cbDevice);
        dialog->show();
        return dialog;
    }

    // Online through the Modbus TCP gateway at 127.0.0.1:`port`, unit `address`; Connect.
    static void ConnectThrough(TfmConnect& dialog, int port, int address) {
        QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
        QTest::mouseClick(dialog.rbGateway, Qt::LeftButton);
        dialog.edHost->setText("127.0.0.1");
        dialog.seNetworkPort->setValue(port);
        dialog.cbGatewayKind->setCurrentIndex(0);
        dialog.seAddress->setValue(address);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
    }

    // A local port nobody listens on: refused at once.
    static int ClosedPort() {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost))
            return 0;
        const int port = server.serverPort();
        server.close();
        return port;
    }

    std::unique_ptr<TWindowRig> rig;
};

int NetworkPort(const std::string& gateway) {
    const std::optional<TPortTarget> target = ParsePortTarget(gateway);
    return target ? target->networkPort : 0;
}

} // namespace

TEST_F(GatewayConnect, ReadsAUnitBehindAModbusTcpGateway) {
    TTempDir dir;
    TSimProcess sim({"--listen", "tcp://127.0.0.1:0", "--device", "Z7E AHU Interface", "--slave", "2"},
                    dir.Path("config"));
    ASSERT_EQ(sim.Port().rfind("tcp://", 0), 0u) << sim.Errors();
    const int port = NetworkPort(sim.Port());
    // A value the unit holds that no default has, to see it come through.
    {
        const std::shared_ptr<TGatewayMaster> side = MakeGatewayMaster(*ParsePortTarget(sim.Port()));
        ASSERT_EQ(side->Open(), 0) << side->LastErrorText();
        ASSERT_EQ(side->WriteSingleRegister(2, 116, 37), 0) << side->LastErrorText();
    }

    std::string searchingTitle;
    std::vector<std::string> shown;
    TConnectRunnerScope scope([&](TfmConnect& dialog) {
        dialog.show();
        // Nobody answers address 9 behind this gateway.
        ConnectThrough(dialog, port, 9);
        searchingTitle = dialog.windowTitle().toStdString();
        (void)QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, SearchTimeoutMs);
        shown = rig->messages.Texts();
        rig->messages.Clear();
        ConnectThrough(dialog, port, 2);
        (void)QTest::qWaitFor([&] { return !dialog.isVisible() || !rig->messages.messages.empty(); },
                              SearchTimeoutMs);
        if (dialog.isVisible())
            QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
        return dialog.result();
    });
    QTest::mouseClick(rig->w().btConnectNew, Qt::LeftButton);

    EXPECT_EQ(searchingTitle, "Connect - searching " + sim.Port() + "...");
    const std::string hostPort = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(shown, std::vector<std::string>{"Could not find a device behind gateway '" + hostPort +
                                              "' address '9'\n\n"
                                              "Please ensure the device is connected to the gateway's serial "
                                              "bus, \nyou have chosen the correct gateway and address,\n"
                                              "and the gateway's serial options are set correctly"});
    ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
    EXPECT_EQ(rig->Current()->Address, 2);
    EXPECT_EQ(rig->w().lbConnectStatus->text(), "Connected to Z7E AHU Interface.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig->w().btWriteSettingsNew->isEnabled(); }, RunTimeoutMs))
        << rig->messages.Last();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->w().ReadCompleteTimer.isActive(); }, 1000));
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    auto* speed = dynamic_cast<TSettingInt*>(rig->Find("Supply Fan Minimum Speed"));
    ASSERT_NE(speed, nullptr);
    ASSERT_NE(EditBoxOf(*speed), nullptr);
    EXPECT_EQ(EditBoxOf(*speed)->text(), "37 %");
    EXPECT_GT(sim.CountLines(" opened ("), 0);
}

TEST_F(GatewayConnect, ARefusedConnectionShowsTheMastersTextAndTheDialogStays) {
    const int port = ClosedPort();
    ASSERT_NE(port, 0);
    auto dialog = Open();
    ConnectThrough(*dialog, port, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, SearchTimeoutMs));
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"TCP/IP connection error: 127.0.0.1:" +
                                                              std::to_string(port) + ": Connection refused"});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->btnConnect->isEnabled());
    EXPECT_EQ(dialog->btnConnect->text(), "&Connect");
    EXPECT_EQ(dialog->windowTitle(), "Connect");
}

TEST_F(GatewayConnect, TheChoiceAndFieldsSwitchThePartsAndAreRemembered) {
    const int port = ClosedPort();
    ASSERT_NE(port, 0);
    {
        auto dialog = Open();
        EXPECT_TRUE(dialog->rbSerial->isChecked());
        EXPECT_FALSE(dialog->edHost->isEnabled());
        EXPECT_EQ(dialog->seNetworkPort->value(), 502);
        EXPECT_EQ(dialog->seReplyTimeout->value(), 1500);
        QTest::mouseClick(dialog->rbGateway, Qt::LeftButton);
        EXPECT_TRUE(dialog->edHost->isEnabled());
        EXPECT_TRUE(dialog->seReplyTimeout->isEnabled());
        EXPECT_FALSE(dialog->cbCommPort->isEnabled());
        EXPECT_TRUE(dialog->seAddress->isEnabled());
        QTest::mouseClick(dialog->rbOffline, Qt::LeftButton);
        EXPECT_FALSE(dialog->edHost->isEnabled());
        EXPECT_FALSE(dialog->rbSerial->isEnabled());
        EXPECT_FALSE(dialog->seAddress->isEnabled());
        QTest::mouseClick(dialog->rbOnline, Qt::LeftButton);
        EXPECT_TRUE(dialog->edHost->isEnabled());

        // No host: the parser's rule, and the dialog stays.
        QTest::mouseClick(dialog->btnConnect, Qt::LeftButton);
        std::string rule;
        ASSERT_FALSE(ParsePortTarget("tcp://:502@1", &rule));
        EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{rule});
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->btnConnect->isEnabled());
        rig->messages.Clear();

        dialog->edHost->setText("127.0.0.1");
        dialog->seNetworkPort->setValue(port);
        dialog->cbGatewayKind->setCurrentIndex(1);
        dialog->seReplyTimeout->setValue(2500);
        dialog->seAddress->setValue(7);
        QTest::mouseClick(dialog->btnConnect, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, SearchTimeoutMs));
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    }
    auto again = Open();
    EXPECT_TRUE(again->rbGateway->isChecked());
    EXPECT_FALSE(again->cbCommPort->isEnabled());
    EXPECT_EQ(again->edHost->text(), "127.0.0.1");
    EXPECT_EQ(again->seNetworkPort->value(), port);
    EXPECT_EQ(again->cbGatewayKind->currentText(), "RTU over TCP");
    EXPECT_EQ(again->seReplyTimeout->value(), 2500);
    EXPECT_EQ(again->seAddress->value(), 7);
}

TEST_F(GatewayConnect, ASearchAfterOneThatFoundNothingGoesToTheGatewayNowChosen) {
    TTempDir dir;
    TSimProcess first({"--listen", "tcp://127.0.0.1:0", "--device", "Z7E AHU Interface", "--slave", "2"},
                      dir.Path("first"));
    TSimProcess second({"--listen", "tcp://127.0.0.1:0", "--device", "Z7E AHU Interface", "--slave", "3"},
                       dir.Path("second"));
    ASSERT_EQ(first.Port().rfind("tcp://", 0), 0u) << first.Errors();
    ASSERT_EQ(second.Port().rfind("tcp://", 0), 0u) << second.Errors();
    auto dialog = Open();
    ConnectThrough(*dialog, NetworkPort(first.Port()), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, SearchTimeoutMs));
    rig->messages.Clear();
    ConnectThrough(*dialog, NetworkPort(second.Port()), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible() || !rig->messages.messages.empty(); },
                                SearchTimeoutMs));
    EXPECT_EQ(dialog->result(), mrOk) << rig->messages.Last();
    EXPECT_EQ(dialog->FDeviceInfo.GatewayName, second.Port());
}
