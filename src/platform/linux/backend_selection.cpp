// platform::OpenMachine: the backend comes from TARVEX_PLATFORM (the emulated PC when it is
// unset, empty or "sim"; the real PC for "linux"), never from the programs' command lines.
#include <cstdlib>
#include <string_view>

#include "platform/linux/linux_machine.h"
#include "platform/machine_control.h"
#include "platform/sim/sim_machine_control.h"

namespace tarvex::platform {

std::unique_ptr<MachineControl> OpenMachine(const MachineRequest& request, std::string* error) {
    const char* chosen = std::getenv("TARVEX_PLATFORM");
    const std::string_view backend = chosen == nullptr ? std::string_view() : std::string_view(chosen);
    if (backend.empty() || backend == "sim") {
        return sim::OpenSimMachine(request, error);
    }
    if (backend == "linux") {
        return linuxhost::OpenLinuxMachine(request, error);
    }
    *error = "TARVEX_PLATFORM: unknown backend \"" + std::string(backend) +
             "\" (expected \"linux\", or \"sim\" or nothing for the emulated PC)";
    return nullptr;
}

}  // namespace tarvex::platform
