// The partition tables in the emulated disks' first sectors: MBR entries that match the
// profile's volumes, the GPT behind its protective MBR with valid checksums and a backup copy,
// uninitialised disks, erased and trimmed sectors, and the layouts a profile may not ask for.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>

#include "platform/sim/devices/partition_table.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/sim/machine_profile.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kGiB = 1024 * kMiB;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

uint64_t Le64(const uint8_t* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// A plain bitwise CRC-32, written apart from the one the drives use, so that both must agree.
uint32_t ReferenceCrc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// Reads `sectors` sectors from `lba` of \\.\PhysicalDrive<disk>, as the report opens it.
std::vector<uint8_t> ReadRaw(uint32_t disk, uint64_t lba, uint32_t sectors = 1) {
    auto dev = platform::Current().devices->CreateFile(u"\\\\.\\PhysicalDrive" + platform::Utf8ToUtf16(std::to_string(disk)),
                                                       win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                                       win::OPEN_EXISTING, 0);
    EXPECT_TRUE(dev) << "disk " << disk;
    std::vector<uint8_t> out(512 * sectors, 0xCC);
    if (!dev) {
        return out;
    }
    uint32_t got = 0;
    EXPECT_TRUE(dev->SetPosition(lba * 512));
    EXPECT_TRUE(dev->Read(out.data(), static_cast<uint32_t>(out.size()), &got));
    EXPECT_EQ(got, out.size());
    return out;
}

json Volume(const char* letter, int disk, int partition, uint64_t offset, uint64_t size, const char* fs = "NTFS") {
    return {{"letter", letter}, {"disk", disk},         {"partition", partition},
            {"offsetBytes", offset}, {"sizeBytes", size}, {"fileSystem", fs}};
}

json Nvme(int number, const char* style) {
    return {{"number", number}, {"kind", "nvme"}, {"model", "VARNO NV10 512GB"}, {"serial", "NV" + std::to_string(number)},
            {"firmware", "E8FK11.5"}, {"capacityBytes", 512110190592ull}, {"partitionStyle", style}};
}

struct Entry {
    uint8_t status, type;
    std::array<uint8_t, 3> chsFirst, chsLast;
    uint32_t first, count;
};

Entry MbrEntry(const std::vector<uint8_t>& s, int i) {
    const uint8_t* e = s.data() + 446 + 16 * i;
    return {e[0], e[4], {e[1], e[2], e[3]}, {e[5], e[6], e[7]}, Le32(e + 8), Le32(e + 12)};
}

TEST(PartitionTable, MbrEntriesFollowTheVolumesOfTheirDisk) {
    json p = ProfileWithDisks(json::array({SataDiskJson(0), Nvme(1, "mbr")}));
    p["volumes"] = json::array({Volume("C", 0, 1, kMiB, 100 * kGiB), Volume("D", 0, 2, 101 * kGiB, 50 * kGiB, "FAT32"),
                                Volume("E", 0, 4, 151 * kGiB, 8 * kMiB, "FAT"), Volume("X", 1, 2, 101 * kMiB, kGiB)});
    TestMachine m(p);
    const std::vector<uint8_t> s = ReadRaw(0, 0);
    const sim::DiskProfile& disk = m->Devices().Disk(0)->Profile();
    EXPECT_EQ(Le32(s.data() + 440), sim::MbrDiskSignature(disk));
    EXPECT_NE(sim::MbrDiskSignature(disk), 0u);
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);

    const Entry c = MbrEntry(s, 0);
    EXPECT_EQ(c.status, 0x80) << "the system drive's partition is the active one";
    EXPECT_EQ(c.type, 0x07);
    EXPECT_EQ(c.first, 2048u);
    EXPECT_EQ(c.count, 100 * kGiB / 512);
    // LBA 2048 with 255 heads and 63 sectors: cylinder 0, head 32, sector 33.
    EXPECT_EQ(c.chsFirst, (std::array<uint8_t, 3>{32, 33, 0}));
    EXPECT_EQ(c.chsLast, (std::array<uint8_t, 3>{0xFE, 0xFF, 0xFF})) << "beyond 1024 cylinders";

    const Entry d = MbrEntry(s, 1);
    EXPECT_EQ(d.status, 0x00);
    EXPECT_EQ(d.type, 0x0C) << "FAT32 with LBA";
    EXPECT_EQ(d.first, 101 * kGiB / 512);
    EXPECT_EQ(d.count, 50 * kGiB / 512);
    EXPECT_EQ(d.chsFirst, (std::array<uint8_t, 3>{0xFE, 0xFF, 0xFF}));

    const Entry none = MbrEntry(s, 2);
    EXPECT_EQ(none.type, 0) << "partition 3 is not in the profile and has no room: an empty slot";
    EXPECT_EQ(none.first, 0u);
    EXPECT_EQ(none.count, 0u);
    const Entry e = MbrEntry(s, 3);
    EXPECT_EQ(e.type, 0x0E) << "FAT16 beyond what CHS reaches uses the LBA type";
    EXPECT_EQ(e.first, 151 * kGiB / 512);

    // A small partition low on the disk gets computed CHS values on both ends.
    EXPECT_EQ(sim::ChsBytes(16450559), (std::array<uint8_t, 3>{254, 0xFF, 0xFF}));  // C 1023 H 254 S 63
    EXPECT_EQ(sim::ChsBytes(16065), (std::array<uint8_t, 3>{0, 1, 1}));            // C 1 H 0 S 1
    EXPECT_EQ(sim::ChsBytes(16450560), (std::array<uint8_t, 3>{0xFE, 0xFF, 0xFF}));

    // Partition 1 of disk 1 is no volume but has 100 MiB of room before partition 2: a
    // partition without a letter, not active off the system disk.
    const std::vector<uint8_t> second = ReadRaw(1, 0);
    EXPECT_NE(Le32(second.data() + 440), Le32(s.data() + 440)) << "each disk has its own signature";
    const Entry reserved = MbrEntry(second, 0);
    EXPECT_EQ(reserved.type, 0x07);
    EXPECT_EQ(reserved.status, 0x00);
    EXPECT_EQ(reserved.first, 2048u);
    EXPECT_EQ(reserved.count, 100 * kMiB / 512);
    EXPECT_EQ(reserved.chsLast, sim::ChsBytes(2048 + 100 * kMiB / 512 - 1)) << "computed below 1024 cylinders";
    EXPECT_EQ(MbrEntry(second, 1).first, 101 * kMiB / 512);

    // A disk without volumes still carries a signature and the boot signature, nothing else.
    json bare = ProfileWithDisks(json::array({SataDiskJson(0)}));
    TestMachine b(bare);
    const std::vector<uint8_t> empty = ReadRaw(0, 0);
    EXPECT_EQ(Le32(empty.data() + 440), sim::MbrDiskSignature(b->Devices().Disk(0)->Profile()));
    EXPECT_NE(Le32(empty.data() + 440), 0u);
    EXPECT_EQ(empty[510], 0x55);
    EXPECT_EQ(empty[511], 0xAA);
    EXPECT_TRUE(std::all_of(empty.begin(), empty.begin() + 440, [](uint8_t b) { return b == 0; }));

    // The sector after the table is data as before.
    const std::vector<uint8_t> next = ReadRaw(0, 1);
    EXPECT_LT(std::count(next.begin(), next.end(), 0), 512);
}

