// WMI of the emulated PC: the WQL the program sends, what WMI refuses, the types of the
// properties, association paths that lead back to their ends, and the scripted faults.
#include <gtest/gtest.h>

#include "platform/sim/wmi/sim_wmi.h"
#include "platform/sim/wmi/wmi_classes.h"
#include "platform/sim/wmi/wql.h"
#include "platform_sim/devices/device_requests.h"
#include "platform_sim/wmi/wmi_helpers.h"

namespace tarvex::test {
namespace {

using nlohmann::json;

json ThreeDiskPc() {
    json p = BaseProfile();
    json nvme = {{"number", 1}, {"kind", "nvme"}, {"model", "VARNO NV10 512GB"}, {"serial", "NV0001"},
                 {"firmware", "E8FK11.5"}, {"capacityBytes", 512110190592ull}, {"port", 2}};
    json usb = {{"number", 2}, {"kind", "usb"}, {"model", "Ardent Stick"}, {"serial", "U123"},
                {"firmware", "1.00"}, {"capacityBytes", 16008609792ull}};
    p["disks"] = json::array({SataDiskJson(0), nvme, usb});
    return p;
}

TEST(Wmi, SelectsRowsByIndexAndByQuotedIdWithoutRegardToCase) {
    TestMachine m(ThreeDiskPc());
    WmiAnswer all = RunWql(u"SELECT * FROM Win32_DiskDrive ");
    ASSERT_EQ(all.hr, win::S_OK);
    ASSERT_EQ(all.rows.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Int(*all.rows[i], u"Index"), i) << "profile order";
    }

    WmiAnswer one = RunWql(u"select * from win32_diskdrive WHERE index=1");
    ASSERT_EQ(one.rows.size(), 1u);
    EXPECT_EQ(Text(*one.rows[0], u"interfacetype"), u"SCSI") << "property names ignore case";
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_DiskDrive WHERE Index = 7").rows.size(), 0u);
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_DiskDrive WHERE Index = 7").hr, win::S_OK) << "no row is no failure";

    // Inside a WQL string a backslash is doubled; comparisons ignore case as in WMI.
    for (const char16_t* q : {u"SELECT * FROM Win32_DiskDrive Where DeviceID = \"\\\\\\\\.\\\\PHYSICALDRIVE2\"",
                              u"SELECT * FROM Win32_DiskDrive WHERE DeviceId = '\\\\\\\\.\\\\physicaldrive2'"}) {
        WmiAnswer by = RunWql(q);
        ASSERT_EQ(by.rows.size(), 1u) << N(q);
        EXPECT_EQ(Int(*by.rows[0], u"Index"), 2);
        EXPECT_EQ(Text(*by.rows[0], u"Name"), u"\\\\.\\PHYSICALDRIVE2");
    }

    const std::u16string ahci = Text(*RunWql(u"SELECT * FROM Win32_IDEController").rows.at(0), u"DeviceID");
    WmiAnswer driver = RunWql(u"SELECT * FROM Win32_PnPSignedDriver WHERE DeviceId = \"" + sim::EscapeWqlString(ahci) + u"\"");
    ASSERT_EQ(driver.rows.size(), 1u) << N(ahci);
    EXPECT_FALSE(Text(*driver.rows[0], u"DriverProviderName").empty());
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_PnPSignedDriver WHERE DeviceId = \"" + ahci + u"\"").hr, win::WBEM_E_INVALID_QUERY)
        << "an id whose backslashes are not doubled is not a valid string";
}

