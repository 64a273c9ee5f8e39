// Loading a large definition file (about 40,000 settings in five device types, templates of 40
// settings) into the catalogue, against pugixml parsing the same file alone. Counters: the
// heap the loaded catalogue holds, and the process's peak resident size.
#include "BenchSupport.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fstream>
#include <malloc.h>
#include <pugixml.hpp>
#include <sys/resource.h>

namespace {

std::string& DefinitionPath() {
    static std::string path;
    return path;
}

double PeakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

double HeapInUseMiB() {
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

void BM_PugixmlParseOnly(benchmark::State& state) {
    for (auto _ : state) {
        pugi::xml_document document;
        const pugi::xml_parse_result result = document.load_file(DefinitionPath().c_str());
        benchmark::DoNotOptimize(result.status);
    }
    state.counters["peak_rss_MiB"] = PeakResidentMiB();
}

void BM_LoadDefinitions(benchmark::State& state) {
    size_t settings = 0;
    double heap = 0;
    for (auto _ : state) {
        const double before = HeapInUseMiB();
        TRegisterDataStore store;
        TDevices devices(store);
        devices.LoadFromFile(DefinitionPath());
        state.PauseTiming();
        heap = HeapInUseMiB() - before;
        settings = 0;
        for (const auto& device : devices.Devices)
            settings += device->Settings->EntryCount();
        state.ResumeTiming();
    }
    state.counters["entries"] = static_cast<double>(settings);
    state.counters["catalogue_heap_MiB"] = heap;
    state.counters["peak_rss_MiB"] = PeakResidentMiB();
}

} // namespace

// Parse alone first, so the peak of the load is not hidden by nothing.
BENCHMARK(BM_PugixmlParseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDefinitions)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    DefinitionPath() = dir.filePath("Devices.xml").toStdString();
    {
        std::ofstream file(DefinitionPath(), std::ios::binary);
        file << BenchDefinitionFile(5, 40, 40);
    }
    return RunBenchmarks(argc, argv);
}
