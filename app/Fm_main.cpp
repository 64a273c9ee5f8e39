#include "app/Fm_main.h"

#include "Version.h"
#include "app/Application.h"
#include "app/Devicechoice.h"
#include "app/Dialogs.h"
#include "app/Fm_compare.h"
#include "app/Fm_connect.h"
#include "app/Fm_history.h"
#include "app/Fm_review.h"
#include "app/Fm_traffic.h"
#include "app/Gradient.h"
#include "app/Grouppage.h"
#include "app/Messageboxes.h"
#include "app/Panel.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Usersettingskeys.h"
#include "definitions/Definitionfile.h"
#include "definitions/Devices.h"
#include "features/Compare.h"
#include "features/History.h"
#include "features/Outcome.h"
#include "features/Writesummary.h"
#include "link/Devicelist.h"
#include "link/Serialmanager.h"
#include "link/Trafficlog.h"
#include "modbus/Masterfactory.h"
#include "modbus/Porttarget.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QThread>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <utility>

namespace {

// Colours with red in the low byte.
constexpr TColorRef TitleFrom = 0xDDDDDD;
constexpr TColorRef TitleTo = 0xFFFFFF;
constexpr TColorRef TitleEdge = 0x9B9B9C;
constexpr TColorRef PaneLine = 0x99A8AC;
constexpr TColorRef ButtonPanel = 0xC8D0D4;

// Added to the failing block's text of a read or write run.
const char* const FailureAdvice = "Check the cable, the unit's power and its Modbus DIP switches.";

const char* const OpenFilter = "RUR Settings File (*.RUR)|*.RUR|All Files (*.*)|*.*";
const char* const SaveFilter =
    "RUR Settings File (*.RUR)|*.RUR|Comma Separated Values (*.CSV)|*.CSV|All Files (*.*)|*.*";

// A vertical scroll bar of a given width; the scroll area lays it out by its size hint.
class TNarrowScrollBar : public QScrollBar {
public:
    explicit TNarrowScrollBar(int width) : QScrollBar(Qt::Vertical), FWidth(width) {}
    QSize sizeHint() const override { return {FWidth, QScrollBar::sizeHint().height()}; }

private:
    int FWidth;
};

QScrollArea* NewScrollBox(QWidget* parent, const QColor& background) {
    auto* box = new QScrollArea(parent);
    box->setFrameShape(QFrame::NoFrame);
    box->setWidgetResizable(false);
    auto* content = new QWidget;
    content->setAutoFillBackground(true);
    QPalette palette = content->palette();
    palette.setColor(QPalette::Window, background);
    content->setPalette(palette);
    box->setWidget(content);
    box->viewport()->setAutoFillBackground(true);
    box->viewport()->setPalette(palette);
    return box;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

} // namespace

TfmMain::TfmMain(QWidget* parent, const std::string& definitionPath) : QMainWindow(parent) {
    setObjectName("fmMain");
    setWindowTitle("Dezadizi (Z7E) Configuration Manager");
    InstallFontSubstitutes();
    QFont windowFont("MS Sans Serif");
    windowFont.setPixelSize(11);
    setFont(windowFont);
    // 1000 x 723 with the frame of a classic window.
    resize(992, 696);
    CreateControls();
    FGeometryRestored = restoreGeometry(QSettings(UserSettings::Organization, UserSettings::Application)
                                            .value(UserSettings::WindowGeometry)
                                            .toByteArray());
    // Creation errors (a missing or faulty definition file) are shown; the window still opens.
    RunGuarded([this, &definitionPath] { FormCreate(definitionPath); });
}

TfmMain::~TfmMain() {
    SetMessageOwner(nullptr);
    // A window destroyed without being closed still lets go of its unit first.
    RunGuarded([this] { FormClose(); });
    FormDestroy();
}

std::string TfmMain::DefinitionPath() {
    return FindDefinitionFile(QCoreApplication::applicationDirPath().toStdString());
}

void TfmMain::CreateControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    auto* clientLayout = new QVBoxLayout(client);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    clientLayout->setSpacing(0);

    CreateTitleStrip(client, clientLayout);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    clientLayout->addLayout(body, 1);

    CreateGroupsPane(client, body);
    CreateSettingsArea(client, body);
    CreateOptionsMenu();
    ConnectHandlers();

    // The wheel scrolls the groups list over it, else the settings area.
    qApp->installEventFilter(this);
    SetMessageOwner(this);
}

void TfmMain::CreateTitleStrip(QWidget* client, QVBoxLayout* clientLayout) {
    // Title strip.
    pnTitle = new QWidget(client);
    pnTitle->setObjectName("pnTitle");
    pnTitle->setFixedHeight(71);
    pnTitle->setToolTip(
        QStringLiteral("Dezadizi (Z7E) Configuration Manager %1").arg(QLatin1String(DezVersion)));
    auto* titleLayout = new QVBoxLayout(pnTitle);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    pb = new QWidget(pnTitle);
    pb->setObjectName("pb");
    pb->installEventFilter(this);
    titleLayout->addWidget(pb);
    Label1 = new QLabel("Dezadizi (Z7E) Configuration Manager", pb);
    Label1->setObjectName("Label1");
    QFont titleFont("Arial Narrow");
    titleFont.setPixelSize(27);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    Label1->move(16, 20);
    Label1->adjustSize();
    clientLayout->addWidget(pnTitle);
}

