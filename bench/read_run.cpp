// A read run of 1,000 coils and 2,000 holding registers through the register data store and
// the RTU master, against dezadizi-sim on its pseudo-terminal: 2 coil blocks (800 + 200) and
// 40 register blocks of 50, one block per step as with a listener attached in the program.
//
// With --wire-speed the simulator paces every byte as a 9600-baud 8N1 line (11 bits a
// character), so the run is compared with the wire-time lower bound: all frame bytes times
// 11 bits / 9600 plus the quiet-line wait before each request. Without it the line costs
// nothing and what remains per exchange is software: compared with the floor of the quiet-line
// wait and the store's two 1 ms sleeps per block (after the report, after the block).
#include "BenchSupport.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Registerdatastore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <string>

namespace {

constexpr int32_t CoilCount = 1000;
constexpr int32_t RegisterCount = 2000;
constexpr double CharacterMs = 11.0 * 1000.0 / 9600.0;

// Frame bytes of the run: each request is 8 bytes; a reply is address, function, byte count,
// data and CRC.
int32_t RunFrameBytes(int32_t* exchanges) {
    int32_t bytes = 0;
    *exchanges = 0;
    for (int32_t left = CoilCount; left > 0; left -= 800) {
        const int32_t count = left < 800 ? left : 800;
        bytes += 8 + 5 + (count + 7) / 8;
        ++*exchanges;
    }
    for (int32_t left = RegisterCount; left > 0; left -= 50) {
        const int32_t count = left < 50 ? left : 50;
        bytes += 8 + 5 + 2 * count;
        ++*exchanges;
    }
    return bytes;
}

void BM_ReadRun(benchmark::State& state) {
    const bool wireSpeed = state.range(0) != 0;
    QTemporaryDir config;
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("COM99")};
    if (wireSpeed)
        arguments << QStringLiteral("--wire-speed");
    const TBenchSimulator simulator(arguments, config.path());
    if (simulator.Port().empty()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    MbusRtuMasterProtocol master;
    master.SetRetryCount(1);
    if (master.Open(simulator.Port(), 9600, 8, 1, 0) != 0) {
        state.SkipWithError("cannot open the simulator's line");
        return;
    }

    TRegisterDataStore store;
    store.Reset();
    for (int32_t address = 1; address <= CoilCount; ++address)
        store.InsertCoilIndex(address);
    for (int32_t address = 1; address <= RegisterCount; ++address)
        store.InsertHoldingRegisterIndex(address);
    int32_t reports = 0;
    int64_t done = 0;
    store.OnProgress = [&](TRegisterDataStore*, const std::string&, bool, int32_t increment) {
        ++reports;
        done += increment;
    };

    std::chrono::steady_clock::duration wall{};
    int64_t runs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        reports = 0;
        done = 0;
        store.SetProtocol(&master);
        store.StartRead();
        while (store.State() == ssReading)
            store.ReadStep();
        if (store.HasFailed() || done != CoilCount + RegisterCount) {
            state.SkipWithError("the read run failed");
            return;
        }
        wall += std::chrono::steady_clock::now() - start;
        ++runs;
    }

    int32_t exchanges = 0;
    const int32_t bytes = RunFrameBytes(&exchanges);
    const double quietMs = master.SilentInterval();
    const double wireBoundMs = bytes * CharacterMs + exchanges * quietMs;
    const double softwareFloorMs = quietMs + 2.0; // per exchange, without wire time
    state.counters["exchanges"] = exchanges;
    state.counters["reports"] = reports;
    state.counters["frame_bytes"] = bytes;
    if (wireSpeed)
        state.counters["wire_bound_ms"] = wireBoundMs;
    else
        state.counters["floor_per_exchange_ms"] = softwareFloorMs;
    const double runMs = std::chrono::duration<double, std::milli>(wall).count() / static_cast<double>(runs);
    state.counters["run_ms"] = runMs;
    state.counters["exchange_ms"] = runMs / exchanges;
    // With wire speed: the run against the wire-time lower bound (1.0 = on the bound). Without:
    // the software cost per exchange above the floor of quiet line and sleeps.
    if (wireSpeed)
        state.counters["run_over_wire_bound"] = runMs / wireBoundMs;
    else
        state.counters["software_ms_per_exchange"] = runMs / exchanges - softwareFloorMs;
}
BENCHMARK(BM_ReadRun)
    ->ArgName("wire_speed")
    ->Arg(1)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRun)
    ->ArgName("wire_speed")
    ->Arg(0)
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return RunBenchmarks(argc, argv);
}
