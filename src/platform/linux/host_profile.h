#pragma once
// The Linux PC described as a machine profile, so that the emulated PC's management view
// (the WMI classes) and volume list answer for the real disks: each HostDisk becomes a disk,
// each HostVolume a volume, the host facts the hardware. The OS is reported as Windows 7
// Service Pack 1 (6.1.7601), the version every rule of the program knows.
#include "platform/linux/host_facts.h"
#include "platform/linux/host_model.h"
#include "platform/sim/machine_profile.h"

namespace tarvex::linuxhost {

// The program's location, environment and registry stay at their defaults for the caller to
// set. Throws sim::JsonError when the facts contradict the inventory (a controller that names
// a disk that is not listed, or a USB disk).
sim::MachineProfile BuildHostProfile(const HostInventory& inventory, const HostFacts& facts);

// The Windows name of a Linux file system type: "NTFS", "FAT32", "exFAT", or the type in
// upper case ("EXT4").
std::u16string WindowsFileSystemName(const std::string& type);

}  // namespace tarvex::linuxhost