TEST(PartitionTable, GptHasAProtectiveMbrValidHeadersAndEntries) {
    json p = ProfileWithDisks(json::array({SataDiskJson(0), Nvme(1, "gpt")}));
    p["volumes"] = json::array({Volume("C", 0, 1, kMiB, 100 * kGiB), Volume("H", 1, 2, 17 * kMiB, 200 * kGiB),
                                Volume("I", 1, 3, 201 * kGiB, 10 * kGiB, "exFAT")});
    TestMachine m(p);
    const sim::DiskProfile& disk = m->Devices().Disk(1)->Profile();
    const uint64_t last = disk.capacitySectors - 1;

    // What the report reads: 1024 bytes from 0, the protective MBR and the header.
    const std::vector<uint8_t> head = ReadRaw(1, 0, 2);
    EXPECT_EQ(head[450], 0xEE);
    EXPECT_EQ(head[446], 0x00) << "the protective partition is not active";
    EXPECT_EQ(Le32(head.data() + 454), 1u);
    EXPECT_EQ(Le32(head.data() + 458), static_cast<uint32_t>(std::min<uint64_t>(last, 0xFFFFFFFFu)));
    EXPECT_TRUE(std::all_of(head.begin() + 462, head.begin() + 510, [](uint8_t b) { return b == 0; }))
        << "one entry only";
    EXPECT_EQ(head[510], 0x55);
    EXPECT_EQ(head[511], 0xAA);

    const std::vector<uint8_t> entries = ReadRaw(1, 2, 32);
    auto checkHeader = [&](const uint8_t* h, uint64_t my, uint64_t alternate, uint64_t entriesLba) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(h), 8), "EFI PART");
        EXPECT_EQ(Le32(h + 8), 0x00010000u);
        EXPECT_EQ(Le32(h + 12), 92u);
        std::array<uint8_t, 92> copy{};
        std::copy_n(h, 92, copy.begin());
        std::fill_n(copy.begin() + 16, 4, 0);
        EXPECT_EQ(Le32(h + 16), ReferenceCrc32(copy.data(), copy.size())) << "header CRC";
        EXPECT_EQ(Le32(h + 20), 0u);
        EXPECT_EQ(Le64(h + 24), my);
        EXPECT_EQ(Le64(h + 32), alternate);
        EXPECT_EQ(Le64(h + 40), 34u);
        EXPECT_EQ(Le64(h + 48), last - 33);
        EXPECT_TRUE(std::equal(h + 56, h + 72, sim::GptDiskGuid(disk).begin()));
        EXPECT_EQ(Le64(h + 72), entriesLba);
        EXPECT_EQ(Le32(h + 80), 128u);
        EXPECT_EQ(Le32(h + 84), 128u);
        EXPECT_EQ(Le32(h + 88), ReferenceCrc32(entries.data(), entries.size())) << "entry array CRC";
        EXPECT_TRUE(std::all_of(h + 92, h + 512, [](uint8_t b) { return b == 0; }));
    };
    checkHeader(head.data() + 512, 1, last, 2);

    const uint8_t* unused = entries.data();  // partition 1 is not in the profile
    EXPECT_TRUE(std::all_of(unused, unused + 128, [](uint8_t b) { return b == 0; }));
    for (int partition : {2, 3}) {
        const uint8_t* e = entries.data() + 128 * (partition - 1);
        EXPECT_TRUE(std::equal(e, e + 16, sim::kBasicDataPartitionType.begin())) << partition;
        const sim::Guid unique = sim::GptPartitionGuid(disk, static_cast<uint32_t>(partition));
        EXPECT_TRUE(std::equal(e + 16, e + 32, unique.begin())) << partition;
        EXPECT_EQ(unique[7] >> 4, 4) << "version 4 form";
        EXPECT_EQ(unique[8] & 0xC0, 0x80);
        std::u16string name;
        for (int k = 0; k < 36 && (e[56 + 2 * k] | e[57 + 2 * k]) != 0; ++k) {
            name.push_back(static_cast<char16_t>(e[56 + 2 * k] | (e[57 + 2 * k] << 8)));
        }
        EXPECT_EQ(name, u"Basic data partition");
    }
    const uint8_t* h = entries.data() + 128;
    EXPECT_EQ(Le64(h + 32), 17 * kMiB / 512);
    EXPECT_EQ(Le64(h + 40), (17 * kMiB + 200 * kGiB) / 512 - 1) << "the last LBA is inclusive";
    EXPECT_EQ(Le64(h + 48), 0u);
    EXPECT_FALSE(std::equal(entries.begin() + 144, entries.begin() + 160, entries.begin() + 272))
        << "partitions have their own GUIDs";
    EXPECT_NE(sim::GptPartitionGuid(disk, 2), sim::GptDiskGuid(disk));
    EXPECT_EQ(sim::GuidText(sim::kBasicDataPartitionType), "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}");

    // The backup: the same entries before the last sector, the header in it, pointing back.
    const std::vector<uint8_t> backupEntries = ReadRaw(1, last - 32, 32);
    EXPECT_EQ(backupEntries, entries);
    const std::vector<uint8_t> backup = ReadRaw(1, last);
    checkHeader(backup.data(), last, 1, last - 32);
}

