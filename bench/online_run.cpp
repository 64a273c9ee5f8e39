// A full read, a full write and a verified change-only write of five settings in five read
// blocks, of a bundled device type through the program's own online road (serial manager,
// worker thread, register data store, RTU master) against dezadizi-sim with --wire-speed, each
// compared with its wire-time lower bound: all frame bytes at 11 bits a character and 9600 baud,
// plus the 5 ms quiet-line wait before each request. Then the CPU the process uses while
// connected and idle.
//
//   bench-online_run [device id, default 17] [idle seconds, default 30] [trace file]
//
// With a trace file every frame goes to it as --trace writes it, to tell what the trace costs.
#include "BenchSupport.h"
#include "definitions/Devices.h"
#include "link/Devicelist.h"
#include "link/Serialmanager.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Registerdatastore.h"
#include "modbus/Tracefile.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

using TBound = TBenchBound;

void AddReport(TBound& bound, const std::string& text) {
    bound.Add(text);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void WaitUntil(const std::function<bool()>& done) {
    BenchWaitUntil(done);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const int deviceId = argc > 1 ? std::atoi(argv[1]) : 17;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 30;
    const QString bin = QCoreApplication::applicationDirPath();

    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const TBenchSimulator sim({"--port", "COM1", "--wire-speed", "--device-id", QString::number(deviceId)},
                              config.path());
    if (sim.Port().empty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }

    TRegisterDataStore store;
    TDevices devices(store);
    devices.LoadFromFile((bin + "/Devices.xml").toStdString());
    TTraceFile trace;
    TSerialManager::TProtocolFactory masters;
    if (argc > 3) {
        if (const std::string failure = trace.Open(argv[3], true); !failure.empty()) {
            std::fprintf(stderr, "%s\n", failure.c_str());
            return 1;
        }
        masters = [&trace] {
            auto master = std::make_unique<MbusRtuMasterProtocol>();
            master->SetTrafficSink(&trace);
            return master;
        };
    }
    TSerialManager manager(&store, masters);
    std::mutex lock;
    std::vector<std::string> reports;
    store.OnProgress = [&](TRegisterDataStore*, const std::string& text, bool, int32_t) {
        std::lock_guard<std::mutex> guard(lock);
        reports.push_back(text);
    };

    std::optional<int32_t> id;
    manager.SearchForDevice(1, 1, [&](TSerialThread*, int32_t found, bool ok) { id = ok ? found : -1; });
    WaitUntil([&] { return id.has_value(); });
    TDevice* device = devices.DeviceById(*id);
    device->CommPort = 1;
    device->Address = 1;
    device->Online = true;
    store.Reset();

    QElapsedTimer timer;
    timer.start();
    manager.ConnectDevice(device);
    WaitUntil([&] { return store.IsComplete() || store.HasFailed(); });
    const double readMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    TBound readBound;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& text : reports)
            AddReport(readBound, text);
        reports.clear();
    }

    timer.restart();
    store.StartWrite();
    WaitUntil([&] { return store.State() == ssIdle; });
    const double writeMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    TBound writeBound;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& text : reports)
            AddReport(writeBound, text); // the closing empty report stands for the commit
        reports.clear();
    }

    // Five whole-register settings at least a read block (50 registers) apart, each changed.
    std::vector<int32_t> changed;
    for (const auto& group : device->Settings->Groups) {
        for (const auto& setting : group->Settings) {
            if (changed.size() < 5 && setting->RegisterType == rtHoldingRegister && !setting->InTemplate &&
                !setting->DisplayOnly() && setting->BitMask == 0 &&
                (changed.empty() || setting->Register >= changed.back() + 50))
                changed.push_back(setting->Register);
        }
    }
    for (int32_t reg : changed) {
        int16_t value = 0;
        store.GetHoldingRegisters(reg, &value, 1);
        store.SetHoldingRegister(reg, static_cast<int16_t>(value + 1));
    }
    timer.restart();
    store.StartWrite({true, true});
    WaitUntil([&] { return store.State() == ssIdle; });
    const double changedMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    TBound changedBound;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& text : reports)
            AddReport(changedBound, text);
    }

    std::printf("device %s (id %d): %d coils and registers\n", device->Name.c_str(), *id, store.TotalCount());
    std::printf("read : %9.1f ms, wire-time bound %9.1f ms (%d exchanges, %d bytes): %+.1f %%\n", readMs,
                readBound.Ms(), readBound.exchanges, readBound.bytes,
                100.0 * (readMs / readBound.Ms() - 1.0));
    std::printf("write: %9.1f ms, wire-time bound %9.1f ms (%d exchanges, %d bytes): %+.1f %%\n", writeMs,
                writeBound.Ms(), writeBound.exchanges, writeBound.bytes,
                100.0 * (writeMs / writeBound.Ms() - 1.0));
    std::printf(
        "5 changed, verified: %9.1f ms, wire-time bound %9.1f ms (%d exchanges, %d bytes): %.2fx; %s\n",
        changedMs, changedBound.Ms(), changedBound.exchanges, changedBound.bytes,
        changedMs / changedBound.Ms(), store.Verified() ? "verified" : "NOT verified");

    const double cpuBefore = CpuSeconds();
    timer.restart();
    WaitUntil([&] { return timer.elapsed() >= idleSeconds * 1000; });
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("idle : %.2f s of CPU in %d s connected and idle: %.2f %% of one core\n", cpu, idleSeconds,
                100.0 * cpu / idleSeconds);

    manager.DisconnectDevice(device);
    return store.HasFailed() ? 1 : 0;
}
