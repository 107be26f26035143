#include "platform/linux/linux_volumes.h"

#include <sys/statvfs.h>

#include <utility>

namespace tarvex::linuxhost {

std::optional<uint64_t> StatVfsFreeBytes(const std::string& mountPoint) {
    struct statvfs s {};
    if (::statvfs(mountPoint.c_str(), &s) != 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
}

LinuxVolumes::LinuxVolumes(const std::vector<sim::VolumeProfile>& volumes, std::map<char16_t, std::string> mountPoints,
                           const std::filesystem::path& volumesRoot, sim::SimFiles& files, FreeSpaceProbe probe)
    : SimVolumes(volumes, volumesRoot, files), mountPoints_(std::move(mountPoints)), probe_(std::move(probe)) {}

std::optional<uint64_t> LinuxVolumes::FreeBytes(char16_t letter) {
    const sim::VolumeProfile* v = Find(letter);
    if (v == nullptr) {
        return std::nullopt;
    }
    const auto mount = mountPoints_.find(v->letter);
    if (mount != mountPoints_.end()) {
        if (auto free = probe_(mount->second)) {
            return free;
        }
    }
    // A file system that can no longer be asked (unmounted meanwhile) keeps what it had.
    return v->freeBytes;
}

}  // namespace tarvex::linuxhost
