#pragma once
// The bookkeeping behind the main window's progress reports. Reports arrive on the worker (the
// register data store's blocks, under the device-list lock) and on the user-interface thread (a
// single setting's read); each is decided on the thread that makes it, in the order made, and
// the outcome is handed to the user-interface thread to show.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// What one report means for the window.
struct TProgressOutcome {
    std::string Text;
    bool ErrorFlag = false;
    // Bar range and position after the report.
    int32_t Maximum = 100;
    int32_t Position = 0;
    // The report completes the run (total reached, or the store complete or failed).
    bool Finished = false;
    // Whether the run was a write of all settings.
    bool Writing = false;
    // A failed run: the window shows FailMessage 100 ms later.
    bool Failed = false;
    // A failed run whose port could not be reopened: the window shows itself disconnected.
    bool ShowDisconnected = false;
    std::string FailMessage;
};

class TProgressTracker {
public:
    // Closes and reopens the port; true when it is open again. Runs on the reporting thread.
    std::function<bool()> ReopenPort;
    // Waits between reopen attempts; tests replace it.
    std::function<void(std::chrono::milliseconds)> Sleep;

    TProgressTracker();

    // A run starts: `total` progress units make it complete; the bar shows 0 of `total`.
    void Begin(int32_t total, bool writing);
    // One report. `storeComplete` and `storeFailed` are the store's states as they are when the
    // report is made. A failed write tries to reopen the port here, on the reporting thread.
    TProgressOutcome Report(const std::string& text, bool errorFlag, int32_t increment, bool storeComplete,
                            bool storeFailed);

    bool Writing() const { return FWriting; }
    void SetWriting(bool writing) { FWriting = writing; }
    int32_t Total() const;

    static constexpr int ReopenAttempts = 3;
    static constexpr std::chrono::milliseconds ReopenPause{1000};

private:
    mutable std::mutex FLock;
    int32_t FTotal = 0;
    int32_t FMaximum = 100;
    int32_t FPosition = 0;
    std::atomic<bool> FWriting{false};
};
