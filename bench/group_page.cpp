// Showing a ten-copy group page (10 x (N+1) rows of editors) and taking it down again, on the
// offscreen platform.
#include "BenchSupport.h"
#include "app/Grouppage.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QScrollArea>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <pugixml.hpp>

namespace {

// A device type whose template has `n` settings; its group at position 2 is a ten-copy group.
std::unique_ptr<TDevice> TenCopyDevice(int n) {
    static pugi::xml_document document;
    document.load_string(BenchDefinitionFile(1, 1, n).c_str());
    static TRegisterDataStore store;
    auto device = std::make_unique<TDevice>(store);
    device->LoadFromXml(document.document_element().child("device"), document.document_element());
    return device;
}

void BM_ShowTenCopyPage(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::unique_ptr<TDevice> device = TenCopyDevice(n);
    QScrollArea area;
    area.resize(800, 600);
    area.show();
    TGroup& group = *device->Settings->Groups.at(2);
    for (auto _ : state) {
        auto page = std::make_unique<TGroupPage>(group, &area);
        state.PauseTiming();
        page.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = group.SettingCount;
}

// The same page with every entry marked as changed: the marks' share of showing a page.
void BM_ShowTenCopyPageMarked(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::unique_ptr<TDevice> device = TenCopyDevice(n);
    QScrollArea area;
    area.resize(800, 600);
    area.show();
    TGroup& group = *device->Settings->Groups.at(2);
    for (auto& entry : group.Settings)
        entry->Marked = true;
    for (auto _ : state) {
        auto page = std::make_unique<TGroupPage>(group, &area);
        state.PauseTiming();
        page.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = group.SettingCount;
}

void BM_HideTenCopyPage(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::unique_ptr<TDevice> device = TenCopyDevice(n);
    QScrollArea area;
    area.resize(800, 600);
    area.show();
    TGroup& group = *device->Settings->Groups.at(2);
    for (auto _ : state) {
        state.PauseTiming();
        auto page = std::make_unique<TGroupPage>(group, &area);
        state.ResumeTiming();
        page.reset();
    }
    state.counters["rows"] = group.SettingCount;
}

} // namespace

BENCHMARK(BM_ShowTenCopyPage)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowTenCopyPageMarked)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HideTenCopyPage)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    return RunBenchmarks(argc, argv);
}
