#include "link/Serialmanager.h"

#include "base/Errors.h"
#include "link/Devicelist.h"
#include "link/Porttrafficsink.h"
#include "modbus/Masterfactory.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Registerdatastore.h"
#include "modbus/Unitmap.h"
#include "settings/Device.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <cstdio>
#include <exception>

TSerialManager::TSerialManager(TRegisterDataStore* store, TProtocolFactory factory)
    : FReceiver(std::make_unique<QObject>()), FDeviceList(std::make_unique<TDeviceList>(store)),
      FFactory(std::move(factory)) {
    if (!FFactory)
        FFactory = [] { return std::make_unique<MbusRtuMasterProtocol>(); };
    // Qt drops a wake-up still queued when the receiver goes with the manager.
    FReports.SetWake([receiver = FReceiver.get(), this] {
        QMetaObject::invokeMethod(
            receiver, [this] { ProcessReports(); }, Qt::QueuedConnection);
    });
}

void TSerialManager::ProcessReportsInOwnLoop() {
    FReports.SetWake(nullptr);
}

void TSerialManager::ProcessReports() {
    while (std::optional<TWorkerReport> report = FReports.Take()) {
        if (const auto* search = std::get_if<TSearchReport>(&report->Value)) {
            try {
                search->Worker->DeliverSearchResult(search->DeviceId, search->Found);
            } catch (...) {
                // The requester's failure is its own; the reports after it still count.
            }
        } else if (std::holds_alternative<TRefreshReport>(report->Value)) {
            FDeviceList->RefreshDevices();
        } else if (OnReport) {
            OnReport(*report);
        }
    }
}

TSerialManager::~TSerialManager() {
    CloseAllPorts();
}

void TSerialManager::SearchForDevice(int32_t commPort, int32_t address, TSearchCallback callback) {
    if (!HasThreadOnPort(commPort))
        OpenPort(commPort);
    FindThread(commPort)->RequestSearch(address, std::move(callback));
}

void TSerialManager::ConnectDevice(TDevice* device) {
    FDeviceList->Add(device);
    if (!HasThreadOnPort(device->CommPort))
        OpenPort(device->CommPort);
    StopIdleWorkers();
}

void TSerialManager::ConnectFoundUnit(TDevice* device, int32_t commPort, int32_t address) {
    device->CommPort = commPort;
    device->Address = address;
    device->Online = true;
    {
        // A worker of another port may still be stepping the image.
        TStoreLock lock(FDeviceList->Store()->Lock());
        device->Settings->ClearPending();
        FDeviceList->Store()->Reset();
    }
    FDeviceList->Store()->SetSlave(address);
    ConnectDevice(device);
}

void TSerialManager::StopIdleWorkers() {
    // A worker left by a search that found nothing on another port holds that port for no one;
    // it goes once a device is connected elsewhere (never while its search is pending).
    std::vector<TSerialThread*> idle;
    for (const auto& worker : FThreads) {
        if (!worker.thread->SearchPending() && !FDeviceList->HasDeviceOnPort(worker.thread->CommPort))
            idle.push_back(worker.thread.get());
    }
    for (TSerialThread* thread : idle)
        StopThread(thread, true);
}

void TSerialManager::DisconnectDevice(TDevice* device) {
    if (device->Online) {
        FDeviceList->RemoveOnline(device);
        if (!FDeviceList->HasDeviceOnPort(device->CommPort) && HasThreadOnPort(device->CommPort))
            ClosePort(device->CommPort);
    } else {
        FDeviceList->Remove(device);
        device->Settings->ClearGroupList();
    }
}

void TSerialManager::SelectFirstGroup() {
    FDeviceList->TakeValuesFromStore();
    FDeviceList->SelectFirstGroup();
}

void TSerialManager::WithdrawSearch(int32_t commPort) {
    if (HasThreadOnPort(commPort))
        FindThread(commPort)->WithdrawSearchCallback();
}

