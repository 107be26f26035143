// The disk device-interface listing against the demo PC: order, the detail of the interface
// asked about, buffer rules, and that every listed path has exactly one Win32_DiskDrive row.
#include <gtest/gtest.h>

#include "platform/sim/embedded_profiles.h"
#include "platform_sim/devices/device_requests.h"
#include "platform_sim/wmi/wmi_helpers.h"

namespace tarvex::test {
namespace {

using nlohmann::json;

json Demo() { return json::parse(sim::FindEmbeddedProfile("demo")->text); }

std::u16string PathOf(const std::vector<uint8_t>& detail) {
    std::u16string p;
    for (size_t k = 4; k + 1 < detail.size() && (detail[k] != 0 || detail[k + 1] != 0); k += 2) {
        p.push_back(static_cast<char16_t>(detail[k] | (detail[k + 1] << 8)));
    }
    return p;
}

TEST(InterfaceListing, DetailIsThatOfTheInterfaceAskedAbout) {
    TestMachine m(Demo());
    auto set = platform::Current().devices->SetupDiGetClassDevs(sim::kDiskInterfaceGuid, 0x12);
    ASSERT_TRUE(set);
    std::vector<platform::DeviceInterfaceData> all;
    for (uint32_t i = 0;; ++i) {
        platform::DeviceInterfaceData d;
        if (!set->EnumDeviceInterfaces(i, &d)) {
            EXPECT_EQ(platform::GetLastError(), win::ERROR_NO_MORE_ITEMS);
            break;
        }
        all.push_back(d);
    }
    ASSERT_EQ(all.size(), 5u);
    // Asked in reverse, each record still gives its own path: the listing's order is the
    // profile's, not the order of the calls.
    for (size_t i = all.size(); i-- > 0;) {
        std::vector<uint8_t> detail(1024, 0);
        detail[0] = 6;
        ASSERT_TRUE(set->GetDeviceInterfaceDetail(all[i], detail, nullptr));
        EXPECT_EQ(PathOf(detail), m->Devices().Disk(static_cast<uint32_t>(i))->Profile().interfacePath) << i;
    }
    EXPECT_EQ(m->Devices().Disk(3)->Profile().interfacePath.rfind(u"\\\\?\\scsi#disk&ven_kestrel", 0), 0u)
        << "an AHCI disk named the SCSI way";

    std::vector<uint8_t> detail(1024, 0);
    detail[0] = 8;  // the 64-bit layout's size
    EXPECT_FALSE(set->GetDeviceInterfaceDetail(all[0], detail, nullptr));
    EXPECT_EQ(platform::GetLastError(), 1784u) << "ERROR_INVALID_USER_BUFFER";
    detail[0] = 6;
    uint32_t required = 0;
    EXPECT_FALSE(set->GetDeviceInterfaceDetail(all[0], std::span(detail).first(10), &required));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 4 + 2 * (m->Devices().Disk(0)->Profile().interfacePath.size() + 1));
    platform::DeviceInterfaceData never;
    EXPECT_FALSE(set->GetDeviceInterfaceDetail(never, detail, nullptr)) << "a record the listing never filled";
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER);

    uint8_t otherGuid[16] = {0x08, 0x63, 0xF5, 0x53};
    auto other = platform::Current().devices->SetupDiGetClassDevs(otherGuid, 0x12);
    ASSERT_TRUE(other);
    platform::DeviceInterfaceData d;
    EXPECT_FALSE(other->EnumDeviceInterfaces(0, &d));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_NO_MORE_ITEMS);
}

