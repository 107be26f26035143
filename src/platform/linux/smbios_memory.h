#pragma once
// The memory devices (SMBIOS structure type 17) of the firmware's SMBIOS table, as the PC
// exports it in /sys/firmware/dmi/tables/DMI.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/sim/wmi/hardware_profile.h"

namespace tarvex::linuxhost {

// The installed modules, in table order; empty slots are left out. A structure cut short by
// the end of the table ends the walk; the modules read before it are kept.
std::vector<sim::MemoryModuleProfile> ParseSmbiosMemory(std::span<const uint8_t> table);

}  // namespace tarvex::linuxhost
