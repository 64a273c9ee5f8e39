#pragma once
// The locked list of device types connected online, shared by the serial manager and every
// worker. Its lock is the store's, held by a worker for each whole job step.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class MbusMasterFunctions;
class TDevice;
class TRegisterDataStore;

class TDeviceList {
public:
    explicit TDeviceList(TRegisterDataStore* store);
    ~TDeviceList();
    TDeviceList(const TDeviceList&) = delete;
    TDeviceList& operator=(const TDeviceList&) = delete;

    // User-interface thread, locked.
    void Add(TDevice* device);
    void Remove(TDevice* device);
    // Removes an online device; when it was the last one the store is reset under the lock.
    void RemoveOnline(TDevice* device);
    bool HasDeviceOnPort(int32_t commPort);
    bool IsEmpty();
    TDevice* First();
    // User-interface thread, locked: the first device's tree shows its first group again.
    void SelectFirstGroup();
    // User-interface thread, locked: after a read, every setting of every connected tree takes
    // its value from the store.
    void TakeValuesFromStore();

    // Worker steps, each under the lock. `commPort` is the worker's port: a worker steps the
    // store and polls only for devices on its own port.
    // Returns true when a serviced setting has something to show.
    // The run's requests go to the line without the lock, so the user-interface thread never
    // waits for bytes on the wire.
    bool PollDevices(MbusMasterFunctions* protocol, int32_t commPort);
    void ReadDevices(MbusMasterFunctions* protocol, int32_t commPort);
    // Returns true when this step ended the write run as failed.
    bool WriteDevices(MbusMasterFunctions* protocol, int32_t commPort);

    // User-interface thread, locked: every device's tree shows its last serviced setting.
    void RefreshDevices();

    // Called on the worker, under the lock, when a read run starts (the main window's
    // BeginReadProgress). Must not wait for the user-interface thread.
    std::function<void()> OnBeginRead;
    // Called on the worker, under the lock, with the message of a failed write step. Must not
    // wait for the user-interface thread.
    std::function<void(const std::string&)> OnWriteError;

    TRegisterDataStore* Store() const { return FStore; }

private:
    bool HasDeviceOnPortLocked(int32_t commPort) const;

    TRegisterDataStore* FStore;
    // Without a store the list locks only itself.
    std::recursive_mutex FOwnLock;
    // The store's lock: the user-interface thread changes the image under it too.
    std::recursive_mutex& FLock;
    std::vector<TDevice*> FDevices;
};