// The program matches a listed path to its WMI row by the row's PNP id: '#' turned into '\',
// both lower-cased, the id contained in the path. On the demo PC each path has exactly one.
TEST(DemoPc, EveryListedDiskHasExactlyOneWmiRowAndItsController) {
    TestMachine m(Demo());
    WmiAnswer disks = RunWql(u"SELECT * FROM Win32_DiskDrive ");
    ASSERT_EQ(disks.rows.size(), 5u);
    for (uint32_t n = 0; n < 5; ++n) {
        std::u16string path = m->Devices().Disk(n)->Profile().interfacePath;
        for (char16_t& c : path) {
            c = c == u'#' ? u'\\' : c;
        }
        int matches = 0;
        for (auto& row : disks.rows) {
            if (platform::FoldCase(path).find(platform::FoldCase(Text(*row, u"PNPDeviceID"))) != std::u16string::npos) {
                ++matches;
                EXPECT_EQ(Int(*row, u"Index"), n);
            }
        }
        EXPECT_EQ(matches, 1) << N(path);
        EXPECT_TRUE(Open(m->Devices().Disk(n)->Profile().interfacePath)) << "the listed path opens";
    }
    const std::u16string types[] = {u"IDE", u"IDE", u"SCSI", u"IDE", u"USB"};
    for (uint32_t n = 0; n < 5; ++n) {
        EXPECT_EQ(Text(*disks.rows[n], u"InterfaceType"), types[n]) << n;
    }

    // The AHCI controller is the one Win32_IDEController; the NVMe controller is SCSI only.
    WmiAnswer ide = RunWql(u"SELECT * FROM Win32_IDEController");
    ASSERT_EQ(ide.rows.size(), 1u);
    EXPECT_EQ(Text(*ide.rows[0], u"DeviceID"), u"PCI\\VEN_8086&DEV_A102&SUBSYS_86941043&REV_31\\3&11583659&0&B8");
    WmiAnswer ideDevices = RunWql(u"SELECT * FROM Win32_IDEControllerDevice");
    ASSERT_EQ(ideDevices.rows.size(), 3u) << "disks 0, 1 and 3";
    WmiAnswer scsi = RunWql(u"SELECT * FROM Win32_SCSIControllerDevice");
    ASSERT_EQ(scsi.rows.size(), 1u);
    WmiAnswer nvme = RunWql(u"SELECT * FROM Win32_PnPEntity Where DeviceID = " + AfterEquals(Text(*scsi.rows[0], u"Antecedent")));
    ASSERT_EQ(nvme.rows.size(), 1u);
    const auto ids = Prop(*nvme.rows[0], u"HardwareID").bstrArray;
    ASSERT_FALSE(ids.empty());
    std::u16string cc;
    for (const auto& id : ids) {
        if (cc.empty() && id.find(u"CC_") != std::u16string::npos) {
            cc = id.substr(id.find(u"CC_") + 3);
        }
    }
    EXPECT_EQ(cc, u"010802");

    // Volumes: C: and D: on disk 0, E: on disk 3, F: on the stick, G: the DVD drive, H: on the
    // NVMe disk.
    EXPECT_EQ(platform::Current().volumes->GetLogicalDriveStrings(),
              (std::vector<std::u16string>{u"C:\\", u"D:\\", u"E:\\", u"F:\\", u"G:\\", u"H:\\"}));
    WmiAnswer os = RunWql(u"SELECT * FROM Win32_OperatingSystem");
    EXPECT_EQ(Text(*os.rows.at(0), u"Name"), u"Microsoft Windows 7 Professional |C:\\Windows|\\Device\\Harddisk0\\Partition2");
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_PhysicalMemory").rows.size(), 2u);

    platform::RegKey key = 0;
    ASSERT_EQ(platform::Current().registry->RegOpenKeyEx(win::HKEY_LOCAL_MACHINE,
                                                         u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                                                         win::KEY_READ, &key),
              win::ERROR_SUCCESS);
    uint8_t data[260] = {};
    uint32_t size = sizeof data, type = 0;
    ASSERT_EQ(platform::Current().registry->RegQueryValueEx(key, u"ProcessorNameString", &type, data, &size), win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_SZ);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), Text(*RunWql(u"SELECT * FROM Win32_Processor").rows.at(0), u"Name"));
    platform::Current().registry->RegCloseKey(key);
}

}  // namespace
}  // namespace tarvex::test
