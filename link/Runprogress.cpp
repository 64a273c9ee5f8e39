#include "link/Runprogress.h"

#include "modbus/Registerdatastore.h"

#include <algorithm>

void TProgressTracker::Begin(int32_t total, bool writing) {
    std::lock_guard<std::mutex> lock(FLock);
    BeginLocked(total, writing);
}

void TProgressTracker::BeginConnection() {
    std::lock_guard<std::mutex> lock(FLock);
    BeginLocked(0, false);
    FMaximum = 100;
}

void TProgressTracker::BeginLocked(int32_t total, bool writing) {
    FTotal = total;
    FMaximum = total;
    FPosition = 0;
    FOpen = true;
    FWriting = writing;
}

TRunStart TProgressTracker::BeginWrite(TRegisterDataStore& store, const TWriteOptions& options) {
    // The worker's reports wait on this lock until the run is counted.
    std::lock_guard<std::mutex> lock(FLock);
    const TRunStart start = store.StartWrite(options);
    if (start == TRunStart::Started)
        BeginLocked(store.SendCount(), true);
    return start;
}

int32_t TProgressTracker::Total() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FTotal;
}

TProgressOutcome TProgressTracker::Report(const TRegisterDataStore& store, const std::string& text,
                                          bool errorFlag, int32_t increment) {
    // A write is over once the store is idle again, after its commit; a stopped run once the
    // store has left it.
    const bool failed = store.HasFailed();
    const bool idle = store.State() == ssIdle;
    const bool stopped = idle && store.LastResult() == TRunResult::Stopped;
    const bool complete = store.IsComplete() || stopped || (FWriting && idle && !failed);
    return Report(text, errorFlag, increment, complete, failed, stopped);
}

TProgressOutcome TProgressTracker::Report(const std::string& text, bool errorFlag, int32_t increment,
                                          bool storeComplete, bool storeFailed, bool storeStopped) {
    TProgressOutcome outcome;
    outcome.Text = text;
    outcome.ErrorFlag = errorFlag;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FOpen) {
            outcome.Stray = true;
            outcome.Maximum = FMaximum;
            outcome.Position = FPosition;
            return outcome;
        }
        const int64_t moved = static_cast<int64_t>(FPosition) + increment;
        FPosition = static_cast<int32_t>(std::clamp<int64_t>(moved, 0, std::max<int32_t>(FMaximum, 0)));
        outcome.Maximum = FMaximum;
        outcome.Position = FPosition;
        outcome.Writing = FWriting;
        outcome.Finished = (!outcome.Writing && FPosition >= FTotal) || storeComplete || storeFailed ||
                           (errorFlag && outcome.Writing);
        if (outcome.Finished) {
            FWriting = false;
            FOpen = false;
        }
    }
    outcome.Stopped = outcome.Finished && storeStopped;
    if (!outcome.Finished || !errorFlag || !storeFailed)
        return outcome;

    outcome.Failed = true;
    outcome.AwaitReopen = outcome.Writing;
    outcome.ShowDisconnected = !outcome.Writing;
    outcome.FailMessage = text;
    return outcome;
}