// Left pane: buttons, groups list, status.
void TfmMain::CreateGroupsPane(QWidget* client, QHBoxLayout* body) {
    auto* groups = new TPanel(client, Qt::white);
    pnGroups = groups;
    pnGroups->setObjectName("pnGroups");
    pnGroups->setFixedWidth(225);
    groups->AddLine(TPanel::TEdge::Right, ColorFromRef(PaneLine), 41);
    auto* groupsLayout = new QVBoxLayout(pnGroups);
    // The right-hand pixel column stays free for the pane's edge line.
    groupsLayout->setContentsMargins(0, 0, 1, 0);
    groupsLayout->setSpacing(0);
    auto* buttonPanel = new TPanel(pnGroups, ColorFromRef(ButtonPanel));
    Panel2 = buttonPanel;
    Panel2->setObjectName("Panel2");
    Panel2->setFixedHeight(41);
    buttonPanel->AddLine(TPanel::TEdge::Bottom, Qt::red);
    groupsLayout->addWidget(Panel2);
    btConnectNew = NewButton(Panel2, "btConnectNew", "&Connect", QRect(8, 8, 81, 25));
    btRefresh2 = NewButton(Panel2, "btRefresh2", "&Options...", QRect(96, 8, 81, 25));
    btRefresh2->installEventFilter(this);
    sbSettingsGroups = NewScrollBox(pnGroups, Qt::white);
    sbSettingsGroups->setObjectName("sbSettingsGroups");
    // The buttons fill the pane's width; a sideways scroll would only hide their edges.
    sbSettingsGroups->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Narrow enough to leave the buttons' full width (13 + 200 pixels) beside it.
    sbSettingsGroups->setVerticalScrollBar(new TNarrowScrollBar(224 - 213));
    sbSettingsGroups->viewport()->installEventFilter(this);
    sbSettingsGroups->widget()->installEventFilter(this);
    groupsLayout->addWidget(sbSettingsGroups, 1);
    pnConnectStatus = new TPanel(pnGroups, Qt::white);
    pnConnectStatus->setObjectName("pnConnectStatus");
    pnConnectStatus->setFixedHeight(33);
    lbConnectStatus = new QLabel("Disconnected.", pnConnectStatus);
    lbConnectStatus->setObjectName("lbConnectStatus");
    lbConnectStatus->setGeometry(6, 3, 211, 27);
    lbConnectStatus->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    // A long device name wraps onto the label's second line rather than being cut off.
    lbConnectStatus->setWordWrap(true);
    QPalette grey = lbConnectStatus->palette();
    grey.setColor(QPalette::WindowText, Qt::gray);
    lbConnectStatus->setPalette(grey);
    groupsLayout->addWidget(pnConnectStatus);
    body->addWidget(pnGroups);
}

// Settings area and the bottom toolbar.
void TfmMain::CreateSettingsArea(QWidget* client, QHBoxLayout* body) {
    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    body->addLayout(right, 1);
    sbMainArea = NewScrollBox(client, palette().color(QPalette::Window));
    sbMainArea->setObjectName("sbMainArea");
    sbMainArea->viewport()->installEventFilter(this);
    sbMainArea->widget()->installEventFilter(this);
    right->addWidget(sbMainArea, 1);
    Pages = std::make_unique<TGroupPages>(sbSettingsGroups, sbMainArea);
    auto* toolbar = new TPanel(client, Qt::white);
    pnToolbarBottom = toolbar;
    pnToolbarBottom->setObjectName("pnToolbarBottom");
    pnToolbarBottom->setFixedHeight(40);
    toolbar->AddLine(TPanel::TEdge::Top, ColorFromRef(PaneLine));
    right->addWidget(pnToolbarBottom);
    lbProgress = new QLabel(pnToolbarBottom);
    lbProgress->setObjectName("lbProgress");
    // Block texts end in a line feed: top-aligned, their first line is the one seen.
    lbProgress->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbProgress->hide();
    ProgressBar1 = new QProgressBar(pnToolbarBottom);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    // Beside the bar while a run goes on: the run ends after the exchange in flight.
    btStop = NewButton(pnToolbarBottom, "btStop", "Stop", QRect(432, 18, 61, 22));
    btStop->hide();
    btWriteSettingsNew =
        NewButton(pnToolbarBottom, "btWriteSettingsNew", "&Write Settings", QRect(560, 8, 91, 25));
    btWriteSettingsNew->setEnabled(false);
    btExitNew = NewButton(pnToolbarBottom, "btExitNew", "E&xit", QRect(664, 8, 91, 25));
    pnToolbarBottom->installEventFilter(this);
    LayOutToolbar();
}

void TfmMain::CreateOptionsMenu() {
    // Options menu.
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    const auto addItem = [this](const char* name, const char* caption, const char* hint) {
        QAction* item = PopupMenu->addAction(caption);
        item->setObjectName(name);
        item->setStatusTip(hint);
        item->setToolTip(hint);
        item->setEnabled(false);
        return item;
    };
    tbLoadSettings = addItem("tbLoadSettings", "&Load Settings", "Load Settings");
    tbSaveSettings = addItem("tbSaveSettings", "&Save Settings", "Save Settings");
    PopupMenu->addSeparator();
    tbRestoreDefault = addItem("tbRestoreDefault", "&Restore Factory Defaults", "Restore Factory Defaults");
    PopupMenu->addSeparator();
    tbCompareFile = addItem("tbCompareFile", "Compare with &File...", "Compare with File");
    tbCompareDefaults =
        addItem("tbCompareDefaults", "Compare with Factory &Defaults", "Compare with Factory Defaults");
    tbHistory = addItem("tbHistory", "&History...", "The record of writes to this device type");
    PopupMenu->addSeparator();
    tbWriteAll =
        addItem("tbWriteAll", "Write &All Settings", "Write every setting, not only the changed ones");
    tbReviewWrites = addItem("tbReviewWrites", "Re&view Changes Before Writing",
                             "Show the settings Write Settings will change before it sends them");
    tbReviewWrites->setCheckable(true);
    tbReviewWrites->setChecked(ReviewWanted());
    // A preference: open whatever the window is doing.
    tbReviewWrites->setEnabled(true);
    PopupMenu->addSeparator();
    tbTrafficLog =
        addItem("tbTrafficLog", "&Traffic Log...", "Every frame sent to and received from the units");
    tbTrafficLog->setEnabled(true);
}

