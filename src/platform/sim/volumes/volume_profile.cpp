#include "platform/sim/volumes/volume_profile.h"

#include <algorithm>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "platform/sim/json_reader.h"
#include "platform/text.h"

namespace tarvex::sim {

using nlohmann::json;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

const char* const kFileSystems[] = {"NTFS", "FAT32", "FAT", "exFAT", "CDFS", "UDF"};

// Windows' default cluster size for a file system of this size.
uint32_t DefaultClusterBytes(const std::u16string& fs, uint64_t size) {
    if (fs == u"CDFS" || fs == u"UDF") {
        return 2048;
    }
    if (fs == u"FAT32") {
        return size <= 8 * 1024 * kMiB ? 4096 : size <= 16 * 1024 * kMiB ? 8192 : size <= 32 * 1024 * kMiB ? 16384 : 32768;
    }
    if (fs == u"exFAT") {
        return size <= 256 * kMiB ? 4096 : size <= 32 * 1024 * kMiB ? 32768 : 131072;
    }
    if (fs == u"FAT") {
        return 32768;
    }
    return 4096;
}

uint32_t DefaultSerial(char16_t letter, uint32_t disk, uint32_t partition) {
    uint32_t h = 2166136261u;
    for (uint32_t v : {static_cast<uint32_t>(letter), disk, partition}) {
        h = (h ^ v) * 16777619u;
    }
    return h;
}

VolumeProfile ParseVolume(const json& node, const std::string& path, const std::vector<DiskProfile>& disks) {
    JsonObject o(node, path);
    VolumeProfile v;
    const std::string letter = o.String("letter", 8);
    if (letter.size() != 1 || !((letter[0] >= 'A' && letter[0] <= 'Z') || (letter[0] >= 'a' && letter[0] <= 'z'))) {
        throw JsonError(o.PathOf("letter"), "expected one drive letter A to Z, found \"" + letter + "\"");
    }
    v.letter = static_cast<char16_t>(std::toupper(static_cast<unsigned char>(letter[0])));
    v.label = platform::Utf8ToUtf16(o.OptionalString("label", 32 * 3).value_or(""));
    if (v.label.size() > 32) {
        throw JsonError(o.PathOf("label"), "a volume label has at most 32 characters");
    }
    const std::string fs = o.OptionalString("fileSystem", 16).value_or("NTFS");
    if (std::find(std::begin(kFileSystems), std::end(kFileSystems), fs) == std::end(kFileSystems)) {
        throw JsonError(o.PathOf("fileSystem"), "expected one of NTFS, FAT32, FAT, exFAT, CDFS, UDF, found \"" + fs + "\"");
    }
    v.fileSystem = platform::Utf8ToUtf16(fs);
    v.sizeBytes = o.UInt64("sizeBytes");
    if (v.sizeBytes < kMiB) {
        throw JsonError(o.PathOf("sizeBytes"), "a volume has at least 1 MiB");
    }
    v.freeBytes = o.OptionalUInt64("freeBytes").value_or(v.sizeBytes / 2);
    if (v.freeBytes > v.sizeBytes) {
        throw JsonError(o.PathOf("freeBytes"), "more free space than the volume's size");
    }
    const auto disk = o.OptionalInt("disk", 0, 99);
    const bool cd = o.OptionalBool("cdrom").value_or(false);
    if (cd == disk.has_value()) {
        throw JsonError(o.PathOf("disk"), "give the disk the volume lives on, or \"cdrom\": true for a CD/DVD drive");
    }
    const bool optical = v.fileSystem == u"CDFS" || v.fileSystem == u"UDF";
    if (cd) {
        v.kind = VolumeKind::CdRom;
        v.cdromNumber = static_cast<uint32_t>(o.OptionalInt("cdromNumber", 0, 99).value_or(0));
        v.bytesPerSector = 2048;
        v.freeBytes = 0;  // a pressed disc has no room
        if (!optical) {
            throw JsonError(o.PathOf("fileSystem"), "a CD/DVD drive holds a CDFS or UDF volume");
        }
        if (o.Has("freeBytes") && o.UInt64("freeBytes") != 0) {
            throw JsonError(o.PathOf("freeBytes"), "a CD/DVD volume has no free space");
        }
    } else {
        if (optical) {
            throw JsonError(o.PathOf("fileSystem"), "CDFS and UDF volumes live on a CD/DVD drive (\"cdrom\": true)");
        }
        v.disk = static_cast<uint32_t>(*disk);
        auto it = std::find_if(disks.begin(), disks.end(), [&](const DiskProfile& d) { return d.number == v.disk; });
        if (it == disks.end()) {
            throw JsonError(o.PathOf("disk"), "there is no disk " + std::to_string(v.disk));
        }
        v.partition = static_cast<uint32_t>(o.OptionalInt("partition", 1, 128).value_or(1));
        v.offsetBytes = o.OptionalUInt64("offsetBytes").value_or(0);
        if (o.Has("offsetBytes") && v.offsetBytes % 512 != 0) {
            throw JsonError(o.PathOf("offsetBytes"), "expected a multiple of 512");
        }
    }
    if (cd && (o.Has("partition") || o.Has("offsetBytes"))) {
        throw JsonError(o.PathOf(o.Has("partition") ? "partition" : "offsetBytes"), "a CD/DVD volume has no partition");
    }
    v.clusterBytes = static_cast<uint32_t>(
        o.OptionalInt("clusterBytes", 512, 2 * 1024 * 1024).value_or(DefaultClusterBytes(v.fileSystem, v.sizeBytes)));
    if ((v.clusterBytes & (v.clusterBytes - 1)) != 0 || v.clusterBytes < v.bytesPerSector) {
        throw JsonError(o.PathOf("clusterBytes"), "expected a power of two of at least one sector");
    }
    v.serialNumber = static_cast<uint32_t>(
        o.OptionalInt("serialNumber", 0, 0xFFFFFFFFll).value_or(DefaultSerial(v.letter, v.disk, v.partition)));
    o.Finish();
    return v;
}

}  // namespace

