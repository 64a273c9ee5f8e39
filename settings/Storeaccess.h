#pragma once
// The one register data store of the process. Its owner (the main window, the command-line
// tool, a test) installs it; settings read and write their values through it.
#include <mutex>

class TRegisterDataStore;

// The installed store, or null when none is installed.
TRegisterDataStore* RegisterDataStore();
// Installs `store` (null uninstalls); returns the store installed before.
TRegisterDataStore* SetRegisterDataStore(TRegisterDataStore* store);
// The installed store; raises std::logic_error when there is none.
TRegisterDataStore& RequireRegisterDataStore();

// For its lifetime, settings on the calling thread read and write `store` instead of the
// installed one: a scratch tree (a file or the defaults taken for a comparison) then never
// touches the image the unit is written from, and a worker on another thread never sees it.
class TThreadStoreScope {
public:
    explicit TThreadStoreScope(TRegisterDataStore* store);
    ~TThreadStoreScope();
    TThreadStoreScope(const TThreadStoreScope&) = delete;
    TThreadStoreScope& operator=(const TThreadStoreScope&) = delete;

private:
    TRegisterDataStore* FPrevious;
};

// The lock a worker holds while it steps the store or services settings (the serial manager's
// device-list lock), or null when no worker exists. The user-interface thread holds it while it
// reads settings from the store, so the two never run the read protocol of a setting at once.
void SetSettingsLock(std::recursive_mutex* lock);
// Uninstalls `lock` when it is the one installed (a newer owner's lock stays).
void ClearSettingsLock(std::recursive_mutex* lock);

// Holds the settings lock, when there is one, for its lifetime.
class TSettingsLockGuard {
public:
    TSettingsLockGuard();
    ~TSettingsLockGuard();
    TSettingsLockGuard(const TSettingsLockGuard&) = delete;
    TSettingsLockGuard& operator=(const TSettingsLockGuard&) = delete;

private:
    std::recursive_mutex* FLock;
};
