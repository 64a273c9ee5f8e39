#include "link/Serialthread.h"

#include "base/Errors.h"
#include "link/Devicelist.h"
#include "link/Workerreport.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Registerdatastore.h"
#include "modbus/Unitmap.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <utility>

namespace {

constexpr int SearchAttempts = 2;
// Pacing of the loop between polls: 1 ms while there is something to show; an idle connection
// (store idle, nothing polled to show) rests longer so it costs next to no CPU. A search or a
// write run starts within it. Inside a run there is none: the port's waits already yield.
constexpr unsigned long BusySleepMs = 1;
constexpr unsigned long IdleSleepMs = 10;

// The end of the worker is ordered before the return of the wait for it by QThread itself. Qt is
// not built with ThreadSanitizer, which cannot see that; under it the edge is declared here,
// elsewhere these are nothing.
#if defined(__SANITIZE_THREAD__)
#define DEZ_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DEZ_THREAD_SANITIZER 1
#endif
#endif
#if defined(DEZ_THREAD_SANITIZER)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
void WorkerEnds(void* worker) {
    __tsan_release(worker);
}
void WorkerEnded(void* worker) {
    __tsan_acquire(worker);
}
#else
void WorkerEnds(void*) {}
void WorkerEnded(void*) {}
#endif

} // namespace

TSerialThread::TSerialThread(MbusMasterFunctions* protocol, TDeviceList* devices, TReportQueue* reports,
                             TFailedWriteHandler afterFailedWrite)
    : Protocol(protocol), Devices(devices), FReports(reports),
      FAfterFailedWrite(std::move(afterFailedWrite)) {
    start();
}

TSerialThread::~TSerialThread() {
    requestInterruption();
    wait();
    WorkerEnded(this);
}

void TSerialThread::Stop() {
    requestInterruption();
    // An exchange under way may take its whole time-out: meanwhile this thread's events are
    // served (the window paints, its timers and reports run). The user's clicks and keys wait
    // until the worker has gone, so no handler runs inside this one.
    while (!wait(QDeadlineTimer(5)))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
    WorkerEnded(this);
}

void TSerialThread::RequestSearch(int32_t address, TSearchCallback callback) {
    if (FSearchPending)
        throw TModelError("Can only search for 1 device at a time on any comm port.");
    FSearchAddress = address;
    FSearchCallback = std::move(callback);
    FSearchPending = true;
    // Raised last, so the worker sees a complete request.
    FSearchRequested.store(true, std::memory_order_release);
}

void TSerialThread::WithdrawSearchCallback() {
    FSearchCallback = nullptr;
}

void TSerialThread::DeliverSearchResult(int32_t deviceId, bool found) {
    TSearchCallback callback = std::move(FSearchCallback);
    FSearchCallback = nullptr;
    // The search is over even when the requester's callback raises; the port can search again.
    struct TEnd {
        std::atomic<bool>& pending;
        ~TEnd() { pending = false; }
    } end{FSearchPending};
    if (callback)
        callback(this, deviceId, found);
}

void TSerialThread::Search() {
    int16_t value = 0;
    int32_t result = -1;
    // A worker asked to end (its requester has gone) makes no further attempt.
    for (int attempt = 0; attempt < SearchAttempts && result != 0 && !isInterruptionRequested(); ++attempt)
        result = Protocol->ReadInputRegisters(FSearchAddress, Unitmap::DeviceIdRegister, &value, 1);
    const bool found = result == 0;
    FSearchRequested = false;
    FReports->Post(TSearchReport{this, found ? static_cast<int32_t>(value) : -1, found});
}

void TSerialThread::run() {
    while (!isInterruptionRequested()) {
        bool refresh = true;
        bool idle = false;
        bool inRun = false;
        try {
            if (FSearchRequested.load(std::memory_order_acquire))
                Search();
            TRegisterDataStore* store = Devices->Store();
            switch (store != nullptr ? store->State() : ssIdle) {
            case ssCollecting:
            case ssReading:
                Devices->ReadDevices(Protocol, CommPort);
                inRun = true;
                break;
            case ssWriting:
                // Recovery runs here, outside the lock, so the window never waits for it.
                if (Devices->WriteDevices(Protocol, CommPort) && FAfterFailedWrite)
                    FAfterFailedWrite(this);
                inRun = true;
                break;
            case ssIdle:
                // Nothing to show means nothing to report: an idle connection costs no
                // user-interface work.
                refresh = Devices->PollDevices(Protocol, CommPort);
                idle = !refresh && !FSearchRequested;
                break;
            }
            if (refresh)
                FReports->Post(TRefreshReport{});
        } catch (...) {
            // A failing pass ends silently; the store's reports carry run failures.
        }
        if (!inRun)
            msleep(idle ? IdleSleepMs : BusySleepMs);
    }
    WorkerEnds(this);
}
