#include "WindowRig.h"

#include "app/Devicechoice.h"
#include "definitions/Devices.h"
#include "sim/SimProcess.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ConnectDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRememberedChoices();
        rig = std::make_unique<TWindowRig>();
    }
    void TearDown() override {
        rig.reset();
        ClearRememberedChoices();
    }

    // A dialog as the main window makes it, shown.
    std::unique_ptr<TfmConnect> Open() {
        auto dialog = std::make_unique<TfmConnect>(&rig->w());
        FillDeviceList(*rig->w().Devices(), dialog->cbDevice);
        dialog->show();
        return dialog;
    }

    static QVariant Stored(const char* name) {
        return QSettings("Roduzede", "Dezadizi Config Manager").value(name);
    }

    std::unique_ptr<TWindowRig> rig;
};

} // namespace

TEST_F(ConnectDialog, ShowsItsControlsAndTexts) {
    auto dialog = Open();
    EXPECT_EQ(dialog->windowTitle(), "Connect");
    EXPECT_EQ(dialog->size(), QSize(604, 400));
    EXPECT_EQ(dialog->Label1->text(), "Connect Instructions...");
    EXPECT_TRUE(dialog->Label1->font().bold());
    EXPECT_EQ(dialog->lbInstructions->text(),
              "1) Set the correct communication settings in the right hand pane.\n"
              "2) Set the Dezadizi to Modbus protocol via the DIP switches.\n"
              "3) Power the unit up and click the 'Connect' button\n\n"
              "You can modify a configuration settings file offline by choosing the 'Offline Setting Editor' "
              "option and selecting the type of device.\n\n");
    EXPECT_TRUE(dialog->lbInstructions->wordWrap());
    EXPECT_EQ(dialog->rbOnline->text(), "Online Configuration Manager");
    EXPECT_EQ(dialog->rbOffline->text(), "Offline Settings Editor");
    EXPECT_EQ(dialog->Label4->text(), "Comm Port");
    EXPECT_EQ(dialog->Label3->text(), "The comm port number can be found in your PC's device manager ");
    EXPECT_EQ(dialog->Label7->text(), "Device");
    // "Cancel" underlines its a: Alt+C is "&Connect"'s.
    EXPECT_EQ(dialog->btnCancel->text(), "C&ancel");
    ASSERT_EQ(dialog->cbCommPort->count(), 20);
    EXPECT_EQ(dialog->cbCommPort->itemText(0), "Comm 1");
    EXPECT_EQ(dialog->cbCommPort->itemText(19), "Comm 20");
    ASSERT_EQ(dialog->cbDevice->count(), 3);
    EXPECT_EQ(dialog->cbDevice->itemText(0), "Z7E AHU Interface");
    EXPECT_EQ(dialog->cbDevice->itemText(2), "Z7E VAV Zone Interface");
    EXPECT_EQ(dialog->gbInstructions->geometry(), QRect(16, 8, 193, 329));
    EXPECT_EQ(dialog->gbConnection->geometry(), QRect(224, 8, 364, 329));
    EXPECT_EQ(dialog->btnConnect->geometry(), QRect(424, 360, 75, 25));
    EXPECT_EQ(dialog->btnCancel->geometry(), QRect(512, 360, 75, 25));
    EXPECT_EQ(dialog->cbCommPort->pos(), QPoint(368, 69));
    EXPECT_EQ(dialog->cbCommPort->width(), 145);
    EXPECT_EQ(dialog->cbDevice->pos(), QPoint(136, 237));
}

TEST_F(ConnectDialog, EveryCaptionFitsItsControl) {
    auto dialog = Open();
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->wordWrap())
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << label->text().toStdString();
        else
            EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
    }
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        EXPECT_LE(button->sizeHint().width(), button->width() + 8) << button->text().toStdString();
}

TEST_F(ConnectDialog, FreshSettingsGiveComm1TheFirstDeviceAndOnlineAndAreWritten) {
    auto dialog = Open();
    EXPECT_EQ(dialog->cbCommPort->currentText(), "Comm 1");
    EXPECT_EQ(dialog->cbDevice->currentIndex(), 0);
    EXPECT_TRUE(dialog->rbOnline->isChecked());
    EXPECT_FALSE(dialog->rbOffline->isChecked());
    EXPECT_TRUE(dialog->cbCommPort->isEnabled());
    EXPECT_FALSE(dialog->cbDevice->isEnabled());
    EXPECT_EQ(dialog->btnConnect->text(), "&Connect");
    EXPECT_EQ(Stored("CommPortIndex").toInt(), 0);
    EXPECT_EQ(Stored("DeviceIndex").toInt(), 0);
    EXPECT_EQ(Stored("Online").toInt(), 1);
}

