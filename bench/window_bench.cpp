// The window from process start to its first painted frame, on Qt's offscreen platform: the
// Tarvex program started as a user starts it, on the demo PC (four drives and a USB stick) and
// on a PC with sixteen drives. Each run ends by itself once its first frame is painted; the
// benchmark's time is the whole run in wall time, and `first_frame_ms` is what the program
// itself measured from its start to that frame. Every run has its own state directory in a
// temporary folder, filled by one untimed run first.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path BenchFolder() {
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "tarvex-window-bench.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        return fs::path(pattern);
    }();
    return folder;
}

fs::path Tarvex() { return fs::read_symlink("/proc/self/exe").parent_path() / "Tarvex"; }

// One run of the window up to its first frame; the milliseconds it reported, or -1.
double RunWindow(const std::string& machine, const fs::path& stateDir) {
    const std::string program = Tarvex().string();
    const std::string output = (BenchFolder() / "stderr.txt").string();
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",       "TARVEX_MACHINE=" + machine,
                                    "TARVEX_STATE=" + stateDir.string(), "TARVEX_GUI_ANSWERS=",
                                    "TARVEX_GUI_EXIT_AFTER_FIRST_FRAME=1", "TARVEX_GUI_REPORT_FIRST_FRAME=1",
                                    "XDG_RUNTIME_DIR=" + BenchFolder().string()};
    if (const char* path = std::getenv("PATH")) {
        env.push_back(std::string("PATH=") + path);
    }
    if (const char* home = std::getenv("HOME")) {
        env.push_back(std::string("HOME=") + home);
    }
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    std::ifstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        const std::string mark = "first frame after ";
        if (const auto at = line.find(mark); at != std::string::npos) {
            return std::stod(line.substr(at + mark.size()));
        }
    }
    return -1;
}

void BM_WindowFirstFrame(benchmark::State& state, const std::string& machine, const std::string& name) {
    const fs::path stateDir = BenchFolder() / name;
    if (RunWindow(machine, stateDir) < 0) {
        state.SkipWithError("Tarvex did not paint its first frame (see stderr.txt in the bench folder)");
        return;
    }
    double total = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const double ms = RunWindow(machine, stateDir);
        if (ms < 0) {
            state.SkipWithError("Tarvex failed");
            return;
        }
        total += ms;
        ++runs;
    }
    state.counters["first_frame_ms"] = runs > 0 ? total / static_cast<double>(runs) : 0;
}

BENCHMARK_CAPTURE(BM_WindowFirstFrame, demo, std::string("demo"), std::string("demo"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WindowFirstFrame, sixteen_drives, std::string(TARVEX_SIXTEEN_DRIVES_PROFILE),
                  std::string("sixteen"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