TEST(Wmi, RefusesWhatWmiRefusesWithoutCrashing) {
    TestMachine m(ThreeDiskPc());
    const char16_t* invalid[] = {
        u"SELECT Name FROM Win32_BIOS",
        u"SELECT * FROM",
        u"SELECT * FROMWin32_BIOS",
        u"SELECT * FROM Win32_BIOS WHERE",
        u"SELECT * FROM Win32_BIOS WHERE Name",
        u"SELECT * FROM Win32_BIOS WHERE Name = \"unterminated",
        u"SELECT * FROM Win32_BIOS WHERE Name = \"a\\qb\"",
        u"SELECT * FROM Win32_BIOS WHERE Name = \"a\" AND Version = \"b\"",
        u"SELECT * FROM Win32_BIOS WHERE NoSuchProperty = 1",
        u"SELECT * FROM Win32_BIOS WHERE Name = 12abc",
        u"DELETE FROM Win32_BIOS",
        u"",
    };
    for (const char16_t* q : invalid) {
        WmiAnswer a = RunWql(q);
        EXPECT_EQ(a.hr, win::WBEM_E_INVALID_QUERY) << N(q);
        EXPECT_TRUE(a.rows.empty());
    }
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_NoSuchClass").hr, win::WBEM_E_INVALID_CLASS);

    platform::Wmi& wmi = *platform::Current().wmi;
    std::unique_ptr<platform::WmiLocator> locator;
    EXPECT_EQ(wmi.CreateLocator(&locator), sim::CO_E_NOTINITIALIZED) << "COM first";
    ASSERT_EQ(wmi.CoInitializeEx(0), win::S_OK);
    EXPECT_EQ(wmi.CoInitializeEx(0), win::S_FALSE) << "already initialised on this thread";
    EXPECT_EQ(wmi.CoInitializeEx(2), sim::RPC_E_CHANGED_MODE) << "apartment model after multithreaded";
    ASSERT_EQ(wmi.CreateLocator(&locator), win::S_OK);
    std::unique_ptr<platform::WmiServices> services;
    EXPECT_EQ(locator->ConnectServer(u"ROOT\\DEFAULT", &services), win::WBEM_E_INVALID_NAMESPACE);
    EXPECT_FALSE(services);
    ASSERT_EQ(locator->ConnectServer(u"root\\cimv2", &services), win::S_OK);
    std::unique_ptr<platform::WmiEnumerator> rows;
    EXPECT_EQ(services->ExecQuery(u"SQL", u"SELECT * FROM Win32_BIOS", 0x30, &rows), sim::WBEM_E_INVALID_QUERY_TYPE);
    ASSERT_EQ(services->ExecQuery(u"wql", u"SELECT * FROM Win32_BIOS", 0x30, &rows), win::S_OK);
    std::unique_ptr<platform::WmiObject> row;
    ASSERT_EQ(rows->Next(win::WBEM_INFINITE, &row), win::S_OK);
    platform::Variant v;
    EXPECT_EQ(row->Get(u"NoSuchProperty", &v), win::WBEM_E_NOT_FOUND);
    EXPECT_EQ(rows->Next(win::WBEM_INFINITE, &row), win::WBEM_S_FALSE);
    EXPECT_FALSE(row);
    wmi.CoUninitialize();
    wmi.CoUninitialize();
    EXPECT_EQ(m->Wmi().ComInitCount(), 0);
}

TEST(Wmi, PropertiesHaveTheTypesWmiGivesThem) {
    json p = ThreeDiskPc();
    p["os"].erase("servicePack");
    TestMachine m(p);
    WmiAnswer disks = RunWql(u"SELECT * FROM Win32_DiskDrive");
    ASSERT_EQ(disks.rows.size(), 3u);
    const char16_t* kinds[] = {u"IDE", u"SCSI", u"USB"};
    for (int i = 0; i < 3; ++i) {
        platform::WmiObject& d = *disks.rows[i];
        EXPECT_EQ(Text(d, u"InterfaceType"), kinds[i]);
        const uint64_t size = std::stoull(N(Text(d, u"Size")));
        const uint64_t capacity = m->Devices().Disk(i)->Profile().capacitySectors * 512;
        EXPECT_LE(size, capacity);
        EXPECT_GT(size, capacity - 255ull * 63 * 512) << "whole cylinders of the disk";
        EXPECT_EQ(size % (255ull * 63 * 512), 0u);
    }
    EXPECT_EQ(Text(*disks.rows[2], u"MediaType"), u"Removable Media");

    WmiAnswer os = RunWql(u"SELECT * FROM Win32_OperatingSystem");
    ASSERT_EQ(os.rows.size(), 1u);
    EXPECT_EQ(Prop(*os.rows[0], u"CSDVersion").vt, win::VT_NULL) << "no service pack: no value";
    EXPECT_EQ(Text(*os.rows[0], u"Name"), u"Microsoft Windows 7 Professional |C:\\Windows|\\Device\\Harddisk0\\Partition1");
    EXPECT_EQ(Text(*os.rows[0], u"Version"), u"6.1.7601");

    WmiAnswer cpu = RunWql(u"SELECT * FROM Win32_Processor");
    ASSERT_EQ(cpu.rows.size(), 1u);
    EXPECT_EQ(Int(*cpu.rows[0], u"AddressWidth"), 64);
    WmiAnswer cs = RunWql(u"SELECT * FROM Win32_ComputerSystem");
    EXPECT_GT(std::stoull(N(Text(*cs.rows.at(0), u"TotalPhysicalMemory"))), 0u);
    WmiAnswer mem = RunWql(u"SELECT * FROM Win32_PhysicalMemory");
    ASSERT_FALSE(mem.rows.empty());
    EXPECT_GT(Int(*mem.rows[0], u"MemoryType"), 0);
    EXPECT_GT(Int(*mem.rows[0], u"Speed"), 0);
    EXPECT_EQ(Text(*mem.rows[0], u"Capacity"), u"8589934592");
    WmiAnswer pnp = RunWql(u"SELECT * FROM Win32_PnPEntity");
    ASSERT_FALSE(pnp.rows.empty());
    EXPECT_EQ(Prop(*pnp.rows[0], u"HardwareID").vt, win::VT_ARRAY | win::VT_BSTR);
    for (const char16_t* cls : {u"Win32_BaseBoard", u"Win32_BIOS", u"Win32_LogicalDisk"}) {
        EXPECT_FALSE(RunWql(std::u16string(u"SELECT * FROM ") + cls).rows.empty()) << N(cls);
    }
}

