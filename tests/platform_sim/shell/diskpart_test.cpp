// The emulated diskpart's answer, without a child process: sizes as diskpart rounds them, the
// script language it takes, the volume table and the per-disk lines for each kind of disk.
#include <gtest/gtest.h>

#include "platform/sim/embedded_profiles.h"
#include "platform/sim/shell/diskpart.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kGiB = 1024 * kMiB;

sim::MachineProfile Load(const json& p) {
    auto r = sim::LoadMachineProfile(p.dump(), "t", "t.json");
    if (!r.profile) {
        throw std::runtime_error(r.error);
    }
    return *r.profile;
}

json FourDisks() {
    json nvme = {{"number", 1}, {"kind", "nvme"}, {"model", "VARNO NV10 512GB"}, {"serial", "NV1"},
                 {"firmware", "E8FK11.5"}, {"capacityBytes", 512110190592ull}, {"nvme", {{"driver", "inbox"}}}};
    json usb = {{"number", 2}, {"kind", "usb"}, {"model", "Ardent FlashStick"}, {"serial", "U1"},
                {"firmware", "1.00"}, {"capacityBytes", 16008609792ull}};
    json blank = SataDiskJson(3);
    blank["serial"] = "BLANK3";
    blank["partitionStyle"] = "none";
    json p = ProfileWithDisks(json::array({SataDiskJson(0), nvme, usb, blank}));
    p["volumes"] = json::array({
        {{"letter", "C"}, {"disk", 0}, {"partition", 1}, {"sizeBytes", 100 * kGiB}, {"label", "Windows"}},
        {{"letter", "D"}, {"disk", 0}, {"partition", 2}, {"sizeBytes", 600 * kMiB}, {"fileSystem", "FAT32"}},
        {{"letter", "E"}, {"disk", 2}, {"partition", 1}, {"sizeBytes", 7633 * kMiB}, {"label", "STICK"},
         {"fileSystem", "exFAT"}},
        {{"letter", "R"}, {"cdrom", true}, {"fileSystem", "UDF"}, {"sizeBytes", 4 * kGiB}},
    });
    return p;
}

// The lines of an answer, without their CR LF (each must have one).
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "an unterminated line";
        if (end == std::string::npos) {
            break;
        }
        EXPECT_EQ(text.substr(pos, end - pos).find('\n'), std::string::npos) << "a bare LF";
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(Diskpart, SizesTakeTheLargestUnitThatLeavesTenAndRoundDown) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0 B"},
        {10239, "10239 B"},
        {10240, "10 KB"},
        {100 * kMiB, "100 MB"},
        {7633 * kMiB, "7633 MB"},
        {10 * kGiB - 1, "10239 MB"},
        {10 * kGiB, "10 GB"},
        {256060514304ull, "238 GB"},
        {4000787030016ull, "3726 GB"},
        {20 * 1024 * kGiB, "20 TB"},
        {UINT64_MAX, "16777215 TB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(sim::DiskpartSize(bytes), text) << bytes;
    }
}

TEST(Diskpart, DetailDiskShowsTheDiskAndItsVolumes) {
    const sim::MachineProfile p = Load(FourDisks());
    const auto lines = Lines(sim::RunDiskpartScript(p, "select disk 0\ndetail disk\n").output);
    EXPECT_EQ(lines.at(0), "Disk 0 is now the selected disk.");
    EXPECT_EQ(lines.at(1), "");
    EXPECT_EQ(lines.at(2), "VARNO TL30A 256GB");
    EXPECT_TRUE(Has(lines, "Type   : ATA"));
    EXPECT_TRUE(Has(lines, "Status : Online"));
    EXPECT_TRUE(Has(lines, "Location Path : PCIROOT(0)#PCI(1F02)#ATA(C00T00L00)"));
    EXPECT_TRUE(Has(lines, "Boot Disk  : Yes"));
    EXPECT_TRUE(Has(lines, "Crashdump Disk  : Yes"));
    EXPECT_TRUE(Has(lines, "Clustered Disk  : No"));
    // Volume numbers: the DVD drive first, then the partitions by disk and number.
    EXPECT_TRUE(Has(lines, "  Volume ###  Ltr  Label        Fs     Type        Size     Status     Info"));
    EXPECT_TRUE(Has(lines, "  Volume 1     C   Windows      NTFS   Partition    100 GB  Healthy    Boot"));
    EXPECT_TRUE(Has(lines, "  Volume 2     D                FAT32  Partition    600 MB  Healthy"));
    EXPECT_FALSE(Has(lines, "There are no volumes."));

    const auto nvme = Lines(sim::RunDiskpartScript(p, "select disk 1\ndetail disk\n").output);
    EXPECT_TRUE(Has(nvme, "Type   : SCSI")) << "the inbox driver before Windows 8.1";
    EXPECT_TRUE(Has(nvme, "Boot Disk  : No"));
    EXPECT_TRUE(Has(nvme, "Pagefile Disk  : No"));
    EXPECT_TRUE(Has(nvme, "There are no volumes."));
    EXPECT_FALSE(Has(nvme, "  Volume ###  Ltr  Label        Fs     Type        Size     Status     Info"));

    const auto usb = Lines(sim::RunDiskpartScript(p, "select disk 2\ndetail disk\n").output);
    EXPECT_TRUE(Has(usb, "Ardent FlashStick USB Device"));
    EXPECT_TRUE(Has(usb, "Type   : USB"));
    EXPECT_TRUE(Has(usb, "Location Path : UNAVAILABLE"));
    EXPECT_TRUE(Has(usb, "  Volume 3     E   STICK        exFAT  Removable   7633 MB  Healthy"));

    const auto blank = Lines(sim::RunDiskpartScript(p, "select disk 3\ndetail disk\n").output);
    EXPECT_TRUE(Has(blank, "Disk ID: 00000000")) << "an uninitialised disk";
    EXPECT_TRUE(Has(blank, "There are no volumes."));

    // Later Windows versions name the buses differently.
    json win10 = FourDisks();
    win10["os"] = {{"major", 10}, {"minor", 0}, {"build", 19045}};
    const sim::MachineProfile p10 = Load(win10);
    EXPECT_TRUE(Has(Lines(sim::RunDiskpartScript(p10, "sel disk 0\ndet disk\n").output), "Type   : SATA"));
    EXPECT_TRUE(Has(Lines(sim::RunDiskpartScript(p10, "sel disk 1\ndet disk\n").output), "Type   : NVMe"));
    EXPECT_NE(sim::DiskpartBanner(p10, u"PC10").find("\r\nMicrosoft DiskPart version 10.0.19045\r\n"), std::string::npos);
    EXPECT_NE(sim::DiskpartBanner(p, u"Büro-PC").find("\r\nOn computer: B\xC3\xBCro-PC\r\n"), std::string::npos)
        << "the ANSI code page is UTF-8";
}

