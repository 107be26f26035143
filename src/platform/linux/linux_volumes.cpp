#include "platform/linux/linux_volumes.h"

#include <utility>

namespace tarvex::linuxhost {

LinuxVolumes::LinuxVolumes(const std::vector<sim::VolumeProfile>& volumes, std::map<char16_t, std::string> mountPoints,
                           const std::filesystem::path& volumesRoot, sim::SimFiles& files, StatVfs statvfs)
    : SimVolumes(volumes, volumesRoot, files), mountPoints_(std::move(mountPoints)), statvfs_(std::move(statvfs)) {}

std::optional<uint64_t> LinuxVolumes::FreeBytes(char16_t letter) {
    const sim::VolumeProfile* v = Find(letter);
    if (v == nullptr) {
        return std::nullopt;
    }
    const auto mount = mountPoints_.find(v->letter);
    if (mount != mountPoints_.end()) {
        if (auto figures = statvfs_(mount->second)) {
            return figures->availableBlocks * figures->fragmentBytes;
        }
    }
    // A file system that can no longer be asked (unmounted meanwhile) keeps what it had.
    return v->freeBytes;
}

}  // namespace tarvex::linuxhost
