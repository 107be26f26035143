#include "platform/linux/host_inventory.h"

#include <sys/statvfs.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <system_error>
#include <tuple>

#include "platform/byte_span.h"
#include "platform/text.h"

namespace tarvex::linuxhost {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDiskInterfaceGuid = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
// A port number Windows could give; higher SCSI host numbers (a PC that has seen many USB
// plug-ins) are renumbered in order.
constexpr int kHighestPort = 254;

// Block devices that are no disk of their own: loop files, RAM disks, device-mapper and
// md-RAID volumes over other disks, optical drives.
constexpr std::string_view kLeftOut[] = {"loop", "ram", "zram", "dm-", "md", "sr"};

struct Scanned {
    HostDisk disk;
    fs::path blockFolder;         // resolved <sys>/block/<name>
    std::string deviceKey;        // the device folder, relative to sysfs: stable per disk
    int scsiHost = -1;            // H of H:C:T:L; -1 for a disk outside the SCSI layer
    uint32_t nvmeController = 0;  // X of nvmeXnY
};

// "nvme3n12" -> {3, 12}.
std::optional<std::pair<uint32_t, uint32_t>> NvmeName(std::string_view name) {
    if (name.rfind("nvme", 0) != 0) {
        return std::nullopt;
    }
    uint64_t numbers[2] = {0, 0};
    size_t at = 4;
    for (int part = 0; part < 2; ++part) {
        const size_t start = at;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9' && at - start < 9) {
            numbers[part] = numbers[part] * 10 + static_cast<uint64_t>(name[at] - '0');
            ++at;
        }
        if (at == start) {
            return std::nullopt;
        }
        if (part == 0) {
            if (at >= name.size() || name[at] != 'n') {
                return std::nullopt;
            }
            ++at;
        }
    }
    if (at != name.size()) {
        return std::nullopt;
    }
    return std::pair{static_cast<uint32_t>(numbers[0]), static_cast<uint32_t>(numbers[1])};
}

// "2:0:1:0" -> its four numbers.
std::optional<std::array<uint32_t, 4>> ScsiAddress(std::string_view name) {
    std::array<uint32_t, 4> parts{};
    size_t at = 0;
    for (size_t i = 0; i < 4; ++i) {
        const size_t start = at;
        uint64_t v = 0;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9' && at - start < 9) {
            v = v * 10 + static_cast<uint64_t>(name[at] - '0');
            ++at;
        }
        if (at == start || (i < 3 && (at >= name.size() || name[at] != ':'))) {
            return std::nullopt;
        }
        parts[i] = static_cast<uint32_t>(v);
        at += i < 3 ? 1 : 0;
    }
    if (at != name.size()) {
        return std::nullopt;
    }
    return parts;
}

uint8_t Saturated(uint32_t v) {
    return static_cast<uint8_t>(std::min<uint32_t>(v, 255));
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "0000:00:1f.2": domain, bus, device and function of a PCI function.
bool IsPciAddress(std::string_view name) {
    if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.') {
        return false;
    }
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11}) {
        if (!IsHexDigit(name[i])) {
            return false;
        }
    }
    return true;
}

bool InLibataPort(const fs::path& deviceFolder) {
    for (const fs::path& part : deviceFolder) {
        const std::string s = part.string();
        if (s.size() > 3 && s.rfind("ata", 0) == 0 &&
            std::all_of(s.begin() + 3, s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return true;
        }
    }
    return false;
}

std::string RelativeTo(const fs::path& path, const fs::path& root) {
    const std::string p = path.generic_string();
    const std::string r = root.generic_string();
    if (!r.empty() && p.rfind(r, 0) == 0) {
        return p.substr(r.size());
    }
    return p;
}

// The PCI function a device hangs on: the nearest folder at or above `folder` (inside sysfs)
// that is named like one and has its id files.
void ReadPciFunction(const fs::path& folder, const fs::path& sysRoot, HostDisk* disk) {
    for (fs::path at = folder; !at.empty() && at != sysRoot && at.has_relative_path();
         at = at.parent_path()) {
        const std::string name = at.filename().string();
        std::error_code ec;
        if (!IsPciAddress(name) || !fs::exists(at / "vendor", ec) ||
            !fs::exists(at / "device", ec) || !fs::exists(at / "class", ec)) {
            continue;
        }
        disk->pciAddress = name;
        disk->pciVendor = static_cast<uint16_t>(ReadNumber(at / "vendor").value_or(0));
        disk->pciDevice = static_cast<uint16_t>(ReadNumber(at / "device").value_or(0));
        disk->pciSubsystemVendor =
            static_cast<uint16_t>(ReadNumber(at / "subsystem_vendor").value_or(0));
        disk->pciSubsystemDevice =
            static_cast<uint16_t>(ReadNumber(at / "subsystem_device").value_or(0));
        disk->pciRevision = static_cast<uint8_t>(ReadNumber(at / "revision").value_or(0));
        disk->pciClassCode = fmt::format("{:06X}", ReadNumber(at / "class").value_or(0) & 0xFFFFFF);
        disk->driver = LinkName(at / "driver");
        return;
    }
}

// The unit serial number page (VPD 80h): a 4-byte header with the length in bytes 2..3.
std::string VpdSerial(const fs::path& path) {
    const std::optional<std::string> page = ReadSmallFile(path, 4096);
    if (!page) {
        return {};
    }
    const platform::ByteReader reader(
        std::span(reinterpret_cast<const uint8_t*>(page->data()), page->size()));
    const std::optional<uint8_t> high = reader.U8(2);
    const std::optional<uint8_t> low = reader.U8(3);
    if (!high || !low) {
        return {};
    }
    const size_t length = std::min<size_t>((size_t{*high} << 8) | *low, reader.Size() - 4);
    const auto bytes = reader.Bytes(4, length);
    return bytes ? Trim(std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size()))
                 : std::string();
}

