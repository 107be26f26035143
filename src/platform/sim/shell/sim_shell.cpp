#include "platform/sim/shell/sim_shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "platform/last_error.h"
#include "platform/sim/shell/command_line.h"
#include "platform/text.h"
#include "platform/win32_values.h"

extern char** environ;

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::SetLastError;

namespace {

// The descriptor the profile's text lies on in a child that gets it that way.
constexpr int kProfileFd = 3;

uint32_t Win32ErrorOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return win::ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM: return win::ERROR_ACCESS_DENIED;
        case ENOEXEC: return win::ERROR_BAD_EXE_FORMAT;
        case EMFILE:
        case ENFILE: return win::ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
        case EAGAIN: return win::ERROR_NOT_ENOUGH_MEMORY;
        case EBADF: return win::ERROR_INVALID_HANDLE;
        default: return win::ERROR_GEN_FAILURE;
    }
}

fs::path HostProgramFolder() {
    if (const char* dir = std::getenv(kEnvPrograms); dir != nullptr && *dir != '\0') {
        return dir;
    }
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

// The emulated programs: the file name under the system folder and the host program.
struct ProgramEntry {
    const char16_t* fileName;
    const char* host;
    bool ShellProfile::*missing;
};
constexpr ProgramEntry kPrograms[] = {
    {u"diskpart.exe", "tarvex-sim-diskpart", &ShellProfile::diskpartMissing},
};

// Owns a descriptor for the length of a scope.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// The profile's text in an anonymous memory file, at a descriptor of 10 or more so that it never
// is the child's slot itself.
int ProfileTextFd(const std::string& text) {
    Fd mem{::memfd_create("tarvex-profile", MFD_CLOEXEC)};
    if (mem.fd < 0) {
        return -1;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(mem.fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return ::fcntl(mem.fd, F_DUPFD_CLOEXEC, 10);
}

// The parent's environment without the machine variables, then this PC's.
std::vector<std::string> ChildEnvironment(const SimShell::Machine& m, const std::u16string& currentDirectory) {
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view v(*e);
        const std::string_view name = v.substr(0, v.find('='));
        if (name != kEnvMachine && name != kEnvState && name != kEnvSpeed && name != kEnvCurrentDirectory) {
            env.emplace_back(v);
        }
    }
    env.push_back(std::string(kEnvMachine) + "=" +
                  (m.machine.empty() ? "/proc/self/fd/" + std::to_string(kProfileFd) : m.machine));
    env.push_back(std::string(kEnvState) + "=" + m.stateDir.string());
    if (m.speed) {
        std::ostringstream s;
        s << *m.speed;
        env.push_back(std::string(kEnvSpeed) + "=" + s.str());
    }
    env.push_back(std::string(kEnvCurrentDirectory) + "=" + platform::Utf16ToUtf8(currentDirectory));
    return env;
}

// Reaps the child when it ends, so that no zombie stays, and keeps its exit code.
template <typename Exit>
void Reap(pid_t pid, std::shared_ptr<Exit> exit) {
    std::thread([pid, exit] {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid, &status, 0);
        } while (r < 0 && errno == EINTR);
        int code = -1;
        if (r == pid) {
            code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        }
        std::lock_guard lock(exit->mutex);
        exit->code = code;
        exit->done.notify_all();
    }).detach();
}

}  // namespace

SimPipeEnd::SimPipeEnd(int fd, bool readable, std::optional<uint32_t> failSetInheritable)
    : fd_(fd), readable_(readable), failSetInheritable_(failSetInheritable) {}

SimPipeEnd::~SimPipeEnd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SimPipeEnd::SetInheritable(bool inheritable) {
    if (failSetInheritable_) {
        SetLastError(*failSetInheritable_);
        return false;
    }
    const int flags = ::fcntl(fd_, F_GETFD);
    if (flags < 0 || ::fcntl(fd_, F_SETFD, inheritable ? flags & ~FD_CLOEXEC : flags | FD_CLOEXEC) < 0) {
        SetLastError(Win32ErrorOf(errno));
        return false;
    }
    return true;
}

bool SimPipeEnd::Inheritable() const {
    const int flags = ::fcntl(fd_, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) == 0;
}

bool SimPipeEnd::Read(void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    if (!readable_) {
        SetLastError(win::ERROR_ACCESS_DENIED);  // the write end was not opened for reading
        return false;
    }
    if (buffer == nullptr && size != 0) {
        SetLastError(win::ERROR_INVALID_PARAMETER);
        return false;
    }
    ssize_t n;
    do {
        n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(Win32ErrorOf(errno));
        return false;
    }
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<uint32_t>(n);
    }
    return true;
}

SimShell::SimShell(const ShellProfile& profile, Machine machine, SimFiles& files, platform::System& system)
    : profile_(profile), machine_(std::move(machine)), files_(files), system_(system) {}

SimShell::~SimShell() = default;

uint32_t SimShell::WinExec(std::string_view /*commandLine*/, uint32_t /*showCommand*/) {
    // No program is emulated for WinExec yet (fsutil, net and sc come later): every command
    // line names a file the PC does not have, which WinExec reports as 2.
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::ERROR_FILE_NOT_FOUND;
}

int SimShell::System(std::u16string_view /*command*/) {
    // No command interpreter is emulated yet (its "start" comes later): _wsystem answers as
    // when the interpreter cannot be found.
    errno = ENOENT;
    return -1;
}

