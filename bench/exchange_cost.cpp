// What one exchange costs above its time on the wire: a full write of the bundled AHU type
// through the program's own online road (serial manager, worker, register data store, RTU
// master), and a libmodbus master sending the same requests, taking turns on one line of
// dezadizi-sim with --wire-speed. A shared machine's load changes from minute to minute, so the
// two are measured alternately in one run and only their side-by-side figures mean anything.
//
//   bench-exchange_cost [rounds, default 2]
#include "BenchSupport.h"
#include "definitions/Devices.h"
#include "link/Devicelist.h"
#include "link/Serialmanager.h"
#include "modbus/Registerdatastore.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <modbus/modbus.h>
#include <optional>
#include <vector>

namespace {

// A write of one coil or register and its echo are 8 bytes each, at 11 bits a character.
constexpr double CharacterMs = 11.0 * 1000.0 / 9600.0;
constexpr double ExchangeWireMs = 16 * CharacterMs;
// Our master sends a request only once the line has been quiet for four characters (5 ms at
// 9600 baud), the frame gap a slave needs to see the request start, counted from the line's
// last byte; libmodbus leaves none.
constexpr double OurQuietLineMs = 5.0;

// One request of the write as a peer sends it: a coil or register and its value.
struct TRequest {
    bool coil = false;
    int address = 0;
    int value = 0;
};

struct TTally {
    double ms = 0;
    int exchanges = 0;
    // Milliseconds above the wire time, per exchange.
    double CostMs() const { return exchanges > 0 ? (ms - exchanges * ExchangeWireMs) / exchanges : 0; }
};

void WaitUntil(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(10);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// Our road: the whole image written, the commit included. Fills `requests` with what it sent.
bool OurWrite(TRegisterDataStore& store, TTally& tally, std::vector<TRequest>& requests) {
    QElapsedTimer timer;
    timer.start();
    store.StartWrite();
    WaitUntil([&] { return store.State() == ssIdle; });
    tally.ms += static_cast<double>(timer.nsecsElapsed()) / 1e6;
    requests.clear();
    for (const TSentValue& sent : store.SentValues()) {
        int16_t value = 0;
        if (sent.Coil) {
            value = store.GetCoil(sent.Address) ? 1 : 0;
        } else {
            store.GetHoldingRegisters(sent.Address, &value, 1);
        }
        requests.push_back({sent.Coil, sent.Address, static_cast<uint16_t>(value)});
    }
    requests.push_back({false, TRegisterDataStore::CommitRegister, TRegisterDataStore::CommitValue});
    tally.exchanges += static_cast<int>(requests.size());
    return store.LastResult() == TRunResult::Completed;
}

// The peer: the same requests, one after another, as a libmodbus master sends them.
bool PeerWrite(modbus_t* peer, const std::vector<TRequest>& requests, TTally& tally) {
    QElapsedTimer timer;
    timer.start();
    for (const TRequest& request : requests) {
        // Our register numbers count from 1; on the wire they count from 0.
        const int wire = request.address - 1;
        const int rc = request.coil ? modbus_write_bit(peer, wire, request.value)
                                    : modbus_write_register(peer, wire, static_cast<uint16_t>(request.value));
        if (rc != 1)
            return false;
    }
    tally.ms += static_cast<double>(timer.nsecsElapsed()) / 1e6;
    tally.exchanges += static_cast<int>(requests.size());
    return true;
}

modbus_t* OpenPeer(const std::string& port) {
    modbus_t* peer = modbus_new_rtu(port.c_str(), 9600, 'N', 8, 1);
    if (peer == nullptr)
        return nullptr;
    modbus_set_slave(peer, 1);
    modbus_set_response_timeout(peer, 1, 0);
    if (modbus_connect(peer) != 0) {
        modbus_free(peer);
        return nullptr;
    }
    return peer;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const TBenchSimulator sim({"--port", "COM1", "--wire-speed", "--device", "Z7E AHU Interface"},
                              config.path());
    if (sim.Port().empty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    TRegisterDataStore store;
    TDevices devices(store);
    devices.LoadFromFile((QCoreApplication::applicationDirPath() + "/Devices.xml").toStdString());
    TSerialManager manager(&store);
    std::optional<int32_t> id;
    manager.SearchForDevice(1, 1, [&](TSerialThread*, int32_t found, bool ok) { id = ok ? found : -1; });
    WaitUntil([&] { return id.has_value(); });
    TDevice* device = devices.DeviceById(*id);
    if (device == nullptr) {
        std::fprintf(stderr, "no unit answered\n");
        return 1;
    }
    device->CommPort = 1;
    device->Address = 1;
    device->Online = true;
    store.Reset();
    manager.ConnectDevice(device);
    WaitUntil([&] { return store.IsComplete() || store.HasFailed(); });

    TTally ours;
    TTally peer;
    std::vector<TRequest> requests;
    bool ok = true;
    for (int round = 0; ok && round < rounds; ++round) {
        ok = OurWrite(store, ours, requests);
        // The port is the worker's while the unit is connected: the peer takes the line between runs.
        manager.DisconnectDevice(device);
        modbus_t* master = ok ? OpenPeer(sim.Port()) : nullptr;
        ok = master != nullptr && PeerWrite(master, requests, peer);
        if (master != nullptr) {
            modbus_close(master);
            modbus_free(master);
        }
        if (ok && round + 1 < rounds) {
            device->Online = true;
            manager.ConnectDevice(device);
            WaitUntil([&] { return store.IsComplete() || store.HasFailed(); });
        }
    }
    if (!ok) {
        std::fprintf(stderr, "a write failed\n");
        return 1;
    }
    std::printf("%d rounds of %zu exchanges each, %.2f ms on the wire per exchange\n", rounds,
                requests.size(), ExchangeWireMs);
    // Each master's cost above what its own exchange must take on the line: the frames, and for
    // ours the quiet line it waits for.
    const double ourCost = ours.CostMs() - OurQuietLineMs;
    std::printf(
        "ours     : %+.2f ms an exchange above the frames, %+.2f ms above them and its %.0f ms quiet line\n",
        ours.CostMs(), ourCost, OurQuietLineMs);
    std::printf("libmodbus: %+.2f ms an exchange above the frames (it waits for no quiet line)\n",
                peer.CostMs());
    std::printf("ratio ours/libmodbus above each one's wire time: %.2f\n",
                peer.CostMs() > 0 ? ourCost / peer.CostMs() : 0.0);
    return 0;
}
