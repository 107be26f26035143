#pragma once
// The volumes of an emulated PC as the machine profile lists them (the "volumes" array, see
// docs/machine-profile.md): drive letter, label, file system, size and free space, and where
// the volume lives (a partition of a disk, or a CD/DVD drive).
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/sim/devices/drive_profile.h"

namespace tarvex::sim {

enum class VolumeKind { Partition, CdRom };

struct VolumeProfile {
    char16_t letter = u'C';      // upper case
    std::u16string label;
    std::u16string fileSystem = u"NTFS";
    uint64_t sizeBytes = 0;
    uint64_t freeBytes = 0;      // when the machine is new; files written later use it up
    VolumeKind kind = VolumeKind::Partition;
    uint32_t disk = 0;           // Partition: the disk number
    uint32_t partition = 1;      // Partition: the partition number (1-based)
    uint64_t offsetBytes = 0;    // Partition: where the partition starts on the disk
    uint32_t cdromNumber = 0;    // CdRom: N of \Device\CdRomN
    uint32_t bytesPerSector = 512;
    uint32_t clusterBytes = 4096;
    uint32_t serialNumber = 0;   // VolumeSerialNumber
};

// Parses the "volumes" array (at `path`) against the disks. Throws JsonError.
std::vector<VolumeProfile> ParseVolumeProfiles(const nlohmann::json& node, const std::string& path,
                                               const std::vector<DiskProfile>& disks);

// The volume a PC gets when the profile lists none: an NTFS volume on the first fixed disk
// (or on no disk when there is none).
VolumeProfile DefaultVolume(char16_t letter, const std::vector<DiskProfile>& disks, uint32_t partition);

// The WMI DriveType of a volume: 3 local disk, 2 removable (on a USB disk), 5 CD.
uint32_t VolumeDriveType(const VolumeProfile& volume, const std::vector<DiskProfile>& disks);

}  // namespace tarvex::sim
