// Commissioning a site against dezadizi-sim with --wire-speed, through the dezadizi-cli program:
// one unit alone, then four units on four ports (one child per port, run at the same time), each
// differing from the settings file in ten settings; the four should take little longer than one.
// Then a scan of addresses 1 to 247 on a line with three units.
//
//   bench-commission [--benchmark_filter=...]
#include "BenchSupport.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace {

QString Bin(const QString& program) {
    return QCoreApplication::applicationDirPath() + "/" + program;
}

// A simulator that is stopped when it goes out of scope; Port() is empty when it did not start.
class TSim {
public:
    explicit TSim(const QStringList& arguments) {
        FProcess.start(Bin("dezadizi-sim"), arguments);
        std::string output;
        while (output.find('\n') == std::string::npos && FProcess.waitForReadyRead(10000))
            output += FProcess.readAllStandardOutput().toStdString();
        const size_t at = output.find("port=");
        if (at != std::string::npos)
            FPort = output.substr(at + 5, output.find(' ', at) - at - 5);
    }
    ~TSim() {
        FProcess.terminate();
        FProcess.waitForFinished(15000);
    }
    const std::string& Port() const { return FPort; }

private:
    QProcess FProcess;
    std::string FPort;
};

// Runs dezadizi-cli; its exit code.
int Cli(const QStringList& arguments) {
    QProcess process;
    process.start(Bin("dezadizi-cli"), arguments + QStringList{"-d", Bin("Devices.xml")});
    process.waitForFinished(-1);
    return process.exitCode();
}

// The AHU defaults with ten settings changed.
std::string SiteFile(const QTemporaryDir& dir) {
    const std::string path = (dir.path() + "/site.rur").toStdString();
    Cli({"defaults", "Z7E AHU Interface", "-o", QString::fromStdString(path)});
    pugi::xml_document doc;
    doc.load_file(path.c_str());
    const std::vector<std::pair<const char*, int>> changes{
        {"Minimum Supply Air Velocity", 160},
        {"Maximum Supply Air Velocity", 240},
        {"Duct Static Pressure Setpoint", 260},
        {"Supply Fan Minimum Speed", 25},
        {"Supply Fan Maximum Speed", 85},
        {"Supply Air Temperature Offset", 1},
        {"Boost Run Time", 5},
        {"Filter Change Interval", 4000},
        {"Service Interval", 8000},
        {"Night Setback Mode", 1},
    };
    for (const auto& [name, value] : changes) {
        pugi::xml_node setting =
            doc.select_node((std::string("//setting[@name='") + name + "']").c_str()).node();
        setting.attribute("value") = value;
        if (pugi::xml_attribute wide = setting.attribute("Address"))
            wide = value;
    }
    doc.save_file(path.c_str());
    return path;
}

double OneUnitSeconds = 0;

void Commission(benchmark::State& state, int units) {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    const std::string file = SiteFile(dir);
    for (auto _ : state) {
        // Fresh units, each at the factory defaults.
        std::vector<std::unique_ptr<TSim>> sims;
        QStringList arguments{"commission", QString::fromStdString(file), "--allow-out-of-range"};
        for (int i = 0; i < units; ++i) {
            sims.push_back(std::make_unique<TSim>(QStringList{"--wire-speed", "--device", "Z7E AHU Interface",
                                                              "--port", QString("COM%1").arg(11 + i)}));
            arguments << QString::fromStdString(sims.back()->Port());
        }
        QElapsedTimer timer;
        timer.start();
        const int code = Cli(arguments);
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        if (code != 0)
            state.SkipWithError("the commissioning did not verify every unit");
        if (units == 1)
            OneUnitSeconds = seconds;
        else if (OneUnitSeconds > 0)
            state.counters["ratio_to_one_unit"] = seconds / OneUnitSeconds;
    }
}

void BM_CommissionOneUnit(benchmark::State& state) {
    Commission(state, 1);
}

void BM_CommissionFourUnitsOnFourPorts(benchmark::State& state) {
    Commission(state, 4);
}

void BM_ScanALineWithThreeUnits(benchmark::State& state) {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    TSim line({"--wire-speed", "--device", "Z7E AHU Interface", "--slave", "3", "--slave", "100", "--slave",
               "247"});
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        QProcess scan;
        scan.start(Bin("dezadizi-cli"),
                   {"scan", QString::fromStdString(line.Port()), "-d", Bin("Devices.xml")});
        scan.waitForFinished(-1);
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        const std::string found = scan.readAllStandardOutput().toStdString();
        if (found != "3  17  Z7E AHU Interface\n100  17  Z7E AHU Interface\n247  17  Z7E AHU Interface\n")
            state.SkipWithError(("the scan found: " + found).c_str());
    }
}

} // namespace

BENCHMARK(BM_CommissionOneUnit)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_CommissionFourUnitsOnFourPorts)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ScanALineWithThreeUnits)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return RunBenchmarks(argc, argv);
}
