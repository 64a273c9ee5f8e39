#include "app/Fm_connect.h"

#include "app/Application.h"
#include "app/Fm_main.h"
#include "app/Registry.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Usersettingskeys.h"
#include "link/Serialmanager.h"
#include "modbus/Masterfactory.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Porttarget.h"
#include "modbus/SerialPort.h"
#include "settings/Device.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

const char* const InstructionText =
    "1) Set the correct communication settings in the right hand pane.\n"
    "2) Set the Dezadizi to Modbus protocol via the DIP switches.\n"
    "3) Power the unit up and click the 'Connect' button\n\n"
    "You can modify a configuration settings file offline by choosing the 'Offline Setting Editor' "
    "option and selecting the type of device.\n\n";

// A gateway's reply time-out unless the user chose one: the serial one and the gateway's margin.
int32_t DefaultGatewayTimeoutMs() {
    return MbusRtuMasterProtocol().Timeout() + GatewayReplyMarginMs;
}

} // namespace

TfmConnect::TfmConnect(TfmMain* owner) : QDialog(owner), FMain(owner) {
    setObjectName("fmConnect");
    setWindowTitle("Connect");
    QFont dialogFont("MS Sans Serif");
    dialogFont.setPixelSize(11);
    setFont(dialogFont);
    // A fixed dialog border.
    setFixedSize(604, 400);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    gbInstructions = new QGroupBox(this);
    gbInstructions->setGeometry(16, 8, 193, 329);
    Label1 = new QLabel("Connect Instructions...", gbInstructions);
    Label1->setObjectName("Label1");
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->move(8, 16);
    Label1->adjustSize();
    lbInstructions = new QLabel(gbInstructions);
    lbInstructions->setObjectName("lbInstructions");
    lbInstructions->setGeometry(8, 40, 169, 249);
    lbInstructions->setWordWrap(true);
    lbInstructions->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    gbConnection = new QGroupBox(this);
    gbConnection->setGeometry(224, 8, 364, 329);
    rbOnline = new QRadioButton("Online Configuration Manager", gbConnection);
    rbOnline->setObjectName("rbOnline");
    rbOnline->move(16, 24);
    rbOnline->adjustSize();
    rbOnline->setChecked(true);
    // Made here, between the online choice and the serial part: the tab order follows.
    CreateGatewayPart();

    Label4 = new QLabel("Comm Port", gbConnection);
    Label4->setObjectName("Label4");
    Label4->move(40, 65);
    Label4->adjustSize();
    Label3 = new QLabel("The comm port number can be found in your PC's device manager ", gbConnection);
    Label3->setObjectName("Label3");
    // Wrapped within the pane: with the fonts a system substitutes the hint is wider than the pane.
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label3->setGeometry(16, 96, 332, 2 * Label3->fontMetrics().lineSpacing() + 2);
    lbAddress = new QLabel("Address", gbConnection);
    lbAddress->setObjectName("lbAddress");
    lbAddress->move(40, 150);
    lbAddress->adjustSize();
    rbOffline = new QRadioButton("Offline Settings Editor", gbConnection);
    rbOffline->setObjectName("rbOffline");
    rbOffline->move(16, 205);
    rbOffline->adjustSize();
    Label7 = new QLabel("Device", gbConnection);
    Label7->setObjectName("Label7");
    Label7->move(40, 241);
    Label7->adjustSize();
    cbDevice = new QComboBox(gbConnection);
    cbDevice->setObjectName("cbDevice");
    cbDevice->setGeometry(136, 237, 209, cbDevice->sizeHint().height());

    // The comm port list lies over the right pane, placed in dialog coordinates.
    cbCommPort = new QComboBox(this);
    cbCommPort->setObjectName("cbCommPort");
    for (int i = 0; i < ComPortCount; ++i)
        cbCommPort->addItem(QString("Comm %1").arg(i + 1));
    cbCommPort->setGeometry(368, 69, 145, cbCommPort->sizeHint().height());
    cbCommPort->raise();
    seAddress = new QSpinBox(this);
    seAddress->setObjectName("seAddress");
    seAddress->setRange(SerialPort::MinSlaveAddress, SerialPort::MaxSlaveAddress);
    seAddress->setValue(1);
    seAddress->setGeometry(368, 154, 145, seAddress->sizeHint().height());
    seAddress->raise();

    btnConnect = new QPushButton("&Connect", this);
    btnConnect->setObjectName("btnConnect");
    btnConnect->setGeometry(424, 360, 75, 25);
    btnConnect->setDefault(true);
    // Alt+C belongs to "&Connect".
    btnCancel = new QPushButton("C&ancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(512, 360, 75, 25);

    CallBackTimer.setInterval(100);
    CallBackTimer.setSingleShot(false);

    // Every handler goes through the standard exception display.
    connect(rbOnline, &QRadioButton::clicked, this,
            [this] { RunGuarded([this] { rbOnlineClick(rbOnline); }); });
    connect(rbOffline, &QRadioButton::clicked, this,
            [this] { RunGuarded([this] { rbOnlineClick(rbOffline); }); });
    connect(rbSerial, &QRadioButton::toggled, this, [this] { ShowWayParts(); });
    connect(btnConnect, &QPushButton::clicked, this, [this] { RunGuarded([this] { btConnectClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { RunGuarded([this] { btCancelClick(); }); });
    connect(&CallBackTimer, &QTimer::timeout, this, [this] { RunGuarded([this] { CallBackTimerTimer(); }); });
}

// The choice of serial port or network gateway, and the gateway's fields, which share the
// serial part's place in the pane while the gateway is chosen.
void TfmConnect::CreateGatewayPart() {
    // Serial or gateway, between the online choice and its part.
    auto* pnWay = new QWidget(gbConnection);
    pnWay->setObjectName("pnWay");
    pnWay->setGeometry(40, 43, 310, 19);
    rbSerial = new QRadioButton("Serial port", pnWay);
    rbSerial->setObjectName("rbSerial");
    rbSerial->move(0, 0);
    rbSerial->adjustSize();
    rbSerial->setChecked(true);
    rbGateway = new QRadioButton("Network gateway", pnWay);
    rbGateway->setObjectName("rbGateway");
    rbGateway->move(104, 0);
    rbGateway->adjustSize();
    // A group of their own: left to themselves they would also exclude the online and offline
    // choices around them.
    auto* wayGroup = new QButtonGroup(this);
    wayGroup->addButton(rbSerial);
    wayGroup->addButton(rbGateway);

    lbHost = new QLabel("Host", gbConnection);
    lbHost->setObjectName("lbHost");
    lbHost->move(40, 68);
    lbHost->adjustSize();
    edHost = new QLineEdit(gbConnection);
    edHost->setObjectName("edHost");
    edHost->setGeometry(144, 64, 201, edHost->sizeHint().height());
    lbNetworkPort = new QLabel("Port", gbConnection);
    lbNetworkPort->setObjectName("lbNetworkPort");
    lbNetworkPort->move(40, 95);
    lbNetworkPort->adjustSize();
    seNetworkPort = new QSpinBox(gbConnection);
    seNetworkPort->setObjectName("seNetworkPort");
    seNetworkPort->setRange(1, 65535);
    seNetworkPort->setValue(ModbusTcpDefaultPort);
    seNetworkPort->setGeometry(144, 91, 70, seNetworkPort->sizeHint().height());
    cbGatewayKind = new QComboBox(gbConnection);
    cbGatewayKind->setObjectName("cbGatewayKind");
    cbGatewayKind->addItem("Modbus TCP");
    cbGatewayKind->addItem("RTU over TCP");
    cbGatewayKind->setGeometry(222, 91, 123, cbGatewayKind->sizeHint().height());
    lbReplyTimeout = new QLabel("Reply time-out (ms)", gbConnection);
    lbReplyTimeout->setObjectName("lbReplyTimeout");
    lbReplyTimeout->move(40, 122);
    lbReplyTimeout->adjustSize();
    seReplyTimeout = new QSpinBox(gbConnection);
    seReplyTimeout->setObjectName("seReplyTimeout");
    seReplyTimeout->setRange(100, 60000);
    seReplyTimeout->setSingleStep(100);
    seReplyTimeout->setValue(DefaultGatewayTimeoutMs());
    seReplyTimeout->setGeometry(144, 118, 70, seReplyTimeout->sizeHint().height());
}

TfmConnect::~TfmConnect() {
    WithdrawSearch();
}

void TfmConnect::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!FShown) {
        FShown = true;
        // Centred on the owner.
        if (parentWidget() != nullptr) {
            const QRect owner = parentWidget()->frameGeometry();
            move(owner.center() - rect().center());
        }
        RunGuarded([this] { FormShow(); });
    }
}

void TfmConnect::FormShow() {
    lbInstructions->setText(InstructionText);
    cbCommPort->setCurrentIndex(ReadRegistryInteger(UserSettings::CommPortIndex, 0));
    seAddress->setValue(ReadRegistryInteger(UserSettings::Address, 1));
    const bool gateway = ReadRegistryBool(UserSettings::Gateway, false);
    rbSerial->setChecked(!gateway);
    rbGateway->setChecked(gateway);
    edHost->setText(QSettings(UserSettings::Organization, UserSettings::Application)
                        .value(UserSettings::GatewayHost)
                        .toString());
    seNetworkPort->setValue(ReadRegistryInteger(UserSettings::GatewayPort, ModbusTcpDefaultPort));
    cbGatewayKind->setCurrentIndex(ReadRegistryInteger(UserSettings::GatewayKind, 0));
    seReplyTimeout->setValue(
        ReadRegistryInteger(UserSettings::GatewayReplyTimeout, DefaultGatewayTimeoutMs()));
    cbDevice->setCurrentIndex(ReadRegistryInteger(UserSettings::DeviceIndex, 0));
    const bool online = ReadRegistryBool(UserSettings::Online, true);
    rbOnline->setChecked(online);
    rbOffline->setChecked(!online);
    rbOnlineClick(online ? rbOnline : rbOffline);
    rgConnectionTypeClick();
}

void TfmConnect::rbOnlineClick(QRadioButton* sender) {
    const bool online = sender == rbOnline;
    cbDevice->setEnabled(!online);
    btnConnect->setText(online ? "&Connect" : "&Edit");
    ShowWayParts();
}

void TfmConnect::rgConnectionTypeClick() {
    ShowWayParts();
}

void TfmConnect::ShowWayParts() {
    const bool online = rbOnline->isChecked();
    const bool gateway = rbGateway->isChecked();
    rbSerial->setEnabled(online);
    rbGateway->setEnabled(online);
    for (QWidget* serialPart :
         {static_cast<QWidget*>(Label4), static_cast<QWidget*>(Label3), static_cast<QWidget*>(cbCommPort)}) {
        serialPart->setVisible(!gateway);
        serialPart->setEnabled(online && !gateway);
    }
    for (QWidget* gatewayPart :
         {static_cast<QWidget*>(lbHost), static_cast<QWidget*>(edHost), static_cast<QWidget*>(lbNetworkPort),
          static_cast<QWidget*>(seNetworkPort), static_cast<QWidget*>(cbGatewayKind),
          static_cast<QWidget*>(lbReplyTimeout), static_cast<QWidget*>(seReplyTimeout)}) {
        gatewayPart->setVisible(gateway);
        gatewayPart->setEnabled(online && gateway);
    }
    seAddress->setEnabled(online);
}

std::string TfmConnect::GatewayTargetText() const {
    std::string host = edHost->text().trimmed().toStdString();
    // An IPv6 address is written in brackets before its port.
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    return (cbGatewayKind->currentIndex() == 1 ? "rtu+tcp://" : "tcp://") + host + ":" +
           std::to_string(seNetworkPort->value()) + "@" + std::to_string(seAddress->value());
}

void TfmConnect::btConnectClick() {
    // Releasing the current device frees an offline device's groups list at once, whatever
    // becomes of this dialog.
    if (TDevice* current = FMain->FCurrentDevice)
        FMain->ReleaseDevice(current);

    WriteRegistryInteger(UserSettings::CommPortIndex, cbCommPort->currentIndex());
    WriteRegistryInteger(UserSettings::Address, seAddress->value());
    // An empty list has no choice to remember; the one remembered before stays.
    if (cbDevice->currentIndex() >= 0)
        WriteRegistryInteger(UserSettings::DeviceIndex, cbDevice->currentIndex());
    WriteRegistryBool(UserSettings::Online, rbOnline->isChecked());
    WriteRegistryBool(UserSettings::Gateway, rbGateway->isChecked());
    QSettings(UserSettings::Organization, UserSettings::Application)
        .setValue(UserSettings::GatewayHost, edHost->text().trimmed());
    WriteRegistryInteger(UserSettings::GatewayPort, seNetworkPort->value());
    WriteRegistryInteger(UserSettings::GatewayKind, cbGatewayKind->currentIndex());
    WriteRegistryInteger(UserSettings::GatewayReplyTimeout, seReplyTimeout->value());

    if (rbOnline->isChecked() && rbGateway->isChecked()) {
        ConnectGateway();
        return;
    }
    try {
        if (rbOnline->isChecked()) {
            btnConnect->setEnabled(false);
            btnConnect->setText("&Connecting");
            FDeviceInfo.CommPort = cbCommPort->currentIndex() + 1;
            FDeviceInfo.Address = seAddress->value();
            FDeviceInfo.Gateway = nullptr;
            FDeviceInfo.GatewayName.clear();
            FSearchWhere = QString("Comm %1").arg(FDeviceInfo.CommPort);
            // The guard keeps a result that arrives after this dialog has gone from reaching it.
            QPointer<TfmConnect> self(this);
            FMain->FSerialManager->SearchForDevice(
                FDeviceInfo.CommPort, FDeviceInfo.Address,
                [self](TSerialThread* worker, int32_t deviceId, bool found) {
                    if (self)
                        self->SearchDone(worker, deviceId, found);
                });
            FSearchPort = FDeviceInfo.CommPort;
            ShowSearching(true);
        } else {
            FDeviceInfo.DeviceNumber = cbDevice->currentIndex();
            done(mrYes);
        }
    } catch (const std::exception&) {
        btnConnect->setEnabled(true);
        btnConnect->setText("&Connect");
        throw std::runtime_error("Failed to connect, please check connections and settings");
    }
}

void TfmConnect::ConnectGateway() {
    std::string rule;
    const std::optional<TPortTarget> target = ParsePortTarget(GatewayTargetText(), &rule);
    if (!target)
        throw TModelError(rule);
    FDeviceInfo.CommPort = GatewayCommPort;
    FDeviceInfo.Address = target->address;
    FDeviceInfo.GatewayName = GatewayText(*target);
    FDeviceInfo.Gateway = MakeGatewayMaster(*target);
    FDeviceInfo.Gateway->SetTimeout(seReplyTimeout->value());
    FSearchWhere = QString::fromStdString(FDeviceInfo.GatewayName);
    btnConnect->setEnabled(false);
    btnConnect->setText("&Connecting");
    FConnectingGateway = true;
    ShowSearching(true);
    // Connecting may take seconds: never on this thread.
    TPortTarget mapped = *target;
    mapped.port = GatewayCommPort;
    std::shared_ptr<TGatewayMaster> gateway = FDeviceInfo.Gateway;
    FMain->OpenGateway(gateway, this, [this, gateway, mapped] {
        RunGuarded([this, gateway, mapped] {
            // A dialog closed meanwhile searches no more.
            if (!FConnectingGateway)
                return;
            FConnectingGateway = false;
            if (!gateway->IsOpen()) {
                ShowSearching(false);
                EnableConnect();
                throw TModelError(gateway->LastErrorText());
            }
            FMain->FSerialManager->MapPort(GatewayCommPort, mapped, gateway);
            StartGatewaySearch();
        });
    });
}

void TfmConnect::StartGatewaySearch() {
    try {
        QPointer<TfmConnect> self(this);
        FMain->FSerialManager->SearchForDevice(GatewayCommPort, FDeviceInfo.Address,
                                               [self](TSerialThread* worker, int32_t deviceId, bool found) {
                                                   if (self)
                                                       self->SearchDone(worker, deviceId, found);
                                               });
        FSearchPort = GatewayCommPort;
    } catch (const std::exception&) {
        ShowSearching(false);
        EnableConnect();
        throw std::runtime_error("Failed to connect, please check connections and settings");
    }
}

void TfmConnect::EnableConnect() {
    btnConnect->setEnabled(true);
    btnConnect->setText("&Connect");
}

void TfmConnect::btCancelClick() {
    done(mrCancel);
}

void TfmConnect::SearchDone(TSerialThread* worker, int32_t deviceId, bool found) {
    (void)worker;
    FSearchPort = 0;
    ShowSearching(false);
    FFound = found;
    FDeviceInfo.DeviceNumber = deviceId;
    CallBackTimer.start();
}

void TfmConnect::CallBackTimerTimer() {
    CallBackTimer.stop();
    EnableConnect();
    const TGatewayMaster* gateway = FDeviceInfo.Gateway.get();
    // A unit answering with no device id is no unit found, behind a gateway as on a comm port.
    if (gateway != nullptr &&
        (FDeviceInfo.DeviceNumber == 0 || (!FFound && GatewayFoundNoUnit(gateway->LastCode())))) {
        ShowError("Could not find a device behind gateway '" + gateway->GatewayAddress() + "' address '" +
                  std::to_string(FDeviceInfo.Address) + "'\n\n" +
                  "Please ensure the device is connected to the gateway's serial bus, \n"
                  "you have chosen the correct gateway and address,\n"
                  "and the gateway's serial options are set correctly");
    } else if (gateway != nullptr && !FFound && !gateway->LastErrorText().empty()) {
        ShowError("Failed to connect, please check connections and settings\n" + gateway->LastErrorText());
    } else if (FDeviceInfo.DeviceNumber == 0) {
        ShowError("Could not find a device attached to comm port '" + std::to_string(FDeviceInfo.CommPort) +
                  "' address '" + std::to_string(FDeviceInfo.Address) + "'\n\n" +
                  "Please ensure the device is connected to the serial bus, \n"
                  "you have chosen the correct comm port and address,\n"
                  "and the serial options are set correctly");
    } else if (!FFound) {
        ShowError("Failed to connect, please check connections and settings\n");
    } else {
        done(mrOk);
    }
}

void TfmConnect::done(int result) {
    FConnectingGateway = false;
    WithdrawSearch();
    CallBackTimer.stop();
    QDialog::done(result);
}

void TfmConnect::ShowSearching(bool searching) {
    if (searching == FSearching)
        return;
    FSearching = searching;
    if (searching) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        setWindowTitle(QString("Connect - searching %1...").arg(FSearchWhere));
    } else {
        QApplication::restoreOverrideCursor();
        setWindowTitle("Connect");
    }
}

void TfmConnect::WithdrawSearch() {
    ShowSearching(false);
    if (FSearchPort == 0)
        return;
    const int32_t port = FSearchPort;
    FSearchPort = 0;
    if (FMain != nullptr && FMain->FSerialManager)
        FMain->FSerialManager->WithdrawSearch(port);
}
