// Costs of the emulated PC's basic services that every later flow leans on: a registry read
// and write (SQLite underneath), and one trace line (open, append, close).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/trace.h"
#include "platform/sim/sim_machine.h"
#include "platform/win32_values.h"

namespace {

using namespace tarvex;

struct BenchMachine {
    std::filesystem::path dir;
    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<platform::ScopedPlatform> installed;

    BenchMachine() {
        char tmpl[] = "/tmp/tarvex-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        auto loaded = sim::LoadMachineProfile(
            R"({"formatVersion":1,"os":{"major":6,"minor":1},"uiLanguage":1033,
                "program":{"path":"C:\\Tools\\Tarvex.exe"}})",
            "bench", "bench.json");
        sim::SimOptions options;
        options.stateDir = dir / "state";
        options.virtualClock = true;
        std::string error;
        machine = sim::SimMachine::Create(*loaded.profile, options, &error);
        installed = std::make_unique<platform::ScopedPlatform>(machine->Platform());
    }
    ~BenchMachine() {
        installed.reset();
        machine.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

void BM_RegistryQueryDword(benchmark::State& state) {
    BenchMachine m;
    auto& reg = m.machine->Registry();
    platform::RegKey key;
    (void)reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\VARNO\\SSDVelmora", 0, win::KEY_ALL_ACCESS,
                             &key, nullptr);
    uint32_t v = 1;
    (void)reg.RegSetValueEx(key, u"TrimInProgress", win::REG_DWORD, reinterpret_cast<uint8_t*>(&v), 4);
    for (auto _ : state) {
        uint32_t out = 0, size = 4, type = 0;
        benchmark::DoNotOptimize(
            reg.RegQueryValueEx(key, u"TrimInProgress", &type, reinterpret_cast<uint8_t*>(&out), &size));
    }
    (void)reg.RegCloseKey(key);
}
BENCHMARK(BM_RegistryQueryDword);

void BM_RegistrySetDword(benchmark::State& state) {
    BenchMachine m;
    auto& reg = m.machine->Registry();
    platform::RegKey key;
    (void)reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\VARNO\\SSDVelmora", 0, win::KEY_ALL_ACCESS,
                             &key, nullptr);
    uint32_t v = 0;
    for (auto _ : state) {
        ++v;
        benchmark::DoNotOptimize(
            reg.RegSetValueEx(key, u"TrimStartAt", win::REG_DWORD, reinterpret_cast<uint8_t*>(&v), 4));
    }
    (void)reg.RegCloseKey(key);
}
BENCHMARK(BM_RegistrySetDword);

void BM_TraceLine(benchmark::State& state) {
    BenchMachine m;
    ResetTraceForTesting();
    SetTraceLevel(1);
    int n = 0;
    for (auto _ : state) {
        Trace("Disk %d is mounted on IDE/SATA interface.", n++);
    }
    SetTraceLevel(0);
    ResetTraceForTesting();
}
BENCHMARK(BM_TraceLine);

}  // namespace

BENCHMARK_MAIN();
