// SATA disks that replay the pages of real drives: the dumps in the shared folder come back
// byte for byte, profile fields that disagree with a page are refused, and only the bytes that
// follow the drive's state change.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstdlib>

#include "platform/sim/devices/page_dump.h"
#include "support/child_process.h"
#include "platform_sim/devices/device_requests.h"
#include "platform_sim/devices/sample_pages.h"

namespace tarvex::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using sim::RawPage;
using namespace sample_pages;

std::optional<fs::path> RealDrivesFolder() {
    const char* env = std::getenv("TARVEX_REALWORLD_DRIVES");
    const fs::path folder = env != nullptr && *env != '\0' ? fs::path(env)
                                                           : fs::path(TARVEX_SOURCE_DIR) / ".." / "shared" / "realworld-drives";
    std::error_code ec;
    if (fs::is_directory(folder, ec)) {
        return folder;
    }
    return std::nullopt;
}


sim::ProfileLoadResult Load(const json& disk) {
    return sim::LoadMachineProfile(ProfileWithDisks(json::array({disk})).dump(), "t", "t.json");
}

std::string Refusal(const json& disk) {
    auto r = Load(disk);
    EXPECT_FALSE(r.profile) << "accepted: " << disk.dump();
    return r.error.substr(std::min<size_t>(r.error.size(), std::string("t.json: ").size()));
}

bool ReturnStatusExceeded(const std::u16string& drive) {
    AtaReply r = NoData(drive, SmartRegs(0xDA));
    EXPECT_FALSE(r.Aborted());
    EXPECT_TRUE((r.regs.lbaMid == 0x4F && r.regs.lbaHigh == 0xC2) || (r.regs.lbaMid == 0xF4 && r.regs.lbaHigh == 0x2C))
        << fmt::format("{:02X}/{:02X}", r.regs.lbaMid, r.regs.lbaHigh);
    return r.regs.lbaMid == 0xF4 && r.regs.lbaHigh == 0x2C;
}

TEST(PageReplay, RealDrivesAnswerWithTheirOwnBytes) {
    auto folder = RealDrivesFolder();
    if (!folder) {
        if (UnderCi()) {
            FAIL() << "the folder of real drives' dumps is missing (set TARVEX_REALWORLD_DRIVES)";
        }
        GTEST_SKIP() << "no real drives' dumps here (set TARVEX_REALWORLD_DRIVES)";
    }
    struct Known {
        const char* file;
        const char* model;
        const char* serial;
        const char* firmware;
    };
    const Known known[] = {
        {"INTEL_SSDSA2CW120G3--4PC10302.blob", "INTEL SSDSA2CW120G3", "CVPR109301UZ120LGN", "4PC10302"},
        {"INTEL_SSDSA2MH080G1GC--045C8820.blob", "INTEL SSDSA2MH080G1GC", "CVEM842101HD080DGN", "045C8820"},
        {"MCCOE64GEMPP--2.9.09.blob", "MCCOE64GEMPP", "SE808N0608", "2.9.09"},
        {"SAMSUNG_MMCQE28G8MUP--0VA_VAM08L1Q.blob", "SAMSUNG MMCQE28G8MUP-0VA", "SE837A6888", "VAM08L1Q"},
    };
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(*folder)) {
        const fs::path file = entry.path();
        if (file.extension() != ".bin" && file.extension() != ".blob") {
            continue;
        }
        SCOPED_TRACE(file.filename().string());
        std::string error;
        auto dump = sim::ReadPageDump(file, &error);
        ASSERT_TRUE(dump) << error;
        ASSERT_TRUE(dump->identify);
        // A profile made from the dump alone, a drive read with security enabled included.
        json disk = PagedDisk({{"dumpFile", file.string()}});
        auto loaded = Load(disk);
        ASSERT_TRUE(loaded.profile) << loaded.error;
        const sim::DiskProfile& d = loaded.profile->disks[0];
        for (const Known& k : known) {
            if (file.filename() == k.file) {
                EXPECT_EQ(d.model, k.model);
                EXPECT_EQ(d.serial, k.serial);
                EXPECT_EQ(d.firmware, k.firmware);
            }
        }
        TestMachine m(ProfileWithDisks(json::array({disk})));
        for (int round = 0; round < 2; ++round) {
            AtaReply id = DataIn(kDrive0, Regs(0xEC));
            ASSERT_FALSE(id.Aborted());
            EXPECT_EQ(id.data, Bytes(*dump->identify)) << "IDENTIFY, round " << round;
            if (dump->smartData) {
                EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD0)).data, Bytes(*dump->smartData)) << "READ DATA";
                EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD1)).data, Bytes(*dump->smartThresholds)) << "READ THRESHOLDS";
            }
            if (dump->thresholdExceeded) {
                EXPECT_EQ(ReturnStatusExceeded(kDrive0), *dump->thresholdExceeded);
            }
            m->Clock().Advance(30 * 60 * 1000ull);  // half an hour: no whole hour on yet
        }
        ++replayed;
    }
    EXPECT_EQ(replayed, 6) << "the six dumps of the shared folder";
}

