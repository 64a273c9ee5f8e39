// Checking a large definition file: 250,000 setting elements (five device types of 49,990
// settings in one group plus a template of 10, about 260,000 settings once the templates are
// replicated), against loading the same file alone. The file is clean, as a maintained one is,
// so every register bucket is visited and nothing is reported. Smaller files with one and two
// device types show whether the time grows linearly.
#include "BenchSupport.h"
#include "definitions/Definitioncheck.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fstream>
#include <map>

namespace {

constexpr int SettingsPerDevice = 49990;

// Ten settings that use every kind, bit fields sharing a register and the shared-register
// idiom: 7 holding registers and 2 coils from `reg` and `coil`.
std::string Cycle(int i, int reg, int coil) {
    const std::string n = std::to_string(i);
    const auto r = [&](int k) { return "\" register=\"" + std::to_string(reg + k) + "\""; };
    const auto c = [&](int k) { return "\" register=\"" + std::to_string(coil + k) + "\""; };
    return "<setting value_type=\"int\" name=\"Int " + n + r(0) +
           " type=\"holding_register\" min=\"0\" max=\"100\" default=\"5\" value_text=\"%\"/>\n"
           "<setting value_type=\"checkbox\" name=\"Coil A " +
           n + c(0) +
           " type=\"coil\" default=\"checked\"/>\n"
           "<setting value_type=\"checkbox\" name=\"Coil B " +
           n + c(1) +
           " type=\"coil\" default=\"unchecked\"/>\n"
           "<setting value_type=\"drop_down\" name=\"Low " +
           n + r(1) +
           " type=\"holding_register\" bitmask=\"$000F\"><ddvalue name=\"Off\" value=\"0\" default=\"true\"/>"
           "<ddvalue name=\"On\" value=\"1\"/></setting>\n"
           "<setting value_type=\"int\" name=\"High " +
           n + r(1) +
           " type=\"holding_register\" bitmask=\"$00F0\" min=\"0\" max=\"15\" default=\"3\" "
           "value_text=\"\"/>\n"
           "<setting value_type=\"units\" name=\"Speed " +
           n + r(2) +
           " type=\"holding_register\" min=\"0\" max=\"2000\" default=\"250\"/>\n"
           "<setting value_type=\"label\" name=\"Shown " +
           n + r(3) +
           " type=\"holding_register\" default=\"0\"/>\n"
           "<setting value_type=\"uint32\" name=\"Hours " +
           n + r(4) +
           " type=\"holding_register\" min=\"0\" max=\"100000\" default=\"10\" value_text=\"h\"/>\n"
           "<setting value_type=\"drop_down\" name=\"Mode " +
           n + r(6) +
           " type=\"holding_register\"><ddvalue name=\"Off\" value=\"2\" default=\"true\"/>"
           "<ddvalue name=\"On\" value=\"5\"/></setting>\n"
           "<setting value_type=\"checkbox\" name=\"Mode on " +
           n + r(6) +
           " type=\"holding_register\" default=\"unchecked\" unchecked_value=\"2\" checked_value=\"5\"/>\n";
}

std::string File(int devices) {
    std::string unitBody;
    for (int i = 0; i + 10 <= SettingsPerDevice - 1; i += 10)
        unitBody += Cycle(i, 1 + 7 * (i / 10), 2 * (i / 10));
    const int tail = (SettingsPerDevice - 1) / 10 * 10;
    for (int i = tail; i < SettingsPerDevice - 1; ++i) {
        unitBody += "<setting value_type=\"int\" name=\"Tail " + std::to_string(i) + "\" register=\"" +
                    std::to_string(50000 + i - tail) +
                    "\" type=\"holding_register\" min=\"0\" max=\"9\" default=\"1\" "
                    "value_text=\"\"/>\n";
    }
    std::string groupBody;
    for (int j = 0; j < 10; ++j) {
        groupBody += "<setting value_type=\"int\" name=\"Group setting " + std::to_string(j) +
                     "\" register=\"" + std::to_string(60000 + j) +
                     "\" offset=\"10\" type=\"holding_register\" min=\"0\" max=\"9\" "
                     "default=\"1\" value_text=\"\"/>\n";
    }
    return BenchDefinitionFile(devices, 0, unitBody, groupBody);
}

QTemporaryDir& Folder() {
    static QTemporaryDir dir;
    return dir;
}

const std::string& PathFor(int devices) {
    static std::map<int, std::string> paths;
    std::string& path = paths[devices];
    if (path.empty()) {
        path = Folder().filePath("Devices" + QString::number(devices) + ".xml").toStdString();
        std::ofstream(path, std::ios::binary) << File(devices);
    }
    return path;
}

void BM_LoadOnly(benchmark::State& state) {
    const std::string& path = PathFor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TRegisterDataStore store;
        TDevices devices(store);
        devices.LoadFromFile(path);
        benchmark::DoNotOptimize(devices.Devices.data());
    }
    state.SetComplexityN(state.range(0) * SettingsPerDevice);
}

void BM_Check(benchmark::State& state) {
    const std::string& path = PathFor(static_cast<int>(state.range(0)));
    int findings = 0;
    for (auto _ : state) {
        const TDefinitionReport report = CheckDefinitionFile(path);
        findings = report.Errors + report.Warnings;
    }
    state.counters["findings"] = findings;
    state.SetComplexityN(state.range(0) * SettingsPerDevice);
}

} // namespace

BENCHMARK(BM_LoadOnly)->Arg(1)->Arg(2)->Arg(5)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_Check)->Arg(1)->Arg(2)->Arg(5)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return RunBenchmarks(argc, argv);
}
