#include "platform/linux/linux_machine.h"

namespace tarvex::linuxhost {

std::unique_ptr<platform::MachineControl> OpenLinuxMachine(const platform::MachineRequest&, std::string* error) {
    *error = "the linux backend is not built yet";
    return nullptr;
}

}  // namespace tarvex::linuxhost
