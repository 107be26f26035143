// The system-information collectors against a scripted WMI: the record's rules and every
// early return with its trace.
#include <gtest/gtest.h>

#include "app/trace.h"
#include "platform/text.h"
#include "support/fake_wmi.h"
#include "support/test_machine.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {
namespace {

using test::FakeWmi;

nlohmann::json ProfileWithCpu() {
    nlohmann::json p = test::BaseProfile();
    p["registry"] = nlohmann::json::parse(R"([{"key": "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
        "values": [{"name": "ProcessorNameString", "type": "REG_SZ", "data": "Quasar Q7-4770 CPU @ 3.40GHz"}]}])");
    return p;
}

class SystemInfoTest : public ::testing::Test {
protected:
    SystemInfoTest() : machine_(ProfileWithCpu()) {
        platform_ = machine_->Platform();
        platform_.wmi = &wmi_;
        installed_ = std::make_unique<platform::ScopedPlatform>(platform_);
        ResetSystemInfoForTesting();
        ResetTraceForTesting();
        SetTraceLevel(1);
        FillPc();
    }
    ~SystemInfoTest() override {
        SetTraceLevel(0);
        ResetTraceForTesting();
        WmiDiskList().clear();
    }
    void FillPc() {
        wmi_.Add(u"SELECT * FROM Win32_OperatingSystem ",
                 {{u"Name", FakeWmi::Text(u"Microsoft Windows 10 Pro|C:\\WINDOWS|\\Device\\Harddisk0\\Partition2")}});
        wmi_.Add(u"SELECT * FROM Win32_Processor ", {{u"AddressWidth", FakeWmi::Int(64)}});
        wmi_.Add(u"SELECT * FROM Win32_ComputerSystem ", {{u"TotalPhysicalMemory", FakeWmi::Text(u"17179869184")}});
        wmi_.Add(u"SELECT * FROM Win32_BaseBoard ",
                 {{u"Manufacturer", FakeWmi::Text(u"Orbis Boards")}, {u"Product", FakeWmi::Text(u"Z97-PRO")}});
        wmi_.Add(u"SELECT * FROM Win32_BIOS ", {{u"SMBIOSBIOSVersion", FakeWmi::Text(u"2204")}});
        wmi_.Add(u"SELECT * FROM Win32_PhysicalMemory ",
                 {{u"DeviceLocator", FakeWmi::Text(u"DIMM0")}, {u"BankLabel", FakeWmi::Text(u"BANK 0")},
                  {u"Manufacturer", FakeWmi::Text(u"BANK 0")}, {u"MemoryType", FakeWmi::Int(24)},
                  {u"Speed", FakeWmi::Int(1600)}, {u"Capacity", FakeWmi::Text(u"8589934592")}});
        wmi_.Add(u"SELECT * FROM Win32_PhysicalMemory ",
                 {{u"DeviceLocator", FakeWmi::Text(u"DIMM1")}, {u"BankLabel", FakeWmi::Text(u"BANK 1")},
                  {u"Manufacturer", FakeWmi::Text(u"Lumen Memory")}, {u"MemoryType", FakeWmi::Int(24)},
                  {u"Speed", FakeWmi::Int(1600)}, {u"Capacity", FakeWmi::Text(u"8589934592")}});
        // A module whose locator cannot be read is skipped.
        wmi_.Add(u"SELECT * FROM Win32_PhysicalMemory ", {{u"DeviceLocator", FakeWmi::Int(3)}});
    }
    std::string TraceText() { return test::ReadHostFile(machine_.Host(u"C:\\Tools\\Tarvex.log")); }

    test::TestMachine machine_;
    FakeWmi wmi_;
    platform::Platform platform_;
    std::unique_ptr<platform::ScopedPlatform> installed_;
};