TEST(PartitionTable, UninitialisedErasedAndTrimmedSectorsReadAsZeros) {
    json sata = SataDiskJson(0);
    sata["sata"] = {{"security", {{"eraseMinutes", 2}, {"eraseSeconds", 10}}}};
    json blank = SataDiskJson(1);
    blank["serial"] = "VR0000000002";
    blank["partitionStyle"] = "none";
    json gpt = Nvme(2, "gpt");
    json p = ProfileWithDisks(json::array({sata, blank, gpt}));
    p["volumes"] = json::array({Volume("C", 0, 1, kMiB, 100 * kGiB)});
    {
        TestMachine m(p);
        const std::vector<uint8_t> none = ReadRaw(1, 0);
        EXPECT_EQ(std::count(none.begin(), none.end(), 0), 512) << "an uninitialised disk has no table";
        const std::vector<uint8_t> data = ReadRaw(1, 1);
        EXPECT_LT(std::count(data.begin(), data.end(), 0), 512);

        // TRIM of sector 0 (one range entry: LBA 0, one sector) takes the table sector with it;
        // the other disks keep theirs.
        std::vector<uint8_t> ranges(512, 0);
        const uint64_t range = 0 | (uint64_t{1} << 48);
        std::memcpy(ranges.data(), &range, 8);
        ASSERT_FALSE(DataOut(kDrive0, Regs(0x06, 1, 1, 0, 0, 0, 0), ranges).Aborted());
        const std::vector<uint8_t> trimmed = ReadRaw(0, 0);
        EXPECT_EQ(std::count(trimmed.begin(), trimmed.end(), 0), 512) << "a trimmed table sector reads as zeros";
        EXPECT_EQ(ReadRaw(2, 0)[450], 0xEE);
    }

    // After a security erase the table is gone with the rest of the data.
    TestMachine erased(p);
    ASSERT_EQ(ReadRaw(0, 0)[510], 0x55);
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("PW")).Aborted());
    ASSERT_FALSE(NoData(kDrive0, Regs(0xF3)).Aborted());
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF4), PasswordBlock("PW")).Aborted());
    {
        // While the erase runs the media is out of reach.
        auto dev = Open(kDrive0);
        std::vector<uint8_t> sector(512);
        uint32_t got = 1;
        EXPECT_FALSE(dev->Read(sector.data(), 512, &got));
        EXPECT_EQ(platform::GetLastError(), win::ERROR_IO_DEVICE);
        EXPECT_EQ(got, 0u);
    }
    // Once the clock has passed its end, the first thing that reads sees it done: no ATA
    // command needs to come first.
    erased->Clock().Sleep(11000);
    const std::vector<uint8_t> gone = ReadRaw(0, 0);
    EXPECT_EQ(std::count(gone.begin(), gone.end(), 0), 512);
    EXPECT_FALSE(erased->Devices().Sata(0)->State().hasUserData);
}

