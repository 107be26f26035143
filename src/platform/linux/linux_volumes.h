#pragma once
// The drive letters of the Linux PC: each mounted file system of a listed disk is a volume
// whose letter maps onto its mount point. Sizes are the file systems' own; the free space is
// asked of the file system (statvfs) every time, since other programs write to it too.
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/linux/host_inventory.h"
#include "platform/sim/volumes/sim_volumes.h"

namespace tarvex::linuxhost {

class LinuxVolumes : public sim::SimVolumes {
public:
    // `mountPoints` by letter; `files` resolves paths (each letter is mapped there). The free
    // space is what an ordinary user may still write (f_bavail).
    LinuxVolumes(const std::vector<sim::VolumeProfile>& volumes, std::map<char16_t, std::string> mountPoints,
                 const std::filesystem::path& volumesRoot, sim::SimFiles& files, StatVfs statvfs);

    [[nodiscard]] std::optional<uint64_t> FreeBytes(char16_t letter) override;

private:
    std::map<char16_t, std::string> mountPoints_;
    StatVfs statvfs_;
};

}  // namespace tarvex::linuxhost
