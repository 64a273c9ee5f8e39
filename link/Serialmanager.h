#pragma once
// Opens comm ports, owns one worker and one Modbus master per open port, and the list of device
// types connected online.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/Serialthread.h"
#include "link/Workerreport.h"
#include "modbus/Porttarget.h"
#include "modbus/Trafficframe.h"

class MbusMasterFunctions;
class MbusSerialMasterProtocol;
class QObject;
class TDevice;
class TDeviceList;
class TPortTrafficSink;
class TRegisterDataStore;
class TTrafficLog;

class TSerialManager {
public:
    // Makes the master for a newly opened serial port; tests replace it.
    using TProtocolFactory = std::function<std::unique_ptr<MbusSerialMasterProtocol>()>;

    explicit TSerialManager(TRegisterDataStore* store, TProtocolFactory factory = {});
    ~TSerialManager();
    TSerialManager(const TSerialManager&) = delete;
    TSerialManager& operator=(const TSerialManager&) = delete;

    // User-interface thread; failures raise with the message to show.
    void SearchForDevice(int32_t commPort, int32_t address, TSearchCallback callback);
    void ConnectDevice(TDevice* device);
    // A unit found on `commPort`: its device type goes online there, the store forgets what the
    // last connection confirmed, and the worker reads the unit.
    void ConnectFoundUnit(TDevice* device, int32_t commPort, int32_t address);
    void DisconnectDevice(TDevice* device);
    void SelectFirstGroup();
    // The recovery after a failed write: up to `attempts` reopens of the port, `pause` after
    // each that fails. Runs on the worker whose write failed, outside the device-list lock; it
    // is the only one who may touch that port while it is open. Its outcome is reported
    // (TReopenedReport).
    static constexpr int ReopenAttempts = 3;
    static constexpr std::chrono::milliseconds ReopenPause{1000};
    void SetReopenPolicy(int attempts, std::chrono::milliseconds pause);

    // The workers' reports, and the owner's own (progress, the start of a read, a failed write
    // step), posted by the callbacks it gives the store and the device list.
    TReportQueue& Reports() { return FReports; }
    // The owner's handler of every report the link does not handle itself, on the owner's thread.
    std::function<void(const TWorkerReport& report)> OnReport;
    // Owner's thread: handles the queued reports in order: a search's result and a refresh of
    // the shown settings here, the rest by OnReport. A handler may stop a worker: the reports
    // of a worker that has gone are dropped.
    void ProcessReports();
    // By default the reports are processed on the event loop of the thread that made the
    // manager, one queued wake-up draining the queue. An owner without one (the command line)
    // calls this, then waits with Reports().WaitUntil and calls ProcessReports in its own loop.
    void ProcessReportsInOwnLoop();
    // The requester of a pending search on this port no longer wants its result.
    void WithdrawSearch(int32_t commPort);

    // Opens `commPort` under `name` (a "COMn" name or a device path) instead of "COMn".
    void MapPort(int32_t commPort, const std::string& name);
    // Opens `commPort` as the gateway `target`: over `connection` when one is given (opened here
    // when it is not open yet, and left open when the port closes, for its owner to use again),
    // else over a master of the port's own. An idle worker on the port over another connection
    // stops.
    void MapPort(int32_t commPort, const TPortTarget& target,
                 std::shared_ptr<MbusMasterFunctions> connection = {});
    // The reply time-out of the ports opened from now on; 0 leaves each master its own.
    void SetReplyTimeout(int32_t milliseconds) { FReplyTimeoutMs = milliseconds; }

    bool HasThreadOnPort(int32_t commPort) const;
    TSerialThread* FindThread(int32_t commPort) const;

    TDeviceList* DeviceList() const { return FDeviceList.get(); }
    // Every frame of every port opened from now on goes to `log` with the port's name (none: no
    // cost), unless its master already reports elsewhere. The log outlives the manager's workers.
    void SetTrafficSink(TTrafficLog* log) { FTrafficLog = log; }
    int32_t CommPort() const { return FCommPort; }

private:
    bool OpenPort(int32_t commPort);
    bool OpenProtocol(MbusMasterFunctions* protocol, int32_t commPort);
    void ClosePort(int32_t commPort);
    void StopThread(TSerialThread* thread, bool remove);
    void CloseAllPorts();
    void StopIdleWorkers();
    // Worker only: closes and reopens the calling worker's port; false on any other thread.
    // Never raises.
    bool ReopenPort();
    // Worker only: up to `attempts` reopens, cut short when the worker is asked to stop.
    bool ReopenPort(int attempts, std::chrono::milliseconds pause);
    void RecoverFailedWrite();
    std::string PortName(int32_t commPort) const;
    // What `commPort` opens: its gateway, else the serial line of its name.
    TPortTarget PortTarget(int32_t commPort) const;

    struct TWorker {
        // The master's way to the traffic log; first, so that it outlives the master.
        std::unique_ptr<TPortTrafficSink> traffic;
        std::shared_ptr<MbusMasterFunctions> protocol;
        // A connection lent by the owner stays open when the port closes.
        bool lent = false;
        std::unique_ptr<TSerialThread> thread;
    };
    // Before the workers, which post to it until they end.
    TReportQueue FReports;
    TTrafficLog* FTrafficLog = nullptr;
    // Lives on the owner's thread: the wake-up of the default delivery runs there.
    std::unique_ptr<QObject> FReceiver;
    std::unique_ptr<TDeviceList> FDeviceList;
    std::vector<TWorker> FThreads;
    // Guards FThreads for ReopenPort, which runs on a worker; never held while waiting for a
    // worker.
    mutable std::mutex FThreadsLock;
    std::atomic<int> FReopenAttempts{ReopenAttempts};
    std::atomic<int64_t> FReopenPauseMs{ReopenPause.count()};
    // Workers being stopped (user-interface thread only).
    std::vector<TSerialThread*> FStopping;
    int32_t FCommPort = 1;
    TProtocolFactory FFactory;
    std::map<int32_t, std::string> FPortNames;
    std::map<int32_t, TPortTarget> FGateways;
    std::map<int32_t, std::shared_ptr<MbusMasterFunctions>> FConnections;
    int32_t FReplyTimeoutMs = 0;
};
