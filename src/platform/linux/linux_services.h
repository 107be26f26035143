#pragma once
// The service control manager of a Linux PC: the monitoring service is a systemd unit, and
// each call is one `systemctl` command (see docs/linux-backend.md for why the command and not
// the D-Bus interface). A PC without systemctl, or without the unit, has no such service.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace tarvex::linuxhost {

struct CommandResult {
    int exitCode = 0;
    std::string output;  // standard output
};
// Runs a program (argv[0] looked up in PATH) with no shell, standard input empty; nothing when
// it cannot be started.
using CommandRunner = std::function<std::optional<CommandResult>(const std::vector<std::string>& argv)>;
std::optional<CommandResult> RunCommand(const std::vector<std::string>& argv);

// The unit a Windows service name stands for: lower case, every run of other characters than
// letters and digits one "-", a trailing "-service" dropped, then ".service"
// ("VARNO Velmora Service" -> "varno-velmora.service").
std::string UnitNameOfService(std::u16string_view serviceName);

class LinuxServices : public platform::Services {
public:
    explicit LinuxServices(CommandRunner runner, bool privileged);
    std::unique_ptr<platform::ServiceManager> OpenSCManager(uint32_t access) override;

private:
    CommandRunner runner_;
    bool privileged_;
};

}  // namespace tarvex::linuxhost
