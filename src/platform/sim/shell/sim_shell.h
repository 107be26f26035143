#pragma once
// The emulated PC's shell. Pipes are real POSIX pipes and a started program is a real child
// process: a Windows program path that the PC knows ("C:\Windows\System32\diskpart.exe") maps
// onto a host program of this build that stands in for it and runs on the same emulated PC (the
// profile, the state directory and the current directory travel in its environment). Handle
// inheritance follows Windows: a child started with inheritance gets the pipe ends that are
// inheritable (no FD_CLOEXEC) and only those can be its standard handles.
#include <sys/types.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "platform/sim/shell/shell_profile.h"
#include "platform/sim/sim_files.h"
#include "platform/system.h"

namespace tarvex::sim {

// The environment variables a child program of the emulated PC reads.
inline constexpr const char* kEnvMachine = "TARVEX_MACHINE";
inline constexpr const char* kEnvState = "TARVEX_STATE";
inline constexpr const char* kEnvSpeed = "TARVEX_SPEED";
inline constexpr const char* kEnvCurrentDirectory = "TARVEX_CURRENT_DIRECTORY";  // Windows path, UTF-8
// Where the host programs that stand in for the PC's programs are; default: the folder of the
// running executable.
inline constexpr const char* kEnvPrograms = "TARVEX_SIM_PROGRAMS";

// One end of a pipe: a file descriptor, closed when destroyed.
class SimPipeEnd : public platform::PipeEnd {
public:
    // `failSetInheritable`: the error SetInheritable fails with (the profile's scripting).
    SimPipeEnd(int fd, bool readable, std::optional<uint32_t> failSetInheritable);
    ~SimPipeEnd() override;
    SimPipeEnd(const SimPipeEnd&) = delete;
    SimPipeEnd& operator=(const SimPipeEnd&) = delete;

    bool SetInheritable(bool inheritable) override;
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;

    [[nodiscard]] int Fd() const { return fd_; }
    [[nodiscard]] bool Inheritable() const;

private:
    int fd_;
    bool readable_;
    std::optional<uint32_t> failSetInheritable_;
};

class SimShell : public platform::Shell {
public:
    // How a child finds the same emulated PC.
    struct Machine {
        // TARVEX_MACHINE: an embedded profile's name or a profile file path. Empty: the
        // profile's text is handed to the child through an inherited descriptor instead.
        std::string machine;
        std::string profileText;
        std::filesystem::path stateDir;
        std::optional<double> speed;
    };

    // `files` gives the current directory and resolves relative program paths; `system` the
    // PC's environment (SystemRoot). They and the profile must outlive the object.
    SimShell(const ShellProfile& profile, Machine machine, SimFiles& files, platform::System& system);
    ~SimShell() override;

    uint32_t WinExec(std::string_view commandLine, uint32_t showCommand) override;
    bool CreatePipe(std::unique_ptr<platform::PipeEnd>* readEnd, std::unique_ptr<platform::PipeEnd>* writeEnd,
                    bool inheritable) override;
    bool CreateProcess(const platform::ProcessStart& start) override;
    int System(std::u16string_view command) override;

    // Tests and tools: the processes started so far, oldest first.
    struct Started {
        std::u16string commandLine;
        std::u16string program;  // the full Windows path it resolved to
        std::vector<std::u16string> arguments;
        pid_t pid = 0;
    };
    std::vector<Started> Processes();
    // Waits until the child at `index` of Processes() has ended: its exit code, or 128 plus the
    // signal that ended it. Nothing for an index out of range.
    std::optional<int> WaitForExit(size_t index);

    // The Windows path of a program the PC knows, and the host program that stands in for it.
    struct Program {
        std::u16string windowsPath;
        std::filesystem::path host;
    };
    // The programs of this PC (what the profile leaves out is missing).
    std::vector<Program> Programs();

private:
    struct Exit {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<int> code;
    };
    // The full Windows path of the program a command line names, or nothing.
    std::optional<std::u16string> ResolveProgram(const std::u16string& program);
    std::u16string SystemFolder();

    const ShellProfile& profile_;
    Machine machine_;
    SimFiles& files_;
    platform::System& system_;
    std::mutex mutex_;
    std::vector<Started> started_;
    std::vector<std::shared_ptr<Exit>> exits_;
};

}  // namespace tarvex::sim
