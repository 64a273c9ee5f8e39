// Comparing two settings files of the largest bundled device type: both files taken into a
// scratch tree and the two snapshots compared (goal: under 50 ms).
#include "features/Compare.h"
#include "BenchSupport.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

struct TFixture {
    TFixture() {
        devices.LoadFromFile(DEZ_SOURCE_DIR "/data/Devices.xml");
        for (const auto& device : devices.Devices) {
            if (largest == nullptr || device->Settings->EntryCount() > largest->Settings->EntryCount())
                largest = device.get();
        }
        TSettings& tree = *largest->Settings;
        store.Reset();
        tree.RegisterWithStore();
        tree.RestoreDefaults();
        first = dir.filePath("first.rur").toStdString();
        tree.SaveToFile(first);
        // Every tenth setting of every group changed: many rows to list.
        for (const auto& group : tree.Groups) {
            for (size_t i = 0; i < group->Settings.size(); i += 10)
                group->Settings[i]->Value += 1;
        }
        second = dir.filePath("second.rur").toStdString();
        tree.SaveToFile(second);
    }
    TRegisterDataStore store;
    TDevices devices{store};
    TDevice* largest = nullptr;
    QTemporaryDir dir;
    std::string first;
    std::string second;
};

void BM_CompareTwoFiles(benchmark::State& state) {
    static TFixture fixture;
    const TSettings& tree = *fixture.largest->Settings;
    size_t rows = 0;
    for (auto _ : state) {
        TScratchTree scratch(tree, fixture.devices.Document->document_element());
        const TSnapshot a = scratch.File(fixture.first, false);
        const TSnapshot b = scratch.File(fixture.second, false);
        rows = CompareSnapshots(tree, a, b).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["settings"] = static_cast<double>(tree.EntryCount());
    state.counters["rows"] = static_cast<double>(rows);
}

} // namespace

BENCHMARK(BM_CompareTwoFiles)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return RunBenchmarks(argc, argv);
}
