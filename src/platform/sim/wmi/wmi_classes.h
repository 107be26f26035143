#pragma once
// The WMI classes the program reads, filled from the machine profile.
#include <string>

#include "platform/sim/machine_profile.h"
#include "platform/sim/volumes/sim_volumes.h"
#include "platform/sim/wmi/wmi_catalog.h"

namespace tarvex::sim {

// `host` is the computer name that starts every object path ("\\\\HOST\\ROOT\\CIMV2:...").
// `volumes` must outlive the catalog (Win32_LogicalDisk reads its free space at each query).
void BuildWmiCatalog(const MachineProfile& profile, VolumeListing& volumes, const std::u16string& host,
                     WmiCatalog* catalog);

// The names Windows gives a disk: its friendly name (Win32_PnPEntity Name, Win32_DiskDrive
// Model) and the size Win32_DiskDrive reports (whole cylinders of 255 heads and 63 sectors).
std::u16string DiskFriendlyName(const DiskProfile& disk);
uint64_t DiskDriveSize(const DiskProfile& disk);

// An object path as associations carry it: \\HOST\ROOT\CIMV2:Class.Key="value", with every
// backslash and quote of the value escaped.
std::u16string ObjectPath(const std::u16string& host, std::u16string_view className, std::u16string_view key,
                          std::u16string_view value);

}  // namespace tarvex::sim