bool SimShell::CreatePipe(std::unique_ptr<platform::PipeEnd>* readEnd, std::unique_ptr<platform::PipeEnd>* writeEnd,
                          bool inheritable) {
    if (readEnd == nullptr || writeEnd == nullptr) {
        SetLastError(win::ERROR_INVALID_PARAMETER);
        return false;
    }
    readEnd->reset();
    writeEnd->reset();
    if (profile_.failCreatePipe) {
        SetLastError(*profile_.failCreatePipe);
        return false;
    }
    int fds[2];
    if (::pipe2(fds, inheritable ? 0 : O_CLOEXEC) != 0) {
        SetLastError(Win32ErrorOf(errno));
        return false;
    }
    *readEnd = std::make_unique<SimPipeEnd>(fds[0], true, profile_.failSetInheritable);
    *writeEnd = std::make_unique<SimPipeEnd>(fds[1], false, profile_.failSetInheritable);
    return true;
}

std::u16string SimShell::SystemFolder() {
    std::u16string root = system_.GetEnvironmentVariable(u"SystemRoot").value_or(u"C:\\Windows");
    while (!root.empty() && root.back() == u'\\') {
        root.pop_back();
    }
    return root + u"\\System32";
}

std::optional<std::u16string> SimShell::ResolveProgram(const std::u16string& program) {
    if (program.empty()) {
        return std::nullopt;
    }
    std::u16string path = program;
    // CreateProcessW adds ".exe" to a file name without an extension.
    const size_t slash = path.find_last_of(u"\\/");
    const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    if (name.find(u'.') == std::u16string::npos) {
        path += u".exe";
    }
    // A bare name is looked for in the system folder (the search order's only folder that
    // holds programs of this PC).
    if (slash == std::u16string::npos && path.find(u':') == std::u16string::npos) {
        return SystemFolder() + u"\\" + path;
    }
    return files_.FullPath(path);
}

std::vector<SimShell::Program> SimShell::Programs() {
    std::vector<Program> out;
    const fs::path folder = HostProgramFolder();
    for (const ProgramEntry& p : kPrograms) {
        if (!(profile_.*(p.missing))) {
            out.push_back({SystemFolder() + u"\\" + p.fileName, folder / p.host});
        }
    }
    return out;
}

bool SimShell::CreateProcess(const platform::ProcessStart& start) {
    if (profile_.failCreateProcess) {
        SetLastError(*profile_.failCreateProcess);
        return false;
    }
    const CommandLine line = SplitCommandLine(start.commandLine);
    const std::optional<std::u16string> full = ResolveProgram(line.program);
    const Program* program = nullptr;
    const std::vector<Program> programs = Programs();
    for (const Program& p : programs) {
        if (full && platform::EqualsIgnoreCase(p.windowsPath, *full)) {
            program = &p;
        }
    }
    if (program == nullptr || ::access(program->host.c_str(), X_OK) != 0) {
        SetLastError(win::ERROR_FILE_NOT_FOUND);
        return false;
    }

    // The child's standard handles: the given pipe ends when they are inherited (an end that is
    // not inheritable is no handle in the child), else none (/dev/null).
    auto inherited = [&](platform::PipeEnd* end) -> int {
        auto* pipe = dynamic_cast<SimPipeEnd*>(end);
        return start.inheritHandles && pipe != nullptr && pipe->Inheritable() ? pipe->Fd() : -1;
    };
    const int stdinFd = inherited(start.standardInput);
    const int stdoutFd = inherited(start.standardOutput);
    const int stderrFd = inherited(start.standardError);

    Fd profileFd;
    if (machine_.machine.empty()) {
        profileFd.fd = ProfileTextFd(machine_.profileText);
        if (profileFd.fd < 0) {
            SetLastError(Win32ErrorOf(errno));
            return false;
        }
    }

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    auto standard = [&](int target, int source, int mode) {
        return source >= 0 ? posix_spawn_file_actions_adddup2(&actions, source, target)
                           : posix_spawn_file_actions_addopen(&actions, target, "/dev/null", mode, 0);
    };
    int rc = standard(1, stdoutFd, O_WRONLY);
    rc = rc != 0 ? rc : standard(2, stderrFd, O_WRONLY);
    rc = rc != 0 ? rc : standard(0, stdinFd, O_RDONLY);
    if (rc == 0 && profileFd.fd >= 0) {
        rc = posix_spawn_file_actions_adddup2(&actions, profileFd.fd, kProfileFd);
    }
    if (rc == 0 && !start.inheritHandles) {
        // Without inheritance the child gets no handle of this process at all.
        rc = posix_spawn_file_actions_addclosefrom_np(&actions, profileFd.fd >= 0 ? kProfileFd + 1 : 3);
    }

    std::vector<std::string> args{program->host.filename().string()};
    for (const std::u16string& a : line.arguments) {
        args.push_back(platform::Utf16ToUtf8(a));
    }
    std::vector<std::string> env = ChildEnvironment(machine_, files_.GetCurrentDirectory());
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    pid_t pid = 0;
    if (rc == 0) {
        rc = ::posix_spawn(&pid, program->host.c_str(), &actions, nullptr, argv.data(), envp.data());
    }
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        SetLastError(Win32ErrorOf(rc));
        return false;
    }

    auto exit = std::make_shared<Exit>();
    Reap(pid, exit);
    std::lock_guard lock(mutex_);
    started_.push_back({start.commandLine, program->windowsPath, line.arguments, pid});
    exits_.push_back(std::move(exit));
    return true;
}

std::vector<SimShell::Started> SimShell::Processes() {
    std::lock_guard lock(mutex_);
    return started_;
}

std::optional<int> SimShell::WaitForExit(size_t index) {
    std::shared_ptr<Exit> exit;
    {
        std::lock_guard lock(mutex_);
        if (index >= exits_.size()) {
            return std::nullopt;
        }
        exit = exits_[index];
    }
    std::unique_lock lock(exit->mutex);
    exit->done.wait(lock, [&] { return exit->code.has_value(); });
    return exit->code;
}

}  // namespace tarvex::sim