bool TSerialManager::ReopenPort() {
    // Only the worker that owns the port may close it: any other thread would pull the port
    // away under a request the worker has on the wire.
    MbusMasterFunctions* protocol = nullptr;
    int32_t commPort = 0;
    {
        std::lock_guard<std::mutex> lock(FThreadsLock);
        const TWorker* chosen = nullptr;
        for (const auto& worker : FThreads) {
            if (worker.thread.get() == QThread::currentThread())
                chosen = &worker;
        }
        if (chosen == nullptr)
            return false;
        protocol = chosen->protocol.get();
        commPort = chosen->thread->CommPort;
    }
    try {
        protocol->Close();
        return OpenProtocol(protocol, commPort);
    } catch (const std::exception&) {
        return false;
    }
}

bool TSerialManager::ReopenPort(int attempts, std::chrono::milliseconds pause) {
    QThread* caller = QThread::currentThread();
    const auto stopping = [caller] { return caller->isInterruptionRequested(); };
    for (int attempt = 0; attempt < attempts && !stopping(); ++attempt) {
        if (ReopenPort())
            return true;
        // Paced in short slices so a Connect or Exit meanwhile stops the worker at once.
        const QDeadlineTimer end(pause);
        while (!end.hasExpired() && !stopping())
            QThread::msleep(static_cast<unsigned long>(std::clamp<qint64>(end.remainingTime(), 0, 10)));
    }
    return false;
}

void TSerialManager::SetReopenPolicy(int attempts, std::chrono::milliseconds pause) {
    FReopenAttempts = attempts;
    FReopenPauseMs = pause.count();
}

void TSerialManager::RecoverFailedWrite() {
    const bool reopened = ReopenPort(FReopenAttempts, std::chrono::milliseconds(FReopenPauseMs.load()));
    FReports.Post(TReopenedReport{reopened});
}

bool TSerialManager::HasThreadOnPort(int32_t commPort) const {
    std::lock_guard<std::mutex> lock(FThreadsLock);
    return std::any_of(FThreads.begin(), FThreads.end(),
                       [commPort](const TWorker& w) { return w.thread && w.thread->CommPort == commPort; });
}

TSerialThread* TSerialManager::FindThread(int32_t commPort) const {
    {
        std::lock_guard<std::mutex> lock(FThreadsLock);
        for (const auto& worker : FThreads) {
            if (worker.thread && worker.thread->CommPort == commPort)
                return worker.thread.get();
        }
    }
    throw TModelError("Could not find serial thread with comm port '" + std::to_string(commPort) + "'");
}

bool TSerialManager::OpenPort(int32_t commPort) {
    FCommPort = commPort;
    const TPortTarget target = PortTarget(commPort);
    std::shared_ptr<MbusMasterFunctions> protocol;
    const auto lent = FConnections.find(commPort);
    if (lent != FConnections.end() && lent->second)
        protocol = lent->second;
    else if (IsGateway(target))
        protocol = MakeMaster(target);
    else
        protocol = FFactory();
    if (FReplyTimeoutMs > 0)
        protocol->SetTimeout(FReplyTimeoutMs);
    // A master that already reports elsewhere (the command line's trace file) keeps its sink.
    std::unique_ptr<TPortTrafficSink> traffic;
    if (FTrafficLog != nullptr && protocol->TrafficSink() == nullptr) {
        traffic = std::make_unique<TPortTrafficSink>(*FTrafficLog, target.name);
        protocol->SetTrafficSink(traffic.get());
    }
    if (!protocol->IsOpen())
        OpenProtocol(protocol.get(), commPort);
    auto thread = std::make_unique<TSerialThread>(protocol.get(), FDeviceList.get(), &FReports,
                                                  [this](TSerialThread*) { RecoverFailedWrite(); });
    thread->CommPort = commPort;
    const bool isLent = lent != FConnections.end() && lent->second;
    std::lock_guard<std::mutex> lock(FThreadsLock);
    FThreads.push_back({std::move(traffic), std::move(protocol), isLent, std::move(thread)});
    return true;
}

void TSerialManager::MapPort(int32_t commPort, const std::string& name) {
    FPortNames[commPort] = name;
    FGateways.erase(commPort);
    FConnections.erase(commPort);
}

