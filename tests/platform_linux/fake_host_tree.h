#pragma once
// A fake Linux PC for the host inventory tests: sysfs, procfs and /dev folders in a temporary
// folder, laid out as the kernel lays them out (block devices under their parent devices,
// /sys/block and /sys/dev/block as links), and a statvfs answered from a table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/linux/host_inventory.h"
#include "support/test_machine.h"

namespace tarvex::test {

class FakeHostTree {
  public:
    FakeHostTree() {
        roots.sys = temp_.Path() / "sys";
        roots.proc = temp_.Path() / "proc";
        roots.dev = temp_.Path() / "dev";
        roots.etc = temp_.Path() / "etc";
        for (const auto& p : {roots.sys / "block", roots.sys / "dev" / "block", roots.proc / "self",
                              roots.dev, roots.etc}) {
            std::filesystem::create_directories(p);
        }
    }

    linuxhost::HostRoots roots;
    std::map<std::string, linuxhost::VfsFigures> filesystems;  // by mount point

    void Write(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    void Link(const std::filesystem::path& link, const std::filesystem::path& target) {
        std::filesystem::create_directories(link.parent_path());
        std::filesystem::create_symlink(target, link);
    }
    std::filesystem::path Sys(const std::string& rel) const { return roots.sys / rel; }

    // A PCI function with its id files and driver link.
    void AddPci(const std::string& folder, const std::string& vendor, const std::string& device,
                const std::string& classCode, const std::string& driver,
                const std::string& subVendor = "0x1043", const std::string& subDevice = "0x8694",
                const std::string& revision = "0x31") {
        const auto f = Sys(folder);
        Write(f / "vendor", vendor + "\n");
        Write(f / "device", device + "\n");
        Write(f / "class", classCode + "\n");
        Write(f / "subsystem_vendor", subVendor + "\n");
        Write(f / "subsystem_device", subDevice + "\n");
        Write(f / "revision", revision + "\n");
        Link(f / "driver", Sys("bus/pci/drivers/" + driver));
    }

    // A SCSI-layer disk: `deviceFolder` ends in its H:C:T:L folder.
    void AddScsiDisk(const std::string& name, const std::string& deviceFolder,
                     const std::string& major, const std::string& vendor, const std::string& model,
                     const std::string& rev, const std::string& vpdSerial, uint64_t sectors,
                     uint32_t blockSize = 512) {
        const std::string folder = deviceFolder + "/block/" + name;
        const auto dev = Sys(deviceFolder);
        Write(dev / "vendor", vendor + "\n");
        Write(dev / "model", model + "\n");
        Write(dev / "rev", rev + "\n");
        if (!vpdSerial.empty()) {
            std::string page("\x00\x80\x00", 3);
            page.push_back(static_cast<char>(vpdSerial.size()));
            Write(dev / "vpd_pg80", page + vpdSerial);
        }
        AddBlock(name, folder, major, sectors, blockSize);
        Link(Sys(folder) / "device", dev);
    }

    // An NVMe controller nvme<n> on PCI function `pciFolder` and its namespace nvme<n>n<nsid>.
    void AddNvme(uint32_t n, uint32_t nsid, const std::string& pciFolder, const std::string& major,
                 const std::string& model, const std::string& serial, const std::string& firmware,
                 uint64_t sectors, uint32_t blockSize) {
        const std::string ctrl = "nvme" + std::to_string(n);
        const std::string ctrlFolder = pciFolder + "/nvme/" + ctrl;
        if (!std::filesystem::exists(Sys(ctrlFolder))) {
            Write(Sys(ctrlFolder) / "model", model + "              \n");
            Write(Sys(ctrlFolder) / "serial", serial + "     \n");
            Write(Sys(ctrlFolder) / "firmware_rev", firmware + "\n");
            Link(Sys(ctrlFolder) / "device", Sys(pciFolder));
            Link(Sys("class/nvme/" + ctrl), Sys(ctrlFolder));
        }
        const std::string name = ctrl + "n" + std::to_string(nsid);
        const std::string folder = ctrlFolder + "/" + name;
        AddBlock(name, folder, major, sectors, blockSize);
        Link(Sys(folder) / "device", Sys(ctrlFolder));
    }

    // A block device without a parent device (loop, zram, dm).
    void AddVirtualBlock(const std::string& name, const std::string& major,
                         bool withDeviceLink = false) {
        const std::string folder = "devices/virtual/block/" + name;
        AddBlock(name, folder, major, 1000, 512);
        if (withDeviceLink) {
            Link(Sys(folder) / "device", Sys("devices/virtual/misc"));
        }
    }

    void AddPartition(const std::string& disk, const std::string& name,
                      const std::string& majorMinor, uint32_t number, uint64_t start,
                      uint64_t sectors) {
        const auto folder = std::filesystem::read_symlink(Sys("block/" + disk)) / name;
        Write(folder / "partition", std::to_string(number) + "\n");
        Write(folder / "start", std::to_string(start) + "\n");
        Write(folder / "size", std::to_string(sectors) + "\n");
        Write(folder / "dev", majorMinor + "\n");
        Link(Sys("dev/block/" + majorMinor), folder);
    }

    // A line of /proc/self/mountinfo.
    void Mount(const std::string& majorMinor, const std::string& mountPoint,
               const std::string& type, const std::string& source, const std::string& root = "/") {
        mountinfo_ += std::to_string(20 + mounts_++) + " 1 " + majorMinor + " " + root + " " +
                      mountPoint + " rw,relatime shared:1 - " + type + " " + source + " rw\n";
        Write(roots.proc / "self" / "mountinfo", mountinfo_);
    }

    void ClearMounts() {
        mountinfo_.clear();
        Write(roots.proc / "self" / "mountinfo", mountinfo_);
    }

    void DevLink(const std::string& folder, const std::string& name,
                 const std::string& kernelName) {
        Link(roots.dev / "disk" / folder / name, "../../" + kernelName);
    }

    linuxhost::StatVfs Statvfs() {
        return [this](const std::string& mountPoint) -> std::optional<linuxhost::VfsFigures> {
            auto it = filesystems.find(mountPoint);
            return it == filesystems.end() ? std::nullopt : std::optional(it->second);
        };
    }

    linuxhost::HostInventory Read() { return linuxhost::ReadHostInventory(roots, Statvfs()); }

  private:
    void AddBlock(const std::string& name, const std::string& folder, const std::string& majorMinor,
                  uint64_t sectors, uint32_t blockSize) {
        const auto f = Sys(folder);
        Write(f / "size", std::to_string(sectors) + "\n");
        Write(f / "queue" / "logical_block_size", std::to_string(blockSize) + "\n");
        Write(f / "removable", "0\n");
        Write(f / "dev", majorMinor + "\n");
        Link(Sys("block/" + name), f);
        Link(Sys("dev/block/" + majorMinor), f);
    }

    TempDir temp_;
    std::string mountinfo_;
    int mounts_ = 0;
};

// A PC with an AHCI SATA SSD (root on sda2, /boot on sda1), an NVMe SSD with 4096-byte
// blocks mounted at /data, a USB stick, and the loop, zram and device-mapper devices a
// Linux PC has.
inline void BuildDesktop(FakeHostTree& t) {
    t.AddPci("devices/pci0000:00/0000:00:1f.2", "0x8086", "0xa102", "0x010601", "ahci");
    t.AddScsiDisk("sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "8:0",
                  "ATA     ", "Varno TL30 512G ", "3B6Q", "  S3Z9NB0K123456A    ", 1000215216);
    t.AddPartition("sda", "sda1", "8:1", 1, 2048, 1048576);
    t.AddPartition("sda", "sda2", "8:2", 2, 1050624, 999161856);

    t.AddPci("devices/pci0000:00/0000:00:1d.0/0000:3d:00.0", "0x1e4b", "0x1202", "0x010802", "nvme",
             "0x1e4b", "0x1202", "0x01");
    t.AddPci("devices/pci0000:00/0000:00:1d.0", "0x8086", "0xa298", "0x060400", "pcieport");
    t.AddNvme(0, 1, "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0", "259:0", "Quill NV2 1TB",
              "QN2A00012345", "2.1.0", 250069680, 4096);
    // Partition 1 starts at 1 MiB: sysfs counts 512-byte units even on a 4096-byte disk.
    t.AddPartition("nvme0n1", "nvme0n1p1", "259:1", 1, 2048, 250067632);

    t.AddPci("devices/pci0000:00/0000:00:14.0", "0x8086", "0xa36d", "0x0c0330", "xhci_hcd");
    t.AddScsiDisk("sdb",
                  "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0",
                  "8:16", "Kestrel ", "Flash Drive     ", "1100", "", 60063744);
    t.Write(t.Sys("block/sdb/removable"), "1\n");
    t.Write(
        t.Sys("devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/serial"),
        "0401a1b2c3\n");

    t.AddVirtualBlock("loop0", "7:0");
    t.AddVirtualBlock("zram0", "252:0");
    t.AddVirtualBlock("dm-0", "253:0", true);  // named out even with a device link

    t.Mount("8:2", "/", "ext4", "/dev/sda2");
    t.Mount("8:1", "/boot", "vfat", "/dev/sda1");
    t.Mount("259:1", "/data", "ext4", "/dev/nvme0n1p1");
    t.Mount("7:0", "/snap/core/1", "squashfs", "/dev/loop0");
    t.Mount("8:2", "/var/lib/containers", "ext4", "/dev/sda2",
            "/var/lib/containers");  // bind mount
    t.Mount("0:22", "/sys", "sysfs", "sysfs");
    t.filesystems["/"] = {122000000, 90000000, 4096};
    t.filesystems["/boot"] = {130000, 120000, 4096};
    t.filesystems["/data"] = {244000000, 200000000, 4096};
    t.DevLink("by-label", "EFI\\x20SYSTEM", "sda1");
    t.DevLink("by-uuid", "ABCD-1234", "sda1");
    t.DevLink("by-uuid", "6a1f7c2e-8b3d-4e5f-9a0b-1c2d3e4f5a6b", "sda2");
}

}  // namespace tarvex::test