std::vector<VolumeProfile> ParseVolumeProfiles(const json& node, const std::string& path,
                                               const std::vector<DiskProfile>& disks) {
    const json& arr = RequireArray(&node, path);
    std::vector<VolumeProfile> volumes;
    std::set<char16_t> letters;
    for (size_t i = 0; i < arr.size(); ++i) {
        const std::string p = ElementPath(path, i);
        VolumeProfile v = ParseVolume(arr[i], p, disks);
        if (!letters.insert(v.letter).second) {
            throw JsonError(p + ".letter", "drive letter " + platform::Utf16ToUtf8(std::u16string(1, v.letter)) +
                                               ": is used twice");
        }
        volumes.push_back(std::move(v));
    }
    // Lay out the partitions of each disk: an offset not given follows the partition before
    // it (by number), 1 MiB aligned; then every partition must fit and none may overlap.
    std::map<uint32_t, std::vector<size_t>> byDisk;
    for (size_t i = 0; i < volumes.size(); ++i) {
        if (volumes[i].kind == VolumeKind::Partition) {
            byDisk[volumes[i].disk].push_back(i);
        }
    }
    for (auto& [disk, list] : byDisk) {
        std::stable_sort(list.begin(), list.end(), [&](size_t a, size_t b) { return volumes[a].partition < volumes[b].partition; });
        const uint32_t number = disk;  // clang 14 cannot capture a structured binding
        const auto& dp = *std::find_if(disks.begin(), disks.end(), [&](const DiskProfile& d) { return d.number == number; });
        const uint64_t capacity = dp.capacitySectors * 512;
        uint64_t next = kMiB;
        for (size_t k = 0; k < list.size(); ++k) {
            VolumeProfile& v = volumes[list[k]];
            const std::string p = ElementPath(path, list[k]);
            if (k > 0 && volumes[list[k - 1]].partition == v.partition) {
                throw JsonError(p + ".partition", "disk " + std::to_string(disk) + " has partition " +
                                                      std::to_string(v.partition) + " twice");
            }
            if (v.offsetBytes == 0) {
                v.offsetBytes = next;
            }
            if (v.offsetBytes < next && k > 0) {
                throw JsonError(p + ".offsetBytes", "the partition overlaps the one before it on disk " + std::to_string(disk));
            }
            if (v.offsetBytes + v.sizeBytes > capacity) {
                throw JsonError(p + ".sizeBytes", "the partition does not fit on disk " + std::to_string(disk) + " (" +
                                                      std::to_string(capacity) + " bytes)");
            }
            next = (v.offsetBytes + v.sizeBytes + kMiB - 1) / kMiB * kMiB;
        }
    }
    return volumes;
}

VolumeProfile DefaultVolume(char16_t letter, const std::vector<DiskProfile>& disks, uint32_t partition) {
    VolumeProfile v;
    v.letter = letter;
    v.label = u"";
    v.fileSystem = u"NTFS";
    const DiskProfile* disk = nullptr;
    for (const DiskProfile& d : disks) {
        if (disk == nullptr && d.kind != DiskKind::Usb) {
            disk = &d;
        }
    }
    v.sizeBytes = 120ull * 1024 * 1024 * 1024;
    if (disk != nullptr) {
        v.disk = disk->number;
        const uint64_t room = disk->capacitySectors * 512;
        // Each default volume takes its own slice of the disk.
        const uint64_t slice = room / 4 / kMiB * kMiB;
        v.sizeBytes = std::max<uint64_t>(kMiB, std::min(v.sizeBytes, slice > 2 * kMiB ? slice - kMiB : kMiB));
        v.offsetBytes = kMiB + static_cast<uint64_t>(partition - 1) * (slice > 0 ? slice : kMiB);
    } else {
        v.disk = UINT32_MAX;  // on no disk the profile knows
        v.offsetBytes = kMiB;
    }
    v.partition = partition;
    v.freeBytes = v.sizeBytes / 2;
    v.clusterBytes = 4096;
    v.serialNumber = DefaultSerial(letter, v.disk, partition);
    return v;
}

uint32_t VolumeDriveType(const VolumeProfile& v, const std::vector<DiskProfile>& disks) {
    if (v.kind == VolumeKind::CdRom) {
        return 5;
    }
    for (const DiskProfile& d : disks) {
        if (d.number == v.disk && d.kind == DiskKind::Usb) {
            return 2;
        }
    }
    return 3;
}

}  // namespace tarvex::sim