void TfmMain::ConnectHandlers() {
    for (QTimer* timer : {&WrittenSettingsTimer, &FailTimer, &ReadCompleteTimer})
        timer->setInterval(100);

    // Every handler runs behind the standard exception display.
    const auto guarded = [this](void (TfmMain::*handler)()) {
        return [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); };
    };
    connect(btConnectNew, &QPushButton::clicked, this, guarded(&TfmMain::btConnectNewClick));
    // The mouse opens the menu on the press; Space, Enter and Alt+O click the button.
    connect(btRefresh2, &QPushButton::clicked, this, guarded(&TfmMain::btRefresh2Click));
    connect(btWriteSettingsNew, &QPushButton::clicked, this, guarded(&TfmMain::btWriteSettingsNewClick));
    connect(tbWriteAll, &QAction::triggered, this, guarded(&TfmMain::tbWriteAllClick));
    // The review's "Don't ask again" changes the choice too: the item shows it as it is now.
    connect(PopupMenu, &QMenu::aboutToShow, this, [this] { tbReviewWrites->setChecked(ReviewWanted()); });
    connect(tbReviewWrites, &QAction::triggered, this, [](bool checked) { SetReviewWanted(checked); });
    connect(btStop, &QPushButton::clicked, this, guarded(&TfmMain::btStopClick));
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, guarded(&TfmMain::btStopClick));
    connect(btExitNew, &QPushButton::clicked, this, guarded(&TfmMain::btExitNewClick));
    connect(PopupMenu, &QMenu::aboutToHide, this, guarded(&TfmMain::PopupMenuCloseUp));
    connect(tbLoadSettings, &QAction::triggered, this, guarded(&TfmMain::tbLoadSettingsClick));
    connect(tbSaveSettings, &QAction::triggered, this, guarded(&TfmMain::tbSaveSettingsClick));
    connect(tbRestoreDefault, &QAction::triggered, this, guarded(&TfmMain::tbRestoreDefaultClick));
    connect(tbCompareFile, &QAction::triggered, this, guarded(&TfmMain::tbCompareFileClick));
    connect(tbCompareDefaults, &QAction::triggered, this, guarded(&TfmMain::tbCompareDefaultsClick));
    connect(tbHistory, &QAction::triggered, this, guarded(&TfmMain::tbHistoryClick));
    connect(tbTrafficLog, &QAction::triggered, this, guarded(&TfmMain::tbTrafficLogClick));
    connect(&WrittenSettingsTimer, &QTimer::timeout, this, guarded(&TfmMain::WrittenSettingsTimerTimer));
    connect(&FailTimer, &QTimer::timeout, this, guarded(&TfmMain::FailTimerTimer));
    connect(&ReadCompleteTimer, &QTimer::timeout, this, guarded(&TfmMain::ReadCompleteTimerTimer));
}

void TfmMain::LayOutToolbar() {
    // The design's pixel rows at the design font; a larger font makes each row taller.
    const int textHeight = std::max(16, lbProgress->fontMetrics().height() + 2);
    // The bar shows no text: it grows only as far as the font does.
    const int barHeight = std::max(17, lbProgress->fontMetrics().height() + 4);
    const int barTop = std::max(23, 5 + textHeight + 2);
    lbProgress->setGeometry(16, 5, 409, textHeight);
    ProgressBar1->setGeometry(15, barTop, 409, barHeight);
    const auto buttonSize = [](QPushButton* button) {
        return QSize(std::max(91, button->sizeHint().width()), std::max(25, button->sizeHint().height()));
    };
    const QSize write = buttonSize(btWriteSettingsNew);
    const QSize exit = buttonSize(btExitNew);
    const int buttonHeight = std::max(write.height(), exit.height());
    // "Exit" keeps the design's right margin (767 - 755 pixels), "Write Settings" its gap.
    constexpr int RightMargin = 12;
    constexpr int ButtonGap = 13;
    constexpr int ProgressGap = 16;
    // "Stop" sits just right of the bar while a run goes on.
    const QSize stop(std::max(61, btStop->sizeHint().width()), std::max(22, btStop->sizeHint().height()));
    constexpr int StopGap = 6;
    btStop->setGeometry(15 + 409 + StopGap, std::max(0, barTop + barHeight - stop.height()), stop.width(),
                        stop.height());
    const int width = pnToolbarBottom->width();
    const int exitLeft = width - RightMargin - exit.width();
    const int writeLeft = exitLeft - ButtonGap - write.width();
    btExitNew->setGeometry(exitLeft, 8, exit.width(), buttonHeight);
    btWriteSettingsNew->setGeometry(writeLeft, 8, write.width(), buttonHeight);
    pnToolbarBottom->setFixedHeight(std::max({40, barTop + barHeight, 8 + buttonHeight + 7}));
    pnToolbarBottom->setMinimumWidth(15 + 409 + StopGap + stop.width() + ProgressGap + write.width() +
                                     ButtonGap + exit.width() + RightMargin);
}

void TfmMain::FormCreate(const std::string& definitionPath) {
    FCurrentDevice = nullptr;
    // The serial manager and every device type's tree take the store, so the store and its
    // handler come first.
    FModbusHandler = std::make_unique<TModbusHandler>();
    FStore = std::make_unique<TRegisterDataStore>(nullptr, FModbusHandler.get());
    FDevices = std::make_unique<TDevices>(*FStore);
    FTrafficLog = std::make_unique<TTrafficLog>();
    FSerialManager = std::make_unique<TSerialManager>(FStore.get());
    FSerialManager->SetTrafficSink(FTrafficLog.get());
    FReports = &FSerialManager->Reports();

    // Reports of the worker must not wait for this thread: they are queued, in order, and
    // taken here by the event loop.
    FSerialManager->DeviceList()->OnBeginRead = [this] { BeginReadProgress(); };
    FSerialManager->DeviceList()->OnWriteError = [this](const std::string& text) {
        FReports->Post(TWriteErrorReport{text});
    };
    FSerialManager->OnReport = [this](const TWorkerReport& report) { ApplyReport(report); };

    FDevices->LoadFromFile(definitionPath);
}

void TfmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        if (QScreen* screen = this->screen(); screen != nullptr && !FGeometryRestored) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

void TfmMain::closeEvent(QCloseEvent* event) {
    bool leave = false;
    RunGuarded([this, &leave] {
        bool asked = false;
        leave = MayCutOffWrite() && MaySetEditsAside() && MayLeaveUnit([this] { close(); }, asked);
    });
    if (!leave) {
        event->ignore();
        return;
    }
    QSettings(UserSettings::Organization, UserSettings::Application)
        .setValue(UserSettings::WindowGeometry, saveGeometry());
    RunGuarded([this] { FormClose(); });
    event->accept();
}

bool TfmMain::MaySetEditsAside() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr || device->Online || device->Settings->MarkedCount() == 0)
        return true;
    switch (AskYesNoCancel("Save changes to the settings?")) {
    case TAnswer::Yes:
        tbSaveSettingsClick();
        // A save abandoned in the file dialog, or an export, leaves the edits unsaved: stay.
        return device->Settings->MarkedCount() == 0;
    case TAnswer::No:
        return true;
    default:
        return false;
    }
}

bool TfmMain::MayCutOffWrite() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr || !device->Online || !FProgress.Writing())
        return true;
    // Only Yes cuts the write off: the unit would keep part of it and never get the commit.
    return AskYesNoDefaultNo(WriteUnderWayQuestion) == TAnswer::Yes;
}

void TfmMain::ApplyReport(const TWorkerReport& report) {
    if (const auto* error = std::get_if<TWriteErrorReport>(&report.Value)) {
        ShowError(error->Text);
        return;
    }
    // The reports of a run a disconnect ended belong to no run shown any more.
    if (report.Run != FReports->Run())
        return;
    if (const auto* progress = std::get_if<TProgressReport>(&report.Value))
        ApplyProgress(progress->Outcome);
    else if (const auto* begin = std::get_if<TBeginReadReport>(&report.Value))
        ApplyBeginRead(begin->Total);
    else if (const auto* reopened = std::get_if<TReopenedReport>(&report.Value))
        ApplyReopened(reopened->Reopened);
}

void TfmMain::ClearProgress() {
    btStop->hide();
    lbProgress->clear();
    lbProgress->hide();
    ProgressBar1->setValue(0);
    ProgressBar1->hide();
}

void TfmMain::FormClose() {
    TDevice* device = FCurrentDevice;
    if (device != nullptr && device->Online) {
        FSerialManager->DisconnectDevice(device);
        FCurrentDevice = nullptr;
    }
    // A write cut off by closing the window is recorded as it stands.
    FinishRecord();
}