TEST(PageReplay, InlinePagesGiveTheAttributesAndReplayAsGiven) {
    auto loaded = Load(PagedDisk(InlinePages()));
    ASSERT_TRUE(loaded.profile) << loaded.error;
    const sim::DiskProfile& d = loaded.profile->disks[0];
    EXPECT_EQ(d.model, "DUMPED DISK");
    EXPECT_EQ(d.serial, "SN123");
    EXPECT_EQ(d.firmware, "FW1");
    EXPECT_EQ(d.capacitySectors, 0x100000u) << "words 100..103 with the 48-bit feature set";
    RawPage lba28 = IdentifyPage();
    Put(lba28, 83, 0x7001);
    auto small = Load(PagedDisk({{"identify", Hex(lba28)}}));
    ASSERT_TRUE(small.profile) << small.error;
    EXPECT_EQ(small.profile->disks[0].capacitySectors, 0xFFFFFu) << "words 60..61 without it";
    RawPage big = IdentifyPage();
    Put(big, 106, 0x5000);  // logical sectors of words 117..118: 2048 words
    Put(big, 117, 2048);
    auto fourK = Load(PagedDisk({{"identify", Hex(big)}}));
    ASSERT_TRUE(fourK.profile) << fourK.error;
    EXPECT_EQ(fourK.profile->disks[0].capacitySectors, 0x800000u) << "4096-byte logical sectors";
    EXPECT_EQ(d.sata.wwn, 0u);
    EXPECT_TRUE(d.sata.trim);
    EXPECT_EQ(d.sata.sataRevision, 6);
    EXPECT_EQ(d.sata.linkSpeed, 3);
    EXPECT_TRUE(d.sata.security.supported);
    EXPECT_TRUE(d.sata.security.enhancedErase);
    EXPECT_FALSE(d.sata.security.frozen);
    EXPECT_EQ(d.sata.security.eraseMinutes, 10u);
    EXPECT_TRUE(d.sata.microcode.supported);
    ASSERT_EQ(d.sata.attributes.size(), 4u) << "the empty slot is skipped, the repeated id kept";
    EXPECT_EQ(d.sata.attributes[0].id, 1);
    EXPECT_EQ(d.sata.attributes[0].threshold, 10) << "threshold of the same slot";
    EXPECT_EQ(d.sata.attributes[1].id, 9);
    EXPECT_EQ(d.sata.attributes[1].raw, 0xCDAB00000010u);
    EXPECT_EQ(d.sata.attributes[2].id, 9);
    EXPECT_EQ(d.sata.shortSelfTestSeconds, 60u);
    EXPECT_EQ(d.sata.extendedSelfTestSeconds, 300u * 60) << "byte 373 is FFh: the word at 375";

    TestMachine m(ProfileWithDisks(json::array({PagedDisk(InlinePages())})));
    EXPECT_EQ(DataIn(kDrive0, Regs(0xEC)).data, Bytes(IdentifyPage()));
    const AtaReply data = DataIn(kDrive0, SmartRegs(0xD0));
    EXPECT_EQ(data.data, Bytes(SmartDataPage())) << "vendor bytes and the wrong checksum stay";
    EXPECT_EQ(Sum(data.data), 5);
    EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD1)).data, Bytes(ThresholdPage()));
    EXPECT_FALSE(ReturnStatusExceeded(kDrive0)) << "attribute 1 (30) against slot 0's threshold 10";
    const AtaReply sct = DataIn(kDrive0, SmartRegs(0xD5, 1, 0xE0));
    ASSERT_FALSE(sct.Aborted());
    EXPECT_EQ(sct.data[200], 40) << "temperature from attribute 194 of the page";
}

