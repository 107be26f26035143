#include "platform/linux/host_facts.h"

#include <gtest/gtest.h>

#include "platform/linux/smbios_memory.h"
#include "platform/text.h"
#include "platform_linux/fake_host_tree.h"

namespace tarvex::linuxhost {
namespace {

using platform::Utf16ToUtf8;
using test::FakeHostTree;

// One SMBIOS structure: its formatted part (type, length and handle in front) and strings.
std::vector<uint8_t> Structure(uint8_t type, std::vector<uint8_t> body,
                               const std::vector<std::string>& strings) {
    std::vector<uint8_t> s{type, static_cast<uint8_t>(4 + body.size()), 0x00, 0x11};
    s.insert(s.end(), body.begin(), body.end());
    for (const std::string& text : strings) {
        s.insert(s.end(), text.begin(), text.end());
        s.push_back(0);
    }
    s.push_back(0);
    if (strings.empty()) {
        s.push_back(0);
    }
    return s;
}

// The formatted part of a memory device after the header, 0x54 + 4 bytes long (SMBIOS 3.3).
std::vector<uint8_t> MemoryDevice(uint16_t size, uint32_t extendedSize, uint8_t type,
                                  uint16_t speed, uint32_t extendedSpeed = 0) {
    std::vector<uint8_t> b(0x58 - 4, 0);
    const auto put16 = [&](size_t at, uint16_t v) {
        b[at - 4] = static_cast<uint8_t>(v);
        b[at - 3] = static_cast<uint8_t>(v >> 8);
    };
    const auto put32 = [&](size_t at, uint32_t v) {
        put16(at, static_cast<uint16_t>(v));
        put16(at + 2, static_cast<uint16_t>(v >> 16));
    };
    put16(0x0C, size);
    b[0x10 - 4] = 1;  // device locator: string 1
    b[0x11 - 4] = 2;  // bank locator
    b[0x12 - 4] = type;
    put16(0x15, speed);
    b[0x17 - 4] = 3;  // manufacturer
    b[0x1A - 4] = 4;  // part number
    put32(0x1C, extendedSize);
    put32(0x54, extendedSpeed);
    return b;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& part) {
    to.insert(to.end(), part.begin(), part.end());
}

TEST(SmbiosMemory, ReadsTheInstalledModulesOfTheTable) {
    std::vector<uint8_t> table;
    Append(table, Structure(0, {1, 2, 3, 4}, {"Firmware Vendor", "1.0"}));  // BIOS information
    Append(table, Structure(17, MemoryDevice(8192, 0, 26, 3200),
                            {"DIMM A1", "BANK 0", "Arlen Memory", "AM4D8G32  "}));
    Append(table, Structure(17, MemoryDevice(0, 0, 26, 0),
                            {"DIMM A2", "BANK 1"}));  // empty slot; strings 3 and 4 are not there
    // 7FFFh: the size is in the extended field (64 GiB); FFFFh speed: extended speed.
    Append(table, Structure(17, MemoryDevice(0x7FFF, 65536, 34, 0xFFFF, 6400),
                            {"DIMM B1", "BANK 2", "Arlen", "X"}));
    Append(table, Structure(17, MemoryDevice(0x8000 | 512, 0, 24, 1600),
                            {"SLOT", "B", "C", "D"}));  // 512 KB
    Append(table, Structure(127, {}, {}));
    Append(table, Structure(17, MemoryDevice(4096, 0, 26, 3200), {"after the end"}));

    const auto modules = ParseSmbiosMemory(table);
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(Utf16ToUtf8(modules[0].deviceLocator), "DIMM A1");
    EXPECT_EQ(Utf16ToUtf8(modules[0].bankLabel), "BANK 0");
    EXPECT_EQ(Utf16ToUtf8(modules[0].manufacturer), "Arlen Memory");
    EXPECT_EQ(Utf16ToUtf8(modules[0].partNumber), "AM4D8G32") << "trailing blanks cut";
    EXPECT_EQ(modules[0].memoryType, 26u);
    EXPECT_EQ(modules[0].speed, 3200u);
    EXPECT_EQ(modules[0].capacity, 8192ull << 20);
    EXPECT_EQ(modules[1].capacity, 65536ull << 20);
    EXPECT_EQ(modules[1].speed, 6400u);
    EXPECT_EQ(modules[1].memoryType, 34u);
    EXPECT_EQ(modules[2].capacity, 512ull << 10);

    // Cut short anywhere, the walk keeps what it read and never reads past the end.
    for (size_t cut = 0; cut < table.size(); ++cut) {
        const auto part = ParseSmbiosMemory(std::span(table.data(), cut));
        EXPECT_LE(part.size(), 3u) << cut;
    }
    // An old, short memory device structure (SMBIOS 2.1) has no speed or manufacturer.
    std::vector<uint8_t> old = MemoryDevice(2048, 0, 18, 0);
    old.resize(0x15 - 4);
    const auto short21 = ParseSmbiosMemory(Structure(17, old, {"DIMM0", "BANK0"}));
    ASSERT_EQ(short21.size(), 1u);
    EXPECT_EQ(short21[0].speed, 0u);
    EXPECT_EQ(short21[0].manufacturer, u"");
    EXPECT_EQ(short21[0].capacity, 2048ull << 20);
}

TEST(HostFacts, ProcessorsArePhysicalPackages) {
    std::string cpuinfo;
    for (int cpu = 0; cpu < 4; ++cpu) {
        cpuinfo += "processor\t: " + std::to_string(cpu) +
                   "\nvendor_id\t: GenuineIntel\nmodel name\t: Quasar(R) Q7 CPU @ 3.60GHz  \n"
                   "physical id\t: " +
                   std::to_string(cpu / 2) + "\ncore id\t\t: " + std::to_string(cpu % 2) +
                   "\ncpu cores\t: 2\ncpu MHz\t\t: 1796.512\n\n";
    }
    auto cpus = ParseCpuInfo(cpuinfo, std::nullopt);
    ASSERT_EQ(cpus.size(), 2u);
    EXPECT_EQ(Utf16ToUtf8(cpus[0].name), "Quasar(R) Q7 CPU @ 3.60GHz");
    EXPECT_EQ(Utf16ToUtf8(cpus[0].manufacturer), "GenuineIntel");
    EXPECT_EQ(cpus[0].cores, 2u);
    EXPECT_EQ(cpus[0].maxClockSpeed, 1797u) << "cpu MHz rounded";
    EXPECT_EQ(ParseCpuInfo(cpuinfo, 4700000)[1].maxClockSpeed, 4700u) << "cpufreq's maximum wins";

    // No "physical id" and no "cpu cores" (virtual machines, ARM): one package, its entries
    // counted.
    const std::string arm =
        "processor\t: 0\nBogoMIPS\t: 48.00\n\nprocessor\t: 1\nBogoMIPS\t: 48.00\n\n"
        "Hardware\t: Board\n";
    cpus = ParseCpuInfo(arm, std::nullopt);
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(cpus[0].cores, 2u);
    EXPECT_EQ(Utf16ToUtf8(cpus[0].name), "Unknown processor");
    EXPECT_EQ(Utf16ToUtf8(cpus[0].manufacturer), "Unknown");
    EXPECT_EQ(cpus[0].maxClockSpeed, 0u);
    EXPECT_TRUE(ParseCpuInfo("", std::nullopt).empty());
}

TEST(HostFacts, MemoryAndOsReleaseValues) {
    EXPECT_EQ(ParseMemTotal("MemFree:  1 kB\nMemTotal:       16318400 kB\n"), 16318400ull * 1024);
    EXPECT_EQ(ParseMemTotal("MemFree: 1 kB\n"), std::nullopt);
    EXPECT_EQ(ParseMemTotal("MemTotal: kB\n"), std::nullopt);

    const std::string osRelease =
        "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 \\\"bookworm\\\"\"\n"
        "ID=debian\nVERSION_ID='12'\n";
    EXPECT_EQ(OsReleaseValue(osRelease, "PRETTY_NAME"), "Debian GNU/Linux 12 \"bookworm\"");
    EXPECT_EQ(OsReleaseValue(osRelease, "ID"), "debian");
    EXPECT_EQ(OsReleaseValue(osRelease, "VERSION_ID"), "12");
    EXPECT_EQ(OsReleaseValue(osRelease, "NAM"), "") << "a key is matched whole";
    EXPECT_EQ(OsReleaseValue(osRelease, "VERSION"), "");
}

TEST(HostFacts, ReadsTheFactFilesAndFallsBackWhenTheyAreMissing) {
    FakeHostTree t;
    test::BuildDesktop(t);
    t.Write(t.roots.proc / "cpuinfo",
            "processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel name\t: Zen\ncpu cores\t: 8\n");
    t.Write(t.roots.proc / "meminfo", "MemTotal:        8000000 kB\n");
    t.Write(t.Sys("devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"), "5100000\n");
    t.Write(t.Sys("class/dmi/id/board_vendor"), "Holvar  \n");
    t.Write(t.Sys("class/dmi/id/board_name"), "HB-650\n");
    t.Write(t.Sys("class/dmi/id/bios_vendor"), "Lumen BIOS\n");
    t.Write(t.Sys("class/dmi/id/bios_version"), "F12\n");
    t.Write(t.Sys("class/dmi/id/product_name"), "Tower 5\n");
    t.Write(t.roots.etc / "os-release", "PRETTY_NAME=\"Ubuntu 24.04 LTS\"\n");
    t.Write(t.roots.proc / "sys/kernel/hostname", "desk\n");
    t.Write(t.roots.proc / "sys/kernel/osrelease", "6.8.0-31-generic\n");
    const HostInventory inv = t.Read();
    const HostFacts f = ReadHostFacts(t.roots, inv);
    const sim::HardwareProfile& h = f.hardware;
    ASSERT_EQ(h.processors.size(), 1u);
    EXPECT_EQ(h.processors[0].cores, 8u);
    EXPECT_EQ(h.processors[0].maxClockSpeed, 5100u);
    EXPECT_EQ(h.totalPhysicalMemory, 8000000ull * 1024);
    ASSERT_EQ(h.memory.size(), 1u) << "no SMBIOS table: one module of the total";
    EXPECT_EQ(h.memory[0].capacity, 8000000ull * 1024);
    EXPECT_EQ(Utf16ToUtf8(h.boardManufacturer), "Holvar");
    EXPECT_EQ(Utf16ToUtf8(h.boardProduct), "HB-650");
    EXPECT_EQ(Utf16ToUtf8(h.biosManufacturer), "Lumen BIOS");
    EXPECT_EQ(Utf16ToUtf8(h.biosVersion), "F12");
    EXPECT_EQ(Utf16ToUtf8(h.systemManufacturer), "Unknown") << "sys_vendor is missing";
    EXPECT_EQ(Utf16ToUtf8(h.systemModel), "Tower 5");
    EXPECT_EQ(f.osPrettyName, "Ubuntu 24.04 LTS");
    EXPECT_EQ(f.hostName, "desk");
    EXPECT_EQ(f.kernelRelease, "6.8.0-31-generic");

    // The SMBIOS table, when it is readable, lists the modules.
    std::vector<uint8_t> table =
        Structure(17, MemoryDevice(4096, 0, 26, 2666), {"A", "B", "C", "D"});
    Append(table, Structure(17, MemoryDevice(4096, 0, 26, 2666), {"A2", "B", "C", "D"}));
    t.Write(t.Sys("firmware/dmi/tables/DMI"), std::string(table.begin(), table.end()));
    EXPECT_EQ(ReadHostFacts(t.roots, inv).hardware.memory.size(), 2u);

    // Nothing readable at all.
    FakeHostTree bare;
    const HostFacts none = ReadHostFacts(bare.roots, {});
    ASSERT_EQ(none.hardware.processors.size(), 1u);
    EXPECT_EQ(Utf16ToUtf8(none.hardware.processors[0].name), "Unknown processor");
    EXPECT_EQ(Utf16ToUtf8(none.hardware.boardManufacturer), "Unknown");
    EXPECT_EQ(Utf16ToUtf8(none.hardware.biosVersion), "Unknown");
    EXPECT_EQ(none.hardware.totalPhysicalMemory, 0u);
    EXPECT_EQ(none.osPrettyName, "Linux");
    EXPECT_EQ(none.hostName, "localhost");
    ASSERT_TRUE(none.hardware.controllers.has_value());
    EXPECT_TRUE(none.hardware.controllers->empty());
}

TEST(HostFacts, OneControllerPerPciFunctionWithListedDisks) {
    FakeHostTree t;
    test::BuildDesktop(t);
    // A second AHCI disk on the same function shares its controller.
    t.AddScsiDisk("sdc", "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", "8:32",
                  "ATA", "Second", "1", "Z1", 100);
    const HostInventory inv = t.Read();
    const auto controllers = HostControllers(inv, "6.1.0-18-amd64");
    ASSERT_EQ(controllers.size(), 2u) << "the USB stick hangs on no storage controller";

    const sim::ControllerProfile& ahci = controllers[0];
    EXPECT_EQ(Utf16ToUtf8(ahci.name), "Standard SATA AHCI Controller");
    EXPECT_EQ(ahci.wmiClass, sim::ControllerClass::Ide);
    EXPECT_EQ(ahci.disks, (std::vector<uint32_t>{0, 2}));
    const std::string id = Utf16ToUtf8(ahci.pnpDeviceId);
    const std::string head = "PCI\\VEN_8086&DEV_A102&SUBSYS_86941043&REV_31\\3&";
    ASSERT_EQ(id.rfind(head, 0), 0u) << id;
    ASSERT_EQ(id.size(), head.size() + 8 + 5) << id;
    EXPECT_EQ(id.substr(head.size(), 8).find_first_not_of("0123456789ABCDEF"), std::string::npos)
        << id;
    EXPECT_EQ(id.substr(head.size() + 8), "&0&FA") << "device 1Fh function 2";
    EXPECT_EQ(Utf16ToUtf8(ahci.driverProvider), "Linux ahci");
    EXPECT_EQ(Utf16ToUtf8(ahci.driverVersion), "6.1.0-18-amd64");
    EXPECT_EQ(ahci.classCode, u"010601");
    // The drive scan reads the class code from the first "CC_" hardware id.
    bool sawClass = false;
    for (const std::u16string& hw : ahci.hardwareIds) {
        if (!sawClass && hw.find(u"&CC_") != std::u16string::npos) {
            EXPECT_EQ(hw, u"PCI\\VEN_8086&DEV_A102&CC_010601");
            sawClass = true;
        }
    }
    EXPECT_TRUE(sawClass);

    const sim::ControllerProfile& nvme = controllers[1];
    EXPECT_EQ(Utf16ToUtf8(nvme.name), "Standard NVM Express Controller");
    EXPECT_EQ(nvme.wmiClass, sim::ControllerClass::Scsi);
    EXPECT_EQ(nvme.disks, (std::vector<uint32_t>{3}));
    EXPECT_EQ(
        Utf16ToUtf8(nvme.pnpDeviceId).rfind("PCI\\VEN_1E4B&DEV_1202&SUBSYS_12021E4B&REV_01\\3&", 0),
        0u);
    EXPECT_NE(ahci.pnpDeviceId, nvme.pnpDeviceId);
}

}  // namespace
}  // namespace tarvex::linuxhost
