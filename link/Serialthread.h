#pragma once
// One worker per open comm port: it runs a pending unit search, one step of the register data
// store's job, then reports what there is to show on its owner's report queue.
#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>

class MbusMasterFunctions;
class TDeviceList;
class TReportQueue;
class TSerialThread;

// (worker, device id, found), called on the user-interface thread.
using TSearchCallback = std::function<void(TSerialThread* worker, int32_t deviceId, bool found)>;

class TSerialThread : public QThread {
    Q_OBJECT
public:
    // Runs on the worker, without the device-list lock, after a step that failed a write run.
    using TFailedWriteHandler = std::function<void(TSerialThread* worker)>;

    // Starts running at once; reports go to `reports`.
    TSerialThread(MbusMasterFunctions* protocol, TDeviceList* devices, TReportQueue* reports,
                  TFailedWriteHandler afterFailedWrite = {});
    ~TSerialThread() override;

    // User-interface thread. Raises "Can only search for 1 device at a time on any comm port."
    // while a search is pending.
    void RequestSearch(int32_t address, TSearchCallback callback);
    // User-interface thread: the requester no longer wants the result (a closed dialog).
    void WithdrawSearchCallback();
    bool SearchPending() const { return FSearchPending; }
    // User-interface thread, on the search's report: hands the result to the requester.
    void DeliverSearchResult(int32_t deviceId, bool found);
    // User-interface thread: asks the worker to end and waits for it, serving this thread's
    // events meanwhile.
    void Stop();

    std::atomic<int32_t> CommPort{0};
    MbusMasterFunctions* Protocol;
    TDeviceList* Devices;

protected:
    void run() override;

private:
    void Search();

    TReportQueue* const FReports;
    const TFailedWriteHandler FAfterFailedWrite;
    // Pending from the request until the result is delivered.
    std::atomic<bool> FSearchPending{false};
    // Set by the request, cleared by the worker once it has searched.
    std::atomic<bool> FSearchRequested{false};
    int32_t FSearchAddress = 0;
    TSearchCallback FSearchCallback;
};
