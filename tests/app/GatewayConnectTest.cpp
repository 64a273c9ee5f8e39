#include "WindowRig.h"

#include "modbus/Masterfactory.h"
#include "settings/Setting_int.h"
#include "sim/SimProcess.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int WaitMs = 60000;

class GatewayConnect : public ::testing::Test {
protected:
    void SetUp() override { ClearRememberedChoices(); }
    void TearDown() override { ClearRememberedChoices(); }

    std::unique_ptr<TfmConnect> Open() {
        auto dialog = std::make_unique<TfmConnect>(&rig.w());
        dialog->show();
        return dialog;
    }
    // Online through the gateway `target` ("tcp://127.0.0.1:PORT"), unit `address`; Connect.
    static void ConnectThrough(TfmConnect& dialog, const std::string& target, int address) {
        QTest::mouseClick(dialog.rbGateway, Qt::LeftButton);
        dialog.edHost->setText("127.0.0.1");
        dialog.seNetworkPort->setValue(ParsePortTarget(target)->networkPort);
        dialog.seAddress->setValue(address);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
    }
    // Until a message is shown or `dialog` has closed.
    bool Shown(const QWidget* dialog = nullptr) {
        return QTest::qWaitFor(
            [&] { return !rig.messages.messages.empty() || (dialog != nullptr && !dialog->isVisible()); },
            WaitMs);
    }

    TWindowRig rig;
    TTempDir dir;
};

TSimProcess Gateway(const TTempDir& dir, const char* slave) {
    return TSimProcess({"--listen", "tcp://127.0.0.1:0", "--device", "Z7E AHU Interface", "--slave", slave},
                       dir.Path(slave));
}

} // namespace

TEST_F(GatewayConnect, ReadsAUnitBehindAModbusTcpGatewayAndNamesTheGatewayWhenNoneAnswers) {
    TSimProcess sim = Gateway(dir, "2");
    // A value no default has, to see it come through.
    const std::shared_ptr<TGatewayMaster> side = MakeGatewayMaster(*ParsePortTarget(sim.Port()));
    ASSERT_EQ(side->Open(), 0) << sim.Errors() << side->LastErrorText();
    ASSERT_EQ(side->WriteSingleRegister(2, 116, 37), 0);
    std::vector<std::string> shown;
    TConnectRunnerScope scope([&](TfmConnect& dialog) {
        dialog.show();
        ConnectThrough(dialog, sim.Port(), 9);
        EXPECT_EQ(dialog.windowTitle().toStdString(), "Connect - searching " + sim.Port() + "...");
        (void)Shown();
        shown = rig.messages.Texts();
        rig.messages.Clear();
        ConnectThrough(dialog, sim.Port(), 2);
        (void)Shown(&dialog);
        return dialog.result();
    });
    QTest::mouseClick(rig.w().btConnectNew, Qt::LeftButton);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].substr(0, shown[0].find('\n')),
              "Could not find a device behind gateway '" + sim.Port().substr(6) + "' address '9'");
    ASSERT_NE(rig.Current(), nullptr) << rig.messages.Last();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.w().btWriteSettingsNew->isEnabled(); }, WaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.w().ReadCompleteTimer.isActive(); }, WaitMs));
    EXPECT_TRUE(rig.messages.messages.empty()) << rig.messages.Last();
    EXPECT_EQ(EditBoxOf(*rig.Find("Supply Fan Minimum Speed"))->text(), "37 %");
}

TEST_F(GatewayConnect, ARefusedConnectionIsShownAndTheChoicesAreRemembered) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string closed = "tcp://127.0.0.1:" + std::to_string(server.serverPort());
    server.close();
    {
        auto dialog = Open();
        QTest::mouseClick(dialog->rbGateway, Qt::LeftButton);
        EXPECT_FALSE(dialog->cbCommPort->isEnabled());
        // No host: the parser's rule.
        QTest::mouseClick(dialog->btnConnect, Qt::LeftButton);
        std::string rule;
        ASSERT_FALSE(ParsePortTarget("tcp://:502@1", &rule));
        EXPECT_EQ(rig.messages.Texts(), std::vector<std::string>{rule});
        rig.messages.Clear();
        dialog->cbGatewayKind->setCurrentIndex(1);
        dialog->seReplyTimeout->setValue(2500);
        ConnectThrough(*dialog, closed, 7);
        ASSERT_TRUE(Shown());
        EXPECT_EQ(rig.messages.Texts(), std::vector<std::string>{"TCP/IP connection error: " +
                                                                 closed.substr(6) + ": Connection refused"});
        EXPECT_TRUE(dialog->isVisible() && dialog->btnConnect->isEnabled());
    }
    auto again = Open();
    EXPECT_TRUE(again->rbGateway->isChecked());
    EXPECT_EQ(again->edHost->text() + ":" + again->seNetworkPort->text(),
              QString::fromStdString(closed.substr(6)));
    EXPECT_EQ(again->cbGatewayKind->currentText(), "RTU over TCP");
    EXPECT_EQ(again->seReplyTimeout->value(), 2500);
    EXPECT_EQ(again->seAddress->value(), 7);
}

TEST_F(GatewayConnect, ASearchAfterOneThatFoundNothingGoesToTheGatewayNowChosen) {
    TSimProcess first = Gateway(dir, "2");
    TSimProcess second = Gateway(dir, "3");
    auto dialog = Open();
    ConnectThrough(*dialog, first.Port(), 3);
    ASSERT_TRUE(Shown());
    rig.messages.Clear();
    ConnectThrough(*dialog, second.Port(), 3);
    ASSERT_TRUE(Shown(dialog.get()));
    EXPECT_EQ(dialog->result(), mrOk) << rig.messages.Last();
}
