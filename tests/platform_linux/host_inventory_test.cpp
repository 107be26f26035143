#include "platform/linux/host_inventory.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/linux/host_files.h"
#include "platform/text.h"
#include "platform_linux/fake_host_tree.h"

namespace tarvex::linuxhost {
namespace {

using test::FakeHostTree;

const HostDisk* Named(const HostInventory& inv, const std::string& name) {
    for (const HostDisk& d : inv.disks) {
        if (d.name == name) {
            return &d;
        }
    }
    return nullptr;
}

const HostVolume* Mounted(const HostInventory& inv, const std::string& mountPoint) {
    for (const HostVolume& v : inv.volumes) {
        if (v.mountPoint == mountPoint) {
            return &v;
        }
    }
    return nullptr;
}

// What the drive scan makes of a path: USB before SCSI before IDE, as it tests them.
std::string ScanClass(const std::u16string& path) {
    const std::u16string folded = platform::FoldCase(path);
    for (const char16_t* what : {u"usb", u"scsi", u"ide"}) {
        if (folded.find(what) != std::u16string::npos) {
            return platform::Utf16ToUtf8(what);
        }
    }
    return "none";
}

TEST(HostInventory, ListsTheDisksOfAPcInOrderAndLeavesOutVirtualDevices) {
    FakeHostTree t;
    test::BuildDesktop(t);
    const HostInventory inv = t.Read();

    std::vector<std::string> names;
    for (const HostDisk& d : inv.disks) {
        names.push_back(d.name);
        EXPECT_EQ(d.number, names.size() - 1) << d.name << ": the number is the position";
    }
    EXPECT_EQ(names, (std::vector<std::string>{"sda", "sdb", "nvme0n1"}));

    const HostDisk& sata = inv.disks[0];
    EXPECT_EQ(sata.kind, HostDiskKind::Sata);
    EXPECT_EQ(sata.model, "Varno TL30 512G");
    EXPECT_EQ(sata.vendor, "ATA");
    EXPECT_EQ(sata.firmware, "3B6Q");
    EXPECT_EQ(sata.serial, "S3Z9NB0K123456A") << "from the VPD page, blanks cut";
    EXPECT_EQ(sata.sizeBytes, 1000215216ull * 512);
    EXPECT_EQ(sata.logicalBlockSize, 512u);
    EXPECT_EQ(sata.blockNode, (t.roots.dev / "sda").string());
    EXPECT_TRUE(sata.nvmeControllerNode.empty());
    EXPECT_EQ(sata.pciAddress, "0000:00:1f.2");
    EXPECT_EQ(sata.pciVendor, 0x8086);
    EXPECT_EQ(sata.pciDevice, 0xA102);
    EXPECT_EQ(sata.pciSubsystemVendor, 0x1043);
    EXPECT_EQ(sata.pciSubsystemDevice, 0x8694);
    EXPECT_EQ(sata.pciRevision, 0x31);
    EXPECT_EQ(sata.pciClassCode, "010601");
    EXPECT_EQ(sata.driver, "ahci");
    EXPECT_FALSE(sata.removable);

    const HostDisk& usb = inv.disks[1];
    EXPECT_EQ(usb.kind, HostDiskKind::Usb);
    EXPECT_EQ(usb.model, "Kestrel Flash Drive");
    EXPECT_EQ(usb.serial, "0401a1b2c3") << "no VPD page: the serial file";
    EXPECT_TRUE(usb.removable);
    EXPECT_EQ(usb.port, 6);
    EXPECT_EQ(usb.pciClassCode, "0C0330") << "the USB host controller is the nearest PCI function";

    const HostDisk& nvme = inv.disks[2];
    EXPECT_EQ(nvme.kind, HostDiskKind::Nvme);
    EXPECT_EQ(nvme.model, "Quill NV2 1TB");
    EXPECT_EQ(nvme.serial, "QN2A00012345");
    EXPECT_EQ(nvme.firmware, "2.1.0");
    EXPECT_EQ(nvme.nvmeControllerNode, (t.roots.dev / "nvme0").string());
    EXPECT_EQ(nvme.nvmeNamespaceId, 1u);
    EXPECT_EQ(nvme.logicalBlockSize, 4096u);
    EXPECT_EQ(nvme.sizeBytes, 250069680ull * 512) << "sysfs sizes are 512-byte units";
    EXPECT_EQ(nvme.pciAddress, "0000:3d:00.0")
        << "the controller's function, not the bridge above it";
    EXPECT_EQ(nvme.pciClassCode, "010802");
    EXPECT_EQ(nvme.driver, "nvme");
    EXPECT_EQ(nvme.port, 7) << "one past the highest SCSI host (6)";
    EXPECT_EQ(nvme.pathId + nvme.targetId + nvme.lun, 0);
}

TEST(HostInventory, ScsiAddressesComeFromTheHostChannelTargetLunFolder) {
    FakeHostTree t;
    t.AddPci("devices/pci0000:00/0000:00:17.0", "0x8086", "0x9dd3", "0x010601", "ahci");
    t.AddScsiDisk("sda", "devices/pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", "8:0",
                  "ATA", "A", "1", "S1", 100);
    t.AddPci("devices/pci0000:00/0000:00:10.0", "0x1000", "0x0097", "0x010700", "mpt3sas");
    t.AddScsiDisk(
        "sdb", "devices/pci0000:00/0000:00:10.0/host4/port-4:0/end_device-4:0/target4:1:5/4:1:5:3",
        "8:16", "SEAGATE", "ST4000NM", "E004", "ZC1", 100);
    // Two namespaces of one controller, and a second controller: ports by controller.
    t.AddPci("devices/pci0000:00/0000:01:00.0", "0x144d", "0xa808", "0x010802", "nvme");
    t.AddPci("devices/pci0000:00/0000:02:00.0", "0x144d", "0xa808", "0x010802", "nvme");
    t.AddNvme(0, 1, "devices/pci0000:00/0000:01:00.0", "259:0", "M", "S", "F", 100, 512);
    t.AddNvme(0, 2, "devices/pci0000:00/0000:01:00.0", "259:1", "M", "S", "F", 100, 512);
    t.AddNvme(1, 1, "devices/pci0000:00/0000:02:00.0", "259:2", "M", "S2", "F", 100, 512);
    const HostInventory inv = t.Read();
    ASSERT_EQ(inv.disks.size(), 5u);

    const HostDisk* sata = Named(inv, "sda");
    ASSERT_NE(sata, nullptr);
    EXPECT_EQ(sata->port, 2);
    EXPECT_EQ(sata->kind, HostDiskKind::Sata);
    const HostDisk* sas = Named(inv, "sdb");
    ASSERT_NE(sas, nullptr);
    EXPECT_EQ(sas->kind, HostDiskKind::Other) << "no libata port on the way";
    EXPECT_EQ(std::vector<int>({sas->port, sas->pathId, sas->targetId, sas->lun}),
              std::vector<int>({4, 1, 5, 3}));
    EXPECT_EQ(sas->pciClassCode, "010700");
    for (const auto& [name, port, nsid] :
         {std::tuple("nvme0n1", 5, 1u), {"nvme0n2", 5, 2u}, {"nvme1n1", 6, 1u}}) {
        const HostDisk* d = Named(inv, name);
        ASSERT_NE(d, nullptr) << name;
        EXPECT_EQ(d->port, port) << name;
        EXPECT_EQ(d->nvmeNamespaceId, nsid) << name;
    }
    EXPECT_EQ(Named(inv, "nvme1n1")->nvmeControllerNode, (t.roots.dev / "nvme1").string());
}

TEST(HostInventory, NamesSortNaturallyWithNvmeLast) {
    const auto sorted = [](std::vector<std::string> names) {
        std::sort(names.begin(), names.end(),
                  [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
        return names;
    };
    EXPECT_EQ(sorted({"sdaa", "sdba", "sdb", "sda", "sdz", "sdab"}),
              (std::vector<std::string>{"sda", "sdb", "sdz", "sdaa", "sdab", "sdba"}));
    EXPECT_EQ(sorted({"nvme0n10", "nvme1n1", "nvme10n1", "nvme0n2", "nvme2n1"}),
              (std::vector<std::string>{"nvme0n2", "nvme0n10", "nvme1n1", "nvme2n1", "nvme10n1"}));

    // The listing puts NVMe namespaces after the other disks whatever their names.
    FakeHostTree t;
    t.AddPci("devices/pci0000:00/0000:01:00.0", "0x144d", "0xa808", "0x010802", "nvme");
    t.AddNvme(0, 1, "devices/pci0000:00/0000:01:00.0", "259:0", "M", "S", "F", 100, 512);
    t.AddNvme(0, 10, "devices/pci0000:00/0000:01:00.0", "259:1", "M", "S", "F", 100, 512);
    t.AddNvme(0, 2, "devices/pci0000:00/0000:01:00.0", "259:2", "M", "S", "F", 100, 512);
    for (const auto& [name, dev] : {std::pair("sdaa", "65:160"), {"sdb", "8:16"}, {"sda", "8:0"}}) {
        t.AddScsiDisk(name, std::string("devices/platform/host9/target9:0:0/9:0:0:") + name, dev,
                      "ATA", name, "1", "", 100);
    }
    std::vector<std::string> listed;
    for (const HostDisk& d : t.Read().disks) {
        listed.push_back(d.name);
    }
    EXPECT_EQ(listed,
              (std::vector<std::string>{"sda", "sdb", "sdaa", "nvme0n1", "nvme0n2", "nvme0n10"}));
}

TEST(HostInventory, InterfacePathsClassifyAsTheDriveScanExpects) {
    FakeHostTree t;
    test::BuildDesktop(t);
    const HostInventory inv = t.Read();
    for (const HostDisk& d : inv.disks) {
        const std::u16string& p = d.interfacePath;
        EXPECT_EQ(p, platform::FoldCase(p)) << d.name << ": lower case";
        EXPECT_EQ(p.rfind(u"\\\\?\\", 0), 0u) << d.name;
        EXPECT_NE(p.find(u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"), std::u16string::npos)
            << d.name;
    }
    EXPECT_EQ(ScanClass(inv.disks[0].interfacePath), "ide");
    EXPECT_EQ(ScanClass(inv.disks[1].interfacePath), "usb");
    EXPECT_EQ(ScanClass(inv.disks[2].interfacePath), "scsi");

    // The SATA id carries model and firmware padded as Windows pads them, and the address.
    const std::u16string sata = inv.disks[0].interfacePath;
    EXPECT_EQ(sata.rfind(
                  u"\\\\?\\ide#diskvarno_tl30_512g" + std::u16string(25, u'_') + u"3b6q____#5&", 0),
              0u)
        << platform::Utf16ToUtf8(sata);
    EXPECT_NE(sata.find(u"&0&0.0.0#{"), std::u16string::npos);
    EXPECT_EQ(inv.disks[1].interfacePath.rfind(
                  u"\\\\?\\usbstor#disk&ven_kestrel&prod_flash_drive&rev_1100#0401a1b2c3&0#", 0),
              0u)
        << platform::Utf16ToUtf8(inv.disks[1].interfacePath);
    EXPECT_EQ(
        inv.disks[2].interfacePath.rfind(u"\\\\?\\scsi#disk&ven_nvme&prod_quill_nv2_1tb#4&", 0),
        0u);
    EXPECT_NE(inv.disks[2].interfacePath.find(u"&0&000000#{"), std::u16string::npos);

    // Two disks of one model and firmware still get two paths.
    FakeHostTree twins;
    twins.AddPci("devices/pci0000:00/0000:00:1f.2", "0x8086", "0xa102", "0x010601", "ahci");
    for (const auto& [name, host, dev] : {std::tuple("sda", "0", "8:0"), {"sdb", "1", "8:16"}}) {
        twins.AddScsiDisk(name,
                          std::string("devices/pci0000:00/0000:00:1f.2/ata") + host + "/host" +
                              host + "/target" + host + ":0:0/" + host + ":0:0:0",
                          dev, "ATA", "Same", "1", "", 100);
    }
    const HostInventory two = twins.Read();
    ASSERT_EQ(two.disks.size(), 2u);
    EXPECT_NE(two.disks[0].interfacePath, two.disks[1].interfacePath);
}

TEST(HostInventory, AnInterfacePathStaysWhenAnotherDiskComesFirst) {
    FakeHostTree before;
    test::BuildDesktop(before);
    const HostInventory one = before.Read();

    // The same PC after a disk on another AHCI port was probed first: it took the name sda
    // and the old disks moved down by one.
    FakeHostTree after;
    after.AddPci("devices/pci0000:00/0000:00:1f.2", "0x8086", "0xa102", "0x010601", "ahci");
    after.AddScsiDisk("sda", "devices/pci0000:00/0000:00:1f.2/ata4/host3/target3:0:0/3:0:0:0",
                      "8:0", "ATA", "Other SSD", "1", "NEW1", 100);
    after.AddScsiDisk("sdb", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0",
                      "8:16", "ATA     ", "Varno TL30 512G ", "3B6Q", "  S3Z9NB0K123456A    ",
                      1000215216);
    after.AddPci("devices/pci0000:00/0000:00:1d.0/0000:3d:00.0", "0x1e4b", "0x1202", "0x010802",
                 "nvme");
    after.AddNvme(0, 1, "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0", "259:0", "Quill NV2 1TB",
                  "QN2A00012345", "2.1.0", 250069680, 4096);
    const HostInventory two = after.Read();

    const HostDisk* moved = Named(two, "sdb");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->number, 1u);
    EXPECT_EQ(moved->interfacePath, one.disks[0].interfacePath);
    EXPECT_EQ(Named(two, "nvme0n1")->interfacePath, Named(one, "nvme0n1")->interfacePath);
    EXPECT_NE(Named(two, "sda")->interfacePath, moved->interfacePath);
}

TEST(HostInventory, VolumesOfTheListedDisksGetLettersRootFirst) {
    FakeHostTree t;
    test::BuildDesktop(t);
    const HostInventory inv = t.Read();
    ASSERT_EQ(inv.volumes.size(), 3u)
        << "the bind mount counts once; loop, sysfs are on no listed disk";

    const HostVolume& c = inv.volumes[0];
    EXPECT_EQ(c.letter, u'C');
    EXPECT_EQ(c.mountPoint, "/");
    EXPECT_EQ(c.source, (t.roots.dev / "sda2").string());
    EXPECT_EQ(c.fileSystem, "ext4");
    EXPECT_EQ(c.disk, 0u);
    EXPECT_EQ(c.partition, 2u);
    EXPECT_EQ(c.offsetBytes, 1050624ull * 512);
    EXPECT_EQ(c.partitionBytes, 999161856ull * 512);
    EXPECT_EQ(c.sizeBytes, 122000000ull * 4096);
    EXPECT_EQ(c.freeBytes, 90000000ull * 4096);
    EXPECT_EQ(c.clusterBytes, 4096u);
    EXPECT_EQ(c.serialNumber, 0x6a1f7c2eu) << "from the UUID";
    EXPECT_EQ(c.label, "");

    const HostVolume& d = inv.volumes[1];
    EXPECT_EQ(d.letter, u'D');
    EXPECT_EQ(d.mountPoint, "/boot");
    EXPECT_EQ(d.partition, 1u);
    EXPECT_EQ(d.label, "EFI SYSTEM") << "udev's \\x20 escape undone";
    EXPECT_EQ(d.serialNumber, 0xABCD1234u) << "a FAT UUID is the volume serial";

    const HostVolume& e = inv.volumes[2];
    EXPECT_EQ(e.letter, u'E');
    EXPECT_EQ(e.mountPoint, "/data");
    EXPECT_EQ(e.disk, 2u);
    EXPECT_EQ(e.bytesPerSector, 4096u);
    EXPECT_EQ(e.offsetBytes, 2048ull * 512)
        << "partition starts are 512-byte units on a 4096-byte disk";
    EXPECT_EQ(e.partitionBytes, 250067632ull * 512);
    EXPECT_NE(e.serialNumber, 0u) << "no UUID link: a serial made from the source";
}

TEST(HostInventory, LettersFollowTheRootDiskThenDiskOrder) {
    FakeHostTree t;
    test::BuildDesktop(t);
    // The USB stick holds a file system on the whole disk, and the NVMe disk a second one;
    // the first mount of /data is a bind of a folder, the mount of its root comes later.
    t.Mount("8:16", "/media/stick", "vfat", "/dev/sdb");
    t.AddPartition("nvme0n1", "nvme0n1p2", "259:2", 2, 250069600, 64);
    t.Mount("259:2", "/srv/sub", "ext4", "/dev/nvme0n1p2", "/sub");
    t.Mount("259:2", "/srv", "ext4", "/dev/nvme0n1p2");
    const HostInventory inv = t.Read();

    std::vector<std::string> order;
    for (const HostVolume& v : inv.volumes) {
        order.push_back(std::string(1, static_cast<char>(v.letter)) + "=" + v.mountPoint);
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"C=/", "D=/boot", "E=/media/stick", "F=/data", "G=/srv"}));
    const HostVolume* stick = Mounted(inv, "/media/stick");
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->partition, 0u);
    EXPECT_EQ(stick->offsetBytes, 0u);
    EXPECT_EQ(stick->partitionBytes, 60063744ull * 512);
    EXPECT_EQ(stick->sizeBytes, stick->partitionBytes)
        << "statvfs gave nothing: the partition's length";
    EXPECT_EQ(stick->freeBytes, 0u);

    // Without a root on a listed disk, letters start at C in disk order.
    FakeHostTree noRoot;
    test::BuildDesktop(noRoot);
    noRoot.ClearMounts();
    noRoot.Mount("259:1", "/data", "ext4", "/dev/nvme0n1p1");
    noRoot.Mount("8:1", "/boot", "vfat", "/dev/sda1");
    const HostInventory other = noRoot.Read();
    ASSERT_EQ(other.volumes.size(), 2u);
    EXPECT_EQ(other.volumes[0].mountPoint, "/boot");
    EXPECT_EQ(other.volumes[0].letter, u'C');
    EXPECT_EQ(other.volumes[1].letter, u'D');
}

TEST(HostInventory, BrokenEntriesAreSkippedAndMissingFilesReadAsNothing) {
    FakeHostTree t;
    // A disk whose attribute files are all missing, a VPD page that claims more bytes than
    // it holds, a mountinfo with broken lines and a mount of a device sysfs does not know.
    t.Write(t.Sys("devices/platform/host0/target0:0:0/0:0:0:0/vpd_pg80"),
            std::string("\x00\x80\x01\x00SER", 7));
    t.Link(t.Sys("devices/platform/host0/target0:0:0/0:0:0:0/block/sda/device"),
           t.Sys("devices/platform/host0/target0:0:0/0:0:0:0"));
    t.Link(t.Sys("block/sda"), t.Sys("devices/platform/host0/target0:0:0/0:0:0:0/block/sda"));
    t.Link(t.Sys("block/sdx"), t.Sys("devices/nowhere/sdx"));  // dangling
    t.Write(t.roots.proc / "self" / "mountinfo",
            "garbage\n1 2 3\n\n30 1 8:0 / /mnt rw - \n31 1 9:9 / /x rw - ext4 /dev/x rw\n");
    const HostInventory inv = t.Read();
    ASSERT_EQ(inv.disks.size(), 1u);
    const HostDisk& d = inv.disks[0];
    EXPECT_EQ(d.serial, "SER") << "the page's length is cut to the bytes there";
    EXPECT_EQ(d.sizeBytes, 0u);
    EXPECT_EQ(d.logicalBlockSize, 512u);
    EXPECT_TRUE(d.model.empty());
    EXPECT_TRUE(inv.volumes.empty());

    FakeHostTree empty;
    EXPECT_TRUE(empty.Read().disks.empty());
    EXPECT_TRUE(empty.Read().volumes.empty());
}

// This machine's own /sys and /proc: the reader copes with whatever is there.
TEST(HostInventory, ReadsThisMachine) {
    const HostInventory inv = ReadHostInventory();
    for (const HostDisk& d : inv.disks) {
        EXPECT_NE(d.name.rfind("loop", 0), 0u) << d.name;
        EXPECT_NE(d.name.rfind("zram", 0), 0u) << d.name;
        EXPECT_FALSE(d.interfacePath.empty()) << d.name;
    }
    for (const HostVolume& v : inv.volumes) {
        EXPECT_LT(v.disk, inv.disks.size()) << v.mountPoint;
    }
}

}  // namespace
}  // namespace tarvex::linuxhost