void TfmMain::FormDestroy() {
    qApp->removeEventFilter(this);
    FCurrentDevice = nullptr;
    // A page still shown belongs to a tree about to go.
    Pages->Hide();
    FDevices.reset();
    // It shows the manager's log.
    delete FTraffic.data();
    // Stops every worker, which may still report through the store.
    FSerialManager.reset();
    FGateway.reset();
    for (const auto& opener : FGatewayOpeners)
        opener->wait();
    FGatewayOpeners.clear();
    FStore.reset();
    FModbusHandler.reset();
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Paint:
        if (watched == pb) {
            QPainter canvas(pb);
            PaintGradient(canvas, pb->rect(), TitleFrom, TitleTo, false);
            PaintTitleEdges(canvas, pb->rect(), TitleEdge);
            return true;
        }
        break;
    case QEvent::MouseButtonPress:
        if (watched == btRefresh2 && btRefresh2->isEnabled())
            RunGuarded([this] { btRefresh2MouseDown(); });
        break;
    case QEvent::Resize:
        if (watched == pnToolbarBottom)
            LayOutToolbar();
        // The page is as wide as the area it is shown in, less a scroll bar that has appeared.
        for (QScrollArea* area : {sbMainArea, sbSettingsGroups}) {
            if (watched == area->viewport() || watched == area->widget())
                FitContentWidth(area);
        }
        break;
    case QEvent::MouseButtonRelease:
        if (watched == sbMainArea->viewport() || watched == sbMainArea->widget())
            RunGuarded([this] { sbMainAreaClick(); });
        break;
    case QEvent::Wheel:
        if (auto* widget = qobject_cast<QWidget*>(watched); widget != nullptr && widget->window() == this) {
            const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
            if (sbSettingsGroups->isAncestorOf(widget)) {
                // A notch moves the groups list by three of its buttons, as lists scroll.
                QScrollBar* bar = sbSettingsGroups->verticalScrollBar();
                bar->setValue(bar->value() - delta);
            } else {
                OnMouseWheel(delta);
            }
            // Nothing else scrolls on top of it.
            return true;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfmMain::FitContentWidth(QScrollArea* area) {
    QWidget* content = area->widget();
    const int width = std::max(content->childrenRect().right() + 1, area->viewport()->width());
    if (content->width() != width)
        content->resize(width, content->height());
}

void TfmMain::OnMouseWheel(int delta) {
    QScrollBar* bar = sbMainArea->verticalScrollBar();
    bar->setValue(bar->value() - delta);
}

void TfmMain::sbMainAreaClick() {
    Pages->FocusButton();
}

void TfmMain::btConnectNewClick() {
    if (!MaySetEditsAside())
        return;
    TDevice* current = FCurrentDevice;
    if (current != nullptr && current->Online) {
        if (FProgress.Writing()) {
            if (!MayCutOffWrite())
                return;
        } else {
            bool asked = false;
            if (!MayLeaveUnit([this] { btConnectNewClick(); }, asked))
                return;
            if (!asked && AskYesNo("Are you sure you wish to disconnect?") != TAnswer::Yes)
                return;
        }
        SetConnected(false);
    }

    TDeviceInfo info;
    int result = mrCancel;
    {
        TfmConnect dialog(this);
        FillDeviceList(*FDevices, dialog.cbDevice);
        result = RunConnectDialog(dialog);
        if (result != mrCancel)
            info = dialog.FDeviceInfo;
    }

    if (result == mrOk) {
        TDevice* device = nullptr;
        try {
            device = FDevices->DeviceById(info.DeviceNumber);
        } catch (const std::exception& e) {
            ShowPlain(e.what());
            return;
        }
        FCurrentDevice = device;
        const auto progress = [this](void* sender, const std::string& text, bool errorFlag,
                                     int32_t increment) {
            SettingsProgress(sender, text, errorFlag, increment);
        };
        FStore->OnProgress = progress;
        device->Settings->OnProgress = progress;
        device->Settings->SetEnabled(false);
        // Nothing is marked until the unit's values have been read.
        device->Settings->SetBaseline({}, true);
        FGateway = info.Gateway;
        FGatewayName = info.GatewayName;
        SetConnected(true);
        FSerialManager->ConnectFoundUnit(device, info.CommPort, info.Address);
    } else if (result == mrYes) {
        TDevice* device = nullptr;
        try {
            device = FDevices->DeviceByIndex(info.DeviceNumber);
        } catch (const std::exception& e) {
            ShowPlain(e.what());
            return;
        }
        FCurrentDevice = device;
        lbConnectStatus->setText(QString::fromStdString("Offline edit " + device->Name + "."));
        device->Online = false;
        FReadComplete = false;
        {
            TStoreLock lock(FStore->Lock());
            FStore->Reset();
            device->Settings->RegisterWithStore();
            device->Settings->RestoreDefaults();
        }
        device->Settings->SetBaseline(TakeSnapshot(*device->Settings), false);
        device->Settings->SetEnabled(true);
        SetWriteEnabled(false);
        SetOptionsEnabled(true);
    }

    if (TDevice* device = FCurrentDevice; device != nullptr && result != mrCancel)
        OpenGroupList(device);
}

void TfmMain::OpenGroupList(TDevice* device) {
    device->Settings->OnEdited = [settings = device->Settings.get()] { settings->UpdateMarks(); };
    Pages->BuildGroupList(*device->Settings);
    // Always the first group: a page left from another device would edit the wrong image.
    device->Settings->SelectFirstGroup();
}

void TfmMain::ReleaseDevice(TDevice* device) {
    if (device == nullptr)
        return;
    FSerialManager->DisconnectDevice(device);
    // The port's worker has stopped; the gateway's connection goes with the unit.
    if (const std::shared_ptr<TGatewayMaster> gateway = std::exchange(FGateway, nullptr))
        gateway->Close();
    FGatewayName.clear();
    device->Settings->ClearGroupList();
    // The next unit's record names only a file loaded for it.
    FSettingsFile.clear();
    // The page goes with the list: its editors belong to a device that is no longer edited.
    if (Pages->Shown() != nullptr && Pages->Shown()->Owner == device->Settings.get())
        Pages->Hide();
}

void TfmMain::OpenGateway(const std::shared_ptr<TGatewayMaster>& gateway, QObject* context,
                          std::function<void()> opened) {
    FGatewayOpeners.erase(
        std::remove_if(FGatewayOpeners.begin(), FGatewayOpeners.end(),
                       [](const std::unique_ptr<QThread>& opener) { return opener->isFinished(); }),
        FGatewayOpeners.end());
    std::unique_ptr<QThread> opener(QThread::create([gateway] { gateway->Open(); }));
    // Queued to this thread; dropped when the context has gone.
    connect(opener.get(), &QThread::finished, context, std::move(opened), Qt::QueuedConnection);
    opener->start();
    FGatewayOpeners.push_back(std::move(opener));
}

void TfmMain::SetConnected(bool connected) {
    if (connected) {
        TDevice* device = FCurrentDevice;
        lbConnectStatus->setText(QString::fromStdString(
            "Connected to " + (device != nullptr ? device->Name : std::string()) + "."));
        lbProgress->setText("Reading settings please wait...");
        lbProgress->show();
        FProgress.BeginConnection();
        // Nothing has been read yet: writing now would send an empty image.
        FReadComplete = false;
        SetWriteEnabled(false);
        return;
    }
    ShowDisconnected();
    if (TDevice* device = FCurrentDevice) {
        ReleaseDevice(device);
        FCurrentDevice = nullptr;
    }
    // What the stopped worker still reported belongs to no run shown any more.
    FReports->NewRun();
    ClearProgress();
    FinishRecord();
}

void TfmMain::ShowDisconnected() {
    lbConnectStatus->setText("Disconnected.");
    FProgress.SetWriting(false);
    if (TDevice* device = FCurrentDevice)
        device->Settings->SetEnabled(false);
    SetWriteEnabled(false);
    SetOptionsEnabled(false);
}

void TfmMain::SetEditingEnabled(bool enabled) {
    if (TDevice* device = FCurrentDevice)
        device->Settings->SetEnabled(enabled);
    TDevice* device = FCurrentDevice;
    SetWriteEnabled(enabled && FReadComplete && device != nullptr && device->Online);
    SetOptionsEnabled(enabled);
}

void TfmMain::SetWriteEnabled(bool enabled) {
    btWriteSettingsNew->setEnabled(enabled);
    tbWriteAll->setEnabled(enabled);
}

void TfmMain::SetOptionsEnabled(bool enabled) {
    tbLoadSettings->setEnabled(enabled);
    tbSaveSettings->setEnabled(enabled);
    tbRestoreDefault->setEnabled(enabled);
    tbCompareFile->setEnabled(enabled);
    tbCompareDefaults->setEnabled(enabled);
    tbHistory->setEnabled(enabled);
}

void TfmMain::BeginReadProgress() {
    // Worker thread, under the device-list lock: book-keeping here, controls on the UI thread.
    const int32_t total = FStore->TotalCount();
    if (TDevice* device = FCurrentDevice)
        device->Settings->ClearPending();
    FProgress.Begin(total, false);
    FReports->Post(TBeginReadReport{total});
}

void TfmMain::ApplyBeginRead(int32_t total) {
    ProgressBar1->setRange(0, std::max(total, 0));
    ProgressBar1->setValue(0);
}

void TfmMain::SettingsProgress(void* sender, const std::string& text, bool errorFlag, int32_t increment) {
    (void)sender;
    // Decided on the reporting thread, by the same bookkeeping as the command line's.
    TProgressOutcome outcome = FProgress.Report(*FStore, text, errorFlag, increment);
    // Queued on every thread, so that reports take effect in the order made.
    FReports->Post(TProgressReport{std::move(outcome)});
}

void TfmMain::ApplyProgress(const TProgressOutcome& outcome) {
    if (outcome.Stray)
        return;
    ProgressBar1->show();
    btStop->setVisible(!outcome.Finished);
    lbProgress->show();
    lbProgress->setText(QString::fromStdString(outcome.Text));
    lbProgress->setToolTip(QString());
    SetOptionsEnabled(false);
    SetWriteEnabled(false);
    ProgressBar1->setRange(0, std::max(outcome.Maximum, 0));
    ProgressBar1->setValue(outcome.Position);
    if (!outcome.Finished)
        return;

    ProgressBar1->hide();
    lbProgress->hide();
    if (outcome.Stopped) {
        // A stopped read leaves an image only partly the unit's: editing waits for a new read.
        if (outcome.Writing)
            SetEditingEnabled(true);
        FinishRecord();
        // A stopped write leaves the unit without the save command: a warning, not information.
        (outcome.Writing ? ShowWarning : ShowInformation)(outcome.Text);
        return;
    }
    if (!outcome.ErrorFlag && !outcome.Writing)
        FReadComplete = true;
    if (outcome.AwaitReopen) {
        // The link is reopening the port; editing waits for its report, which decides what to say.
        FFailText = outcome.FailMessage;
        return;
    }
    SetEditingEnabled(true);
    if (!outcome.ErrorFlag) {
        if (outcome.Writing) {
            WrittenSettingsTimer.start();
        } else {
            FReadBaselineDue = true;
            ReadCompleteTimer.start();
        }
    } else if (outcome.Failed) {
        if (outcome.ShowDisconnected)
            ShowDisconnected();
        FFailMessage = outcome.FailMessage + "\n" + FailureAdvice;
        FailTimer.start();
    }
}

void TfmMain::ApplyReopened(bool reopened) {
    if (reopened)
        SetEditingEnabled(true);
    else
        ShowDisconnected();
    FFailMessage = std::string(reopened ? "Writing settings failed, please try writing again" : FFailText) +
                   "\n" + FailureAdvice;
    FailTimer.start();
}

void TfmMain::btWriteSettingsNewClick() {
    TDevice* device = FCurrentDevice;
    if (device != nullptr && device->Online && btWriteSettingsNew->isEnabled() &&
        !ReviewChanges(this, *device->Settings, FDevices->Document->document_element()))
        return;
    StartWrite(false);
}

void TfmMain::tbWriteAllClick() {
    StartWrite(true);
}

void TfmMain::btStopClick() {
    if (btStop->isVisible())
        FStore->RequestStop();
}

bool TfmMain::StartWrite(bool all) {
    // A leaving that waited for an earlier write waits no more.
    FLeaveAfterWrite = nullptr;
    TDevice* current = FCurrentDevice;
    if (current == nullptr || !current->Online || !btWriteSettingsNew->isEnabled())
        return false;
    const std::string port = FGatewayName.empty() ? ComPortName(current->CommPort) : FGatewayName;
    // A run before this one may have left the unit holding values it was never told to save; a
    // record that cannot be read owes nothing here (recording this run then says why).
    std::string unreadable;
    if (RecordSaysCommitOwed(HistoryPath(), port, current->Address, current->DeviceId, unreadable))
        FStore->OweCommit();
    FRecord = std::make_unique<TWriteRecord>(*current, FDevices->Document->document_element(), *FStore, port,
                                             current->Address, FSettingsFile);
    TRunStart start = TRunStart::Busy;
    {
        // The image the write sends is taken under the lock a worker steps it under.
        TStoreLock lock(FStore->Lock());
        start = FProgress.BeginWrite(*FStore, {!all, true});
    }
    if (start != TRunStart::Started) {
        FinishRecord();
        if (start == TRunStart::Unchanged)
            ShowInformation(TRegisterDataStore::RunStartText(start));
        else
            ShowError(TRegisterDataStore::RunStartText(start));
        return false;
    }
    SetWriteEnabled(false);
    const int32_t total = FProgress.Total();
    btStop->show();
    ProgressBar1->setRange(0, std::max(total, 0));
    ProgressBar1->setValue(0);
    lbProgress->setText("Writing settings please wait...");
    lbProgress->show();
    if (TDevice* device = FCurrentDevice)
        device->Settings->SetEnabled(false);
    return true;
}

void TfmMain::btExitNewClick() {
    close();
}

void TfmMain::WrittenSettingsTimerTimer() {
    WrittenSettingsTimer.stop();
    const std::function<void()> leave = std::exchange(FLeaveAfterWrite, nullptr);
    TDevice* device = FCurrentDevice;
    FinishRecord();
    if (device == nullptr)
        return;
    const TRunEnd end = DescribeWrite(*device->Settings, *FStore);
    if (!end.Differences.empty()) {
        // The settings now hold what the unit holds; the page shows it.
        FSerialManager->SelectFirstGroup();
    }
    if (FStore->Verified()) {
        // Read back: the unit is known to hold the settings, so nothing is marked any more.
        TStoreLock lock(FStore->Lock());
        device->Settings->SetBaseline(TakeSnapshot(*device->Settings, true), true);
    }
    if (end.Kind == TMessageKind::Error) {
        ShowError(end.Text());
    } else {
        // Written but not verified is a warning, never information.
        (end.Kind == TMessageKind::Warning ? ShowWarning : ShowInformation)(end.Text());
        // Written (verified, or sent with an unanswered commit): the leaving asked for goes on.
        if (leave && FStore->LastResult() == TRunResult::Completed) {
            FLeaving = true;
            leave();
            FLeaving = false;
        }
    }
}

void TfmMain::FailTimerTimer() {
    FailTimer.stop();
    FinishRecord();
    ShowError(FFailMessage);
}

void TfmMain::ReadCompleteTimerTimer() {
    ReadCompleteTimer.stop();
    FSerialManager->SelectFirstGroup();
    if (TDevice* read = FCurrentDevice; read != nullptr && std::exchange(FReadBaselineDue, false)) {
        // What the unit holds now: the marks measure edits against it.
        TStoreLock lock(FStore->Lock());
        read->Settings->SetBaseline(TakeSnapshot(*read->Settings, true), true);
    } else if (read != nullptr) {
        read->Settings->UpdateMarks();
    }
    // Where the page shows a unit's text otherwise than its registers hold it, the status line
    // says so: the first warning, all of them in its tool tip.
    const TDevice* device = FCurrentDevice;
    if (device == nullptr || device->Settings->ReadWarnings.empty())
        return;
    const std::vector<std::string>& warnings = device->Settings->ReadWarnings;
    QString all;
    for (const std::string& warning : warnings)
        all += (all.isEmpty() ? "" : "\n") + QString::fromStdString(warning);
    QString shown = QString::fromStdString(warnings.front());
    if (warnings.size() > 1)
        shown += QString(" (and %1 more)").arg(warnings.size() - 1);
    lbProgress->setText(shown);
    lbProgress->setToolTip(all);
    lbProgress->show();
}

void TfmMain::btRefresh2MouseDown() {
    // Just below the button, wherever the window manager has put the frame.
    PopupMenu->popup(btRefresh2->mapToGlobal(QPoint(0, btRefresh2->height())));
}

void TfmMain::btRefresh2Click() {
    if (PopupMenu->isVisible())
        return;
    btRefresh2MouseDown();
    // Opened from the keyboard: the arrows start on the first item.
    if (QAction* first = PopupMenu->actions().value(0); first != nullptr && first->isEnabled())
        PopupMenu->setActiveAction(first);
}

void TfmMain::PopupMenuCloseUp() {
    // Drops the button's pressed look.
    btRefresh2->setDown(false);
    btRefresh2->setEnabled(false);
    btRefresh2->setEnabled(true);
}

void TfmMain::tbLoadSettingsClick() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr)
        return;
    const QString path = RunFileDialog(this, {false, "Load Settings...", ".RUR", OpenFilter});
    if (path.isEmpty())
        return;
    // Only No abandons: a question closed without an answer goes ahead.
    if (device->Online &&
        AskYesNo(
            "Are you sure you wish to load the new settings?  This will overwrite any settings stored in "
            "the unit.") == TAnswer::No)
        return;
    // A file saved with other definitions, or holding values outside their limits, loads only
    // when the user says so; the default answer, and closing the box, abandon the load.
    TLoadOptions options;
    for (;;) {
        try {
            device->Settings->LoadFromFile(path.toStdString(), options);
            FSettingsFile = path.toStdString();
            break;
        } catch (const TOtherDefinitionsError& e) {
            if (options.ByName ||
                AskYesNoDefaultNo("This settings file was saved with a different version of "
                                  "Devices.xml. Load it by group and setting names?",
                                  e.ByNameNotes) != TAnswer::Yes)
                throw;
            options.ByName = true;
        } catch (const TOutOfLimitsError& e) {
            if (options.AllowOutOfRange || AskOutOfLimits(e.Values) != TAnswer::Yes)
                return;
            options.AllowOutOfRange = true;
        }
    }
    ShowLoadWarnings(device->Settings->LoadWarnings);
    if (device->Settings->LoadWarnings.empty())
        ShowNotWritten(device);
    // Offline the file is the new reference; online only the unit is.
    if (!device->Online)
        device->Settings->SetBaseline(TakeSnapshot(*device->Settings), false);
    ReadCompleteTimer.start();
}

