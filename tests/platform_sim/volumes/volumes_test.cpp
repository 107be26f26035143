// Volumes of the emulated PC: drive strings, accounted free space, cluster geometry, the
// volume devices and their disk numbers, and the profile's volume errors.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/sim/embedded_profiles.h"
#include "platform_sim/devices/device_requests.h"
#include "platform_sim/wmi/wmi_helpers.h"

namespace tarvex::test {
namespace {

using nlohmann::json;
constexpr uint64_t kGiB = 1ull << 30;

json PcWithVolumes() {
    json p = BaseProfile();
    json usb = {{"number", 1}, {"kind", "usb"}, {"model", "Ardent Stick"}, {"serial", "U123"},
                {"firmware", "1.00"}, {"capacityBytes", 16008609792ull}};
    p["disks"] = json::array({SataDiskJson(0), usb});
    p["volumes"] = json::array({
        {{"letter", "D"}, {"fileSystem", "NTFS"}, {"disk", 0}, {"partition", 2}, {"sizeBytes", 100 * kGiB}, {"freeBytes", 40 * kGiB}},
        {{"letter", "C"}, {"label", "System"}, {"disk", 0}, {"partition", 1}, {"sizeBytes", 120 * kGiB}, {"freeBytes", 2 * 1048576}},
        {{"letter", "F"}, {"fileSystem", "FAT32"}, {"disk", 1}, {"sizeBytes", 14 * kGiB}, {"freeBytes", 7 * kGiB}},
        {{"letter", "G"}, {"fileSystem", "CDFS"}, {"cdrom", true}, {"sizeBytes", 700 * 1048576}},
    });
    return p;
}

std::unique_ptr<platform::File> Create(const std::u16string& path) {
    return platform::Current().files->CreateFile(path, win::GENERIC_WRITE, 0, win::CREATE_ALWAYS, 0);
}

TEST(Volumes, ListRootsByLetterAndResolvePaths) {
    TestMachine m(PcWithVolumes());
    platform::Volumes& v = *platform::Current().volumes;
    EXPECT_EQ(v.GetLogicalDriveStrings(), (std::vector<std::u16string>{u"C:\\", u"D:\\", u"F:\\", u"G:\\"}));
    EXPECT_EQ(v.GetVolumePathName(u"d:\\some\\file.txt").value_or(u""), u"D:\\");
    EXPECT_EQ(v.GetVolumePathName(u"relative.txt").value_or(u""), u"C:\\") << "the current directory is on C:";
    platform::SetLastError(0);
    EXPECT_FALSE(v.GetVolumePathName(u"Q:\\x"));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_NE(platform::Current().files->GetFileAttributes(u"F:\\"), win::INVALID_FILE_ATTRIBUTES)
        << "every volume is a drive of the file system";
    EXPECT_EQ(platform::Current().files->GetFileAttributes(u"Q:\\"), win::INVALID_FILE_ATTRIBUTES);
}

TEST(Volumes, WritingUsesFreeSpaceAndDeletingGivesItBack) {
    TestMachine m(PcWithVolumes());
    platform::Volumes& v = *platform::Current().volumes;
    platform::DiskFreeSpace s;
    ASSERT_TRUE(v.GetDiskFreeSpaceEx(u"C:\\", &s));
    EXPECT_EQ(s.totalBytes, 120 * kGiB);
    EXPECT_EQ(s.totalFreeBytes, 2u * 1048576);
    EXPECT_EQ(s.freeBytesAvailable, s.totalFreeBytes);

    {
        auto f = Create(u"C:\\fill.bin");
        ASSERT_TRUE(f);
        std::vector<uint8_t> block(1048576, 0xAB);
        uint32_t written = 0;
        ASSERT_TRUE(f->Write(block.data(), 1048576, &written));
        ASSERT_TRUE(v.GetDiskFreeSpaceEx(u"C:", &s));
        EXPECT_EQ(s.totalFreeBytes, 1048576u);
        // Rewriting bytes the file already has costs nothing; growing past the room fails whole.
        uint64_t pos = 0;
        ASSERT_TRUE(f->Seek(0, 0, &pos));
        ASSERT_TRUE(f->Write(block.data(), 1048576, &written));
        ASSERT_TRUE(f->Write(block.data(), 1048576, &written)) << "exactly the free space left";
        platform::SetLastError(0);
        EXPECT_FALSE(f->Write(block.data(), 1, &written));
        EXPECT_EQ(platform::GetLastError(), win::ERROR_DISK_FULL);
        EXPECT_EQ(written, 0u);
        uint64_t size = 0;
        ASSERT_TRUE(f->GetSize(&size));
        EXPECT_EQ(size, 2u * 1048576) << "a write that does not fit writes nothing";
    }
    ASSERT_TRUE(v.GetDiskFreeSpaceEx(u"C:\\", &s));
    EXPECT_EQ(s.totalFreeBytes, 0u);
    ASSERT_TRUE(v.GetDiskFreeSpaceEx(u"D:\\", &s));
    EXPECT_EQ(s.totalFreeBytes, 40 * kGiB) << "other volumes keep theirs";

    WmiAnswer disks = RunWql(u"SELECT * FROM Win32_LogicalDisk WHERE DeviceID = \"C:\"");
    ASSERT_EQ(disks.rows.size(), 1u);
    EXPECT_EQ(Text(*disks.rows[0], u"FreeSpace"), u"0") << "WMI sees the same free space";

    // Truncating and deleting give the bytes back.
    ASSERT_TRUE(Create(u"C:\\fill.bin"));
    ASSERT_TRUE(v.GetDiskFreeSpaceEx(u"C:\\", &s));
    EXPECT_EQ(s.totalFreeBytes, 2u * 1048576);
    {
        auto f = Create(u"C:\\fill.bin");
        uint32_t written = 0;
        ASSERT_TRUE(f->Write("12345", 5, &written));
    }
    ASSERT_TRUE(platform::Current().files->DeleteFile(u"C:\\fill.bin"));
    ASSERT_TRUE(v.GetDiskFreeSpaceEx(u"C:\\", &s));
    EXPECT_EQ(s.totalFreeBytes, 2u * 1048576);

    platform::SetLastError(0);
    EXPECT_FALSE(v.GetDiskFreeSpaceEx(u"C:\\missing\\", &s));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(v.GetDiskFreeSpaceEx(u"Q:\\", &s));
}

TEST(Volumes, SpaceUsedByFilesSurvivesAReopen) {
    TempDir dir;
    {
        TestMachine m(PcWithVolumes(), dir.Path());
        auto f = Create(u"C:\\kept.bin");
        uint32_t written = 0;
        ASSERT_TRUE(f->Write(std::string(1000, 'x').data(), 1000, &written));
    }
    TestMachine again(PcWithVolumes(), dir.Path());
    platform::DiskFreeSpace s;
    ASSERT_TRUE(platform::Current().volumes->GetDiskFreeSpaceEx(u"C:\\", &s));
    EXPECT_EQ(s.totalFreeBytes, 2u * 1048576 - 1000);
}

TEST(Volumes, GeometryIsConsistentWithTheSize) {
    TestMachine m(PcWithVolumes());
    platform::Volumes& v = *platform::Current().volumes;
    struct Case {
        const char16_t* root;
        uint32_t bytesPerSector, sectorsPerCluster;
        uint64_t size, free;
    };
    const Case cases[] = {{u"C:\\", 512, 8, 120 * kGiB, 2 * 1048576},
                          {u"F:\\", 512, 16, 14 * kGiB, 7 * kGiB},  // FAT32 of 8..16 GiB: 8 KiB clusters
                          {u"G:\\", 2048, 1, 700 * 1048576, 0}};
    for (const Case& c : cases) {
        platform::DiskGeometry g;
        ASSERT_TRUE(v.GetDiskFreeSpace(c.root, &g)) << N(c.root);
        EXPECT_EQ(g.bytesPerSector, c.bytesPerSector) << N(c.root);
        EXPECT_EQ(g.sectorsPerCluster, c.sectorsPerCluster) << N(c.root);
        const uint64_t cluster = uint64_t{g.bytesPerSector} * g.sectorsPerCluster;
        EXPECT_EQ(g.totalNumberOfClusters, c.size / cluster) << N(c.root);
        EXPECT_EQ(g.numberOfFreeClusters, c.free / cluster) << N(c.root);
    }
}

struct VolumeNumber {
    bool ok = false;
    uint32_t error = 0;
    platform::StorageDeviceNumber n{};
};

VolumeNumber DeviceNumberOf(const std::u16string& volume) {
    VolumeNumber r;
    auto dev = platform::Current().devices->CreateFile(volume, 0, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                                       win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
    if (!dev) {
        r.error = platform::GetLastError();
        return r;
    }
    uint8_t out[12] = {};
    uint32_t returned = 0;
    r.ok = dev->DeviceIoControl(platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, out, &returned);
    r.error = r.ok ? 0 : platform::GetLastError();
    EXPECT_EQ(returned, r.ok ? 12u : 0u);
    std::memcpy(&r.n, out, 12);
    return r;
}

TEST(Volumes, VolumeDevicesTellTheirDiskAndExtent) {
    TestMachine m(PcWithVolumes());
    VolumeNumber c = DeviceNumberOf(u"\\\\.\\C:");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.n.DeviceType, platform::FILE_DEVICE_DISK);
    EXPECT_EQ(c.n.DeviceNumber, 0u);
    EXPECT_EQ(c.n.PartitionNumber, 1u);
    VolumeNumber d = DeviceNumberOf(u"\\\\.\\d:");
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.n.PartitionNumber, 2u);
    VolumeNumber cd = DeviceNumberOf(u"\\\\.\\G:");
    ASSERT_TRUE(cd.ok);
    EXPECT_EQ(cd.n.DeviceType, platform::FILE_DEVICE_CD_ROM) << "a CD is no disk volume";
    VolumeNumber stick = DeviceNumberOf(u"\\\\.\\F:");
    ASSERT_TRUE(stick.ok);
    EXPECT_EQ(stick.n.DeviceType, 0x2Du) << "removable mass storage: never counted as a disk's volume";
    EXPECT_EQ(stick.n.DeviceNumber, 1u) << "the USB disk's own number, never a SATA drive's";
    EXPECT_EQ(DeviceNumberOf(u"\\\\.\\Q:").error, win::ERROR_FILE_NOT_FOUND);

