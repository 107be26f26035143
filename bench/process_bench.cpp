// Whole runs of tarvexctl, as a user starts them: process start, opening the emulated PC,
// the start-up sequence, the command and the exit, in wall time. Each benchmark runs on its
// own state directory, which one run before the timed ones has filled (the usual case: the
// PC has run before). Everything the runs write stays in a temporary folder.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path BenchFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "tarvex-process-bench.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        return fs::path(pattern);
    }();
    return folder;
}

fs::path Tarvexctl() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "tarvexctl";
}

// Runs tarvexctl with `args`, its output into a file of the bench folder; false unless it
// exits 0.
bool Run(const std::vector<std::string>& args) {
    const std::string program = Tarvexctl().string();
    const std::string output = (BenchFolder() / "output.txt").string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void RunCommand(benchmark::State& state, const std::string& machine, const std::string& name,
                std::vector<std::string> command) {
    const fs::path stateDir = BenchFolder() / name;
    std::vector<std::string> args = {"--machine", machine, "--state", stateDir.string()};
    args.insert(args.end(), command.begin(), command.end());
    if (!Run(args)) {
        state.SkipWithError("tarvexctl failed (see output.txt in the bench folder)");
        return;
    }
    rusage before {};
    ::getrusage(RUSAGE_CHILDREN, &before);
    for (auto _ : state) {
        if (!Run(args)) {
            state.SkipWithError("tarvexctl failed");
            return;
        }
    }
    // The processor time of the runs (tarvexctl and the programs it started), per run.
    rusage after {};
    ::getrusage(RUSAGE_CHILDREN, &after);
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    const double cpu = ms(after.ru_utime) - ms(before.ru_utime) + ms(after.ru_stime) - ms(before.ru_stime);
    state.counters["child_cpu_ms"] = benchmark::Counter(cpu / static_cast<double>(state.iterations()));
}

void BM_ScanDemo(benchmark::State& state) {
    RunCommand(state, "demo", "scan-demo", {"scan"});
}

void BM_ReportDemo(benchmark::State& state) {
    RunCommand(state, "demo", "report-demo", {"report", (BenchFolder() / "report-demo.log").string()});
}

void BM_ReportEightDrives(benchmark::State& state) {
    RunCommand(state, TARVEX_EIGHT_DRIVES_PROFILE, "report-eight",
               {"report", (BenchFolder() / "report-eight.log").string()});
}

}  // namespace

BENCHMARK(BM_ScanDemo)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReportDemo)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReportEightDrives)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(BenchFolder(), ec);
    return 0;
}
