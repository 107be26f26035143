#include "platform/sim/shell/diskpart.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "platform/sim/devices/partition_table.h"
#include "platform/sim/wmi/wmi_classes.h"
#include "platform/text.h"

namespace tarvex::sim {

namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

constexpr const char* kEol = "\r\n";

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// A command word as typed: the whole word, or at least its first three letters.
bool IsWord(const std::string& typed, std::string_view word) {
    return typed.size() >= 3 && typed.size() <= word.size() && word.substr(0, typed.size()) == typed;
}

std::vector<std::string> Tokens(std::string_view line) {
    std::vector<std::string> out;
    std::string current;
    for (char c : line) {
        // "select disk=0" is the same as "select disk 0".
        if (std::isspace(static_cast<unsigned char>(c)) != 0 || c == '=') {
            if (!current.empty()) {
                out.push_back(Lower(current));
                current.clear();
            }
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) {
        out.push_back(Lower(current));
    }
    return out;
}

std::optional<uint32_t> Number(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::stoul(text));
}

bool AtLeast(const ProfileOs& os, uint32_t major, uint32_t minor) {
    return os.major > major || (os.major == major && os.minor >= minor);
}

// The bus diskpart names: what the disk's driver reports.
std::string BusType(const MachineProfile& p, const DiskProfile& d) {
    switch (d.kind) {
        case DiskKind::Usb: return "USB";
        case DiskKind::Sata: return AtLeast(p.os, 6, 2) ? "SATA" : "ATA";
        case DiskKind::Nvme:
            // A vendor's storport miniport registers its disks as RAID; the inbox driver says NVMe
            // from Windows 8.1 on, SCSI before.
            return d.nvme.miniport ? "RAID" : AtLeast(p.os, 6, 3) ? "NVMe" : "SCSI";
    }
    return "Unknown";
}

std::string LocationPath(const DiskProfile& d) {
    switch (d.kind) {
        case DiskKind::Usb: return "UNAVAILABLE";
        case DiskKind::Sata:
            return fmt::format("PCIROOT(0)#PCI(1F02)#ATA(C{:02}T{:02}L{:02})", d.pathId, d.targetId, d.lun);
        case DiskKind::Nvme:
            return fmt::format("PCIROOT(0)#PCI(1C04)#PCI(0000)#{}(P{:02}T{:02}L{:02})", d.nvme.miniport ? "RAID" : "NVME",
                               d.pathId, d.targetId, d.lun);
    }
    return "UNAVAILABLE";
}

std::string DiskId(const DiskProfile& d) {
    switch (d.partitionStyle) {
        case PartitionStyle::Mbr: return fmt::format("{:08X}", MbrDiskSignature(d));
        case PartitionStyle::Gpt: return GuidText(GptDiskGuid(d));
        case PartitionStyle::None: return "00000000";
    }
    return "00000000";
}

const VolumeProfile* SystemVolume(const MachineProfile& p) {
    const char16_t letter = SystemDriveLetter(p);
    for (const VolumeProfile& v : p.volumes) {
        if (v.letter == letter) {
            return &v;
        }
    }
    return nullptr;
}

// diskpart's volumes in the order of their numbers: the CD/DVD drives first, then the
// partitions of each disk by disk and partition number (including those without a letter).
struct NumberedVolume {
    uint32_t disk = 0;
    DiskPartition partition;
};
std::vector<NumberedVolume> VolumeOrder(const MachineProfile& p, size_t* cdroms) {
    *cdroms = static_cast<size_t>(std::count_if(p.volumes.begin(), p.volumes.end(),
                                                [](const VolumeProfile& v) { return v.kind == VolumeKind::CdRom; }));
    std::vector<const DiskProfile*> disks;
    for (const DiskProfile& d : p.disks) {
        disks.push_back(&d);
    }
    std::sort(disks.begin(), disks.end(), [](const DiskProfile* a, const DiskProfile* b) { return a->number < b->number; });
    std::vector<NumberedVolume> order;
    for (const DiskProfile* d : disks) {
        for (const DiskPartition& part : PartitionsOf(*d, p.volumes, SystemDriveLetter(p))) {
            order.push_back({d->number, part});
        }
    }
    return order;
}

// Left-aligned in `width` characters (UTF-16 units), cut when longer.
std::u16string Column(std::u16string_view text, size_t width) {
    std::u16string out(text.substr(0, width));
    out.resize(width, u' ');
    return out;
}

std::u16string RightColumn(const std::string& text, size_t width) {
    std::u16string out = Utf8ToUtf16(text);
    return out.size() >= width ? out : std::u16string(width - out.size(), u' ') + out;
}

std::string TrimEnd(std::string s) {
    while (!s.empty() && s.back() == ' ') {
        s.pop_back();
    }
    return s;
}

void Line(std::string* out, std::string_view text = {}) {
    out->append(text);
    out->append(kEol);
}

void DetailDisk(const MachineProfile& p, const DiskProfile& d, std::string* out) {
    const VolumeProfile* system = SystemVolume(p);
    const bool bootDisk = system != nullptr && system->kind == VolumeKind::Partition && system->disk == d.number;
    auto yesNo = [](bool b) { return b ? "Yes" : "No"; };
    Line(out, Utf16ToUtf8(DiskFriendlyName(d)));
    Line(out, "Disk ID: " + DiskId(d));
    Line(out, "Type   : " + BusType(p, d));
    Line(out, "Status : Online");
    Line(out, fmt::format("Path   : {}", d.pathId));
    Line(out, fmt::format("Target : {}", d.targetId));
    Line(out, fmt::format("LUN ID : {}", d.lun));
    Line(out, "Location Path : " + LocationPath(d));
    Line(out, "Current Read-only State : No");
    Line(out, "Read-only  : No");
    Line(out, fmt::format("Boot Disk  : {}", yesNo(bootDisk)));
    // The page file and the crash dump live on the system volume.
    Line(out, fmt::format("Pagefile Disk  : {}", yesNo(bootDisk)));
    Line(out, "Hibernation File Disk  : No");
    Line(out, fmt::format("Crashdump Disk  : {}", yesNo(bootDisk)));
    Line(out, "Clustered Disk  : No");
    Line(out);

    size_t cdroms = 0;
    const std::vector<NumberedVolume> order = VolumeOrder(p, &cdroms);
    std::vector<std::string> rows;
    for (size_t k = 0; k < order.size(); ++k) {
        if (order[k].disk != d.number) {
            continue;
        }
        const DiskPartition& part = order[k].partition;
        const VolumeProfile* v = part.volume;
        const std::u16string info = v == nullptr ? (part.active ? u"System" : u"Hidden") : v == system ? u"Boot" : u"";
        std::u16string row = u"  " + Column(Utf8ToUtf16(fmt::format("Volume {}", cdroms + k)), 10) + u"   " +
                             std::u16string(1, v != nullptr ? v->letter : u' ') + u"   " +
                             Column(v != nullptr ? v->label : kSystemReservedLabel, 11) + u"  " +
                             Column(v != nullptr ? v->fileSystem : u"NTFS", 5) + u"  " +
                             Column(d.kind == DiskKind::Usb ? u"Removable" : u"Partition", 10) + u"  " +
                             RightColumn(DiskpartSize(part.sizeBytes), 7) + u"  " + Column(u"Healthy", 9) + u"  " + info;
        rows.push_back(TrimEnd(Utf16ToUtf8(row)));
    }
    if (rows.empty()) {
        Line(out, "There are no volumes.");
        return;
    }
    Line(out, "  Volume ###  Ltr  Label        Fs     Type        Size     Status     Info");
    Line(out, "  ----------  ---  -----------  -----  ----------  -------  ---------  --------");
    for (const std::string& r : rows) {
        Line(out, r);
    }
}

}  // namespace

