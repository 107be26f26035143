#pragma once
// What the Linux backend knows of the PC's disks and mounted file systems, as read from
// sysfs and procfs (host_inventory.h). The device layer (linux_devices.h) opens and answers
// from these records; the WMI classes and the volume list are built from the same records,
// so every Windows-shaped fact the program reads about a disk agrees with every other.
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::linuxhost {

enum class HostDiskKind { Sata, Nvme, Usb, Other };

struct HostDisk {
    uint32_t number = 0;           // N of \\.\PhysicalDriveN: position in the sorted listing
    std::string name;              // kernel name: "sda", "nvme0n1"
    std::string blockNode;         // "/dev/sda", "/dev/nvme0n1"
    std::string nvmeControllerNode;  // "/dev/nvme0" for an NVMe namespace, empty otherwise
    uint32_t nvmeNamespaceId = 0;  // NSID of the namespace (1 for nvme0n1)
    HostDiskKind kind = HostDiskKind::Other;
    std::string model;             // trailing blanks cut; a USB disk's starts with its vendor
    std::string vendor;            // SCSI INQUIRY vendor ("ATA", "SanDisk"); empty for NVMe
    std::string serial;
    std::string firmware;
    uint64_t sizeBytes = 0;        // /sys/block/<name>/size * 512
    uint32_t logicalBlockSize = 512;
    // SCSI address as the Windows port driver would give it: port N of \\.\SCSIN:, path,
    // target, LUN. SATA/SCSI disks: the kernel's host:channel:target:lun. NVMe: a port of
    // its own after the last SCSI host, 0:0:0.
    uint8_t port = 0;
    uint8_t pathId = 0;
    uint8_t targetId = 0;
    uint8_t lun = 0;
    // The PCI function the disk hangs on ("0000:00:1f.2"), its ids and class code ("010601"),
    // empty when the disk is not below a PCI function.
    std::string pciAddress;
    uint16_t pciVendor = 0;
    uint16_t pciDevice = 0;
    uint16_t pciSubsystemVendor = 0;
    uint16_t pciSubsystemDevice = 0;
    uint8_t pciRevision = 0;
    std::string pciClassCode;      // six hex digits, upper case
    std::string driver;            // kernel driver of the PCI function ("ahci", "nvme")
    bool removable = false;
    // The lower-case device-interface path the disk listing returns for this disk; it contains
    // "ide" (SATA), "scsi" (NVMe, SCSI) or "usb" (USB-attached) as the program expects.
    std::u16string interfacePath;
};

struct HostVolume {
    char16_t letter = u'C';        // drive letter, upper case
    std::string mountPoint;        // "/", "/boot"
    std::string source;            // "/dev/sda1"
    std::string fileSystem;        // "ext4"
    std::string label;
    uint32_t disk = 0;             // number of the HostDisk the file system lies on
    uint32_t partition = 0;        // partition number (0: the whole disk)
    uint64_t offsetBytes = 0;      // where the partition starts on the disk
    uint64_t partitionBytes = 0;   // the partition's length on the disk (sysfs size * 512)
    uint64_t sizeBytes = 0;        // statvfs: f_blocks * f_frsize
    uint64_t freeBytes = 0;        // statvfs: f_bavail * f_frsize
    uint32_t bytesPerSector = 512;
    uint32_t clusterBytes = 4096;  // statvfs: f_frsize
    uint32_t serialNumber = 0;     // stable per file system (from its UUID when known)
};

struct HostInventory {
    std::vector<HostDisk> disks;      // in listing order (sorted by kernel name)
    std::vector<HostVolume> volumes;  // in letter order
};

}  // namespace tarvex::linuxhost
