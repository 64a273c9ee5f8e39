#include "link/Devicelist.h"

#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Settings.h"

#include <algorithm>
#include <exception>

namespace {

// Lets go of the lock for one request on the wire and takes it again before the store goes on.
TExchangeGate Unlocked(std::unique_lock<std::recursive_mutex>& lock) {
    return [&lock](const std::function<int32_t()>& request) {
        lock.unlock();
        struct TRelock {
            std::unique_lock<std::recursive_mutex>& lock;
            ~TRelock() { lock.lock(); }
        } relock{lock};
        return request();
    };
}

} // namespace

TDeviceList::TDeviceList(TRegisterDataStore* store)
    : FStore(store), FLock(store != nullptr ? store->Lock() : FOwnLock) {}

TDeviceList::~TDeviceList() {
    FDevices.clear();
}

void TDeviceList::Add(TDevice* device) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FDevices.push_back(device);
}

void TDeviceList::Remove(TDevice* device) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FDevices.erase(std::remove(FDevices.begin(), FDevices.end(), device), FDevices.end());
}

void TDeviceList::RemoveOnline(TDevice* device) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FDevices.erase(std::remove(FDevices.begin(), FDevices.end(), device), FDevices.end());
    // With no device left a run cut short must never be resumed by another port's worker.
    if (FDevices.empty() && FStore != nullptr)
        FStore->Reset();
}

bool TDeviceList::HasDeviceOnPort(int32_t commPort) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return HasDeviceOnPortLocked(commPort);
}

bool TDeviceList::HasDeviceOnPortLocked(int32_t commPort) const {
    return std::any_of(FDevices.begin(), FDevices.end(),
                       [commPort](const TDevice* d) { return d->CommPort == commPort; });
}

bool TDeviceList::IsEmpty() {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FDevices.empty();
}

TDevice* TDeviceList::First() {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FDevices.empty() ? nullptr : FDevices.front();
}

void TDeviceList::SelectFirstGroup() {
    // Showing a group marks its settings for reading and reads them from the image, as the
    // worker's polling does under this lock; unlocked, both wrote the same setting at once.
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (!FDevices.empty())
        FDevices.front()->Settings->SelectFirstGroup();
}

void TDeviceList::TakeValuesFromStore() {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    for (TDevice* device : FDevices)
        device->Settings->TakeValuesFromStore();
}

bool TDeviceList::PollDevices(MbusMasterFunctions* protocol, int32_t commPort) {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    bool report = false;
    for (TDevice* device : FDevices) {
        if (device->CommPort != commPort)
            continue;
        device->Settings->PollNext(device->Address, protocol);
        report = report || device->Settings->HasPolledReport();
    }
    return report;
}

void TDeviceList::ReadDevices(MbusMasterFunctions* protocol, int32_t commPort) {
    std::unique_lock<std::recursive_mutex> lock(FLock);
    if (FStore == nullptr || !HasDeviceOnPortLocked(commPort))
        return;
    FStore->SetProtocol(protocol);
    if (FStore->State() == ssCollecting) {
        try {
            for (TDevice* device : FDevices) {
                if (device->CommPort == commPort)
                    device->Settings->RegisterWithStore();
            }
        } catch (const std::exception& e) {
            // A definition the store refuses ends the run as a failure the user is told about.
            FStore->FailRun(e.what());
            return;
        }
        if (FStore->StartRead() != TRunStart::Started)
            return;
        if (OnBeginRead)
            OnBeginRead();
    }
    if (FStore->State() == ssReading)
        FStore->ReadStep(Unlocked(lock));
}

bool TDeviceList::WriteDevices(MbusMasterFunctions* protocol, int32_t commPort) {
    std::unique_lock<std::recursive_mutex> lock(FLock);
    if (FStore == nullptr || !HasDeviceOnPortLocked(commPort))
        return false;
    FStore->SetProtocol(protocol);
    if (FStore->State() != ssWriting)
        return false;
    try {
        FStore->WriteStep(Unlocked(lock));
    } catch (const std::exception& e) {
        if (OnWriteError)
            OnWriteError(e.what());
    }
    return FStore->State() == ssIdle && FStore->HasFailed();
}

void TDeviceList::RefreshDevices() {
    std::lock_guard<std::recursive_mutex> lock(FLock);
    for (TDevice* device : FDevices)
        device->Settings->RefreshPolled();
}