// The walk the program makes from a disk to its controller's class code: the disk's row by
// number, the association whose Dependent holds its doubled PNP id, then the Antecedent cut at
// its first '=' and fed back into a Win32_PnPEntity query.
std::u16string ClassCodeOfDisk(int number) {
    WmiAnswer disk = RunWql(u"SELECT * FROM Win32_DiskDrive WHERE index=" + platform::Utf8ToUtf16(std::to_string(number)));
    if (disk.rows.size() != 1) {
        return u"no disk";
    }
    const std::u16string type = Text(*disk.rows[0], u"InterfaceType");
    const std::u16string cls = type == u"IDE" ? u"Win32_IDEControllerDevice" : type == u"SCSI" ? u"Win32_SCSIControllerDevice" : u"";
    if (cls.empty()) {
        return u"";
    }
    const std::u16string doubled = sim::EscapeWqlString(Text(*disk.rows[0], u"PNPDeviceID"));
    std::u16string answer;
    for (auto& assoc : RunWql(u"SELECT * FROM " + cls + u" ").rows) {
        if (Text(*assoc, u"Dependent").find(doubled) == std::u16string::npos) {
            continue;
        }
        WmiAnswer dependent = RunWql(u"SELECT * FROM Win32_PnPEntity WHERE DeviceId = " + AfterEquals(Text(*assoc, u"Dependent")));
        EXPECT_EQ(dependent.rows.size(), 1u) << "the dependent is the disk's own entity";
        WmiAnswer ctrl = RunWql(u"SELECT * FROM Win32_PnPEntity Where DeviceID = " + AfterEquals(Text(*assoc, u"Antecedent")));
        EXPECT_EQ(ctrl.rows.size(), 1u) << N(Text(*assoc, u"Antecedent"));
        for (auto& e : ctrl.rows) {
            for (const std::u16string& id : Prop(*e, u"HardwareID").bstrArray) {
                if (answer.empty() && id.find(u"CC_") != std::u16string::npos) {
                    answer = id.substr(id.find(u"CC_") + 3);
                }
            }
        }
    }
    return answer;
}

TEST(Wmi, AssociationPathsCutAtTheirFirstEqualsLeadBackToBothEnds) {
    TestMachine m(ThreeDiskPc());
    WmiAnswer assoc = RunWql(u"SELECT * FROM Win32_IDEControllerDevice");
    ASSERT_EQ(assoc.rows.size(), 1u);
    const std::u16string antecedent = Text(*assoc.rows[0], u"Antecedent");
    EXPECT_EQ(antecedent.rfind(u"\\\\TARVEX-PC\\ROOT\\CIMV2:Win32_IDEController.DeviceID=\"PCI\\\\VEN_", 0), 0u)
        << N(antecedent);
    const std::u16string dependent = Text(*assoc.rows[0], u"Dependent");
    EXPECT_EQ(dependent.rfind(u"\\\\TARVEX-PC\\ROOT\\CIMV2:Win32_PnPEntity.DeviceID=\"IDE\\\\DISKVARNO_TL30A", 0), 0u)
        << N(dependent);
    EXPECT_EQ(dependent.back(), u'"');

    EXPECT_EQ(ClassCodeOfDisk(0), u"010601") << "SATA on the AHCI controller";
    EXPECT_EQ(ClassCodeOfDisk(1), u"010802") << "NVMe through Win32_SCSIControllerDevice";
    EXPECT_EQ(ClassCodeOfDisk(2), u"") << "the USB stick hangs on no storage controller";
    for (const char16_t* cls : {u"Win32_IDEControllerDevice", u"Win32_SCSIControllerDevice"}) {
        for (auto& a : RunWql(std::u16string(u"SELECT * FROM ") + cls).rows) {
            EXPECT_EQ(Text(*a, u"Dependent").find(u"USBSTOR"), std::u16string::npos);
        }
    }
    EXPECT_TRUE(RunWql(u"SELECT * FROM Win32_IDEController WHERE DeviceID = " + AfterEquals(antecedent)).rows.size() == 1)
        << "the antecedent names a Win32_IDEController";
}

