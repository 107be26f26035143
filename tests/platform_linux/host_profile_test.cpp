#include "platform/linux/host_profile.h"

#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/linux/host_facts.h"
#include "platform/sim/sim_machine.h"
#include "platform/text.h"
#include "platform_linux/fake_host_tree.h"
#include "sysinfo/system_info.h"
#include "sysinfo/underlying_util.h"

namespace tarvex::linuxhost {
namespace {

using platform::Utf16ToUtf8;
using test::FakeHostTree;

sim::MachineProfile DesktopProfile(FakeHostTree& t) {
    test::BuildDesktop(t);
    t.Write(t.roots.etc / "os-release", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    t.Write(t.roots.proc / "sys/kernel/osrelease", "6.1.0-18-amd64\n");
    const HostInventory inv = t.Read();
    return BuildHostProfile(inv, ReadHostFacts(t.roots, inv));
}

TEST(HostProfile, DescribesTheDisksVolumesAndOs) {
    FakeHostTree t;
    const sim::MachineProfile p = DesktopProfile(t);
    EXPECT_EQ(std::tuple(p.os.major, p.os.minor, p.os.build, p.os.servicePackMajor),
              std::tuple(6u, 1u, 7601u, 1));
    EXPECT_EQ(p.os.servicePack, u"Service Pack 1");
    EXPECT_EQ(Utf16ToUtf8(p.hardware.osName),
              "Debian GNU/Linux 12 (bookworm)|C:\\Windows|\\Device\\Harddisk0\\Partition2");

    ASSERT_EQ(p.disks.size(), 3u);
    EXPECT_EQ(p.disks[0].kind, sim::DiskKind::Sata);
    EXPECT_EQ(p.disks[1].kind, sim::DiskKind::Usb);
    EXPECT_EQ(p.disks[2].kind, sim::DiskKind::Nvme);
    EXPECT_EQ(p.disks[2].capacitySectors, 250069680u) << "512-byte sectors whatever the block size";
    EXPECT_EQ(p.disks[2].port, 7);
    for (const sim::DiskProfile& d : p.disks) {
        // The drive scan matches a path to its disk row by the PNP id WMI derives from it.
        std::u16string backslashed = d.interfacePath;
        std::replace(backslashed.begin(), backslashed.end(), u'#', u'\\');
        EXPECT_NE(backslashed.find(platform::FoldCase(sim::PnpDeviceId(d))), std::u16string::npos)
            << Utf16ToUtf8(d.interfacePath);
    }

    ASSERT_EQ(p.volumes.size(), 3u);
    EXPECT_EQ(p.volumes[0].letter, u'C');
    EXPECT_EQ(p.volumes[0].fileSystem, u"EXT4");
    EXPECT_EQ(p.volumes[1].fileSystem, u"FAT32");
    EXPECT_EQ(Utf16ToUtf8(p.volumes[1].label), "EFI SYSTEM");
    EXPECT_EQ(p.volumes[2].bytesPerSector, 4096u);
    EXPECT_EQ(p.volumes[2].offsetBytes, 2048u * 512);

    ASSERT_TRUE(p.hardware.controllers.has_value());
    EXPECT_EQ(p.hardware.controllers->size(), 2u);
    EXPECT_EQ(WindowsFileSystemName("ntfs3"), u"NTFS");
    EXPECT_EQ(WindowsFileSystemName("exfat"), u"exFAT");
    EXPECT_EQ(WindowsFileSystemName("btrfs"), u"BTRFS");
}

TEST(HostProfile, ContradictingFactsAreRefused) {
    FakeHostTree t;
    test::BuildDesktop(t);
    const HostInventory inv = t.Read();
    HostFacts facts = ReadHostFacts(t.roots, inv);
    facts.hardware.controllers->front().disks.push_back(1);  // the USB stick
    EXPECT_THROW(BuildHostProfile(inv, facts), std::runtime_error);
    facts.hardware.controllers->front().disks.back() = 9;  // no such disk
    EXPECT_THROW(BuildHostProfile(inv, facts), std::runtime_error);
}

// The profile runs the emulated PC's management view: the drive scan finds every disk but
// the USB stick, matches each to its disk row and tells the NVMe disk by its controller.
TEST(HostProfile, TheDriveScanAndSystemInformationReadIt) {
    FakeHostTree t;
    sim::MachineProfile p = DesktopProfile(t);
    p.programPath = u"C:\\Program Files\\Tarvex\\Tarvex.exe";
    p.currentDirectory = u"C:\\Program Files\\Tarvex";
    // The emulated PC stands in for the real drives here; its SATA drive needs SMART
    // attributes to answer the scan's SMART READ DATA as a real drive does.
    p.disks[0].sata.attributes = {{9, 0x0032, 100, 100, 1000, 0, 0},
                                  {194, 0x0022, 65, 60, 35, 0, 0}};
    test::TempDir state;
    sim::SimOptions options;
    options.stateDir = state.Path() / "state";
    options.virtualClock = true;
    std::string error;
    const std::unique_ptr<sim::SimMachine> machine = sim::SimMachine::Create(p, options, &error);
    ASSERT_NE(machine, nullptr) << error;
    platform::ScopedPlatform installed(machine->Platform());
    InitGlobalAtaCommand();

    UnderlyingUtil util;
    EXPECT_EQ(util.GetDiskMode(0), u"010601");
    EXPECT_EQ(util.GetDiskMode(2), u"010802");
    EXPECT_EQ(util.GetDiskMode(1), u"") << "a USB disk has no storage controller";

    std::vector<PhysicalDriveInfo> table;
    (void)GlobalAtaCommand().UpdatePhysicalDrivesInfo(table);
    std::vector<std::pair<int32_t, int32_t>> found;
    for (const PhysicalDriveInfo& d : table) {
        found.emplace_back(d.driveIndex, d.interfaceKind);
    }
    EXPECT_EQ(found, (std::vector<std::pair<int32_t, int32_t>>{{0, IdeSataInterface},
                                                               {2, NvmeInterface}}));
    WmiDiskList().clear();

    // The system information page's collector reads the host's facts through the same view.
    ResetSystemInfoForTesting();
    ASSERT_EQ(util.GetSystemInfo(), 1);
    const SystemInfo& info = GlobalSystemInfo();
    EXPECT_NE(Utf16ToUtf8(platform::FixedText(info.OsName)).find("Debian GNU/Linux 12"),
              std::string::npos)
        << Utf16ToUtf8(platform::FixedText(info.OsName));
    EXPECT_EQ(Utf16ToUtf8(platform::FixedText(info.BaseBoardVendor)), "Unknown");
    EXPECT_EQ(info.MemoryModules.size(), 1u);
    ASSERT_EQ(util.GetHbaInfo(), 1);
    EXPECT_EQ(GlobalSystemInfo().HbaList.size(), 1u)
        << "the AHCI controller; NVMe is no IDE controller";
    ResetSystemInfoForTesting();
}

}  // namespace
}  // namespace tarvex::linuxhost
