// The whole drive scan (device listing, WMI disk list, controller class per disk, IDENTIFY,
// SMART data and thresholds) on emulated PCs with 1, 4, 16 and 64 SATA drives. Reports the
// time of one scan and, as a counter, the time per drive.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/sim/sim_machine.h"

namespace {

using namespace tarvex;

std::string ProfileWithDisks(int count) {
    nlohmann::json p = nlohmann::json::parse(R"({"formatVersion": 1, "os": {"major": 6, "minor": 1, "build": 7601,
        "servicePack": "Service Pack 1", "servicePackMajor": 1}, "uiLanguage": 1033,
        "program": {"path": "C:\\Tools\\Tarvex.exe"}})");
    p["disks"] = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        p["disks"].push_back({{"number", i},
                              {"kind", "sata"},
                              {"model", "VARNO TL30A 256GB"},
                              {"serial", "VR16A2C" + std::to_string(1000000 + i)},
                              {"firmware", "1.08"},
                              {"capacityBytes", 256060514304ull}});
    }
    return p.dump();
}

void BM_DriveScan(benchmark::State& state) {
    const int drives = static_cast<int>(state.range(0));
    char tmpl[] = "/tmp/tarvex-scan-bench-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(tmpl);
    auto loaded = sim::LoadMachineProfile(ProfileWithDisks(drives), "bench", "bench.json");
    if (!loaded.profile) {
        state.SkipWithError(loaded.error.c_str());
        return;
    }
    sim::SimOptions options;
    options.stateDir = dir / "state";
    options.virtualClock = true;
    std::string error;
    auto machine = sim::SimMachine::Create(*loaded.profile, options, &error);
    if (!machine) {
        state.SkipWithError(error.c_str());
        return;
    }
    platform::ScopedPlatform installed(machine->Platform());
    InitGlobalAtaCommand();
    int found = 0;
    for (auto _ : state) {
        std::vector<PhysicalDriveInfo> table;
        found = GlobalAtaCommand().UpdatePhysicalDrivesInfo(table);
        benchmark::DoNotOptimize(table.data());
    }
    if (found != drives) {
        state.SkipWithError(("the scan found " + std::to_string(found) + " drives").c_str());
    }
    state.counters["drives"] = drives;
    // The inverted rate of drives scanned: the scan time per drive.
    state.counters["per_drive"] = benchmark::Counter(static_cast<double>(state.iterations()) * drives,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_DriveScan)->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