TAnswer TfmMain::AskOutOfLimits(const std::vector<std::string>& values) {
    // The first few name themselves; a long list is in the box's details.
    constexpr size_t Listed = 10;
    std::string question = TOutOfLimitsError::Summary(values.size()) + ": ";
    for (size_t i = 0; i < values.size() && i < Listed; ++i)
        question += (i == 0 ? "" : "; ") + values[i];
    if (values.size() > Listed)
        question += "; and " + std::to_string(values.size() - Listed) + " more";
    question += values.size() == 1 ? ". Load it anyway?" : ". Load them anyway?";
    return AskYesNoDefaultNo(question, values.size() > Listed ? values : std::vector<std::string>());
}

void TfmMain::ShowLoadWarnings(const std::vector<std::string>& warnings) {
    if (warnings.empty()) {
        // Only a previous load's warnings are taken down; a run's progress text stays.
        if (!lbProgress->toolTip().isEmpty()) {
            lbProgress->setToolTip(QString());
            lbProgress->hide();
        }
        return;
    }
    QString text = QString::fromStdString(warnings.front());
    if (warnings.size() > 1)
        text += QStringLiteral(" (and %1 more)").arg(warnings.size() - 1);
    QStringList all;
    for (const std::string& warning : warnings)
        all << QString::fromStdString(warning);
    lbProgress->setText(text);
    lbProgress->setToolTip(all.join('\n'));
    lbProgress->show();
}