TEST(PageReplay, ReturnStatusFollowsTheSlotThresholdsOrTheGivenStatus) {
    json pages = InlinePages();
    pages["smartThresholds"] = Hex(ThresholdPage(30));
    TestMachine exceeded(ProfileWithDisks(json::array({PagedDisk(pages), [] {
        json other = PagedDisk(InlinePages());
        other["number"] = 1;
        other["sata"]["pages"]["smartStatus"] = "thresholdExceeded";
        other["sata"]["pages"]["identify"] = Hex([] {
            RawPage p = IdentifyPage();
            PutText(p, 10, "SN456");  // another serial: another device-interface path
            SealTo(p, 0);
            return p;
        }());
        return other;
    }()})));
    EXPECT_TRUE(ReturnStatusExceeded(kDrive0)) << "attribute 1 at its threshold 30";
    EXPECT_TRUE(ReturnStatusExceeded(kDrive1)) << "the status the profile gives";
    pages["smartStatus"] = "good";
    TestMachine good(ProfileWithDisks(json::array({PagedDisk(pages)})));
    EXPECT_FALSE(ReturnStatusExceeded(kDrive0)) << "the given status wins over the page";
    pages["smartStatus"] = "bad";
    EXPECT_EQ(Refusal(PagedDisk(pages)),
              "$.disks[0].sata.pages.smartStatus: expected good or thresholdExceeded, found \"bad\"");
}