TEST_F(ConnectDialog, TheRadioButtonsSwitchListsAndCaption) {
    auto dialog = Open();
    QTest::mouseClick(dialog->rbOffline, Qt::LeftButton);
    EXPECT_FALSE(dialog->cbCommPort->isEnabled());
    EXPECT_TRUE(dialog->cbDevice->isEnabled());
    EXPECT_EQ(dialog->btnConnect->text(), "&Edit");
    QTest::mouseClick(dialog->rbOnline, Qt::LeftButton);
    EXPECT_TRUE(dialog->cbCommPort->isEnabled());
    EXPECT_FALSE(dialog->cbDevice->isEnabled());
    EXPECT_EQ(dialog->btnConnect->text(), "&Connect");
}

TEST_F(ConnectDialog, EditClosesWithYesAndOfflineIsRememberedForNextTime) {
    {
        auto dialog = Open();
        QTest::mouseClick(dialog->rbOffline, Qt::LeftButton);
        dialog->cbDevice->setFocus();
        QTest::keyClick(dialog->cbDevice, Qt::Key_Down);
        dialog->cbCommPort->setCurrentIndex(4);
        QTest::mouseClick(dialog->btnConnect, Qt::LeftButton);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), mrYes);
        EXPECT_EQ(dialog->FDeviceInfo.DeviceNumber, 1);
    }
    EXPECT_EQ(Stored("Online").toInt(), 0);
    EXPECT_EQ(Stored("DeviceIndex").toInt(), 1);
    EXPECT_EQ(Stored("CommPortIndex").toInt(), 4);
    auto dialog = Open();
    EXPECT_TRUE(dialog->rbOffline->isChecked());
    EXPECT_FALSE(dialog->rbOnline->isChecked());
    EXPECT_FALSE(dialog->cbCommPort->isEnabled());
    EXPECT_TRUE(dialog->cbDevice->isEnabled());
    EXPECT_EQ(dialog->cbDevice->currentIndex(), 1);
    EXPECT_EQ(dialog->cbCommPort->currentText(), "Comm 5");
    EXPECT_EQ(dialog->btnConnect->text(), "&Edit");
}

TEST_F(ConnectDialog, CancelClosesWithCancelAndRemembersNothing) {
    auto dialog = Open();
    QTest::mouseClick(dialog->rbOffline, Qt::LeftButton);
    QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    EXPECT_EQ(dialog->result(), mrCancel);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(Stored("Online").toInt(), 1);
}

TEST_F(ConnectDialog, ASearchThatCannotStartLeavesTheDialogOpenAndUsable) {
    // Comm 7 leads to a path that does not exist.
    QSettings("Roduzede", "Dezadizi Config Manager").setValue("Ports/COM7", "/nonexistent/ttyDEZ7");
    auto dialog = Open();
    dialog->cbCommPort->setCurrentIndex(6);
    QTest::mouseClick(dialog->btnConnect, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Failed to connect, please check connections and settings"});
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->btnConnect->isEnabled());
    EXPECT_EQ(dialog->btnConnect->text(), "&Connect");
    // The choices were remembered before the search was tried.
    EXPECT_EQ(Stored("CommPortIndex").toInt(), 6);
}