void TfmMain::tbSaveSettingsClick() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr)
        return;
    const QString path = RunFileDialog(this, {true, "Save Settings...", ".RUR", SaveFilter});
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().compare("CSV", Qt::CaseInsensitive) == 0)
        device->Settings->ExportCsv(path.toStdString());
    else
        device->Settings->SaveToFile(path.toStdString());
    if (!device->Online && QFileInfo(path).suffix().compare("CSV", Qt::CaseInsensitive) != 0)
        device->Settings->SetBaseline(TakeSnapshot(*device->Settings), false);
}

void TfmMain::tbRestoreDefaultClick() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr)
        return;
    if (device->Online && AskYesNo("Are you sure you wish to restore the factory defaults?") == TAnswer::No)
        return;
    device->Settings->RestoreDefaults();
    ShowNotWritten(device);
    device->Settings->UpdateMarks();
}

void TfmMain::ShowNotWritten(TDevice* device) {
    // The load question spoke of the unit; nothing has reached it yet.
    if (!device->Online)
        return;
    ProgressBar1->hide();
    lbProgress->setText("Loaded into the program; press Write Settings to send it to the unit.");
    lbProgress->show();
}

void TfmMain::tbCompareFileClick() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr)
        return;
    const QString path = RunFileDialog(this, {false, "Compare with File...", ".RUR", OpenFilter});
    if (path.isEmpty())
        return;
    TScratchTree scratch(*device->Settings, FDevices->Document->document_element());
    TSnapshot other;
    try {
        other = scratch.File(path.toStdString(), false);
    } catch (const TOtherDefinitionsError& e) {
        // As the load asks; values outside their limits need no word, a comparison changes nothing.
        if (AskYesNoDefaultNo("This settings file was saved with a different version of "
                              "Devices.xml. Compare it by group and setting names?",
                              e.ByNameNotes) != TAnswer::Yes)
            return;
        other = scratch.File(path.toStdString(), true);
    }
    ShowComparison(device, QFileInfo(path).fileName().toStdString(), other);
}

