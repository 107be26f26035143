#pragma once
// The Linux PC this program runs on, as a machine: its real disks and file systems, its
// facts, and the stores (registry, windows, mutexes) in the backend's state directory.
#include <memory>
#include <string>

#include "platform/machine_control.h"

namespace tarvex::linuxhost {

// The state directory when TARVEX_STATE does not name one.
inline constexpr const char* kDefaultStateDirectory = "/var/lib/tarvex";

// Opens the Linux PC for `request`; null with a one-line `error`.
std::unique_ptr<platform::MachineControl> OpenLinuxMachine(const platform::MachineRequest& request,
                                                           std::string* error);

}  // namespace tarvex::linuxhost
