#include "platform/linux/linux_services.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <map>

#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"

extern char** environ;

namespace tarvex::linuxhost {

namespace win = tarvex::win;

std::optional<CommandResult> RunCommand(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return std::nullopt;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return std::nullopt;
    }
    CommandResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got > 0) {
            result.output.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // posix_spawnp reports a missing program as exit code 127 of the child.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        return std::nullopt;
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string UnitNameOfService(std::u16string_view serviceName) {
    std::string unit;
    bool dash = false;
    for (char16_t c : serviceName) {
        if (c < 128 && std::isalnum(static_cast<unsigned char>(c))) {
            if (dash && !unit.empty()) {
                unit += '-';
            }
            dash = false;
            unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            dash = true;
        }
    }
    constexpr std::string_view kSuffix = "-service";
    if (unit.size() > kSuffix.size() && unit.ends_with(kSuffix)) {
        unit.resize(unit.size() - kSuffix.size());
    }
    return unit + ".service";
}

namespace {

// `systemctl show` answers "Key=Value" lines.
std::map<std::string, std::string> ParseProperties(const std::string& text) {
    std::map<std::string, std::string> properties;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            properties[line.substr(0, equals)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return properties;
}

class LinuxService : public platform::Service {
public:
    LinuxService(const CommandRunner& runner, bool privileged, std::string unit)
        : runner_(runner), privileged_(privileged), unit_(std::move(unit)) {}

    bool QueryServiceStatus(platform::ServiceStatus* status) override {
        auto state = ActiveState();
        if (!state) {
            return false;
        }
        *status = StatusOf(*state);
        return true;
    }

    bool ChangeServiceStartType(uint32_t startType) override {
        switch (startType) {
            case win::SERVICE_AUTO_START: return Systemctl({"unmask", unit_}) && Systemctl({"enable", unit_});
            case win::SERVICE_DEMAND_START: return Systemctl({"unmask", unit_}) && Systemctl({"disable", unit_});
            // Disabled: it may not even be started by hand, which systemd calls masked.
            case win::SERVICE_DISABLED: return Systemctl({"disable", unit_}) && Systemctl({"mask", unit_});
            default: platform::SetLastError(win::ERROR_INVALID_PARAMETER); return false;
        }
    }

    bool StartService() override {
        auto state = ActiveState();
        if (!state) {
            return false;
        }
        if (*state == "active" || *state == "activating" || *state == "reloading") {
            platform::SetLastError(win::ERROR_SERVICE_ALREADY_RUNNING);
            return false;
        }
        if (properties_["UnitFileState"] == "masked") {
            platform::SetLastError(win::ERROR_SERVICE_DISABLED);
            return false;
        }
        return Systemctl({"start", "--no-block", unit_});
    }

    bool ControlService(uint32_t control, platform::ServiceStatus* status) override {
        if (control != win::SERVICE_CONTROL_STOP) {
            platform::SetLastError(win::ERROR_INVALID_PARAMETER);
            return false;
        }
        auto state = ActiveState();
        if (!state) {
            return false;
        }
        if (*state != "active" && *state != "activating" && *state != "reloading") {
            *status = StatusOf(*state);
            platform::SetLastError(win::ERROR_SERVICE_NOT_ACTIVE);
            return false;
        }
        if (!Systemctl({"stop", "--no-block", unit_})) {
            return false;
        }
        *status = StatusOf("deactivating");
        return true;
    }

    // Whether systemd knows the unit at all.
    bool Exists() {
        auto state = ActiveState();
        return state.has_value() && properties_["LoadState"] != "not-found";
    }

private:
    std::optional<std::string> ActiveState() {
        auto result = runner_({"systemctl", "show", "--property=LoadState,ActiveState,UnitFileState", unit_});
        if (!result || result->exitCode != 0) {
            platform::SetLastError(win::ERROR_SERVICE_DOES_NOT_EXIST);
            return std::nullopt;
        }
        properties_ = ParseProperties(result->output);
        if (properties_["LoadState"] == "not-found" || properties_["LoadState"].empty()) {
            platform::SetLastError(win::ERROR_SERVICE_DOES_NOT_EXIST);
            return std::nullopt;
        }
        return properties_["ActiveState"];
    }

    static platform::ServiceStatus StatusOf(const std::string& state) {
        platform::ServiceStatus s;
        s.serviceType = win::SERVICE_WIN32_OWN_PROCESS;
        if (state == "active" || state == "reloading") {
            s.currentState = win::SERVICE_RUNNING;
            s.controlsAccepted = win::SERVICE_ACCEPT_STOP;
        } else if (state == "activating") {
            s.currentState = win::SERVICE_START_PENDING;
            s.waitHint = 2000;
        } else if (state == "deactivating") {
            s.currentState = win::SERVICE_STOP_PENDING;
            s.waitHint = 2000;
        } else {
            s.currentState = win::SERVICE_STOPPED;
        }
        return s;
    }

    bool Systemctl(std::vector<std::string> args) {
        args.insert(args.begin(), "systemctl");
        auto result = runner_(args);
        if (!result) {
            platform::SetLastError(win::ERROR_SERVICE_DOES_NOT_EXIST);
            return false;
        }
        if (result->exitCode != 0) {
            platform::SetLastError(privileged_ ? win::ERROR_SERVICE_REQUEST_TIMEOUT : win::ERROR_ACCESS_DENIED);
            return false;
        }
        return true;
    }

    const CommandRunner& runner_;
    bool privileged_;
    std::string unit_;
    std::map<std::string, std::string> properties_;
};

class LinuxServiceManager : public platform::ServiceManager {
public:
    LinuxServiceManager(const CommandRunner& runner, bool privileged) : runner_(runner), privileged_(privileged) {}

    std::unique_ptr<platform::Service> OpenService(std::u16string_view name, uint32_t) override {
        auto service = std::make_unique<LinuxService>(runner_, privileged_, UnitNameOfService(name));
        if (!service->Exists()) {
            platform::SetLastError(win::ERROR_SERVICE_DOES_NOT_EXIST);
            return nullptr;
        }
        return service;
    }

private:
    const CommandRunner& runner_;
    bool privileged_;
};

}  // namespace

LinuxServices::LinuxServices(CommandRunner runner, bool privileged)
    : runner_(std::move(runner)), privileged_(privileged) {}

std::unique_ptr<platform::ServiceManager> LinuxServices::OpenSCManager(uint32_t) {
    return std::make_unique<LinuxServiceManager>(runner_, privileged_);
}

}  // namespace tarvex::linuxhost
