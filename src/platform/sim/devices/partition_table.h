#pragma once
// The partition table an emulated disk carries, built from the profile's volumes on that disk:
// a master boot record in sector 0, or for a GPT disk a protective MBR, the GPT header at LBA 1
// with its 128 entries at LBA 2..33, and the backup copy (entries, then header) in the last 33
// sectors. A raw read of those sectors returns these bytes (unless the drive was erased or the
// sectors trimmed), so whatever reads the disk's first sectors sees a table that matches its
// volumes.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/devices/drive_profile.h"
#include "platform/sim/volumes/volume_profile.h"

namespace tarvex::sim {

using Guid = std::array<uint8_t, 16>;  // as it lies on disk: the first three fields little-endian

inline constexpr uint64_t kGptFirstUsableLba = 34;  // header at 1, 32 sectors of entries at 2..33
inline constexpr uint32_t kGptEntryCount = 128;
inline constexpr uint32_t kGptEntrySize = 128;
inline constexpr uint32_t kMbrPrimaryEntries = 4;

// The MBR disk signature (bytes 440..443), derived from the disk's identity; never 0.
uint32_t MbrDiskSignature(const DiskProfile& disk);
// The GPT disk GUID and a partition's unique GUID, derived from the serial (version-4 form).
Guid GptDiskGuid(const DiskProfile& disk);
Guid GptPartitionGuid(const DiskProfile& disk, uint32_t partition);
// The registry form of a GUID, "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}".
std::string GuidText(const Guid& guid);
// The partition type GUID of a basic data partition (EBD0A0A2-B9E5-4433-87C0-68B6B72699C7).
extern const Guid kBasicDataPartitionType;

// The last LBA a GPT disk may give a partition (the backup entries follow it).
uint64_t GptLastUsableLba(const DiskProfile& disk);
// Why `volume` cannot be a partition of `disk` in its partition style, or nothing when it can:
// an MBR disk has four primary partitions below 2 TiB, a GPT disk 128 between its usable LBAs,
// a disk of style none has no partitions.
std::optional<std::string> PartitionLayoutProblem(const DiskProfile& disk, const VolumeProfile& volume);

// The MBR partition type of a volume's file system (07h NTFS and exFAT, 0Ch FAT32 with LBA, 06h
// or 0Eh FAT).
uint8_t MbrPartitionType(const VolumeProfile& volume);
// The three CHS bytes of an MBR entry for `lba` as Windows fills them (255 heads, 63 sectors
// per track); FE FF FF beyond 1024 cylinders.
std::array<uint8_t, 3> ChsBytes(uint64_t lba);

// One partition of a disk as its table holds it.
struct DiskPartition {
    uint32_t number = 0;  // 1-based; the MBR slot or GPT entry is number - 1
    uint64_t offsetBytes = 0;
    uint64_t sizeBytes = 0;
    const VolumeProfile* volume = nullptr;  // null: a partition without a drive letter
    bool active = false;                    // MBR status 80h: the partition Windows boots from
};

// The partitions of `disk`, by number: its volumes and, on an MBR disk, a partition without a
// drive letter for each number below a listed one that no volume takes, filling the room before
// the next partition (as Windows Setup leaves its 100 MiB "System Reserved" partition 1; a
// number with no room left has an empty slot). On the disk that holds `systemDrive` the active
// partition is such a partition 1, else the system drive's own.
std::vector<DiskPartition> PartitionsOf(const DiskProfile& disk, const std::vector<VolumeProfile>& volumes,
                                        char16_t systemDrive);
// What diskpart shows as the label of a partition without a drive letter.
inline constexpr const char16_t* kSystemReservedLabel = u"System Reserved";

class PartitionSectors {
public:
    PartitionSectors() = default;
    // The table of `disk` from the volumes that live on it (the others are skipped). The
    // partition that holds `systemDrive` is the active one of an MBR disk.
    PartitionSectors(const DiskProfile& disk, const std::vector<VolumeProfile>& volumes, char16_t systemDrive);

    // The bytes of sector `lba` when the table holds it, else null.
    [[nodiscard]] const uint8_t* Sector(uint64_t lba) const;

private:
    std::array<uint8_t, 512>& At(uint64_t lba) { return sectors_[lba]; }
    void BuildMbr(const DiskProfile& disk, const std::vector<DiskPartition>& parts);
    void BuildGpt(const DiskProfile& disk, const std::vector<DiskPartition>& parts);

    std::map<uint64_t, std::array<uint8_t, 512>> sectors_;
};

}  // namespace tarvex::sim