TEST_F(SystemInfoTest, FillsTheRecordAndKeepsModulesOnce) {
    UnderlyingUtil util;
    ASSERT_EQ(util.GetSystemInfo(), 1);
    const SystemInfo& s = GlobalSystemInfo();
    EXPECT_EQ(platform::FixedText(s.OsName), u"Microsoft Windows 10 Pro\n x64");
    EXPECT_EQ(platform::FixedText(s.CpuName), u"Quasar Q7-4770 CPU @ 3.40GHz");
    EXPECT_EQ(s.ProcessorAddressWidth, 64);
    EXPECT_EQ(platform::FixedText(s.TotalMemoryMb), u"16384");
    EXPECT_EQ(platform::FixedText(s.BaseBoardVendor), u"Orbis Boards");
    EXPECT_EQ(platform::FixedText(s.BaseBoardModel), u"Z97-PRO");
    EXPECT_EQ(platform::FixedText(s.BiosVersion), u"2204");
    ASSERT_EQ(s.MemoryModules.size(), 2u);
    EXPECT_EQ(platform::FixedText(s.MemoryModules[0].Manufacturer), u"N/A") << "equal to its bank label";
    EXPECT_EQ(platform::FixedText(s.MemoryModules[1].Manufacturer), u"Lumen Memory");
    EXPECT_EQ(s.MemoryModules[1].Speed, 1600);
    EXPECT_EQ(platform::FixedText(s.MemoryModules[1].Capacity), u"8589934592");
    EXPECT_EQ(platform::FixedText(s.ToolVersion), u"") << "no SSDVelmora.exe on this PC";

    wmi_.results[u"SELECT * FROM Win32_Processor "].push_back({{u"AddressWidth", FakeWmi::Int(64)}});
    ASSERT_EQ(util.GetSystemInfo(), 1);
    EXPECT_EQ(platform::FixedText(s.OsName), u"Microsoft Windows 10 Pro\n x64 x64") << "one suffix per processor";
    EXPECT_EQ(s.MemoryModules.size(), 2u) << "a second run adds no module twice";
    EXPECT_NE(TraceText().find(" Variable Type not Match: (input)0x8-0x3(real)\r\n"), std::string::npos);
    EXPECT_NE(TraceText().find(" Total Physical Memory : 16384\r\n"), std::string::npos);
}

TEST_F(SystemInfoTest, StopsAtTheFirstFailureWithItsTrace) {
    wmi_.failingQueries[u"SELECT * FROM Win32_ComputerSystem "] = static_cast<int32_t>(0x80041017u);
    UnderlyingUtil util;
    EXPECT_EQ(util.GetSystemInfo(), 0);
    const SystemInfo& s = GlobalSystemInfo();
    EXPECT_NE(platform::FixedText(s.OsName), u"") << "filled before the failure";
    EXPECT_EQ(platform::FixedText(s.BaseBoardVendor), u"") << "not reached";
    EXPECT_NE(TraceText().find(" Fail to ExecQuery(Win32_ComputerSystem) . Error code = 0x80041017\r\n"),
              std::string::npos);
    EXPECT_NE(TraceText().find(" ConnectWmiClass(Win32_ComputerSystem) fail 1\r\n"), std::string::npos);

    wmi_.failingQueries.clear();
    wmi_.nullEnumeratorQueries.push_back(u"SELECT * FROM Win32_BIOS ");
    EXPECT_EQ(util.GetSystemInfo(), 0);
    EXPECT_NE(TraceText().find(" ConnectWmiClass(Win32_BIOS) fail 2\r\n"), std::string::npos);

    const struct {
        int32_t FakeWmi::*step;
        const char* trace;
    } steps[] = {
        {&FakeWmi::failInitialize, "Fail to CoInitializeEx(0, COINIT_MULTITHREADED).. Error code = 0x80004005"},
        {&FakeWmi::failLocator, "Fail to obtain the initial locator to Windows Management"},
        {&FakeWmi::failConnect, "Fail to connect root\\cimv2 namespace with the current user"},
        {&FakeWmi::failBlanket, "Fail to set proxy blanket. Error code = 0x80004005"},
    };
    for (const auto& step : steps) {
        wmi_.nullEnumeratorQueries.clear();
        wmi_.*step.step = static_cast<int32_t>(0x80004005u);
        ResetTraceForTesting();
        EXPECT_EQ(util.GetSystemInfo(), 0) << step.trace;
        EXPECT_NE(TraceText().find(step.trace), std::string::npos) << step.trace;
        EXPECT_NE(TraceText().find(" ConnectWmiService fail 1\r\n"), std::string::npos) << step.trace;
        wmi_.*step.step = 0;
    }
    EXPECT_EQ(wmi_.initializeCount, wmi_.uninitializeCount) << "every COM initialisation is undone";
}

