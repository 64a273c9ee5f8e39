#include "Stopsignals.h"

#include <atomic>
#include <cerrno>
#include <iterator>

namespace {

constexpr int StopSignalNumbers[] = {SIGINT, SIGTERM, SIGHUP};

// Lock-free atomics only: they are all a signal handler may touch.
std::atomic<int> FirstSignal{0};
std::atomic<const TStopHook*> CurrentHook{nullptr};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<const TStopHook*>::is_always_lock_free);

void CallHook(const TStopHook* hook) {
    if (hook != nullptr && hook->call != nullptr)
        hook->call(hook->context);
}

void OnStopSignal(int signal) {
    // The hook may make a system call; the code interrupted may be about to read errno.
    const int savedErrno = errno;
    int none = 0;
    FirstSignal.compare_exchange_strong(none, signal);
    CallHook(CurrentHook.load());
    errno = savedErrno;
}

void Install(struct sigaction* previous) {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : StopSignalNumbers)
        sigaddset(&action.sa_mask, signal);
    for (size_t i = 0; i < std::size(StopSignalNumbers); ++i)
        ::sigaction(StopSignalNumbers[i], &action, previous != nullptr ? &previous[i] : nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, previous != nullptr ? &previous[std::size(StopSignalNumbers)] : nullptr);
}

} // namespace

TStopSignals::TStopSignals() {
    Install(FPrevious);
}

TStopSignals::~TStopSignals() {
    for (size_t i = 0; i < std::size(StopSignalNumbers); ++i)
        ::sigaction(StopSignalNumbers[i], &FPrevious[i], nullptr);
    ::sigaction(SIGPIPE, &FPrevious[std::size(StopSignalNumbers)], nullptr);
}

void InstallStopSignals() {
    Install(nullptr);
}

TStopHookScope::TStopHookScope(const TStopHook& hook) : FHook(hook), FPrevious(CurrentHook.exchange(&FHook)) {
    // A signal between the exchange and this check may call the hook twice; a stop is idempotent.
    if (StopRequested())
        CallHook(&FHook);
}

TStopHookScope::~TStopHookScope() {
    CurrentHook = FPrevious;
}

int StopSignal() {
    return FirstSignal.load();
}

int StopExitStatus() {
    const int signal = StopSignal();
    return 128 + (signal != 0 ? signal : SIGINT);
}
