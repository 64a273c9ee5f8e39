#include "settings/Storeaccess.h"

#include <atomic>
#include <stdexcept>

namespace {
// Read by the worker thread while polling, so the hand-over is atomic.
std::atomic<TRegisterDataStore*> InstalledStore{nullptr};
} // namespace

TRegisterDataStore* RegisterDataStore() {
    return InstalledStore.load();
}

TRegisterDataStore* SetRegisterDataStore(TRegisterDataStore* store) {
    return InstalledStore.exchange(store);
}

TRegisterDataStore& RequireRegisterDataStore() {
    TRegisterDataStore* store = InstalledStore.load();
    if (store == nullptr)
        throw std::logic_error("No register data store is installed");
    return *store;
}

namespace {
std::atomic<std::recursive_mutex*> SettingsLock{nullptr};
} // namespace

void SetSettingsLock(std::recursive_mutex* lock) {
    SettingsLock = lock;
}

void ClearSettingsLock(std::recursive_mutex* lock) {
    SettingsLock.compare_exchange_strong(lock, nullptr);
}

TSettingsLockGuard::TSettingsLockGuard() : FLock(SettingsLock.load()) {
    if (FLock != nullptr)
        FLock->lock();
}

TSettingsLockGuard::~TSettingsLockGuard() {
    if (FLock != nullptr)
        FLock->unlock();
}
