// The drive scan on an emulated PC whose WMI answers are scripted: matching of interface
// paths to disk rows, the NVMe decision by controller class, USB and failing drives left out.
#include <gtest/gtest.h>

#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/text.h"
#include "platform/sim/embedded_profiles.h"
#include "support/fake_wmi.h"
#include "support/test_machine.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {
namespace {

using test::FakeWmi;

nlohmann::json ScanProfile() {
    nlohmann::json p = test::BaseProfile();
    p["disks"] = nlohmann::json::parse(R"([
      {"number": 0, "kind": "sata", "model": "VARNO TL30A 256GB", "serial": "VR0000000001", "firmware": "1.08",
       "capacityBytes": 256060514304},
      {"number": 1, "kind": "nvme", "model": "VARNO NV10 512GB", "serial": "VN0000000002", "firmware": "E8FK11.5",
       "capacityBytes": 512110190592, "nvme": {"driver": "inbox"}},
      {"number": 2, "kind": "sata", "model": "Kestrel KS500 500GB", "serial": "KS0000000003", "firmware": "KS0230A",
       "capacityBytes": 500107862016, "faults": [{"on": "ata", "command": 176, "feature": 208, "effect": "fail"}]},
      {"number": 3, "kind": "usb", "model": "Ardent FlashStick 32GB", "serial": "AR0000000004", "firmware": "1.00",
       "capacityBytes": 32010928128}
    ])");
    return p;
}

// The PNP device id Windows gives the disk of an interface path.
std::u16string PnpIdOf(std::u16string path) {
    path = path.substr(4);                     // "\\?\"
    path = path.substr(0, path.rfind(u'#'));   // the class GUID
    for (char16_t& c : path) {
        c = c == u'#' ? u'\\' : (c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c);
    }
    return path;
}

class DriveScanTest : public ::testing::Test {
protected:
    DriveScanTest() : machine_(ScanProfile()) {
        platform_ = machine_->Platform();
        platform_.wmi = &wmi_;
        installed_ = std::make_unique<platform::ScopedPlatform>(platform_);
        InitGlobalAtaCommand();
        UnderlyingUtil util;
        util.ListDiskInterfaces(paths_);
    }
    ~DriveScanTest() override {
        WmiDiskList().clear();
        PhysicalDriveTable().clear();
    }
    void AddDiskRow(int index, const std::u16string& path, const char16_t* interfaceType, uint64_t size) {
        wmi_.Add(u"SELECT * FROM Win32_DiskDrive ",
                 {{u"Index", FakeWmi::Int(index)},
                  {u"InterfaceType", FakeWmi::Text(interfaceType)},
                  {u"Model", FakeWmi::Text(u"Disk")},
                  {u"Size", FakeWmi::Text(platform::Utf8ToUtf16(std::to_string(size)))},
                  {u"PNPDeviceID", FakeWmi::Text(PnpIdOf(path))}});
        wmi_.Add(u"SELECT * FROM Win32_DiskDrive WHERE index=" + platform::Utf8ToUtf16(std::to_string(index)),
                 {{u"InterfaceType", FakeWmi::Text(interfaceType)}, {u"PNPDeviceID", FakeWmi::Text(PnpIdOf(path))}});
    }
    int Scan() {
        PhysicalDriveTable().clear();
        return GlobalAtaCommand().UpdatePhysicalDrivesInfo(PhysicalDriveTable());
    }

    test::TestMachine machine_;
    FakeWmi wmi_;
    platform::Platform platform_;
    std::unique_ptr<platform::ScopedPlatform> installed_;
    std::vector<std::u16string> paths_;
};

