#pragma once
// Reads the Linux PC's disks and mounted file systems from sysfs, procfs and /dev into the
// records of host_model.h.
//
// Disks come from <sys>/block: loop, ram, zram, device-mapper, md-RAID and optical devices,
// hidden NVMe multipath paths and anything without a device link are left out. They are
// listed SATA/SCSI/USB/virtio names first and NVMe namespaces after them, each group in
// natural order of the kernel names (sda, sdb, ..., sdz, sdaa; nvme0n1, nvme0n2, nvme1n1);
// a disk's number is its position in that list.
//
// Volumes are the mounted file systems that lie on a listed disk or on one of its
// partitions. The root file system gets C: when it lies on a listed disk, then come the
// other file systems of the root's disk, then those of the other disks in disk order, each
// taking the next free letter up to Z.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/linux/host_files.h"
#include "platform/linux/host_model.h"

namespace tarvex::linuxhost {

// The figures statvfs(2) gives for a mounted file system.
struct VfsFigures {
    uint64_t blocks = 0;           // f_blocks
    uint64_t availableBlocks = 0;  // f_bavail: free blocks an ordinary user may use
    uint64_t fragmentBytes = 0;    // f_frsize: the unit of both counts
};

// Asks for the figures of the file system mounted at a path; nothing when it cannot.
using StatVfs = std::function<std::optional<VfsFigures>(const std::string& mountPoint)>;

// The real statvfs(2).
StatVfs SystemStatVfs();

HostInventory ReadHostInventory(const HostRoots& roots = {},
                                const StatVfs& statvfs = SystemStatVfs());

// The device-interface path of a disk (lower case), built from its identity and its place in
// the device tree, never from its number, so that it stays the same when another disk joins
// the PC. `deviceKey` is what tells two disks of one model apart (their sysfs device path).
std::u16string HostInterfacePath(const HostDisk& disk, const std::string& deviceKey);

}  // namespace tarvex::linuxhost
