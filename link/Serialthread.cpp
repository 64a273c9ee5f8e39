#include "link/Serialthread.h"

#include "link/Devicelist.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Registerdatastore.h"
#include "modbus/Unitmap.h"
#include "model/Errors.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <chrono>
#include <exception>
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

TSerialThread::TSerialThread(MbusMasterFunctions* protocol, TDeviceList* devices,
                             TFailedWriteHandler afterFailedWrite)
    : Protocol(protocol), Devices(devices), FAfterFailedWrite(std::move(afterFailedWrite)) {
    start();
}

TSerialThread::~TSerialThread() {
    requestInterruption();
    wait();
    WorkerEnded(this);
}

void TSerialThread::Stop() {
    requestInterruption();
    // The worker may be waiting in a hand-over to this thread: keep servicing them. The user's
    // clicks and keys wait until the worker has gone, so no handler runs inside this one.
    while (!wait(QDeadlineTimer(5)))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
    WorkerEnded(this);
}

void TSerialThread::RequestSearch(int32_t address, TSearchCallback callback) {
    if (FSearchPending)
        throw TModelError("Can only search for 1 device at a time on any comm port.");
    FSearchAddress = address;
    FSearchCallback = std::move(callback);
    FSearchResult = -1;
    FSearchFound = false;
    FSearchPending = true;
    // Raised last, so the worker sees a complete request.
    FSearchRequested.store(true, std::memory_order_release);
}

void TSerialThread::WithdrawSearchCallback() {
    FSearchCallback = nullptr;
}

void TSerialThread::DeliverSearchResult() {
    TSearchCallback callback = std::move(FSearchCallback);
    FSearchCallback = nullptr;
    // The search is over even when the requester's callback raises; the port can search again.
    struct TEnd {
        std::atomic<bool>& pending;
        ~TEnd() { pending = false; }
    } end{FSearchPending};
    if (callback)
        callback(this, FSearchResult, FSearchFound);
}

// Runs `routine` on the user-interface thread (where this object lives) and waits for it. The
// call is queued and the wait is on our own lock and condition rather than Qt's blocking
// connection: the routine then works only on what this lock hands over (ThreadSanitizer sees the
// ordering both ways, where it cannot see Qt's semaphore), and Qt keeps nothing of the call on
// this thread's stack once the routine is done. A routine that raises still ends the hand-over:
// its exception is raised again here, where the pass ends on it, and never strands the worker.
void TSerialThread::HandOver(void (TSerialThread::*routine)()) {
    {
        std::lock_guard<std::mutex> lock(FHandOverLock);
        FHandOverDone = false;
        FHandOverError = nullptr;
    }
    QMetaObject::invokeMethod(
        this,
        [this, routine] {
            { std::lock_guard<std::mutex> lock(FHandOverLock); }
            std::exception_ptr error;
            try {
                (this->*routine)();
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(FHandOverLock);
            FHandOverError = error;
            FHandOverDone = true;
            FHandOverEnded.notify_one();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(FHandOverLock);
    FHandOverEnded.wait(lock, [this] { return FHandOverDone; });
    if (FHandOverError)
        std::rethrow_exception(std::exchange(FHandOverError, nullptr));
}

void TSerialThread::RefreshDevices() {
    Devices->RefreshDevices();
}

void TSerialThread::Search() {
    int16_t value = 0;
    int32_t result = -1;
    // A worker asked to end (its requester has gone) makes no further attempt.
    for (int attempt = 0; attempt < SearchAttempts && result != 0 && !isInterruptionRequested(); ++attempt)
        result = Protocol->ReadInputRegisters(FSearchAddress, Unitmap::DeviceIdRegister, &value, 1);
    FSearchFound = result == 0;
    FSearchResult = FSearchFound ? static_cast<int32_t>(value) : -1;
    FSearchRequested = false;
    HandOver(&TSerialThread::DeliverSearchResult);
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
                // Nothing to show means nothing to hand over: an idle connection costs no
                // user-interface work.
                refresh = Devices->PollDevices(Protocol, CommPort);
                idle = !refresh && !FSearchRequested;
                break;
            }
            if (refresh)
                HandOver(&TSerialThread::RefreshDevices);
        } catch (...) {
            // A failing pass ends silently; the store's reports carry run failures.
        }
        if (!inRun)
            msleep(idle ? IdleSleepMs : BusySleepMs);
    }
    WorkerEnds(this);
}
