#pragma once
// One worker per open comm port: it runs a pending unit search, one step of the register data
// store's job, then hands the refresh of the displayed settings to the user-interface thread.
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>

class MbusMasterFunctions;
class TDeviceList;
class TSerialThread;

// (worker, device id, found), called on the user-interface thread.
using TSearchCallback = std::function<void(TSerialThread* worker, int32_t deviceId, bool found)>;

class TSerialThread : public QThread {
    Q_OBJECT
public:
    // Runs on the worker, without the device-list lock, after a step that failed a write run.
    using TFailedWriteHandler = std::function<void(TSerialThread* worker)>;

    // Starts running at once.
    TSerialThread(MbusMasterFunctions* protocol, TDeviceList* devices,
                  TFailedWriteHandler afterFailedWrite = {});
    ~TSerialThread() override;

    // User-interface thread. Raises "Can only search for 1 device at a time on any comm port."
    // while a search is pending.
    void RequestSearch(int32_t address, TSearchCallback callback);
    // User-interface thread: the requester no longer wants the result (a closed dialog).
    void WithdrawSearchCallback();
    bool SearchPending() const { return FSearchPending; }
    // User-interface thread: asks the worker to end and waits for it, running its hand-overs
    // meanwhile.
    void Stop();

    std::atomic<int32_t> CommPort{0};
    MbusMasterFunctions* Protocol;
    TDeviceList* Devices;

protected:
    void run() override;

private:
    void Search();
    void DeliverSearchResult();
    void RefreshDevices();
    void HandOver(void (TSerialThread::*routine)());

    const TFailedWriteHandler FAfterFailedWrite;
    // Pending from the request until the result is delivered.
    std::atomic<bool> FSearchPending{false};
    // Set by the request, cleared by the worker once it has searched.
    std::atomic<bool> FSearchRequested{false};
    int32_t FSearchAddress = 0;
    TSearchCallback FSearchCallback;
    int32_t FSearchResult = -1;
    bool FSearchFound = false;
    // A hand-over in progress: set by the routine once it has run on the user-interface thread.
    std::mutex FHandOverLock;
    std::condition_variable FHandOverEnded;
    bool FHandOverDone = true;
    // What the routine of a hand-over raised, raised again on the worker.
    std::exception_ptr FHandOverError;
};
