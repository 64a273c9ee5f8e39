#pragma once
// Stopping a run by signal, for dezadizi-cli and dezadizi-sim. SIGINT (Ctrl-C), SIGTERM (kill, a
// service manager) and SIGHUP (a closed terminal) all stop the run the same way: the first one
// received is kept, the run's stop hook is called, and the program ends with 128 + its number, as
// a shell counts a program ended by that signal.
#include <csignal>

// What a stop calls from the signal handler: async-signal-safe work only (an atomic store, a
// write to a pipe). `call` gets `context`.
struct TStopHook {
    void (*call)(void* context) = nullptr;
    void* context = nullptr;
};

// The handlers of the three signals while it lives, with SIGPIPE ignored (a reader gone is a
// failed write, never a death between a write and its commit); the previous dispositions come
// back afterwards.
class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    struct sigaction FPrevious[4]{}; // SIGINT, SIGTERM, SIGHUP, SIGPIPE
};

// The same for the rest of the process.
void InstallStopSignals();

// Makes `hook` the one a stop calls while it lives, the one it replaced coming back afterwards.
// A stop that came before it is passed on at once.
class TStopHookScope {
public:
    explicit TStopHookScope(const TStopHook& hook);
    ~TStopHookScope();
    TStopHookScope(const TStopHookScope&) = delete;
    TStopHookScope& operator=(const TStopHookScope&) = delete;

private:
    const TStopHook FHook;
    const TStopHook* FPrevious;
};

// The first stop signal received, 0 while none came.
int StopSignal();
inline bool StopRequested() {
    return StopSignal() != 0;
}
// The exit status of a stopped run: 128 + the first stop signal's number (130 for Ctrl-C, also
// when the run stopped without a signal).
int StopExitStatus();
