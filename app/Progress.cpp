#include "app/Progress.h"

#include <algorithm>

void TProgressTracker::Begin(int32_t total, bool writing) {
    std::lock_guard<std::mutex> lock(FLock);
    FTotal = total;
    FMaximum = total;
    FPosition = 0;
    FOpen = true;
    FWriting = writing;
}

int32_t TProgressTracker::Total() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FTotal;
}

TProgressOutcome TProgressTracker::Report(const std::string& text, bool errorFlag, int32_t increment,
                                          bool storeComplete, bool storeFailed) {
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
    if (!outcome.Finished || !errorFlag || !storeFailed)
        return outcome;

    outcome.Failed = true;
    outcome.AwaitReopen = outcome.Writing;
    outcome.ShowDisconnected = !outcome.Writing;
    outcome.FailMessage = text;
    return outcome;
}