// Text for one part of an instance id: blanks and separators become '_', padded with '_'
// to `width` when given.
std::string IdPart(std::string_view text, size_t width = 0) {
    std::string out = PrintableAscii(text);
    for (char& c : out) {
        if (c == ' ' || c == '#' || c == '\\' || c == '&') {
            c = '_';
        }
    }
    while (out.size() < width) {
        out.push_back('_');
    }
    return out;
}

std::optional<Scanned> ScanDisk(const HostRoots& roots, const fs::path& sysRoot,
                                const std::string& name) {
    const fs::path link = roots.sys / "block" / name;
    std::error_code ec;
    if (!fs::exists(link / "device", ec) || ReadTrimmed(link / "hidden") == "1") {
        return std::nullopt;
    }
    Scanned s;
    s.blockFolder = Resolve(link);
    if (s.blockFolder.empty()) {
        return std::nullopt;
    }
    HostDisk& d = s.disk;
    d.name = name;
    d.blockNode = (roots.dev / name).string();
    const std::string where = RelativeTo(s.blockFolder, sysRoot);
    const fs::path deviceFolder = Resolve(link / "device");
    const auto nvme = NvmeName(name);
    if (where.find("/usb") != std::string::npos) {
        d.kind = HostDiskKind::Usb;
    } else if (nvme) {
        d.kind = HostDiskKind::Nvme;
    } else if (InLibataPort(deviceFolder)) {
        d.kind = HostDiskKind::Sata;
    } else {
        d.kind = HostDiskKind::Other;
    }
    if (nvme && d.kind == HostDiskKind::Nvme) {
        const std::string controller = fmt::format("nvme{}", nvme->first);
        const fs::path ctrl = roots.sys / "class" / "nvme" / controller;
        d.nvmeControllerNode = (roots.dev / controller).string();
        d.nvmeNamespaceId = nvme->second;
        s.nvmeController = nvme->first;
        d.model = PrintableAscii(ReadTrimmed(ctrl / "model"));
        d.serial = PrintableAscii(ReadTrimmed(ctrl / "serial"));
        d.firmware = PrintableAscii(ReadTrimmed(ctrl / "firmware_rev"));
        const fs::path function = Resolve(ctrl / "device");
        ReadPciFunction(function, sysRoot, &d);
        // Namespaces of one controller share its identity; the NSID tells them apart.
        s.deviceKey = RelativeTo(function.empty() ? deviceFolder : function, sysRoot) +
                      fmt::format("/ns{}", d.nvmeNamespaceId);
    } else {
        const fs::path device = link / "device";
        d.vendor = PrintableAscii(ReadTrimmed(device / "vendor"));
        std::string product = PrintableAscii(ReadTrimmed(device / "model"));
        if (product.empty()) {
            // A virtio or MMC disk has no INQUIRY data; its driver says what it is.
            product = LinkName(device / "driver");
        }
        d.model =
            d.kind == HostDiskKind::Usb && !d.vendor.empty() ? d.vendor + " " + product : product;
        d.firmware = PrintableAscii(ReadTrimmed(device / "rev"));
        d.serial = PrintableAscii(VpdSerial(device / "vpd_pg80"));
        for (const fs::path& file : {device / "serial", link / "serial"}) {
            if (d.serial.empty()) {
                d.serial = PrintableAscii(ReadTrimmed(file));
            }
        }
        if (const auto address = ScsiAddress(deviceFolder.filename().string())) {
            s.scsiHost = static_cast<int>((*address)[0]);
            d.pathId = Saturated((*address)[1]);
            d.targetId = Saturated((*address)[2]);
            d.lun = Saturated((*address)[3]);
        }
        ReadPciFunction(deviceFolder, sysRoot, &d);
        s.deviceKey = RelativeTo(deviceFolder, sysRoot);
    }
    d.sizeBytes = ReadNumber(link / "size").value_or(0) * 512;
    d.logicalBlockSize =
        static_cast<uint32_t>(ReadNumber(link / "queue" / "logical_block_size").value_or(512));
    if (d.logicalBlockSize == 0) {
        d.logicalBlockSize = 512;
    }
    d.removable = ReadTrimmed(link / "removable") == "1";
    return s;
}

