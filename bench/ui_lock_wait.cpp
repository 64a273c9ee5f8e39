// How long the user-interface thread waits for the lock of the store a worker serves while a
// worker runs, as a group click or a custom check box does. Against dezadizi-sim at wire speed:
// a live line (a read and a write run) and a dead one (a unit that answers the search and then
// nothing: a read run that times out, a write that fails and the reopen attempts after it),
// then how long a disconnect takes while those attempts run.
//
//   bench-ui_lock_wait
#include "BenchSupport.h"
#include "definitions/Devices.h"
#include "link/Devicelist.h"
#include "link/Serialmanager.h"
#include "modbus/Registerdatastore.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

// Takes the worker's reports until `done`, taking the store's lock every 2 ms as clicks
// would; returns the longest wait for it in milliseconds.
double LongestLockWait(const TRegisterDataStore& store, const std::function<bool()>& done, int* takes) {
    double longest = 0.0;
    QElapsedTimer wait;
    while (!done()) {
        wait.start();
        { TStoreLock guard(store.Lock()); }
        longest = std::max(longest, static_cast<double>(wait.nsecsElapsed()) / 1e6);
        ++*takes;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(2);
    }
    return longest;
}

TDevice* Connect(TSerialManager& manager, TDevices& devices, TRegisterDataStore& store, int32_t port) {
    std::optional<int32_t> id;
    manager.SearchForDevice(port, 1, [&](TSerialThread*, int32_t found, bool ok) { id = ok ? found : -1; });
    while (!id)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    TDevice* device = devices.DeviceById(*id);
    device->CommPort = port;
    device->Address = 1;
    device->Online = true;
    store.Reset();
    manager.ConnectDevice(device);
    return device;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const TBenchSimulator live({"--port", "COM1", "--wire-speed", "--device-id", "17"}, config.path());
    const TBenchSimulator dead({"--port", "COM2", "--wire-speed", "--device-id", "17", "--fault",
                                "no-reply=1", "--fault-after", "1"},
                               config.path());
    if (live.Port().empty() || dead.Port().empty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }

    TRegisterDataStore store;
    TDevices devices(store);
    devices.LoadFromFile((bin + "/Devices.xml").toStdString());
    int takes = 0;
    {
        TSerialManager manager(&store);
        TDevice* device = Connect(manager, devices, store, 1);
        const double read = LongestLockWait(
            store, [&] { return store.IsComplete() || store.HasFailed(); }, &takes);
        std::printf("live line, read run : longest wait %6.2f ms (%d takes)\n", read, takes);
        takes = 0;
        store.StartWrite();
        const double write = LongestLockWait(
            store, [&] { return store.State() == ssIdle; }, &takes);
        std::printf("live line, write run: longest wait %6.2f ms (%d takes)\n", write, takes);
        manager.DisconnectDevice(device);
    }
    {
        TSerialManager manager(&store);
        TDevice* device = Connect(manager, devices, store, 2);
        takes = 0;
        const double read = LongestLockWait(
            store, [&] { return store.HasFailed(); }, &takes);
        std::printf("dead line, read run : longest wait %6.2f ms (%d takes)\n", read, takes);
        takes = 0;
        store.StartWrite();
        const double write = LongestLockWait(
            store, [&] { return store.HasFailed() && store.State() == ssIdle; }, &takes);
        std::printf("dead line, write run: longest wait %6.2f ms (%d takes)\n", write, takes);
        // The reopen attempts follow the failed write; a disconnect meanwhile.
        takes = 0;
        QElapsedTimer timer;
        timer.start();
        const double recovery = LongestLockWait(
            store, [&] { return timer.elapsed() >= 500; }, &takes);
        std::printf("dead line, reopening: longest wait %6.2f ms (%d takes)\n", recovery, takes);
        timer.restart();
        manager.DisconnectDevice(device);
        std::printf("dead line, disconnect during the reopen attempts: %6.2f ms\n",
                    static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return 0;
}
