#pragma once
// The one bookkeeping of a run's progress reports, for the window and the command line alike:
// whether a report ends the run, and how (finished, failed, stopped, waiting for the link to
// reopen the port), is decided here once, so both say the same thing about the same run.
// Reports arrive on the worker (the register data store's blocks, under the device-list lock)
// and on the user-interface thread (a single setting's read); each is decided on the thread
// that makes it, in the order made, and the caller shows the outcome on its own thread.
// Recovering the port after a failed write is the link's business; this only records that the
// caller is to wait for it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class TRegisterDataStore;
struct TWriteOptions;
enum class TRunStart : int32_t;

// What one report means for whoever shows the run.
struct TProgressOutcome {
    std::string Text;
    bool ErrorFlag = false;
    // Bar range and position after the report.
    int32_t Maximum = 100;
    int32_t Position = 0;
    // The report completes the run (total reached, or the store complete or failed).
    bool Finished = false;
    // Whether the run was a write.
    bool Writing = false;
    // A failed run: FailMessage says why.
    bool Failed = false;
    // A failed read: the unit is to be shown disconnected.
    bool ShowDisconnected = false;
    std::string FailMessage;
    // A failed write: the link reopens the port and reports, and the caller then decides.
    bool AwaitReopen = false;
    // A report after the run has ended (a stray single-setting report): nothing to show.
    bool Stray = false;
    // The run was stopped by the user: Text says what state the unit is in.
    bool Stopped = false;
};

class TProgressTracker {
public:
    // A run starts: `total` progress units make it complete; the bar shows 0 of `total`.
    void Begin(int32_t total, bool writing);
    // A new connection: open as a new tracker is, so that a failure before the read is counted
    // (a device type the store refuses as it is opened) ends the run and is shown.
    void BeginConnection();
    // Starts a write run of `store` and begins counting it in one step, so that no report of
    // the run can arrive before it is counted. Nothing is counted when the store refuses.
    TRunStart BeginWrite(TRegisterDataStore& store, const TWriteOptions& options);
    // One report. `storeComplete` and `storeFailed` are the store's states as they are when the
    // report is made. A read ends on its total; a write only when the store has left it (after
    // the commit), so its last block is not yet its result. A run ends once.
    TProgressOutcome Report(const std::string& text, bool errorFlag, int32_t increment, bool storeComplete,
                            bool storeFailed, bool storeStopped = false);
    // One report of `store`, its states taken as they are now, on the reporting thread.
    TProgressOutcome Report(const TRegisterDataStore& store, const std::string& text, bool errorFlag,
                            int32_t increment);

    bool Writing() const { return FWriting; }
    void SetWriting(bool writing) { FWriting = writing; }
    int32_t Total() const;

private:
    void BeginLocked(int32_t total, bool writing);

    mutable std::mutex FLock;
    int32_t FTotal = 0;
    int32_t FMaximum = 100;
    int32_t FPosition = 0;
    // Cleared when a run ends; the tracker starts open, as the first read does.
    bool FOpen = true;
    std::atomic<bool> FWriting{false};
};
