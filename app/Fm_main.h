#pragma once
// The main window: owner of the catalogue, the serial manager, the register data store and
// the Modbus handler; the groups list on the left, the selected group's page on the right.
#include "base/Messages.h"
#include "link/Runprogress.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QHBoxLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QThread;
class QVBoxLayout;
class QWidget;
class TDevice;
class TGatewayMaster;
class TGroupPages;
class TfmCompare;
class TfmHistory;
class TfmTraffic;
class TTrafficLog;
class TWriteRecord;
struct TSnapshot;
class TDevices;
class TModbusHandler;
class TRegisterDataStore;
class TReportQueue;
class TSerialManager;
struct TWorkerReport;

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    // `definitionPath` is the definition file to load; by default the one DefinitionPath() finds.
    explicit TfmMain(QWidget* parent = nullptr, const std::string& definitionPath = DefinitionPath());
    ~TfmMain() override;

    TDevices* Devices() const { return FDevices.get(); }
    TRegisterDataStore* Store() const { return FStore.get(); }

    // The definition file next to the executable, else in the XDG data folders.
    static std::string DefinitionPath();

    // The progress callback of the register data store (worker thread) and of the current
    // device's settings tree (user-interface thread).
    void SettingsProgress(void* sender, const std::string& text, bool errorFlag, int32_t increment);
    // Called on the worker when it has collected the registers of a read run.
    void BeginReadProgress();

    static constexpr const char* WriteUnderWayQuestion =
        "A write to the unit is in progress. Stop it and leave the unit partly written?";

    // Hands the device to the serial manager and takes its groups list and shown page down.
    void ReleaseDevice(TDevice* device);

    // Connects `gateway` on a thread of its own (it may take seconds), then runs `opened` on this
    // thread unless `context` has gone meanwhile.
    void OpenGateway(const std::shared_ptr<TGatewayMaster>& gateway, QObject* context,
                     std::function<void()> opened);

    // The device type being edited, or none; read on the worker too.
    std::atomic<TDevice*> FCurrentDevice{nullptr};
    // Every frame of every port; made before the manager, whose workers hand it frames, and
    // gone after it.
    std::unique_ptr<TTrafficLog> FTrafficLog;
    std::unique_ptr<TSerialManager> FSerialManager;
    // The manager's report queue, set with it. Workers post to it while the manager stops them,
    // when FSerialManager no longer points to it.
    TReportQueue* FReports = nullptr;

    // Controls, by the names the handlers use.
    QWidget* pnTitle;
    QWidget* pb;
    QLabel* Label1;
    QWidget* pnGroups;
    QWidget* Panel2;
    QPushButton* btConnectNew;
    QPushButton* btRefresh2;
    QScrollArea* sbSettingsGroups;
    QWidget* pnConnectStatus;
    QLabel* lbConnectStatus;
    QScrollArea* sbMainArea;
    // The groups list in sbSettingsGroups and the page of the shown group in sbMainArea.
    std::unique_ptr<TGroupPages> Pages;
    QWidget* pnToolbarBottom;
    QLabel* lbProgress;
    QProgressBar* ProgressBar1;
    QPushButton* btStop;
    QPushButton* btWriteSettingsNew;
    QPushButton* btExitNew;
    QMenu* PopupMenu;
    QAction* tbLoadSettings;
    QAction* tbSaveSettings;
    QAction* tbRestoreDefault;
    QAction* tbWriteAll;
    QAction* tbReviewWrites;
    QAction* tbCompareFile;
    QAction* tbCompareDefaults;
    QAction* tbHistory;
    QAction* tbTrafficLog;
    QTimer WrittenSettingsTimer;
    QTimer FailTimer;
    QTimer ReadCompleteTimer;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    // The parts CreateControls builds, in the order they are created (which is the tab order).
    void CreateTitleStrip(QWidget* client, QVBoxLayout* clientLayout);
    void CreateGroupsPane(QWidget* client, QHBoxLayout* body);
    void CreateSettingsArea(QWidget* client, QHBoxLayout* body);
    void CreateOptionsMenu();
    void ConnectHandlers();
    void FormCreate(const std::string& definitionPath);
    void FormClose();
    void FormDestroy();

    void btConnectNewClick();
    void btRefresh2MouseDown();
    void btRefresh2Click();
    // Places the progress text and bar at the bottom left and the buttons at the bottom right.
    void LayOutToolbar();
    void PopupMenuCloseUp();
    void tbLoadSettingsClick();
    // The question for values of a settings file outside their limits.
    static TAnswer AskOutOfLimits(const std::vector<std::string>& values);
    // The status line: the load's warnings, all of them in its tooltip.
    void ShowLoadWarnings(const std::vector<std::string>& warnings);
    void tbSaveSettingsClick();
    void tbRestoreDefaultClick();
    void tbCompareFileClick();
    void tbCompareDefaultsClick();
    // The record of writes to the device type open.
    void tbHistoryClick();
    void tbTrafficLogClick();
    // Records the write run that has ended, if one is being recorded; a warning goes on the
    // status line.
    void FinishRecord();
    void ShowRecordWarning(const std::string& warning);
    // Shows the settings whose values differ between the tree being edited and `other`.
    void ShowComparison(TDevice* device, const std::string& otherTitle, const TSnapshot& other);
    // Shows a group of the device type being edited and puts the focus on an entry's editor.
    void GoToSetting(TDevice* device, int32_t group, int32_t entry);
    void btWriteSettingsNewClick();
    void tbWriteAllClick();
    void btStopClick();
    // Starts a write of what differs from the unit, or of everything; tells the user when
    // nothing differs. Returns whether a write started.
    bool StartWrite(bool all);
    void SetWriteEnabled(bool enabled);
    void btExitNewClick();
    void sbMainAreaClick();
    void OnMouseWheel(int delta);
    // A scroll area's content is as wide as its controls or its viewport, whichever is wider.
    void FitContentWidth(QScrollArea* area);
    void WrittenSettingsTimerTimer();
    void FailTimerTimer();
    void ReadCompleteTimerTimer();

    void SetConnected(bool connected);
    // Online, after the program's copy changed without a write: says the unit still differs.
    void ShowNotWritten(TDevice* device);
    void ShowDisconnected();
    void SetEditingEnabled(bool enabled);
    void SetOptionsEnabled(bool enabled);
    // Shows the settings tree's groups list and its first group.
    void OpenGroupList(TDevice* device);
    // The user-interface half of a progress report.
    void ApplyProgress(const TProgressOutcome& outcome);
    void ApplyBeginRead(int32_t total);
    // The link's recovery after a failed write has ended.
    void ApplyReopened(bool reopened);
    // Whether a write run is under way; if so, asks whether to cut it off (default No).
    bool MayCutOffWrite();
    // Offline edits not saved to a settings file: asks whether to save them; false when the
    // engineer stays (Cancel, or a save that did not happen).
    bool MaySetEditsAside();
    // Online, leaving the unit (Exit, Connect, closing the window) with settings it does not
    // hold: asks whether to write them first (Fm_review.cpp). Yes starts the write, and `leave`
    // runs once it has ended well. False when the window stays for now; `asked` is set when the
    // engineer has already answered for leaving.
    bool MayLeaveUnit(std::function<void()> leave, bool& asked);
    // The progress text and bar of a run that was cut off.
    void ClearProgress();
    // A report of the link, on this thread: what it means for the window.
    void ApplyReport(const TWorkerReport& report);

    std::unique_ptr<TDevices> FDevices;
    std::unique_ptr<TModbusHandler> FModbusHandler;
    std::unique_ptr<TRegisterDataStore> FStore;
    TProgressTracker FProgress;
    std::string FFailMessage;
    // The failing block's text of a failed write, shown when its port could not be reopened.
    std::string FFailText;
    // Set once a read run of the connected unit has completed: until then "Write Settings"
    // would send an image that holds nothing read from the unit.
    bool FReadComplete = false;
    bool FShown = false;
    // A size and position remembered from the last run; the window is then not centred.
    bool FGeometryRestored = false;
    QPointer<TfmCompare> FCompare;
    QPointer<TfmHistory> FHistory;
    QPointer<TfmTraffic> FTraffic;
    // The write run being recorded, and the settings file last loaded (the record names it).
    std::unique_ptr<TWriteRecord> FRecord;
    std::string FSettingsFile;
    // Set when a read run of the unit has completed: its values become the baseline of the marks.
    bool FReadBaselineDue = false;
    // What leaving waits for while the write it asked for runs; set while that leaving goes on.
    std::function<void()> FLeaveAfterWrite;
    bool FLeaving = false;
    // The connection of a unit reached through a gateway and its text, while it is connected.
    std::shared_ptr<TGatewayMaster> FGateway;
    std::string FGatewayName;
    // Gateway connections under way; each ends within the connect time-out.
    std::vector<std::unique_ptr<QThread>> FGatewayOpeners;
};