TEST(Diskpart, ThePartitionWithoutALetterIsTheSystemVolume) {
    // The demo PC: a 100 MiB partition 1 before C: on disk 0, numbered after the DVD drive.
    const sim::MachineProfile p = Load(json::parse(sim::FindEmbeddedProfile("demo")->text));
    const auto lines = Lines(sim::RunDiskpartScript(p, "select disk 0\ndetail disk\n").output);
    EXPECT_TRUE(Has(lines, "  Volume 1         System Rese  NTFS   Partition    100 MB  Healthy    System"));
    EXPECT_TRUE(Has(lines, "  Volume 2     C   System       NTFS   Partition    150 GB  Healthy    Boot"));
    EXPECT_TRUE(Has(lines, "  Volume 3     D   Data         NTFS   Partition     88 GB  Healthy"));
    const auto nvme = Lines(sim::RunDiskpartScript(p, "select disk 2\ndetail disk\n").output);
    EXPECT_TRUE(Has(nvme, "Type   : RAID"));
    EXPECT_TRUE(Has(nvme, "Location Path : PCIROOT(0)#PCI(1C04)#PCI(0000)#RAID(P00T00L00)"));
    EXPECT_TRUE(Has(nvme, "  Volume 4     H   Projects     NTFS   Partition    476 GB  Healthy"));
}

TEST(Diskpart, ScriptsIgnoreCaseAbbreviationsBlankLinesAndRemarks) {
    const sim::MachineProfile p = Load(FourDisks());
    const sim::DiskpartRun ok =
        sim::RunDiskpartScript(p, "REM report script\r\n\r\n   \r\nSeL DiS=2\r\nDETAIL   disk\r\nexit\r\nselect disk 0\r\n");
    EXPECT_EQ(ok.exitCode, 0);
    const auto lines = Lines(ok.output);
    EXPECT_EQ(lines.at(0), "Disk 2 is now the selected disk.");
    EXPECT_TRUE(Has(lines, "Type   : USB"));
    EXPECT_FALSE(Has(lines, "Disk 0 is now the selected disk.")) << "exit ends the script";

    struct Case {
        const char* script;
        const char* line;
    };
    const Case failures[] = {
        {"select disk 9\ndetail disk\n", "The disk you specified is not valid."},
        {"detail disk\n", "There is no disk selected."},
        {"select disk\n", "The arguments given for this command are not valid."},
        {"select disk zero\n", "The arguments given for this command are not valid."},
        {"select disk 0 1\n", "The arguments given for this command are not valid."},
        {"se disk 0\n", "DiskPart does not know the command \"se disk 0\"."},
        {"format fs=ntfs quick\r\n", "DiskPart does not know the command \"format fs=ntfs quick\"."},
    };
    for (const Case& c : failures) {
        const sim::DiskpartRun r = sim::RunDiskpartScript(p, c.script);
        EXPECT_EQ(r.exitCode, 1) << c.script;
        EXPECT_TRUE(Has(Lines(r.output), c.line)) << c.script << r.output;
    }
    // A failed select drops the disk selected before.
    const auto dropped = Lines(sim::RunDiskpartScript(p, "select disk 0\nselect disk 9\ndetail disk\n").output);
    EXPECT_TRUE(Has(dropped, "There is no disk selected."));
    EXPECT_FALSE(Has(dropped, "VARNO TL30A 256GB"));
}

}  // namespace
}  // namespace tarvex::test