std::string DiskpartSize(uint64_t bytes) {
    static const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
    size_t unit = 0;
    uint64_t value = bytes;
    while (unit + 1 < std::size(kUnits) && value / 1024 >= 10) {
        value /= 1024;
        ++unit;
    }
    return fmt::format("{} {}", value, kUnits[unit]);
}

std::string DiskpartBanner(const MachineProfile& profile, std::u16string_view computerName) {
    const ProfileOs& os = profile.os;
    const char* years = os.major < 6 ? "1999-2001" : AtLeast(os, 6, 2) ? "1999-2013" : "1999-2008";
    std::string out;
    Line(&out);
    Line(&out, fmt::format("Microsoft DiskPart version {}.{}.{}", os.major, os.minor, os.build));
    Line(&out);
    Line(&out, fmt::format("Copyright (C) {} Microsoft Corporation.", years));
    Line(&out, "On computer: " + Utf16ToUtf8(computerName));
    Line(&out);
    return out;
}

DiskpartRun RunDiskpartScript(const MachineProfile& profile, std::string_view script) {
    DiskpartRun run;
    std::optional<uint32_t> selected;
    auto failed = [&](std::string_view message) {
        Line(&run.output, message);
        Line(&run.output);
        run.exitCode = 1;
    };
    size_t pos = 0;
    while (pos < script.size()) {
        size_t end = script.find('\n', pos);
        if (end == std::string_view::npos) {
            end = script.size();
        }
        const std::string_view raw = script.substr(pos, end - pos);
        pos = end + 1;
        const std::vector<std::string> t = Tokens(raw);
        if (t.empty() || t[0] == "rem") {
            continue;
        }
        if (t[0] == "exit") {
            break;
        }
        if (IsWord(t[0], "select") && t.size() >= 2 && IsWord(t[1], "disk")) {
            const std::optional<uint32_t> n = t.size() == 3 ? Number(t[2]) : std::nullopt;
            if (!n) {
                selected.reset();
                failed("The arguments given for this command are not valid.");
                continue;
            }
            const bool known = std::any_of(profile.disks.begin(), profile.disks.end(),
                                           [&](const DiskProfile& d) { return d.number == *n; });
            if (!known) {
                selected.reset();
                failed("The disk you specified is not valid.");
                continue;
            }
            selected = *n;
            Line(&run.output, fmt::format("Disk {} is now the selected disk.", *n));
            Line(&run.output);
            continue;
        }
        if (IsWord(t[0], "detail") && t.size() == 2 && IsWord(t[1], "disk")) {
            const DiskProfile* disk = nullptr;
            for (const DiskProfile& d : profile.disks) {
                disk = selected && d.number == *selected ? &d : disk;
            }
            if (disk == nullptr) {
                failed("There is no disk selected.");
                continue;
            }
            DetailDisk(profile, *disk, &run.output);
            Line(&run.output);
            continue;
        }
        failed("DiskPart does not know the command \"" + TrimEnd(std::string(raw.substr(0, raw.find('\r')))) +
               "\".");
    }
    return run;
}

}  // namespace tarvex::sim