TEST_F(DriveScanTest, ListsInProfileOrderAndMatchesRowsToPaths) {
    ASSERT_EQ(paths_.size(), 4u);
    for (const auto& p : paths_) {
        EXPECT_EQ(p, platform::FoldCase(p)) << "paths are kept in lower case";
    }
    EXPECT_NE(paths_[3].find(u"usbstor"), std::u16string::npos);
    AddDiskRow(0, paths_[0], u"IDE", 256060514304);
    AddDiskRow(1, paths_[1], u"SCSI", 512110190592);
    // The NVMe disk hangs on a controller whose class code says NVMe.
    const std::u16string nvmePnp = PnpIdOf(paths_[1]);
    std::u16string doubled;
    for (char16_t c : nvmePnp) {
        doubled += c;
        if (c == u'\\') {
            doubled += u'\\';
        }
    }
    wmi_.Add(u"SELECT * FROM Win32_SCSIControllerDevice ",
             {{u"Antecedent", FakeWmi::Text(u"\\\\PC\\ROOT\\CIMV2:Win32_SCSIController.DeviceID=\"PCI\\\\VEN_1E4B&DEV_1202\\\\4&1\"")},
              {u"Dependent", FakeWmi::Text(u"\\\\PC\\ROOT\\CIMV2:Win32_PnPEntity.DeviceID=\"" + doubled + u"\"")}});
    wmi_.Add(u"SELECT * FROM Win32_PnPEntity Where DeviceID = \"PCI\\\\VEN_1E4B&DEV_1202\\\\4&1\"",
             {{u"HardwareID", FakeWmi::Texts({u"PCI\\VEN_1E4B&DEV_1202", u"PCI\\VEN_1E4B&DEV_1202&CC_010802"})}});
    AddDiskRow(2, paths_[2], u"IDE", 500107862016);

    ASSERT_EQ(Scan(), 2) << "the USB stick and the drive without SMART data are left out";
    const auto& t = PhysicalDriveTable();
    EXPECT_EQ(platform::FixedText(t[0].modelNumber), u"VARNO TL30A 256GB");
    EXPECT_EQ(t[0].driveIndex, 0);
    EXPECT_EQ(t[0].capacityGB, 256u) << "decimal gigabytes";
    EXPECT_EQ(t[0].interfaceKind, IdeSataInterface);
    EXPECT_GT(t[0].attributeCount, 0u);
    EXPECT_EQ(platform::FixedText(t[0].devicePath), paths_[0]);
    EXPECT_EQ(t[1].interfaceKind, NvmeInterface);
    EXPECT_EQ(t[1].driveIndex, 1);
    EXPECT_EQ(platform::FixedText(t[1].modelNumber), u"") << "the inbox driver does not answer the miniport request";
    uint8_t zeros[512] = {};
    EXPECT_EQ(std::memcmp(t[1].identify, zeros, 512), 0);
}

TEST_F(DriveScanTest, LastMatchingRowWinsAndWmiDownStillScans) {
    AddDiskRow(7, paths_[0], u"IDE", 256060514304);
    // A second row whose PNP id is a prefix of the same path.
    std::u16string prefix = PnpIdOf(paths_[0]);
    prefix = prefix.substr(0, prefix.rfind(u'\\'));
    wmi_.Add(u"SELECT * FROM Win32_DiskDrive ",
             {{u"Index", FakeWmi::Int(9)}, {u"Size", FakeWmi::Text(u"1000000000")}, {u"PNPDeviceID", FakeWmi::Text(prefix)}});
    ASSERT_EQ(Scan(), 1);
    EXPECT_EQ(PhysicalDriveTable()[0].driveIndex, 9) << "the last matching row sets the number";
    EXPECT_EQ(PhysicalDriveTable()[0].capacityGB, 1u);

    wmi_.failInitialize = static_cast<int32_t>(0x80004005u);
    ASSERT_EQ(Scan(), 1) << "without WMI every drive is taken as SATA; the NVMe drive then fails IDENTIFY";
    EXPECT_EQ(PhysicalDriveTable()[0].driveIndex, -1) << "no row, no drive number";
    EXPECT_EQ(platform::FixedText(PhysicalDriveTable()[0].devicePath), paths_[0]);
    EXPECT_TRUE(WmiDiskList().empty());
}

// The demo PC with its own emulated WMI: the scan, the controllers and the volumes together.
class DemoPcTest : public ::testing::Test {
protected:
    DemoPcTest() : machine_(nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text)) {
        InitGlobalAtaCommand();
        ResetSystemInfoForTesting();
        WmiDiskList().clear();
    }
    ~DemoPcTest() override {
        WmiDiskList().clear();
        PhysicalDriveTable().clear();
        ResetSystemInfoForTesting();
    }
    test::TestMachine machine_;
};