TEST_F(SystemInfoTest, ControllersGetDriversClassCodesAndAtMostSixteenDevices) {
    const std::u16string controller = u"PCI\\VEN_8086&DEV_A102&SUBSYS_00000000&REV_31\\3&11583659&0&B8";
    const std::u16string doubled = u"PCI\\\\VEN_8086&DEV_A102&SUBSYS_00000000&REV_31\\\\3&11583659&0&B8";
    wmi_.Add(u"SELECT * FROM Win32_IDEController ",
             {{u"Name", FakeWmi::Text(u"Standard SATA AHCI Controller")}, {u"DeviceID", FakeWmi::Text(controller)}});
    wmi_.Add(u"SELECT * FROM Win32_PnPSignedDriver WHERE DeviceId = \"" + doubled + u"\"",
             {{u"DriverProviderName", FakeWmi::Text(u"Microsoft")}, {u"DriverVersion", FakeWmi::Int(6)}});
    const std::u16string antecedent = u"\\\\PC\\ROOT\\CIMV2:Win32_IDEController.DeviceID=\"" + doubled + u"\"";
    wmi_.Add(u"SELECT * FROM Win32_PnPEntity Where DeviceID = \"" + doubled + u"\"",
             {{u"HardwareID", FakeWmi::Texts({u"PCI\\VEN_8086&DEV_A102", u"PCI\\VEN_8086&CC_010601", u"CC_0106"})}});
    for (int i = 0; i < 17; ++i) {
        const std::u16string disk = u"IDE\\\\DISKX_" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        wmi_.Add(u"SELECT * FROM Win32_IDEControllerDevice ",
                 {{u"Antecedent", FakeWmi::Text(antecedent)},
                  {u"Dependent", FakeWmi::Text(u"\\\\PC\\ROOT\\CIMV2:Win32_PnPEntity.DeviceID=\"" + disk + u"\"")}});
        wmi_.Add(u"SELECT * FROM Win32_PnPEntity WHERE DeviceId = \"" + disk + u"\"",
                 {{u"Name", FakeWmi::Text(u"Disk " + std::u16string(1, static_cast<char16_t>(u'A' + i)))},
                  {u"PNPDeviceID", FakeWmi::Text(u"IDE\\DISKX_" + std::u16string(1, static_cast<char16_t>(u'A' + i)))}});
    }
    // An association of another controller is not ours.
    wmi_.Add(u"SELECT * FROM Win32_IDEControllerDevice ",
             {{u"Antecedent", FakeWmi::Text(u"\\\\PC\\ROOT\\CIMV2:Win32_IDEController.DeviceID=\"PCI\\\\OTHER\"")},
              {u"Dependent", FakeWmi::Text(u"x=\"y\"")}});
    WmiDiskEntry entry{};
    entry.Index = 5;
    platform::CopyToFixed(entry.PNPDeviceID, u"ide\\diskx_b");
    WmiDiskList().push_back(entry);

    UnderlyingUtil util;
    ASSERT_EQ(util.GetHbaInfo(), 1);
    const auto& list = GlobalSystemInfo().HbaList;
    ASSERT_EQ(list.size(), 1u);
    const HbaInfo& h = list[0];
    EXPECT_EQ(platform::FixedText(h.Name), u"Standard SATA AHCI Controller");
    EXPECT_EQ(platform::FixedText(h.DriverProvider), u"Microsoft");
    EXPECT_EQ(platform::FixedText(h.DriverVersion), u"N/A") << "a version of another type";
    EXPECT_EQ(platform::FixedText(h.ClassCode), u"010601") << "the first hardware id with CC_";
    EXPECT_EQ(h.AttachedDeviceCount, 16) << "the 17th device does not fit the record";
    EXPECT_EQ(platform::FixedText(h.AttachedDevices[1].Name), u"Disk B" + doubled);
    EXPECT_EQ(h.AttachedDevices[1].PhysicalDriveIndex, 5) << "matched without regard to case";
    EXPECT_EQ(h.AttachedDevices[0].PhysicalDriveIndex, -1);
    EXPECT_NE(TraceText().find(" Total HBA number:1\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tarvex
