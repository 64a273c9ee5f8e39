#include "app/Progress.h"

#include <algorithm>
#include <thread>

TProgressTracker::TProgressTracker()
    : Sleep([](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }) {}

void TProgressTracker::Begin(int32_t total, bool writing) {
    std::lock_guard<std::mutex> lock(FLock);
    FTotal = total;
    FMaximum = total;
    FPosition = 0;
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
        const int64_t moved = static_cast<int64_t>(FPosition) + increment;
        FPosition = static_cast<int32_t>(std::clamp<int64_t>(moved, 0, std::max<int32_t>(FMaximum, 0)));
        outcome.Maximum = FMaximum;
        outcome.Position = FPosition;
        outcome.Finished = FPosition >= FTotal || storeComplete || storeFailed;
        outcome.Writing = FWriting;
        if (outcome.Finished)
            FWriting = false;
    }
    if (!outcome.Finished || !errorFlag || !storeFailed)
        return outcome;

    outcome.Failed = true;
    bool reopened = false;
    if (outcome.Writing) {
        // The worker's own port: the attempts run here so they never overlap its traffic.
        for (int attempt = 0; attempt < ReopenAttempts && !reopened; ++attempt) {
            reopened = ReopenPort && ReopenPort();
            if (!reopened && Sleep)
                Sleep(ReopenPause);
        }
    }
    outcome.ShowDisconnected = !reopened;
    outcome.FailMessage = reopened ? "Writing settings failed, please try writing again" : text;
    return outcome;
}