TEST(Wmi, ScriptedFaultsStrikeTheirStepAndClass) {
    json p = ThreeDiskPc();
    p["wmi"] = {{"faults", json::array({{{"on", "coInitialize"}, {"times", 1}},
                                        {{"on", "connectServer"}, {"error", 2147749891u}, {"times", 1}},
                                        {{"on", "setProxyBlanket"}, {"times", 1}},
                                        {{"on", "execQuery"}, {"class", "win32_bios"}},
                                        {{"on", "nullEnumerator"}, {"class", "Win32_BaseBoard"}, {"times", 1}}})}};
    TestMachine m(p);
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_Processor").hr, sim::RPC_E_CHANGED_MODE);
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_Processor").hr, static_cast<int32_t>(0x80041003u));
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_Processor").hr, static_cast<int32_t>(0x80070005u));
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_Processor").rows.size(), 1u) << "each fault struck once";
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_BIOS").hr, win::WBEM_E_FAILED);
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_BIOS").hr, win::WBEM_E_FAILED) << "without times: always";
    WmiAnswer board = RunWql(u"SELECT * FROM Win32_BaseBoard");
    EXPECT_EQ(board.hr, win::S_OK);
    EXPECT_TRUE(board.nullEnumerator);
    EXPECT_FALSE(RunWql(u"SELECT * FROM Win32_BaseBoard").nullEnumerator);
    EXPECT_EQ(m->Wmi().ComInitCount(), 0);

    for (const auto& [fault, where] : std::vector<std::pair<json, std::string>>{
             {{{"on", "sometimes"}}, "$.wmi.faults[0].on"},
             {{{"on", "execQuery"}, {"error", 5}}, "$.wmi.faults[0].error"},
             {{{"on", "coInitialize"}, {"class", "Win32_BIOS"}}, "$.wmi.faults[0].class"}}) {
        json bad = BaseProfile();
        bad["wmi"] = {{"faults", json::array({fault})}};
        auto loaded = sim::LoadMachineProfile(bad.dump(), "t", "t.json");
        EXPECT_FALSE(loaded.profile);
        EXPECT_NE(loaded.error.find("t.json: " + where + ": "), std::string::npos) << loaded.error;
    }
}

// Every drive of a large PC found by number, by PNP id and through its association, as a scan
// asks; the tables are indexed, so this stays quick however many disks there are.
TEST(Wmi, AnswersTheScanOfSixtyFourDisks) {
    json p = BaseProfile();
    json disks = json::array();
    for (int i = 0; i < 64; ++i) {
        json d = SataDiskJson(i);
        d["serial"] = "VR" + std::to_string(100000 + i);
        d["targetId"] = i % 32;
        disks.push_back(d);
    }
    p["disks"] = disks;
    TestMachine m(p);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(ClassCodeOfDisk(i), u"010601") << i;
        WmiAnswer row = RunWql(u"SELECT * FROM Win32_DiskDrive WHERE index=" + platform::Utf8ToUtf16(std::to_string(i)));
        const std::u16string pnp = Text(*row.rows.at(0), u"PNPDeviceID");
        EXPECT_EQ(RunWql(u"SELECT * FROM Win32_PnPEntity WHERE DeviceID = \"" + sim::EscapeWqlString(pnp) + u"\"").rows.size(), 1u);
    }
}

TEST(Wql, ParsesTheFormsTheProgramSends) {
    auto q = sim::ParseWql(u"  SELECT  *  FROM  Win32_PnPEntity   Where DeviceID = \"A\\\\B\\\"C\"  ");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->className, u"Win32_PnPEntity");
    ASSERT_TRUE(q->where);
    EXPECT_EQ(q->where->property, u"DeviceID");
    EXPECT_TRUE(q->where->isString);
    EXPECT_EQ(q->where->text, u"A\\B\"C");
    auto n = sim::ParseWql(u"SELECT * FROM Win32_DiskDrive WHERE index=-0007");
    ASSERT_TRUE(n && n->where);
    EXPECT_FALSE(n->where->isString);
    EXPECT_EQ(n->where->text, u"-7");
    EXPECT_EQ(sim::EscapeWqlString(u"PCI\\VEN\"X"), u"PCI\\\\VEN\\\"X");
}

}  // namespace
}  // namespace tarvex::test