TEST(PageReplay, ProfileFieldsThatDisagreeWithThePagesAreRefusedByName) {
    auto with = [](const json& patch) {
        json d = PagedDisk(InlinePages());
        d.merge_patch(patch);
        return d;
    };
    const std::string page = ": disagrees with the IDENTIFY page (";
    EXPECT_EQ(Refusal(with({{"model", "OTHER"}})), "$.disks[0].model" + page + "\"DUMPED DISK\" there)");
    EXPECT_EQ(Refusal(with({{"serial", "SN124"}})), "$.disks[0].serial" + page + "\"SN123\" there)");
    EXPECT_EQ(Refusal(with({{"capacitySectors", 5}})), "$.disks[0].capacitySectors" + page + "1048576 sectors of 512 bytes there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"wwn", "5002538800001234"}}}})), "$.disks[0].sata.wwn" + page + "no WWN there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"trim", false}}}})), "$.disks[0].sata.trim" + page + "TRIM supported there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"sataRevision", "3.2"}}}})), "$.disks[0].sata.sataRevision" + page + "SATA 3.1 there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"linkSpeed", 3}}}})), "$.disks[0].sata.linkSpeed" + page + "6.0 Gb/s there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"security", {{"userPassword", "x"}}}}}})),
              "$.disks[0].sata.security.userPassword" + page + "security not enabled there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"security", {{"frozen", true}}}}}})),
              "$.disks[0].sata.security.frozen" + page + "not frozen there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"security", {{"eraseMinutes", 11}}}}}})),
              "$.disks[0].sata.security.eraseMinutes" + page + "10 minutes there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"microcode", {{"supported", false}}}}}})),
              "$.disks[0].sata.microcode.supported" + page + "DOWNLOAD MICROCODE supported there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"selfTest", {{"shortSeconds", 61}}}}}})),
              "$.disks[0].sata.selfTest.shortSeconds: disagrees with the SMART data page (1 minute there)");
    EXPECT_EQ(Refusal(with({{"sata", {{"identifyWords", {{"217", 1}}}}}})),
              "$.disks[0].sata.identifyWords: cannot be given together with an IDENTIFY page, which gives every word "
              "(change the page instead)");
    EXPECT_EQ(Refusal(with({{"sata", {{"smart", {{"attributes", json::array({{{"id", 1}}})}}}}}})),
              "$.disks[0].sata.smart.attributes: cannot be given together with a SMART data page, which lists the "
              "attributes");
    json enabled = PagedDisk(InlinePages());
    RawPage locked = IdentifyPage();
    Put(locked, 128, 0x0027);  // enabled and locked
    SealTo(locked, 0);
    enabled["sata"]["pages"]["identify"] = Hex(locked);
    auto unknown = Load(enabled);
    ASSERT_TRUE(unknown.profile) << "security enabled without a password in the profile: " << unknown.error;
    EXPECT_TRUE(unknown.profile->disks[0].sata.security.unknownUserPassword);
    enabled["sata"]["security"] = {{"userPassword", "QWERT"}};
    auto known = Load(enabled);
    ASSERT_TRUE(known.profile) << "with the password the page agrees";
    EXPECT_FALSE(known.profile->disks[0].sata.security.unknownUserPassword);

    // What agrees is taken as it is given.
    auto agreeing = Load(with({{"model", "DUMPED DISK"}, {"capacityBytes", 0x100000ull * 512}, {"firmware", "FW1"},
                               {"sata", {{"trim", true}, {"linkSpeed", 6}, {"security", {{"eraseMinutes", 9}}},
                                         {"selfTest", {{"shortSeconds", 50}}}}}}));
    ASSERT_TRUE(agreeing.profile) << agreeing.error;
    EXPECT_EQ(agreeing.profile->disks[0].sata.security.eraseMinutes, 9u) << "9 minutes are 10 in 2-minute units";
    EXPECT_EQ(agreeing.profile->disks[0].sata.shortSelfTestSeconds, 50u) << "50 s are 1 minute, rounded up";

    RawPage zeroCapacity = IdentifyPage();
    Put(zeroCapacity, 61, 0);
    Put(zeroCapacity, 101, 0);
    EXPECT_EQ(Refusal(PagedDisk({{"identify", Hex(zeroCapacity)}})),
              "$.disks[0].sata.pages: the IDENTIFY page gives 0 user-addressable sectors; a disk has from 1 to 2^48-1 "
              "sectors of 512 bytes");
}