    auto dev = Open(u"\\\\.\\D:");
    ASSERT_TRUE(dev);
    uint8_t out[32] = {};
    uint32_t returned = 0;
    ASSERT_TRUE(dev->DeviceIoControl(platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, out, &returned));
    EXPECT_EQ(returned, 32u);
    uint32_t count = 0, disk = 9;
    uint64_t offset = 0, length = 0;
    std::memcpy(&count, out, 4);
    std::memcpy(&disk, out + 8, 4);
    std::memcpy(&offset, out + 16, 8);
    std::memcpy(&length, out + 24, 8);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(disk, 0u);
    EXPECT_EQ(offset, 1048576 + 120 * kGiB) << "D: follows C: on the disk, 1 MiB aligned";
    EXPECT_EQ(length, 100 * kGiB);
    EXPECT_FALSE(dev->DeviceIoControl(platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, std::span(out).first(24), &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(dev->DeviceIoControl(platform::IOCTL_ATA_PASS_THROUGH, {}, out, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_FUNCTION);
    auto cdrom = Open(u"\\\\.\\G:");
    EXPECT_FALSE(cdrom->DeviceIoControl(platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, out, &returned));

    WmiAnswer logical = RunWql(u"SELECT * FROM Win32_LogicalDisk");
    ASSERT_EQ(logical.rows.size(), 4u);
    const int64_t types[] = {3, 3, 2, 5};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Int(*logical.rows[i], u"DriveType"), types[i]) << i;
    }
    EXPECT_EQ(Text(*logical.rows[3], u"FileSystem"), u"CDFS");
    EXPECT_EQ(Text(*logical.rows[0], u"Size"), u"128849018880");
    EXPECT_EQ(Int(*RunWql(u"SELECT * FROM Win32_DiskDrive WHERE Index = 0").rows.at(0), u"Partitions"), 2);
}

TEST(Volumes, ProfileErrorsNameTheirField) {
    struct Case {
        std::function<void(json&)> change;
        std::string where;
    };
    const Case cases[] = {
        {[](json& p) { p["volumes"][0]["letter"] = "CD"; }, "$.volumes[0].letter"},
        {[](json& p) { p["volumes"][1]["letter"] = "D"; }, "$.volumes[1].letter"},
        {[](json& p) { p["volumes"][1]["letter"] = "c"; }, "$.volumes[1].letter"},  // upper case only
        {[](json& p) { p["volumes"][0]["disk"] = 7; }, "$.volumes[0].disk"},
        {[](json& p) { p["volumes"][0]["freeBytes"] = 200 * kGiB; }, "$.volumes[0].freeBytes"},
        {[](json& p) { p["volumes"][0]["sizeBytes"] = 300 * kGiB; }, "$.volumes[0].sizeBytes"},
        {[](json& p) { p["volumes"][0]["fileSystem"] = "ext4"; }, "$.volumes[0].fileSystem"},
        {[](json& p) { p["volumes"][3]["disk"] = 0; }, "$.volumes[3].disk"},
        {[](json& p) { p["volumes"][0]["partition"] = 1; }, "$.volumes[1].partition"},
        {[](json& p) { p["volumes"][0]["offsetBytes"] = 1048576; }, "$.volumes[0].offsetBytes"},
        {[](json& p) { p["volumes"].erase(1); }, "$.volumes"},
        {[](json& p) { p["volumes"][0]["colour"] = "red"; }, "$.volumes[0].colour"},
        {[](json& p) { p["hardware"] = {{"controllers", json::array({{{"name", "X"}, {"pnpDeviceId", "PCI\\VEN_1\\1"},
                                                                      {"classCode", "010601"}, {"disks", {1}}}})}}; },
         "$.hardware.controllers[0].disks[0]"},
        {[](json& p) { p["hardware"] = {{"controllers", json::array({{{"name", "X"}, {"pnpDeviceId", "PCI\\VEN_1\\1"},
                                                                      {"classCode", "01060"}}})}}; },
         "$.hardware.controllers[0].classCode"},
        {[](json& p) { p["hardware"] = {{"processors", json::array({{{"addressWidth", 48}}})}}; },
         "$.hardware.processors[0].addressWidth"},
    };
    for (const Case& c : cases) {
        json p = PcWithVolumes();
        c.change(p);
        auto loaded = sim::LoadMachineProfile(p.dump(), "pc", "pc.json");
        EXPECT_FALSE(loaded.profile) << c.where;
        EXPECT_EQ(loaded.error.rfind("pc.json: " + c.where + ": ", 0), 0u) << loaded.error;
    }
}

TEST(Volumes, ASmallProfileStillGetsItsSystemDrive) {
    TestMachine m;
    EXPECT_EQ(platform::Current().volumes->GetLogicalDriveStrings(), std::vector<std::u16string>{u"C:\\"});
    platform::DiskFreeSpace s;
    ASSERT_TRUE(platform::Current().volumes->GetDiskFreeSpaceEx(u"C:\\", &s));
    EXPECT_GT(s.totalFreeBytes, 0u);
    EXPECT_LE(s.totalFreeBytes, s.totalBytes);
    EXPECT_EQ(DeviceNumberOf(u"\\\\.\\C:").error, win::ERROR_INVALID_FUNCTION) << "a PC without disks";
    EXPECT_EQ(RunWql(u"SELECT * FROM Win32_IDEController").rows.size(), 1u) << "a PC has its AHCI controller";
}

TEST(FileVersions, ReadTheRecordOfTheFileBehindAName) {
    TempDir host;
    const auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(host.Path() / name, std::ios::binary) << bytes;
        return host.Path() / name;
    };
    sim::SimOptions options;
    options.velmoraHostFile = write("SSDVelmora", std::string("MZ\0\0", 4) + "TARVEX-FILE-VERSION:2.5.31.7" + std::string(1, '\0'));
    TestMachine m(BaseProfile(), options);
    platform::FileVersions& v = *platform::Current().fileVersions;
    auto found = v.GetFileVersionInfo(u"SSDVelmora.exe");
    ASSERT_TRUE(found) << "a relative name is found in the program's folder";
    EXPECT_EQ(found->fileVersionMS, (2u << 16) | 5u);
    EXPECT_EQ(found->fileVersionLS, (31u << 16) | 7u);
    EXPECT_EQ(found->productVersionMS, found->fileVersionMS);
    EXPECT_TRUE(v.GetFileVersionInfo(u"C:\\TOOLS\\ssdvelmora.EXE")) << "names ignore case";

    auto own = v.GetFileVersionInfo(u"Tarvex.exe");
    ASSERT_TRUE(own) << "the running program carries its record";

    // A file without a record, and a name that finds nothing.
    {
        auto f = platform::Current().files->CreateFile(u"C:\\Tools\\plain.dll", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0);
        uint32_t written = 0;
        ASSERT_TRUE(f->Write("TARVEX-FILE-VERSION:1.2", 23, &written));
    }
    platform::SetLastError(0);
    EXPECT_FALSE(v.GetFileVersionInfo(u"plain.dll"));
    EXPECT_EQ(platform::GetLastError(), 1813u);
    EXPECT_FALSE(v.GetFileVersionInfo(u"missing.exe"));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_FILE_NOT_FOUND);

    TestMachine plain;
    EXPECT_FALSE(platform::Current().fileVersions->GetFileVersionInfo(u"SSDVelmora.exe"))
        << "without the file the name finds nothing";
}

}  // namespace
}  // namespace tarvex::test
