#pragma once
// The drive letters of the Linux PC: each mounted file system of a listed disk is a volume
// whose letter maps onto its mount point. Sizes are the file systems' own; the free space is
// asked of the file system (statvfs) every time, since other programs write to it too.
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/sim/volumes/sim_volumes.h"

namespace tarvex::linuxhost {

// The bytes a file system has free for an unprivileged writer (f_bavail * f_frsize), or
// nothing when it cannot be asked.
using FreeSpaceProbe = std::function<std::optional<uint64_t>(const std::string& mountPoint)>;
std::optional<uint64_t> StatVfsFreeBytes(const std::string& mountPoint);

class LinuxVolumes : public sim::SimVolumes {
public:
    // `mountPoints` by letter; `files` resolves paths (each letter is mapped there).
    LinuxVolumes(const std::vector<sim::VolumeProfile>& volumes, std::map<char16_t, std::string> mountPoints,
                 const std::filesystem::path& volumesRoot, sim::SimFiles& files, FreeSpaceProbe probe);

    [[nodiscard]] std::optional<uint64_t> FreeBytes(char16_t letter) override;

private:
    std::map<char16_t, std::string> mountPoints_;
    FreeSpaceProbe probe_;
};

}  // namespace tarvex::linuxhost