TEST(PartitionTable, ProfilesAskingForImpossibleLayoutsAreRefused) {
    struct Case {
        std::function<void(json&)> change;
        std::string path;
        std::string words;
    };
    const Case cases[] = {
        {[](json& p) { p["volumes"][0]["partition"] = 5; }, "$.volumes[0]", "partitions 1 to 4"},
        {[](json& p) {
             p["disks"][0]["capacityBytes"] = 3ull * 1024 * kGiB;
             p["volumes"][0]["offsetBytes"] = 2ull * 1024 * kGiB;
         },
         "$.volumes[0]", "2 TiB"},
        {[](json& p) {
             p["disks"][0]["partitionStyle"] = "gpt";
             p["volumes"][0]["offsetBytes"] = 512 * 20;
         },
         "$.volumes[0]", "sector 34"},
        {[](json& p) {
             p["disks"][0]["partitionStyle"] = "gpt";
             p["volumes"][0]["offsetBytes"] = 256060514304ull - 100 * kGiB;
         },
         "$.volumes[0]", "backup GPT"},
        {[](json& p) { p["disks"][0]["partitionStyle"] = "none"; }, "$.volumes[0]", "holds no partitions"},
        {[](json& p) { p["disks"][0]["partitionStyle"] = "apm"; }, "$.disks[0].partitionStyle", "mbr, gpt, none"},
        {[](json& p) {
             p["disks"][0]["partitionStyle"] = "gpt";
             p["disks"][0].erase("capacityBytes");
             p["disks"][0]["capacitySectors"] = 60;
             p["volumes"] = json::array();
             p["volumes"].push_back(Volume("C", 0, 1, kMiB, kMiB));
         },
         "$.disks[0].partitionStyle", "68 sectors"},
    };
    for (const Case& c : cases) {
        json p = ProfileWithDisks(json::array({SataDiskJson(0)}));
        p["volumes"] = json::array({Volume("C", 0, 1, kMiB, 100 * kGiB)});
        c.change(p);
        auto r = sim::LoadMachineProfile(p.dump(), "t", "t.json");
        ASSERT_FALSE(r.profile) << c.path;
        EXPECT_NE(r.error.find("t.json: " + c.path + ": "), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(c.words), std::string::npos) << r.error;
    }
    // The default volume of a PC that lists none lies on an MBR disk and is accepted.
    EXPECT_TRUE(sim::LoadMachineProfile(ProfileWithDisks(json::array({SataDiskJson(0)})).dump(), "t", "t.json").profile);
}