TEST_F(ConnectDialog, SearchResultsAreShownFromTheTimer) {
    auto dialog = Open();
    dialog->FDeviceInfo.CommPort = 3;
    dialog->FDeviceInfo.Address = 1;
    dialog->btnConnect->setEnabled(false);
    dialog->btnConnect->setText("&Connecting");

    // A unit that answers with id 0.
    dialog->SearchDone(nullptr, 0, true);
    EXPECT_TRUE(rig->messages.messages.empty());
    EXPECT_TRUE(dialog->CallBackTimer.isActive());
    EXPECT_EQ(dialog->CallBackTimer.interval(), 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }));
    EXPECT_EQ(rig->messages.Last(), "Could not find a device attached to comm port '3' address '1'\n\n"
                                    "Please ensure the device is connected to the serial bus, \n"
                                    "you have chosen the correct comm port and address,\n"
                                    "and the serial options are set correctly");
    EXPECT_EQ(rig->messages.messages[0].kind, TMessageKind::Error);
    EXPECT_FALSE(dialog->CallBackTimer.isActive());
    EXPECT_TRUE(dialog->btnConnect->isEnabled());
    EXPECT_EQ(dialog->btnConnect->text(), "&Connect");
    EXPECT_TRUE(dialog->isVisible());

    // No answer at all.
    rig->messages.Clear();
    dialog->SearchDone(nullptr, -1, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }));
    EXPECT_EQ(rig->messages.Texts(),
              std::vector<std::string>{"Failed to connect, please check connections and settings\n"});
    EXPECT_TRUE(dialog->isVisible());

    // A unit found: the dialog closes with OK and the reported id.
    rig->messages.Clear();
    dialog->SearchDone(nullptr, 19, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(dialog->result(), mrOk);
    EXPECT_EQ(dialog->FDeviceInfo.DeviceNumber, 19);
    EXPECT_TRUE(rig->messages.messages.empty());
}

TEST_F(ConnectDialog, AResultArrivingAfterTheDialogClosedIsNotShown) {
    auto dialog = Open();
    dialog->FDeviceInfo.CommPort = 2;
    dialog->SearchDone(nullptr, 0, true);
    QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    // The result is shown only from the timer: stopped, nothing is left to show it.
    EXPECT_FALSE(dialog->CallBackTimer.isActive());
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(dialog->result(), mrCancel);
}

TEST(ConnectDialogWithoutDeviceTypes, ConnectKeepsTheRememberedDeviceIndex) {
    ClearRememberedChoices();
    QSettings("Roduzede", "Dezadizi Config Manager").setValue("DeviceIndex", 1);
    TTempDir dir;
    const std::string definitions = dir.Path("Devices.xml");
    {
        QFile file(QString::fromStdString(definitions));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\"?>\n<rur/>\n");
    }
    TWindowRig rig(definitions);
    ASSERT_TRUE(rig.w().Devices()->Devices.empty());
    rig.OpenOffline(0);
    EXPECT_EQ(rig.Current(), nullptr);
    EXPECT_EQ(QSettings("Roduzede", "Dezadizi Config Manager").value("DeviceIndex").toInt(), 1);
    ClearRememberedChoices();
}

// As long as a search with its retries may take.
constexpr int SearchTimeoutMs = 60000;

TEST_F(ConnectDialog, TheSearchAsksTheAddressGivenWhichIsRememberedWithThePort) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17", "--slave", "5"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    QSettings("Roduzede", "Dezadizi Config Manager")
        .setValue("Ports/COM9", QString::fromStdString(sim.Port()));
    {
        auto dialog = Open();
        EXPECT_EQ(dialog->seAddress->value(), 1);
        EXPECT_EQ(dialog->seAddress->minimum(), 1);
        EXPECT_EQ(dialog->seAddress->maximum(), 247);
        dialog->cbCommPort->setCurrentIndex(8);
        // Nobody answers address 1 on this line.
        QTest::mouseClick(dialog->btnConnect, Qt::LeftButton);
        // gtest's checks, not QTest's: a failed QTRY only returns from the test.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !rig->messages.messages.empty(); }, SearchTimeoutMs));
        EXPECT_EQ(rig->messages.Texts(),
                  std::vector<std::string>{"Failed to connect, please check connections and settings\n"});
        rig->messages.Clear();
        dialog->seAddress->setValue(5);
        QTest::mouseClick(dialog->btnConnect, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, SearchTimeoutMs))
            << rig->messages.Last();
        EXPECT_EQ(dialog->result(), mrOk);
        EXPECT_EQ(dialog->FDeviceInfo.Address, 5);
        EXPECT_EQ(dialog->FDeviceInfo.DeviceNumber, 17);
    }
    EXPECT_EQ(Stored("Address").toInt(), 5);
    auto again = Open();
    EXPECT_EQ(again->cbCommPort->currentIndex(), 8);
    EXPECT_EQ(again->seAddress->value(), 5);
    QTest::mouseClick(again->rbOffline, Qt::LeftButton);
    EXPECT_FALSE(again->seAddress->isEnabled());
}
