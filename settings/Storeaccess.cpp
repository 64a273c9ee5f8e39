#include "settings/Storeaccess.h"

#include <atomic>
#include <stdexcept>

namespace {
// Read by the worker thread while polling, so the hand-over is atomic.
std::atomic<TRegisterDataStore*> InstalledStore{nullptr};
thread_local TRegisterDataStore* ThreadStore = nullptr;
} // namespace

TRegisterDataStore* RegisterDataStore() {
    if (ThreadStore != nullptr)
        return ThreadStore;
    return InstalledStore.load();
}

TRegisterDataStore* SetRegisterDataStore(TRegisterDataStore* store) {
    return InstalledStore.exchange(store);
}

TRegisterDataStore& RequireRegisterDataStore() {
    TRegisterDataStore* store = RegisterDataStore();
    if (store == nullptr)
        throw std::logic_error("No register data store is installed");
    return *store;
}

TThreadStoreScope::TThreadStoreScope(TRegisterDataStore* store) : FPrevious(ThreadStore) {
    ThreadStore = store;
}

TThreadStoreScope::~TThreadStoreScope() {
    ThreadStore = FPrevious;
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
