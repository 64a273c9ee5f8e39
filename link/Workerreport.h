#pragma once
// What the workers tell their owner, as values on one queue that the owner takes on its own
// thread: the window on one queued wake-up of its event loop, the command line in its own loop.
// A post only queues: a worker never waits for its owner.
#include "link/Runprogress.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

class TSerialThread;

// One progress report of a run, decided on the thread that made it.
struct TProgressReport {
    TProgressOutcome Outcome;
};
// A read run starts; it counts `Total` progress units.
struct TBeginReadReport {
    int32_t Total = 0;
};
// The connected trees have a serviced setting to show.
struct TRefreshReport {};
// The search of `Worker` has ended.
struct TSearchReport {
    TSerialThread* Worker = nullptr;
    int32_t DeviceId = -1;
    bool Found = false;
};
// The recovery after a failed write has ended.
struct TReopenedReport {
    bool Reopened = false;
};
// A write step failed with `Text`.
struct TWriteErrorReport {
    std::string Text;
};

struct TWorkerReport {
    std::variant<TProgressReport, TBeginReadReport, TRefreshReport, TSearchReport, TReopenedReport,
                 TWriteErrorReport>
        Value;
    // The queue's run when it was posted.
    uint32_t Run = 0;
};

class TReportQueue {
public:
    // Any thread; never waits for the owner. A refresh already queued is not queued again: it
    // shows what is there when it is taken.
    void Post(decltype(TWorkerReport::Value) value);
    // Owner's thread: the oldest report, nothing when none is queued.
    std::optional<TWorkerReport> Take();
    // Owner's thread: waits until a report is queued or `deadline` has passed; true when one is.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    // `wake` is called on the posting thread when a report arrives and no wake-up is
    // outstanding (none since the last Take). It must not wait for the owner.
    void SetWake(std::function<void()> wake);
    // Drops the reports of `worker`, which has ended.
    void Discard(const TSerialThread* worker);
    // Owner's thread: reports posted from now on belong to a new run; Run() tells it.
    void NewRun();
    uint32_t Run() const;

private:
    mutable std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<TWorkerReport> FReports;
    std::function<void()> FWake;
    bool FWakePending = false;
    bool FRefreshQueued = false;
    uint32_t FRun = 0;
};