void TfmMain::tbCompareDefaultsClick() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr)
        return;
    TScratchTree scratch(*device->Settings, FDevices->Document->document_element());
    ShowComparison(device, "Factory Defaults", scratch.Defaults());
}

void TfmMain::tbHistoryClick() {
    TDevice* device = FCurrentDevice;
    if (device == nullptr)
        return;
    THistory history = ReadHistory(HistoryPath(), {"", std::to_string(device->DeviceId), ""});
    std::reverse(history.Entries.begin(), history.Entries.end());
    delete FHistory.data();
    FHistory = new TfmHistory(this, device->Name, std::move(history.Entries), history.Warnings);
    FHistory->setAttribute(Qt::WA_DeleteOnClose);
    FHistory->show();
}

void TfmMain::tbTrafficLogClick() {
    // One log window: asked again, the open one comes to the front.
    if (FTraffic == nullptr) {
        FTraffic = new TfmTraffic(this, FTrafficLog.get());
        FTraffic->setAttribute(Qt::WA_DeleteOnClose);
    }
    FTraffic->show();
    FTraffic->raise();
    FTraffic->activateWindow();
}

void TfmMain::FinishRecord() {
    // Shown once the run is over: the progress text holds the status line until then.
    if (std::unique_ptr<TWriteRecord> record = std::move(FRecord)) {
        const std::string written = record->Finish(*FStore);
        ShowRecordWarning(record->Warning().empty() || written.empty() ? record->Warning() + written
                                                                       : record->Warning() + "\n" + written);
    }
}

void TfmMain::ShowRecordWarning(const std::string& warning) {
    if (warning.empty())
        return;
    lbProgress->setText(QString::fromStdString(warning));
    lbProgress->setToolTip(QString::fromStdString(warning));
    lbProgress->show();
}

void TfmMain::ShowComparison(TDevice* device, const std::string& otherTitle, const TSnapshot& other) {
    TSnapshot current;
    {
        TStoreLock lock(FStore->Lock()); // a polling worker may be taking values into the tree
        current = TakeSnapshot(*device->Settings);
    }
    delete FCompare.data();
    FCompare =
        new TfmCompare(this, otherTitle, CompareSnapshots(*device->Settings, current, other),
                       [this, device](int32_t group, int32_t entry) { GoToSetting(device, group, entry); });
    FCompare->setAttribute(Qt::WA_DeleteOnClose);
    FCompare->show();
}

void TfmMain::GoToSetting(TDevice* device, int32_t group, int32_t entry) {
    if (device != FCurrentDevice || group < 0 ||
        static_cast<size_t>(group) >= device->Settings->Groups.size())
        return;
    TGroup& shown = *device->Settings->Groups[static_cast<size_t>(group)];
    if (Pages->Shown() != &shown)
        shown.Select();
    activateWindow();
    if (sbMainArea->widget() == nullptr)
        return;
    // The entry's controls carry its position; its editor is the first of them that takes focus.
    for (QWidget* control : sbMainArea->widget()->findChildren<QWidget*>()) {
        if (control->property("tag").toInt() == entry && control->property("tag").isValid() &&
            control->focusPolicy() != Qt::NoFocus && qobject_cast<QLabel*>(control) == nullptr) {
            sbMainArea->ensureWidgetVisible(control);
            control->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}