TEST_F(DemoPcTest, ScanFindsEveryDriveButTheUsbStick) {
    std::vector<PhysicalDriveInfo>& table = PhysicalDriveTable();
    table.clear();
    ASSERT_EQ(GlobalAtaCommand().UpdatePhysicalDrivesInfo(table), 4);
    const int expectedNumbers[] = {0, 1, 2, 3};
    const int32_t expectedKinds[] = {IdeSataInterface, IdeSataInterface, NvmeInterface, ScsiInterface};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(table[i].driveIndex, expectedNumbers[i]) << i;
        EXPECT_EQ(table[i].interfaceKind, expectedKinds[i]) << i;
        EXPECT_GT(table[i].capacityGB, 0u) << i;
        EXPECT_FALSE(platform::FixedText(table[i].modelNumber).empty()) << i;
    }
    EXPECT_EQ(platform::FixedText(table[2].modelNumber), u"VARNO NV10 512GB") << "identified through the miniport";
    EXPECT_GT(table[2].smartData[1] | (table[2].smartData[2] << 8), 273) << "its health log";
}

TEST_F(DemoPcTest, ControllersCarryDriveNumbersOnlyAfterAScan) {
    UnderlyingUtil util;
    ASSERT_EQ(util.GetHbaInfo(), 1);
    ASSERT_EQ(GlobalSystemInfo().HbaList.size(), 1u) << "the NVMe controller is no IDE controller";
    for (int i = 0; i < GlobalSystemInfo().HbaList[0].AttachedDeviceCount; ++i) {
        EXPECT_EQ(GlobalSystemInfo().HbaList[0].AttachedDevices[i].PhysicalDriveIndex, -1) << "no disk list yet";
    }
    std::vector<PhysicalDriveInfo> table;
    (void)GlobalAtaCommand().UpdatePhysicalDrivesInfo(table);
    ASSERT_EQ(util.GetSystemInfo(), 1);
    const SystemInfo& s = GlobalSystemInfo();
    const HbaInfo& ahci = s.HbaList.at(0);
    EXPECT_EQ(platform::FixedText(ahci.ClassCode), u"010601");
    ASSERT_EQ(ahci.AttachedDeviceCount, 3);
    EXPECT_EQ(ahci.AttachedDevices[0].PhysicalDriveIndex, 0);
    EXPECT_EQ(ahci.AttachedDevices[1].PhysicalDriveIndex, 1);
    EXPECT_EQ(ahci.AttachedDevices[2].PhysicalDriveIndex, 3);
    EXPECT_NE(platform::FixedText(s.OsName).find(u"\n x64"), std::u16string::npos);
    EXPECT_EQ(s.MemoryModules.size(), 2u);
    EXPECT_EQ(platform::FixedText(s.ToolVersion), u"") << "this test program is not installed as SSDVelmora";
}

TEST_F(DemoPcTest, VolumesBelongToTheirDiskAndCdOrMissingOnesToNone) {
    UnderlyingUtil util;
    std::vector<LogicalDriveInfo> list;
    ASSERT_EQ(util.GetLogicalDriveInfo(0, list), 2);
    EXPECT_EQ(platform::FixedText(list[0].DeviceID), u"C:");
    EXPECT_EQ(platform::FixedText(list[0].FileSystem), u"NTFS");
    EXPECT_EQ(platform::FixedText(list[1].DeviceID), u"D:");
    EXPECT_GT(list[0].SizeMb, list[0].FreeSpaceMb);
    EXPECT_EQ(list[0].PhysicalDriveNumber, 0);
    EXPECT_EQ(util.GetLogicalDriveInfo(1, list), 0) << "no partitions";
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(util.GetLogicalDriveInfo(3, list), 1);
    EXPECT_EQ(platform::FixedText(list[0].FileSystem), u"FAT32");
    EXPECT_EQ(util.GetLogicalDriveInfo(4, list), 0) << "a USB stick's volume is never listed";
    EXPECT_EQ(GetPhysicalDriveNumber("\\\\.\\F:"), -1);
    EXPECT_EQ(GetPhysicalDriveNumber("\\\\.\\G:"), -1) << "a CD drive is not a disk";
    EXPECT_EQ(GetPhysicalDriveNumber("\\\\.\\Q:"), -1) << "no such volume";
    EXPECT_EQ(GetPhysicalDriveNumber("\\\\.\\C:"), 0);
}

}  // namespace
}  // namespace tarvex
