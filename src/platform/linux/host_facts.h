#pragma once
// The facts of the Linux PC that its management view shows: processors (procfs), memory
// (procfs and the SMBIOS table), main board, BIOS and system (DMI), the operating system's
// name, the host name and the kernel release, and one storage controller per PCI function
// that has listed disks.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/host_files.h"
#include "platform/linux/host_model.h"
#include "platform/sim/wmi/hardware_profile.h"

namespace tarvex::linuxhost {

struct HostFacts {
    // Everything but osName, which the profile builds from the system volume. Missing facts
    // read as "Unknown"; memory modules fall back to one module of the total memory.
    sim::HardwareProfile hardware;
    std::string osPrettyName;  // PRETTY_NAME of os-release ("Debian GNU/Linux 12 (bookworm)")
    std::string hostName;
    std::string kernelRelease;  // "6.1.0-18-amd64"
};

HostFacts ReadHostFacts(const HostRoots& roots, const HostInventory& inventory);

// One processor per physical package of /proc/cpuinfo. `maxFrequencyKhz` (cpufreq's
// cpuinfo_max_freq) gives the clock speed when known, else the "cpu MHz" figure.
std::vector<sim::ProcessorProfile> ParseCpuInfo(std::string_view cpuinfo,
                                                std::optional<uint64_t> maxFrequencyKhz);

// MemTotal of /proc/meminfo, in bytes.
std::optional<uint64_t> ParseMemTotal(std::string_view meminfo);

// A value of an os-release file (quotes and escapes taken off); empty when it is not there.
std::string OsReleaseValue(std::string_view osRelease, std::string_view key);

// The storage controllers: one per PCI function that has listed disks, in the order of their
// first disk. USB disks and disks below no PCI function hang on none.
std::vector<sim::ControllerProfile> HostControllers(const HostInventory& inventory,
                                                    const std::string& kernelRelease);

}  // namespace tarvex::linuxhost