void TSerialManager::MapPort(int32_t commPort, const TPortTarget& target,
                             std::shared_ptr<MbusMasterFunctions> connection) {
    FPortNames[commPort] = target.name;
    FGateways[commPort] = target;
    // A worker left idle on the port by a search that found nothing would go on using the
    // connection it was given; the next search goes over the new one.
    std::vector<TSerialThread*> stale;
    if (!FDeviceList->HasDeviceOnPort(commPort)) {
        std::lock_guard<std::mutex> lock(FThreadsLock);
        for (const auto& worker : FThreads) {
            if (worker.thread && worker.thread->CommPort == commPort && worker.protocol != connection &&
                !worker.thread->SearchPending())
                stale.push_back(worker.thread.get());
        }
    }
    for (TSerialThread* thread : stale)
        StopThread(thread, true);
    FConnections[commPort] = std::move(connection);
}

TPortTarget TSerialManager::PortTarget(int32_t commPort) const {
    if (const auto gateway = FGateways.find(commPort); gateway != FGateways.end())
        return gateway->second;
    TPortTarget serial;
    serial.kind = TPortKind::Path;
    serial.port = commPort;
    serial.name = PortName(commPort);
    return serial;
}

std::string TSerialManager::PortName(int32_t commPort) const {
    if (const auto mapped = FPortNames.find(commPort); mapped != FPortNames.end())
        return mapped->second;
    char name[32];
    std::snprintf(name, sizeof name, "COM%d", commPort);
    return name;
}

bool TSerialManager::OpenProtocol(MbusMasterFunctions* protocol, int32_t commPort) {
    protocol->SetRetryCount(1);
    const TPortTarget target = PortTarget(commPort);
    const int32_t result = OpenMaster(*protocol, target);
    if (result == 0)
        return true;
    // The master's own words name the gateway and the system's reason.
    if (IsGateway(target))
        throw TModelError(MasterErrorText(*protocol));
    if (result == FTALK_ILLEGAL_ARGUMENT_ERROR)
        throw TModelError("Configuration setting not supported!");
    if (result == FTALK_PORT_NO_ACCESS) {
        // The usual cause on Linux: the serial devices belong to the dialout group.
        throw TModelError(ErrorText(result) + " " + SerialPort::ResolvePortName(PortName(commPort)) +
                          ".\nAdd the user to the 'dialout' group (sudo adduser $USER dialout), then log "
                          "out and in again.");
    }
    throw TModelError(ErrorText(result));
}

void TSerialManager::ClosePort(int32_t commPort) {
    StopThread(FindThread(commPort), true);
}

void TSerialManager::StopThread(TSerialThread* thread, bool remove) {
    // A stop serves the user-interface thread's events while it waits; what they run may ask to
    // stop the same worker again. The first stop finishes the job; a second one would free the
    // worker under it.
    if (std::find(FStopping.begin(), FStopping.end(), thread) != FStopping.end())
        return;
    FStopping.push_back(thread);
    thread->Stop();
    FStopping.erase(std::find(FStopping.begin(), FStopping.end(), thread));

    std::unique_ptr<TPortTrafficSink> traffic;
    std::shared_ptr<MbusMasterFunctions> protocol;
    bool lent = false;
    std::unique_ptr<TSerialThread> owned;
    {
        std::lock_guard<std::mutex> lock(FThreadsLock);
        for (auto& worker : FThreads) {
            if (worker.thread.get() == thread) {
                traffic = std::move(worker.traffic);
                protocol = std::move(worker.protocol);
                lent = worker.lent;
                owned = std::move(worker.thread);
            }
        }
        if (remove)
            FThreads.erase(
                std::remove_if(FThreads.begin(), FThreads.end(), [](const TWorker& w) { return !w.thread; }),
                FThreads.end());
    }
    if (protocol && !lent)
        protocol->Close();
    // A lent connection goes back to its owner, and may outlive this port's sink.
    if (protocol && lent && traffic && protocol->TrafficSink() == traffic.get())
        protocol->SetTrafficSink(nullptr);
    thread->Protocol = nullptr;
    // A search result it left behind has no one to go to.
    FReports.Discard(thread);
    protocol.reset();
    owned.reset();
}

void TSerialManager::CloseAllPorts() {
    std::vector<TSerialThread*> threads;
    {
        std::lock_guard<std::mutex> lock(FThreadsLock);
        for (const auto& worker : FThreads)
            threads.push_back(worker.thread.get());
    }
    for (TSerialThread* thread : threads)
        StopThread(thread, false);
    std::lock_guard<std::mutex> lock(FThreadsLock);
    FThreads.clear();
}
