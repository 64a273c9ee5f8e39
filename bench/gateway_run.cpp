// A full read and a verified change of five settings of the bundled AHU type through
// dezadizi-sim as a Modbus TCP gateway with --wire-speed and --hop-delay, over the program's own
// online road (serial manager, worker thread, register data store, gateway master). The read is
// compared with its wire-time bound plus the gateway's delay for each request; the change with
// the same change over the simulator's serial line (--wire-speed) plus that delay per request.
//
//   bench-gateway_run [hop delay in ms, default 20]
#include "BenchSupport.h"
#include "definitions/Devices.h"
#include "link/Serialmanager.h"
#include "modbus/Porttarget.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

namespace {

const char* const DeviceName = "Z7E AHU Interface";

struct TRoadTimes {
    double readMs = 0;
    TBenchBound read;
    double changeMs = 0;
    TBenchBound change;
    bool verified = false;
    bool failed = true;
    int total = 0;
};

double ElapsedMs(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Five whole-register settings at least a read block (50 registers) apart.
std::vector<int32_t> ChangedRegisters(const TDevice& device) {
    std::vector<int32_t> changed;
    for (const auto& group : device.Settings->Groups) {
        for (const auto& setting : group->Settings) {
            if (changed.size() < 5 && setting->RegisterType == rtHoldingRegister && !setting->InTemplate &&
                !setting->DisplayOnly() && setting->BitMask == 0 &&
                (changed.empty() || setting->Register >= changed.back() + 50))
                changed.push_back(setting->Register);
        }
    }
    return changed;
}

// Finds unit 1 on `commPort`, reads it whole, then changes five settings and writes them with
// commit and verification; `map` points the manager's port at the line or gateway.
TRoadTimes Measure(const std::string& definitions, int32_t commPort,
                   const std::function<void(TSerialManager&)>& map) {
    TRoadTimes times;
    TRegisterDataStore store;
    TDevices devices(store);
    devices.LoadFromFile(definitions);
    TSerialManager manager(&store);
    map(manager);
    std::mutex lock;
    std::vector<std::string> reports;
    store.OnProgress = [&](TRegisterDataStore*, const std::string& text, bool, int32_t) {
        std::lock_guard<std::mutex> guard(lock);
        reports.push_back(text);
    };
    const auto takeReports = [&](TBenchBound& bound) {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& text : reports)
            bound.Add(text);
        reports.clear();
    };

    std::optional<int32_t> id;
    manager.SearchForDevice(commPort, 1,
                            [&](TSerialThread*, int32_t found, bool ok) { id = ok ? found : -1; });
    BenchWaitUntil([&] { return id.has_value(); });
    if (*id <= 0)
        return times;
    TDevice* device = devices.DeviceById(*id);
    device->CommPort = commPort;
    device->Address = 1;
    device->Online = true;
    store.Reset();

    QElapsedTimer timer;
    timer.start();
    manager.ConnectDevice(device);
    BenchWaitUntil([&] { return store.IsComplete() || store.HasFailed(); });
    times.readMs = ElapsedMs(timer);
    takeReports(times.read);
    times.total = store.TotalCount();

    for (int32_t reg : ChangedRegisters(*device)) {
        int16_t value = 0;
        store.GetHoldingRegisters(reg, &value, 1);
        store.SetHoldingRegister(reg, static_cast<int16_t>(value + 1));
    }
    timer.restart();
    store.StartWrite({true, true});
    BenchWaitUntil([&] { return store.State() == ssIdle; });
    times.changeMs = ElapsedMs(timer);
    takeReports(times.change);
    times.verified = store.Verified();
    times.failed = store.HasFailed();
    manager.DisconnectDevice(device);
    return times;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const int hopMs = argc > 1 ? std::atoi(argv[1]) : 20;
    const QString bin = QCoreApplication::applicationDirPath();
    const std::string definitions = (bin + "/Devices.xml").toStdString();

    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QStringList unit{"--wire-speed", "--device", QString::fromLatin1(DeviceName), "-d",
                           QString::fromStdString(definitions)};
    const TBenchSimulator gatewaySim(unit + QStringList{"--tcp", "0", "--hop-delay", QString::number(hopMs)},
                                     config.path());
    const TBenchSimulator lineSim(unit + QStringList{"--port", "COM1"}, config.path());
    if (gatewaySim.Port().empty() || lineSim.Port().empty()) {
        std::fprintf(stderr, "the simulators did not start\n");
        return 1;
    }
    auto target = ParsePortTarget(gatewaySim.Port() + "@1");
    if (!target) {
        std::fprintf(stderr, "not a gateway: %s\n", gatewaySim.Port().c_str());
        return 1;
    }
    target->port = 2;
    const TRoadTimes gateway =
        Measure(definitions, 2, [&](TSerialManager& manager) { manager.MapPort(2, *target); });
    const TRoadTimes line = Measure(definitions, 1, [](TSerialManager&) {});

    const double readBound = gateway.read.Ms(hopMs);
    std::printf("%s: %d coils and registers, through a gateway of %d ms a request at 9600 baud\n", DeviceName,
                gateway.total, hopMs);
    std::printf("read : %9.1f ms, wire time + %d ms a request %9.1f ms (%d exchanges, %d bytes): %.3fx "
                "(target <= 1.05)\n",
                gateway.readMs, hopMs, readBound, gateway.read.exchanges, gateway.read.bytes,
                gateway.readMs / readBound);
    const double changeBound = line.changeMs + hopMs * gateway.change.exchanges;
    std::printf("5 changed, committed, verified: %9.1f ms; serial %.1f ms + %d x %d ms = %.1f ms: %+.1f ms "
                "(target <= +500 ms); %s\n",
                gateway.changeMs, line.changeMs, gateway.change.exchanges, hopMs, changeBound,
                gateway.changeMs - changeBound,
                gateway.verified && line.verified ? "verified" : "NOT verified");
    return gateway.failed || line.failed || !gateway.verified ? 1 : 0;
}