// SCSI hosts become ports; NVMe controllers, then disks outside the SCSI layer, get ports of
// their own after the last one.
void AssignPorts(std::vector<Scanned>& disks) {
    std::set<int> hosts;
    std::set<uint32_t> controllers;
    for (const Scanned& s : disks) {
        if (s.disk.kind == HostDiskKind::Nvme) {
            controllers.insert(s.nvmeController);
        } else if (s.scsiHost >= 0) {
            hosts.insert(s.scsiHost);
        }
    }
    std::map<int, uint32_t> hostPort;
    const bool renumber = !hosts.empty() && *hosts.rbegin() > kHighestPort;
    uint32_t next = 0;
    for (int h : hosts) {
        hostPort[h] = renumber ? next++ : static_cast<uint32_t>(h);
        next = std::max(next, hostPort[h] + 1);
    }
    std::map<uint32_t, uint32_t> controllerPort;
    for (uint32_t c : controllers) {
        controllerPort[c] = next++;
    }
    for (Scanned& s : disks) {
        if (s.disk.kind == HostDiskKind::Nvme) {
            s.disk.port = Saturated(controllerPort[s.nvmeController]);
        } else if (s.scsiHost >= 0) {
            s.disk.port = Saturated(hostPort[s.scsiHost]);
        } else {
            s.disk.port = Saturated(next++);
        }
    }
}