TEST(PartitionTable, TheDemoPcHasAnMbrSystemDiskAndAGptNvmeDisk) {
    TestMachine m(json::parse(sim::FindEmbeddedProfile("demo")->text));
    const std::vector<uint8_t> mbr = ReadRaw(0, 0);
    EXPECT_NE(mbr[450], 0xEE);
    // Windows boots from the 100 MiB partition 1 without a letter; C: is partition 2, D: 3.
    EXPECT_EQ(MbrEntry(mbr, 0).status, 0x80);
    EXPECT_EQ(MbrEntry(mbr, 0).first, 2048u);
    EXPECT_EQ(MbrEntry(mbr, 0).count, 100 * kMiB / 512);
    EXPECT_EQ(MbrEntry(mbr, 1).status, 0x00);
    EXPECT_EQ(MbrEntry(mbr, 1).first, 105906176u / 512);
    EXPECT_EQ(MbrEntry(mbr, 2).status, 0x00);
    EXPECT_EQ(MbrEntry(mbr, 2).type, 0x07);
    EXPECT_EQ(MbrEntry(ReadRaw(3, 0), 0).type, 0x0C) << "the FAT32 volume E:";

    const std::vector<uint8_t> gpt = ReadRaw(2, 0, 2);
    EXPECT_EQ(gpt[450], 0xEE);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(gpt.data() + 512), 8), "EFI PART");
    const std::vector<uint8_t> entries = ReadRaw(2, 2, 32);
    for (const sim::VolumeProfile& v : m->Volumes().List()) {
        if (v.kind == sim::VolumeKind::Partition && v.disk == 2) {
            const uint8_t* e = entries.data() + 128 * (v.partition - 1);
            EXPECT_EQ(Le64(e + 32), v.offsetBytes / 512) << static_cast<char>(v.letter);
            EXPECT_EQ(Le64(e + 40), (v.offsetBytes + v.sizeBytes) / 512 - 1);
        }
    }
}

}  // namespace
}  // namespace tarvex::test
