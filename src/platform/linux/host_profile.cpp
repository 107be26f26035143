#include "platform/linux/host_profile.h"

#include <algorithm>

#include "platform/text.h"

namespace tarvex::linuxhost {

using platform::Utf8ToUtf16;

namespace {

sim::DiskKind ProfileKind(HostDiskKind kind) {
    switch (kind) {
        case HostDiskKind::Nvme:
            return sim::DiskKind::Nvme;
        case HostDiskKind::Usb:
            return sim::DiskKind::Usb;
        // Other disks (virtio, SAS) answer ATA pass-through as far as they can; their
        // interface path says "scsi", which is what the drive scan goes by.
        case HostDiskKind::Sata:
        case HostDiskKind::Other:
            return sim::DiskKind::Sata;
    }
    return sim::DiskKind::Sata;
}

}  // namespace

std::u16string WindowsFileSystemName(const std::string& type) {
    if (type == "vfat") {
        return u"FAT32";
    }
    if (type == "msdos") {
        return u"FAT";
    }
    if (type == "ntfs" || type == "ntfs3") {
        return u"NTFS";
    }
    if (type == "exfat") {
        return u"exFAT";
    }
    std::u16string name = Utf8ToUtf16(type);
    for (char16_t& c : name) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return name;
}

sim::MachineProfile BuildHostProfile(const HostInventory& inventory, const HostFacts& facts) {
    sim::MachineProfile p;
    p.name = "linux";
    p.source = "linux:" + facts.hostName;
    p.description = "The Linux PC " + facts.hostName + " (" + facts.osPrettyName + ", kernel " +
                    facts.kernelRelease + ")";
    p.os.major = 6;
    p.os.minor = 1;
    p.os.build = 7601;
    p.os.platformId = 2;
    p.os.servicePack = u"Service Pack 1";
    p.os.servicePackMajor = 1;
    p.os.servicePackMinor = 0;

    for (const HostDisk& h : inventory.disks) {
        sim::DiskProfile d;
        d.number = h.number;
        d.kind = ProfileKind(h.kind);
        d.model = h.model;
        d.serial = h.serial;
        d.firmware = h.firmware;
        d.capacitySectors = h.sizeBytes / 512;
        d.port = h.port;
        d.pathId = h.pathId;
        d.targetId = h.targetId;
        d.lun = h.lun;
        d.interfacePath = h.interfacePath;
        if (h.kind == HostDiskKind::Nvme) {
            d.nvme.vendorId = h.pciVendor;
            d.nvme.subsystemVendorId = h.pciSubsystemVendor;
        }
        p.disks.push_back(std::move(d));
    }

    for (const HostVolume& h : inventory.volumes) {
        sim::VolumeProfile v;
        v.letter = h.letter;
        v.label = Utf8ToUtf16(h.label);
        v.fileSystem = WindowsFileSystemName(h.fileSystem);
        v.sizeBytes = h.sizeBytes;
        v.freeBytes = h.freeBytes;
        v.kind = sim::VolumeKind::Partition;
        v.disk = h.disk;
        v.partition = h.partition;
        v.offsetBytes = h.offsetBytes;
        v.bytesPerSector = h.bytesPerSector;
        v.clusterBytes = h.clusterBytes;
        v.serialNumber = h.serialNumber;
        p.volumes.push_back(std::move(v));
    }

    p.hardware = facts.hardware;
    sim::CompleteHardwareProfile(&p.hardware, p.disks, "hardware.controllers");
    // Win32_OperatingSystem's Name: the caption, then the Windows folder and the partition
    // of the system drive.
    const char16_t system = sim::SystemDriveLetter(p);
    uint32_t disk = 0;
    uint32_t partition = 1;
    for (const sim::VolumeProfile& v : p.volumes) {
        if (v.letter == system) {
            disk = v.disk;
            partition = v.partition;
        }
    }
    std::string caption = facts.osPrettyName;
    std::replace(caption.begin(), caption.end(), '|', '/');  // a "|" would end the caption
    p.hardware.osName = Utf8ToUtf16(caption) + u"|" + std::u16string(1, system) +
                        u":\\Windows|\\Device\\Harddisk" + Utf8ToUtf16(std::to_string(disk)) +
                        u"\\Partition" + Utf8ToUtf16(std::to_string(partition));
    return p;
}

}  // namespace tarvex::linuxhost
