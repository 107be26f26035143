#include "platform/sim/devices/partition_table.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "platform/byte_span.h"

#include "platform/sim/devices/firmware_image.h"  // Crc32, which the GPT uses too

namespace tarvex::sim {

namespace {

constexpr uint64_t kSectorsPerCylinder = 255 * 63;
constexpr uint64_t kChsLimit = 1024 * kSectorsPerCylinder;
constexpr uint64_t kMbrLimit = 0xFFFFFFFFull;  // LBA fields of an MBR entry are 32 bits
constexpr uint64_t kGptEntrySectors = kGptEntryCount * kGptEntrySize / 512;  // 32
constexpr size_t kMbrEntries = 446;
constexpr size_t kMbrSignature = 440;
constexpr uint32_t kGptRevision = 0x00010000;
constexpr uint32_t kGptHeaderSize = 92;
constexpr char16_t kBasicDataName[] = u"Basic data partition";

// Sectors are built through a bounds-checked writer: a field placed past its sector is a
// fault of this file, and stops the program rather than writing past the buffer.
void Check(bool written) {
    if (!written) {
        std::abort();
    }
}

void Put16(std::span<uint8_t> to, size_t offset, uint16_t v) { Check(platform::ByteWriter(to).U16(offset, v)); }
void Put32(std::span<uint8_t> to, size_t offset, uint32_t v) { Check(platform::ByteWriter(to).U32(offset, v)); }
void Put64(std::span<uint8_t> to, size_t offset, uint64_t v) { Check(platform::ByteWriter(to).U64(offset, v)); }
void PutBytes(std::span<uint8_t> to, size_t offset, std::span<const uint8_t> bytes) {
    Check(platform::ByteWriter(to).CopyIn(offset, bytes));
}

uint64_t Fnv1a64(std::string_view text) {
    uint64_t h = 14695981039346656037ull;
    for (char c : text) {
        h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    }
    return h;
}

// Sixteen bytes from the text, shaped as a random (version 4, RFC 4122 variant) GUID.
Guid DerivedGuid(const std::string& text) {
    Guid g{};
    const uint64_t a = Fnv1a64(text + "#0");
    const uint64_t b = Fnv1a64(text + "#1");
    Put64(g, 0, a);
    Put64(g, 8, b);
    g[7] = static_cast<uint8_t>((g[7] & 0x0F) | 0x40);  // high byte of the third field
    g[8] = static_cast<uint8_t>((g[8] & 0x3F) | 0x80);
    return g;
}

// One 16-byte MBR entry at `offset` of the sector.
void PutMbrEntry(std::span<uint8_t> sector, size_t offset, uint8_t status, uint8_t type, uint64_t firstLba,
                 uint64_t sectors) {
    const uint64_t last = sectors == 0 ? firstLba : firstLba + sectors - 1;
    const auto first = ChsBytes(firstLba);
    const auto end = ChsBytes(last);
    const std::array<uint8_t, 1> statusByte{status};
    const std::array<uint8_t, 1> typeByte{type};
    PutBytes(sector, offset, statusByte);
    PutBytes(sector, offset + 1, first);
    PutBytes(sector, offset + 4, typeByte);
    PutBytes(sector, offset + 5, end);
    Put32(sector, offset + 8, static_cast<uint32_t>(std::min(firstLba, kMbrLimit)));
    Put32(sector, offset + 12, static_cast<uint32_t>(std::min(sectors, kMbrLimit)));
}

void PutBootSignature(std::array<uint8_t, 512>& s) {
    s[510] = 0x55;
    s[511] = 0xAA;
}

bool OnDisk(const VolumeProfile& v, const DiskProfile& d) {
    return v.kind == VolumeKind::Partition && v.disk == d.number;
}

}  // namespace

const Guid kBasicDataPartitionType = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                      0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

uint32_t MbrDiskSignature(const DiskProfile& disk) {
    const uint64_t h = Fnv1a64("mbr|" + disk.serial + "|" + disk.model + "|" + std::to_string(disk.number));
    const uint32_t s = static_cast<uint32_t>(h ^ (h >> 32));
    return s == 0 ? 1 : s;
}

Guid GptDiskGuid(const DiskProfile& disk) { return DerivedGuid("gpt-disk|" + disk.serial + "|" + disk.model); }

Guid GptPartitionGuid(const DiskProfile& disk, uint32_t partition) {
    return DerivedGuid("gpt-partition|" + disk.serial + "|" + disk.model + "|" + std::to_string(partition));
}

std::string GuidText(const Guid& g) {
    const uint32_t d1 = static_cast<uint32_t>(g[0] | (g[1] << 8) | (g[2] << 16) | (static_cast<uint32_t>(g[3]) << 24));
    const unsigned d2 = static_cast<unsigned>(g[4] | (g[5] << 8));
    const unsigned d3 = static_cast<unsigned>(g[6] | (g[7] << 8));
    return fmt::format("{{{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}}}", d1, d2, d3, g[8],
                       g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}

uint64_t GptLastUsableLba(const DiskProfile& disk) {
    // The last sector holds the backup header, the 32 before it the backup entries.
    return disk.capacitySectors - 1 - kGptEntrySectors - 1;
}

std::optional<std::string> PartitionLayoutProblem(const DiskProfile& disk, const VolumeProfile& v) {
    const uint64_t first = v.offsetBytes / 512;
    const uint64_t sectors = v.sizeBytes / 512;
    const std::string where = "disk " + std::to_string(disk.number);
    switch (disk.partitionStyle) {
        case PartitionStyle::None:
            return where + " has partition style none (not initialised) and holds no partitions";
        case PartitionStyle::Mbr:
            if (v.partition > kMbrPrimaryEntries) {
                return "an MBR disk has partitions 1 to 4 (" + where + "; use \"partitionStyle\": \"gpt\" for more)";
            }
            if (first == 0) {
                return "the partition overlaps the master boot record of " + where;
            }
            if (first + sectors > kMbrLimit) {
                return "the partition ends beyond 2 TiB, which an MBR cannot describe (" + where +
                       "; use \"partitionStyle\": \"gpt\")";
            }
            return std::nullopt;
        case PartitionStyle::Gpt:
            if (first < kGptFirstUsableLba) {
                return "the partition overlaps the GPT header or entries of " + where +
                       " (it must start at sector 34 or later)";
            }
            if (first + sectors - 1 > GptLastUsableLba(disk)) {
                return "the partition overlaps the backup GPT at the end of " + where;
            }
            return std::nullopt;
    }
    return std::nullopt;
}

uint8_t MbrPartitionType(const VolumeProfile& v) {
    if (v.fileSystem == u"FAT32") {
        return 0x0C;
    }
    if (v.fileSystem == u"FAT") {
        // FAT16; the LBA form once it reaches past what CHS addresses.
        return (v.offsetBytes + v.sizeBytes) / 512 > kChsLimit ? 0x0E : 0x06;
    }
    return 0x07;  // NTFS and exFAT
}

std::array<uint8_t, 3> ChsBytes(uint64_t lba) {
    if (lba >= kChsLimit) {
        return {0xFE, 0xFF, 0xFF};
    }
    const uint64_t cylinder = lba / kSectorsPerCylinder;
    const uint64_t head = (lba / 63) % 255;
    const uint64_t sector = lba % 63 + 1;
    return {static_cast<uint8_t>(head), static_cast<uint8_t>(sector | ((cylinder >> 2) & 0xC0)),
            static_cast<uint8_t>(cylinder & 0xFF)};
}

std::vector<DiskPartition> PartitionsOf(const DiskProfile& disk, const std::vector<VolumeProfile>& volumes,
                                        char16_t systemDrive) {
    std::vector<DiskPartition> parts;
    for (const VolumeProfile& v : volumes) {
        if (OnDisk(v, disk)) {
            parts.push_back({v.partition, v.offsetBytes, v.sizeBytes, &v, false});
        }
    }
    std::sort(parts.begin(), parts.end(),
              [](const DiskPartition& a, const DiskPartition& b) { return a.number < b.number; });
    if (disk.partitionStyle != PartitionStyle::Mbr) {
        return parts;
    }
    constexpr uint64_t kMiB = 1024 * 1024;
    std::vector<DiskPartition> all;
    uint64_t free = kMiB;  // where room for a partition without a letter begins
    uint32_t number = 1;
    for (const DiskPartition& p : parts) {
        for (; number < p.number; ++number) {
            if (p.offsetBytes >= free + kMiB) {
                all.push_back({number, free, p.offsetBytes - free, nullptr, false});
                free = p.offsetBytes;
            }
        }
        all.push_back(p);
        free = (p.offsetBytes + p.sizeBytes + kMiB - 1) / kMiB * kMiB;
        number = p.number + 1;
    }
    const bool systemDisk = std::any_of(all.begin(), all.end(), [&](const DiskPartition& p) {
        return p.volume != nullptr && p.volume->letter == systemDrive;
    });
    if (systemDisk) {
        const bool reserved = !all.empty() && all.front().number == 1 && all.front().volume == nullptr;
        for (DiskPartition& p : all) {
            p.active = reserved ? &p == &all.front() : p.volume != nullptr && p.volume->letter == systemDrive;
        }
    }
    return all;
}

PartitionSectors::PartitionSectors(const DiskProfile& disk, const std::vector<VolumeProfile>& volumes,
                                   char16_t systemDrive) {
    const std::vector<DiskPartition> parts = PartitionsOf(disk, volumes, systemDrive);
    switch (disk.partitionStyle) {
        case PartitionStyle::None: At(0).fill(0); break;
        case PartitionStyle::Mbr: BuildMbr(disk, parts); break;
        case PartitionStyle::Gpt: BuildGpt(disk, parts); break;
    }
}

const uint8_t* PartitionSectors::Sector(uint64_t lba) const {
    auto it = sectors_.find(lba);
    return it == sectors_.end() ? nullptr : it->second.data();
}

void PartitionSectors::BuildMbr(const DiskProfile& disk, const std::vector<DiskPartition>& parts) {
    std::array<uint8_t, 512>& s = At(0);
    s.fill(0);
    Put32(s, kMbrSignature, MbrDiskSignature(disk));
    for (const DiskPartition& p : parts) {
        // The profile keeps to partitions 1..4 (PartitionLayoutProblem); each partition number
        // has its own slot.
        if (p.number < 1 || p.number > kMbrPrimaryEntries) {
            continue;
        }
        const uint8_t type = p.volume != nullptr ? MbrPartitionType(*p.volume) : 0x07;
        PutMbrEntry(s, kMbrEntries + 16 * (p.number - 1), p.active ? 0x80 : 0x00, type, p.offsetBytes / 512,
                    p.sizeBytes / 512);
    }
    PutBootSignature(s);
}

void PartitionSectors::BuildGpt(const DiskProfile& disk, const std::vector<DiskPartition>& parts) {
    const uint64_t last = disk.capacitySectors - 1;

    std::array<uint8_t, 512>& mbr = At(0);
    mbr.fill(0);
    PutMbrEntry(mbr, kMbrEntries, 0x00, 0xEE, 1, std::min(disk.capacitySectors - 1, kMbrLimit));
    PutBootSignature(mbr);

    std::vector<uint8_t> entries(kGptEntryCount * kGptEntrySize, 0);
    for (const DiskPartition& p : parts) {
        if (p.number < 1 || p.number > kGptEntryCount) {
            continue;
        }
        const size_t e = kGptEntrySize * (p.number - 1);
        PutBytes(entries, e, kBasicDataPartitionType);
        PutBytes(entries, e + 16, GptPartitionGuid(disk, p.number));
        const uint64_t first = p.offsetBytes / 512;
        Put64(entries, e + 32, first);
        Put64(entries, e + 40, first + p.sizeBytes / 512 - 1);
        Put64(entries, e + 48, 0);  // attributes
        for (size_t i = 0; kBasicDataName[i] != u'\0' && i < 36; ++i) {
            Put16(entries, e + 56 + 2 * i, kBasicDataName[i]);
        }
    }
    const uint32_t entriesCrc = Crc32(entries);

    const Guid diskGuid = GptDiskGuid(disk);
    auto header = [&](uint64_t myLba, uint64_t alternateLba, uint64_t entriesLba) {
        std::array<uint8_t, 512>& h = At(myLba);
        h.fill(0);
        PutBytes(h, 0, std::span(reinterpret_cast<const uint8_t*>("EFI PART"), 8));
        Put32(h, 8, kGptRevision);
        Put32(h, 12, kGptHeaderSize);
        Put64(h, 24, myLba);
        Put64(h, 32, alternateLba);
        Put64(h, 40, kGptFirstUsableLba);
        Put64(h, 48, GptLastUsableLba(disk));
        PutBytes(h, 56, diskGuid);
        Put64(h, 72, entriesLba);
        Put32(h, 80, kGptEntryCount);
        Put32(h, 84, kGptEntrySize);
        Put32(h, 88, entriesCrc);
        // The header's CRC covers its 92 bytes with the CRC field itself zero.
        Put32(h, 16, Crc32(std::span<const uint8_t>(h).first(kGptHeaderSize)));
    };
    auto putEntries = [&](uint64_t firstLba) {
        for (uint64_t k = 0; k < kGptEntrySectors; ++k) {
            std::copy_n(entries.begin() + static_cast<std::ptrdiff_t>(k * 512), 512, At(firstLba + k).begin());
        }
    };
    header(1, last, 2);
    putEntries(2);
    putEntries(last - kGptEntrySectors);
    header(last, 1, last - kGptEntrySectors);
}

}  // namespace tarvex::sim