TEST(PageReplay, LiveBytesFollowTheDriveAndKeepTheChecksumDistance) {
    RawPage noSignature = IdentifyPage();
    noSignature[510] = 0x00;
    noSignature[511] = 0x77;
    json second = PagedDisk({{"identify", Hex([&] {
                                  PutText(noSignature, 10, "SN789");
                                  return noSignature;
                              }())}});
    second["number"] = 1;
    TestMachine m(ProfileWithDisks(json::array({PagedDisk(InlinePages()), second})));

    // SMART data: attribute 9 grows in raw bytes 0..3 only, in every slot with id 9.
    m->Clock().Advance(5 * 3600 * 1000ull + 1000);
    std::vector<uint8_t> expected = Bytes(SmartDataPage());
    expected[2 + 24 + 5] = 0x15;
    expected[2 + 36 + 5] = 0x25;
    AtaReply data = DataIn(kDrive0, SmartRegs(0xD0));
    EXPECT_EQ(data.data[2 + 24 + 9], 0xAB) << "raw byte 4 kept";
    EXPECT_EQ(data.data[2 + 24 + 10], 0xCD) << "raw byte 5 kept";
    EXPECT_EQ(Sum(data.data), 5) << "the checksum stays as far off as the page had it";
    data.data[511] = expected[511];
    EXPECT_EQ(data.data, expected) << "nothing else changes";
    EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD1)).data, Bytes(ThresholdPage())) << "thresholds never change";

    // The self-test byte is the page's own until a test starts here, then it is the drive's.
    EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD0)).data[363], 0x25);
    ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
    data = DataIn(kDrive0, SmartRegs(0xD0));
    EXPECT_EQ(data.data[363], 0xF9) << "short test running, 90 % to go";
    EXPECT_EQ(Sum(data.data), 5);
    m->Clock().Advance(61 * 1000);
    data = DataIn(kDrive0, SmartRegs(0xD0));
    EXPECT_EQ(data.data[363], 0x00) << "the one-minute test of the page passed";
    EXPECT_EQ(Sum(data.data), 5);

    // IDENTIFY: security and write cache follow the drive; a valid checksum stays valid.
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("QWERT")).Aborted());
    AtaReply id = DataIn(kDrive0, Regs(0xEC));
    EXPECT_EQ(Word(id.data, 85) & 0x0002, 0x0002) << "security enabled";
    EXPECT_EQ(Word(id.data, 128), 0x0023) << "supported, enabled, enhanced erase";
    EXPECT_EQ(Sum(id.data), 0);
    // Without the signature byte nothing is resealed.
    ASSERT_FALSE(NoData(kDrive1, Regs(0xEF, 0x82)).Aborted());
    id = DataIn(kDrive1, Regs(0xEC));
    EXPECT_EQ(Word(id.data, 85) & 0x0020, 0) << "write cache off";
    EXPECT_EQ(id.data[511], 0x77);
}

TEST(PageReplay, AnIdentifyPageWithTheCacheOffOrTheMaximumLevelStartsThatWay) {
    RawPage p = IdentifyPage();
    Put(p, 85, 0x7449);     // write cache off
    Put(p, 128, 0x0121);    // level maximum, not enabled
    SealTo(p, 0);
    TestMachine m(ProfileWithDisks(json::array({PagedDisk({{"identify", Hex(p)}})})));
    EXPECT_EQ(DataIn(kDrive0, Regs(0xEC)).data, Bytes(p)) << "the first answer is the page itself";
    ASSERT_FALSE(NoData(kDrive0, Regs(0xEF, 0x02)).Aborted());
    EXPECT_EQ(Word(DataIn(kDrive0, Regs(0xEC)).data, 85) & 0x0020, 0x0020) << "write cache turned on";
}

// A page read with security enabled and no password in the profile: the drive keeps a user
// password nobody knows. An empty (all-zero) password must not pass for it; the master does.
TEST(PageReplay, SecurityEnabledWithoutAKnownPasswordUnlocksOnlyWithTheMaster) {
    RawPage p = IdentifyPage();
    Put(p, 85, 0x7469 | 0x0002);  // security enabled
    Put(p, 128, 0x0027);          // supported, enabled, locked, enhanced erase
    SealTo(p, 0);
    json disk = PagedDisk({{"identify", Hex(p)}});
    disk["sata"]["security"] = {{"masterPassword", "MASTER"}};
    TestMachine m(ProfileWithDisks(json::array({disk})));
    EXPECT_EQ(DataIn(kDrive0, Regs(0xEC)).data, Bytes(p)) << "comes up enabled and locked, as the page shows";
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("")).Aborted()) << "an empty user password";
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("MASTER")).Aborted()) << "the master sent as user";
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("MASTER", 1)).Aborted()) << "the master unlocks";
    EXPECT_EQ(Word(DataIn(kDrive0, Regs(0xEC)).data, 128) & 0x0006, 0x0002) << "enabled, no longer locked";
    // A password set now is known: it works from here on.
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("NEW")).Aborted());
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF6), PasswordBlock("")).Aborted()) << "DISABLE with a wrong password";
    EXPECT_FALSE(DataOut(kDrive0, Regs(0xF6), PasswordBlock("NEW")).Aborted()) << "DISABLE with the new one";
}

}  // namespace
}  // namespace tarvex::test