// "\040" and the other octal escapes of mountinfo.
std::string Unescape(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + static_cast<long>(i) + 1,
                        field.begin() + static_cast<long>(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out.push_back(static_cast<char>(((field[i + 1] - '0') << 6) |
                                            ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

// "\x20" escapes of the names udev gives the links in /dev/disk/by-label.
std::string UnescapeUdev(std::string_view name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            IsHexDigit(name[i + 2]) && IsHexDigit(name[i + 3])) {
            out.push_back(
                static_cast<char>(std::stoi(std::string(name.substr(i + 2, 2)), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

// The name of the link in <dev>/disk/<folder> that points at kernel device `name`.
std::string LinkPointingAt(const fs::path& folder, const std::string& name) {
    for (const std::string& entry : ListFolder(folder)) {
        if (LinkName(folder / entry) == name) {
            return entry;
        }
    }
    return {};
}

// A volume serial number from a file system UUID: a FAT one ("1234-ABCD") is the serial
// itself, an NTFS one (16 digits) ends in it, the others give their first eight digits.
std::optional<uint32_t> SerialFromUuid(std::string_view uuid) {
    std::string digits;
    for (char c : uuid) {
        if (IsHexDigit(c)) {
            digits.push_back(c);
        }
    }
    if (digits.size() < 8) {
        return std::nullopt;
    }
    const std::string tail = digits.size() == 16 ? digits.substr(8) : digits.substr(0, 8);
    return static_cast<uint32_t>(std::stoul(tail, nullptr, 16));
}

struct Mount {
    std::string device;  // "major:minor"
    std::string root;
    std::string mountPoint;
    std::string fileSystem;
};

std::vector<Mount> ReadMounts(const fs::path& mountinfo) {
    std::vector<Mount> mounts;
    const std::optional<std::string> text = ReadSmallFile(mountinfo, 16u << 20);
    if (!text) {
        return mounts;
    }
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        end = end == std::string::npos ? text->size() : end;
        std::vector<std::string_view> fields;
        std::string_view line(text->data() + start, end - start);
        start = end + 1;
        for (size_t at = 0; at < line.size();) {
            const size_t blank = std::min(line.find(' ', at), line.size());
            if (blank > at) {
                fields.emplace_back(line.substr(at, blank - at));
            }
            at = blank + 1;
        }
        // id parent major:minor root mount-point options [optional fields] - type source options
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 ||
            fields.end() - dash < 2) {
            continue;
        }
        mounts.push_back({std::string(fields[2]), Unescape(fields[3]), Unescape(fields[4]),
                          std::string(*(dash + 1))});
    }
    return mounts;
}

void ReadVolumes(const HostRoots& roots, const StatVfs& statvfs,
                 const std::vector<Scanned>& scanned, HostInventory* inventory) {
    std::map<fs::path, size_t> diskAt;
    for (size_t i = 0; i < scanned.size(); ++i) {
        diskAt[scanned[i].blockFolder] = i;
    }
    struct Found {
        HostVolume volume;
        std::string kernelName;
        size_t order = 0;
        bool chosenRoot =
            false;  // the mount point is the one of the mount of the whole file system
    };
    std::vector<Found> found;
    std::map<std::string, size_t> byDevice;
    const std::vector<Mount> mounts = ReadMounts(roots.proc / "self" / "mountinfo");
    for (const Mount& m : mounts) {
        if (auto seen = byDevice.find(m.device); seen != byDevice.end()) {
            // A bind mount or a second mount of the same file system: one volume. The root
            // file system keeps "/", else the first mount of the file system's own root.
            Found& f = found[seen->second];
            if (m.mountPoint == "/" ||
                (!f.chosenRoot && m.root == "/" && f.volume.mountPoint != "/")) {
                f.volume.mountPoint = m.mountPoint;
                f.chosenRoot = m.root == "/";
            }
            continue;
        }
        const fs::path folder = Resolve(roots.sys / "dev" / "block" / m.device);
        if (folder.empty()) {
            continue;
        }
        Found f;
        std::error_code ec;
        if (auto whole = diskAt.find(folder); whole != diskAt.end()) {
            f.volume.disk = scanned[whole->second].disk.number;
            f.volume.partition = 0;
            f.volume.partitionBytes = scanned[whole->second].disk.sizeBytes;
        } else if (auto parent = diskAt.find(folder.parent_path());
                   parent != diskAt.end() && fs::exists(folder / "partition", ec)) {
            f.volume.disk = scanned[parent->second].disk.number;
            f.volume.partition =
                static_cast<uint32_t>(ReadNumber(folder / "partition").value_or(0));
            // sysfs counts partitions in 512-byte units whatever the disk's block size.
            f.volume.offsetBytes = ReadNumber(folder / "start").value_or(0) * 512;
            f.volume.partitionBytes = ReadNumber(folder / "size").value_or(0) * 512;
        } else {
            continue;
        }
        const HostDisk& disk = inventory->disks[f.volume.disk];
        f.kernelName = folder.filename().string();
        f.volume.mountPoint = m.mountPoint;
        f.volume.source = (roots.dev / f.kernelName).string();
        f.volume.fileSystem = m.fileSystem;
        f.volume.bytesPerSector = disk.logicalBlockSize;
        f.chosenRoot = m.root == "/";
        f.order = found.size();
        byDevice[m.device] = found.size();
        found.push_back(std::move(f));
    }

    for (Found& f : found) {
        HostVolume& v = f.volume;
        if (const std::optional<VfsFigures> figures = statvfs(v.mountPoint);
            figures && figures->fragmentBytes > 0) {
            v.sizeBytes = figures->blocks * figures->fragmentBytes;
            v.freeBytes = figures->availableBlocks * figures->fragmentBytes;
            v.clusterBytes =
                static_cast<uint32_t>(std::min<uint64_t>(figures->fragmentBytes, UINT32_MAX));
        } else {
            // No answer: the partition's length, and no free space promised.
            v.sizeBytes = v.partitionBytes;
        }
        v.label = UnescapeUdev(LinkPointingAt(roots.dev / "disk" / "by-label", f.kernelName));
        const std::string uuid = LinkPointingAt(roots.dev / "disk" / "by-uuid", f.kernelName);
        v.serialNumber =
            SerialFromUuid(uuid).value_or(Fnv1a(inventory->disks[v.disk].serial + "|" + v.source));
    }

    // Letters: the root file system, the rest of its disk, then the other disks in order.
    const auto root = std::find_if(found.begin(), found.end(),
                                   [](const Found& f) { return f.volume.mountPoint == "/"; });
    const Found* rootVolume = root == found.end() ? nullptr : &*root;
    const auto rank = [&](const Found& f) {
        const int group = &f == rootVolume                                                    ? 0
                          : rootVolume != nullptr && f.volume.disk == rootVolume->volume.disk ? 1
                                                                                              : 2;
        return std::tuple(group, f.volume.disk, f.volume.partition, f.order);
    };
    std::vector<const Found*> ordered;
    for (const Found& f : found) {
        ordered.push_back(&f);
    }
    std::sort(ordered.begin(), ordered.end(),
              [&](const Found* a, const Found* b) { return rank(*a) < rank(*b); });
    char16_t letter = u'C';
    for (const Found* f : ordered) {
        if (letter > u'Z') {
            break;  // no letter left, as on Windows
        }
        HostVolume v = f->volume;
        v.letter = letter++;
        inventory->volumes.push_back(std::move(v));
    }
}

}  // namespace

StatVfs SystemStatVfs() {
    return [](const std::string& mountPoint) -> std::optional<VfsFigures> {
        struct statvfs st {};
        if (::statvfs(mountPoint.c_str(), &st) != 0) {
            return std::nullopt;
        }
        return VfsFigures{st.f_blocks, st.f_bavail, st.f_frsize};
    };
}

std::u16string HostInterfacePath(const HostDisk& d, const std::string& deviceKey) {
    const uint32_t hash = Fnv1a(d.serial + "|" + d.model + "|" + deviceKey);
    std::string path;
    switch (d.kind) {
        case HostDiskKind::Sata:
            path = fmt::format("\\\\?\\ide#disk{}{}#5&{:08x}&0&{}.{}.{}#{}", IdPart(d.model, 40),
                               IdPart(d.firmware, 8), hash, d.pathId, d.targetId, d.lun,
                               kDiskInterfaceGuid);
            break;
        case HostDiskKind::Nvme:
            path = fmt::format("\\\\?\\scsi#disk&ven_nvme&prod_{}#4&{:08x}&0&000000#{}",
                               IdPart(d.model.substr(0, 16)), hash, kDiskInterfaceGuid);
            break;
        case HostDiskKind::Usb: {
            std::string product = d.model;
            if (!d.vendor.empty() && product.rfind(d.vendor + " ", 0) == 0) {
                product = product.substr(d.vendor.size() + 1);
            }
            // Without a serial number Windows makes up an instance id; the hash plays that part.
            const std::string instance =
                d.serial.empty() ? fmt::format("{:08x}", hash) : IdPart(d.serial);
            path = fmt::format("\\\\?\\usbstor#disk&ven_{}&prod_{}&rev_{}#{}&0#{}",
                               IdPart(d.vendor.substr(0, 8)), IdPart(product.substr(0, 16)),
                               IdPart(d.firmware.substr(0, 4)), instance, kDiskInterfaceGuid);
            break;
        }
        case HostDiskKind::Other: {
            // virtio reports its PCI vendor number where SCSI disks have a name.
            const std::string vendor =
                d.vendor.empty() || d.vendor.rfind("0x", 0) == 0 ? "linux" : d.vendor;
            path = fmt::format("\\\\?\\scsi#disk&ven_{}&prod_{}#4&{:08x}&0&{:02x}{:02x}{:02x}#{}",
                               IdPart(vendor.substr(0, 8)), IdPart(d.model.substr(0, 16)), hash,
                               d.pathId, d.targetId, d.lun, kDiskInterfaceGuid);
            break;
        }
    }
    return platform::FoldCase(platform::Utf8ToUtf16(path));
}

HostInventory ReadHostInventory(const HostRoots& roots, const StatVfs& statvfs) {
    HostInventory inventory;
    const fs::path sysRoot = Resolve(roots.sys);
    std::vector<Scanned> scanned;
    for (const std::string& name : ListFolder(roots.sys / "block")) {
        if (std::any_of(std::begin(kLeftOut), std::end(kLeftOut),
                        [&](std::string_view prefix) { return name.rfind(prefix, 0) == 0; })) {
            continue;
        }
        if (std::optional<Scanned> s = ScanDisk(roots, sysRoot, name)) {
            scanned.push_back(std::move(*s));
        }
    }
    std::sort(scanned.begin(), scanned.end(), [](const Scanned& a, const Scanned& b) {
        const bool nvmeA = a.disk.kind == HostDiskKind::Nvme;
        const bool nvmeB = b.disk.kind == HostDiskKind::Nvme;
        return nvmeA != nvmeB ? nvmeB : NaturalLess(a.disk.name, b.disk.name);
    });
    AssignPorts(scanned);
    for (size_t i = 0; i < scanned.size(); ++i) {
        HostDisk& d = scanned[i].disk;
        d.number = static_cast<uint32_t>(i);
        d.interfacePath = HostInterfacePath(d, scanned[i].deviceKey);
        inventory.disks.push_back(d);
    }
    ReadVolumes(roots, statvfs, scanned, &inventory);
    return inventory;
}

}  // namespace tarvex::linuxhost
