// The emulated SATA SSD: IDENTIFY and SMART layouts, self-tests on the clock, security,
// TRIM, firmware download, vendor statistics and the state that survives a restart and a
// power cycle.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "platform/sim/devices/firmware_image.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;

std::string AtaText(const std::vector<uint8_t>& page, int firstWord, int words) {
    std::string s;
    for (int w = firstWord; w < firstWord + words; ++w) {
        s.push_back(static_cast<char>(page[2 * w + 1]));
        s.push_back(static_cast<char>(page[2 * w]));
    }
    return s;
}

TEST(SataDrive, IdentifyPageCarriesTheProfileInAtaLayout) {
    json d = SataDiskJson(0);
    d["capacitySectors"] = 500118192;
    d.erase("capacityBytes");
    d["sata"] = {{"wwn", "5002538800001234"}, {"sataRevision", "3.1"}, {"linkSpeed", 6},
                 {"security", {{"eraseMinutes", 60}, {"enhancedEraseMinutes", 1000}}},
                 {"microcode", {{"minBlocks", 1}, {"maxBlocks", 64}}},
                 {"identifyWords", {{"217", 7200}}}};
    TestMachine m(ProfileWithDisks(json::array({d})));
    AtaReply r = DataIn(kDrive0, Regs(0xEC));
    ASSERT_TRUE(r.ok);
    ASSERT_FALSE(r.Aborted());
    const auto& p = r.data;
    EXPECT_EQ(AtaText(p, 27, 20), "VARNO TL30A 256GB" + std::string(23, ' '));
    EXPECT_EQ(AtaText(p, 10, 10), "VR1234567890        ");
    EXPECT_EQ(AtaText(p, 23, 4), "1.08    ");
    EXPECT_EQ(p[54], 'A') << "first character of the model in the high byte of word 27";
    EXPECT_EQ(p[55], 'V');
    EXPECT_EQ(Word(p, 60) | (Word(p, 61) << 16), 0x0FFFFFFF) << "28-bit capacity saturates";
    EXPECT_EQ(Word(p, 100) | (uint64_t{Word(p, 101)} << 16), 500118192u);
    EXPECT_EQ(Word(p, 102), 0);
    EXPECT_EQ(Word(p, 77) & 0x0F, 0x06) << "6.0 Gb/s in bits 3..1, bit 0 clear";
    EXPECT_EQ(Word(p, 76) & 0x0E, 0x0E);
    EXPECT_EQ(Word(p, 222), 0x107F) << "serial transport, SATA revisions up to 3.1";
    EXPECT_EQ(Word(p, 108), 0x5002);
    EXPECT_EQ(Word(p, 109), 0x5388);
    EXPECT_EQ(Word(p, 110), 0x0000);
    EXPECT_EQ(Word(p, 111), 0x1234);
    EXPECT_EQ(Word(p, 82) & 0x0003, 0x0003) << "SMART and security supported";
    EXPECT_EQ(Word(p, 83) & 0x0001, 0x0001) << "DOWNLOAD MICROCODE supported";
    EXPECT_EQ(Word(p, 89), 30) << "60 minutes in 2-minute units";
    EXPECT_EQ(Word(p, 90), 255) << "more than 508 minutes";
    EXPECT_EQ(Word(p, 128), 0x0021) << "supported, enhanced erase supported";
    EXPECT_EQ(Word(p, 169) & 1, 1);
    EXPECT_EQ(Word(p, 217), 7200) << "raw override";
    EXPECT_EQ(Word(p, 234), 1);
    EXPECT_EQ(Word(p, 235), 64);
    EXPECT_EQ(p[510], 0xA5);
    EXPECT_EQ(Sum(p), 0) << "integrity checksum";
}

TEST(SataDrive, SmartPagesHoldSlotsSignaturesAndChecksums) {
    json d = SataDiskJson(0);
    d["model"] = "VARNO VQRB77 128GB";
    d["sata"] = {{"smart", {{"vendorSignature", "JMF608"},
                            {"attributes", {{{"id", 1}, {"flags", 0x0B}, {"current", 100}, {"worst", 99}, {"raw", 5}, {"threshold", 50}},
                                            {{"id", 9}, {"raw", 1000}},
                                            {{"id", 194}, {"raw", 0x2D}, {"current", 64}, {"threshold", 0}}}}}}};
    TestMachine m(ProfileWithDisks(json::array({d})));
    m->Clock().Advance(2 * 3600 * 1000ull);
    AtaReply data = DataIn(kDrive0, SmartRegs(0xD0));
    AtaReply thr = DataIn(kDrive0, SmartRegs(0xD1));
    ASSERT_FALSE(data.Aborted());
    ASSERT_FALSE(thr.Aborted());
    const auto& p = data.data;
    EXPECT_EQ(p[2], 1);
    EXPECT_EQ(p[3], 0x0B);
    EXPECT_EQ(p[5], 100);
    EXPECT_EQ(p[6], 99);
    EXPECT_EQ(p[7], 5);
    EXPECT_EQ(p[14], 9);
    EXPECT_EQ(p[19] | (p[20] << 8), 1002) << "power-on hours grow with the clock";
    EXPECT_EQ(p[26], 194);
    EXPECT_EQ(p[31], 0x2D);
    EXPECT_EQ(p[38], 0) << "slot 4 is empty";
    EXPECT_EQ(std::string(p.begin() + 396, p.begin() + 402), "JMF608");
    EXPECT_EQ(std::string(p.begin() + 375, p.begin() + 380), "JM608");
    EXPECT_EQ(p[363], 0) << "no self-test has run";
    EXPECT_EQ(Sum(p), 0);
    EXPECT_EQ(thr.data[2], 1);
    EXPECT_EQ(thr.data[3], 50);
    EXPECT_EQ(thr.data[26], 194);
    EXPECT_EQ(Sum(thr.data), 0);
    // Without the 4Fh/C2h signature the drive aborts SMART.
    AtaReply bad = DataIn(kDrive0, Regs(0xB0, 0xD0, 0, 0, 0, 0, 0));
    EXPECT_TRUE(bad.ok) << "the buffered call succeeds even when the drive aborts";
    EXPECT_EQ(bad.regs.command, 0x51);
    EXPECT_EQ(bad.regs.features, 0x04);
}

uint8_t SelfTestStatus() { return DataIn(kDrive0, SmartRegs(0xD0)).data[363]; }

TEST(SataDrive, SelfTestProgressesWithTheClockAndIsLogged) {
    json d = SataDiskJson(0);
    d["sata"] = {{"selfTest", {{"shortSeconds", 100}, {"extendedSeconds", 600},
                               {"failures", {{{"test", "extended"}, {"status", 7}, {"atPercent", 60}, {"failingLba", 123456}}}}}}};
    TestMachine m(ProfileWithDisks(json::array({d})));
    ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
    EXPECT_EQ(SelfTestStatus(), 0xF9);
    m->Clock().Sleep(25000);
    EXPECT_EQ(SelfTestStatus(), 0xF8);
    m->Clock().Sleep(50000);
    EXPECT_EQ(SelfTestStatus(), 0xF3) << "25 % left";
    m->Clock().Sleep(20000);
    EXPECT_EQ(SelfTestStatus(), 0xF1);
    m->Clock().Sleep(5000);
    EXPECT_EQ(SelfTestStatus(), 0x00) << "completed without error";

    // Extended: fails at 60 % with a read-element failure.
    ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 2, 2)).Aborted());
    m->Clock().Sleep(300000);
    EXPECT_EQ(SelfTestStatus() >> 4, 0xF);
    m->Clock().Sleep(60000);
    EXPECT_EQ(SelfTestStatus(), 0x74);

    // Abort.
    ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
    m->Clock().Sleep(10000);
    ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 0x7F, 0x7F)).Aborted());
    EXPECT_EQ(SelfTestStatus() >> 4, 1) << "aborted by the host";
    EXPECT_TRUE(NoData(kDrive0, SmartRegs(0xD4, 3, 3)).Aborted()) << "conveyance test is not offered";

    // The self-test log: newest last, with its index.
    AtaReply log = DataIn(kDrive0, Regs(0xB0, 0xD5, 1, 0x06, 0x4F, 0xC2, 0x40));
    ASSERT_FALSE(log.Aborted());
    const auto& p = log.data;
    EXPECT_EQ(p[508], 3);
    EXPECT_EQ(p[2], 1);
    EXPECT_EQ(p[3], 0x00);
    EXPECT_EQ(p[26], 2);
    EXPECT_EQ(p[27], 0x74);
    EXPECT_EQ(p[26 + 5] | (p[26 + 6] << 8) | (p[26 + 7] << 16), 123456);
    EXPECT_EQ(p[51] >> 4, 1);
    EXPECT_EQ(Sum(p), 0);
}

TEST(SataDrive, SctStatusAndCommandsThroughTheLogs) {
    TestMachine m(ProfileWithDisks(json::array({SataDiskJson(0)})));
    const auto readLog = [](uint8_t address) { return DataIn(kDrive0, Regs(0xB0, 0xD5, 1, address, 0x4F, 0xC2, 0x40)); };
    const auto writeLog = [](uint8_t address, const std::vector<uint8_t>& key) {
        return DataOut(kDrive0, Regs(0xB0, 0xD6, 1, address, 0x4F, 0xC2, 0x40), key);
    };
    AtaReply status = readLog(0xE0);
    ASSERT_FALSE(status.Aborted());
    EXPECT_EQ(Word(status.data, 0), 3) << "format version";
    EXPECT_EQ(status.data[200], 35) << "current temperature from attribute 194";
    EXPECT_TRUE(readLog(0xE1).Aborted()) << "no data-table command came first";

    std::vector<uint8_t> key(512, 0);
    key[0] = 4;  // data table
    key[2] = 1;  // read
    key[4] = 2;  // temperature history
    ASSERT_FALSE(writeLog(0xE0, key).Aborted());
    AtaReply table = readLog(0xE1);
    ASSERT_FALSE(table.Aborted());
    EXPECT_EQ(Word(table.data, 15), 478);
    EXPECT_EQ(table.data[34], 35);

    key.assign(512, 0);
    key[0] = 3;  // feature control: temperature logging interval, set to 10
    key[2] = 1;
    key[4] = 3;
    key[6] = 10;
    ASSERT_FALSE(writeLog(0xE0, key).Aborted());
    key[2] = 2;  // get
    AtaReply get = writeLog(0xE0, key);
    ASSERT_FALSE(get.Aborted());
    EXPECT_EQ(get.regs.sectorCount, 10);
    key[0] = 9;  // unknown action
    EXPECT_TRUE(writeLog(0xE0, key).Aborted());
    EXPECT_EQ(Word(readLog(0xE0).data, 7), 0x0001) << "the SCT status reports the refusal";
}

TEST(SataDrive, SecurityStateMachine) {
    json d = SataDiskJson(0);
    d["sata"] = {{"security", {{"eraseMinutes", 4}, {"eraseSeconds", 90}, {"masterPassword", "MASTER"}}}};
    TestMachine m(ProfileWithDisks(json::array({d})));
    const auto w128 = [] { return Word(DataIn(kDrive0, Regs(0xEC)).data, 128); };
    EXPECT_EQ(w128(), 0x0021);

    EXPECT_TRUE(NoData(kDrive0, Regs(0xF4)).Aborted()) << "ERASE UNIT without data and prepare";
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("QWERT")).Aborted());
    EXPECT_EQ(w128(), 0x0023) << "enabled";

    // ERASE PREPARE must come immediately before ERASE UNIT.
    ASSERT_FALSE(NoData(kDrive0, Regs(0xF3)).Aborted());
    ASSERT_FALSE(NoData(kDrive0, Regs(0xE7)).Aborted());
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF4), PasswordBlock("QWERT")).Aborted());
    ASSERT_FALSE(NoData(kDrive0, Regs(0xF3)).Aborted());
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF4), PasswordBlock("WRONG")).Aborted()) << "wrong password";
    ASSERT_FALSE(NoData(kDrive0, Regs(0xF3)).Aborted());
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF4), PasswordBlock("QWERT")).Aborted());
    EXPECT_EQ(w128() & 0x0002, 0x0002) << "still enabled while the erase runs";
    EXPECT_TRUE(NoData(kDrive0, Regs(0xEA)).Aborted()) << "busy erasing";
    m->Clock().Sleep(60000);
    EXPECT_EQ(w128() & 0x0002, 0x0002);
    m->Clock().Sleep(30000);
    EXPECT_EQ(w128(), 0x0021) << "erase done: password gone";
    EXPECT_FALSE(m->Devices().Sata(0)->State().hasUserData);
    EXPECT_FALSE(NoData(kDrive0, Regs(0xEA)).Aborted());

    // Disable password, master password erase.
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("ABC")).Aborted());
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF6), PasswordBlock("XYZ")).Aborted());
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF6), PasswordBlock("ABC")).Aborted());
    EXPECT_EQ(w128(), 0x0021);
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF6), PasswordBlock("ABC")).Aborted()) << "nothing to disable";

    // Frozen refuses everything but FREEZE LOCK.
    ASSERT_FALSE(NoData(kDrive0, Regs(0xF5)).Aborted());
    EXPECT_EQ(w128(), 0x0029);
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("ABC")).Aborted());
    EXPECT_TRUE(NoData(kDrive0, Regs(0xF3)).Aborted());
    EXPECT_TRUE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("ABC")).Aborted());
    EXPECT_FALSE(NoData(kDrive0, Regs(0xF5)).Aborted());
}

TEST(SataDrive, PasswordLocksTheDriveAtAPowerCycleNotAtARestart) {
    TempDir dir;
    const json profile = ProfileWithDisks(json::array({SataDiskJson(0)}));
    const auto w128 = [] { return Word(DataIn(kDrive0, Regs(0xEC)).data, 128); };
    std::vector<uint8_t> ranges(512, 0);
    ranges[0] = 1;
    ranges[6] = 1;
    const auto trimRefused = [&] { return SendAta(kDrive0, Regs(0x06, 1, 1), 0x1C, 512, ranges).Aborted(); };
    {
        TestMachine m(profile, dir.Path());
        ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("QWERT")).Aborted());
    }
    {
        TestMachine m(profile, dir.Path());
        EXPECT_EQ(w128(), 0x0023) << "a new run of the program is no power-on: enabled, not locked";
        EXPECT_FALSE(trimRefused());
        ASSERT_TRUE(m->Devices().PowerCycle());
        EXPECT_EQ(w128(), 0x0027) << "enabled and locked after the power cycle";
        EXPECT_TRUE(trimRefused()) << "locked refuses media access";
        for (int i = 0; i < 5; ++i) {
            EXPECT_TRUE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("bad")).Aborted());
        }
        EXPECT_EQ(w128() & 0x0010, 0x0010) << "attempt counter expired";
        EXPECT_TRUE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("QWERT")).Aborted()) << "even the right one now";
    }
    {
        TestMachine m(profile, dir.Path());
        EXPECT_EQ(w128(), 0x0037) << "still locked, counter still expired in the next run";
        EXPECT_TRUE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("QWERT")).Aborted())
            << "running the program again gives no new attempts";
        ASSERT_TRUE(m->Devices().PowerCycle());
        EXPECT_EQ(w128(), 0x0027) << "the power cycle resets the counter";
        ASSERT_FALSE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("QWERT")).Aborted());
        EXPECT_EQ(w128(), 0x0023);
    }
    {
        TestMachine m(profile, dir.Path());
        EXPECT_EQ(w128(), 0x0023) << "unlocked stays unlocked in the next run";
        EXPECT_FALSE(trimRefused());
        ASSERT_TRUE(m->Devices().PowerCycle());
        EXPECT_EQ(w128(), 0x0027) << "and locks again at the next power cycle";
    }
}

TEST(SataDrive, TrimValidatesEveryRangeAndRecordsWhatItTrimmed) {
    json d = SataDiskJson(0);
    d.erase("capacityBytes");
    d["capacitySectors"] = 1000000;
    TestMachine m(ProfileWithDisks(json::array({d})));
    const auto entry = [](std::vector<uint8_t>& b, int i, uint64_t lba, uint16_t count) {
        const uint64_t v = lba | (uint64_t{count} << 48);
        std::memcpy(b.data() + 8 * i, &v, 8);
    };
    std::vector<uint8_t> ranges(512, 0);
    entry(ranges, 0, 1000, 8);
    entry(ranges, 1, 1008, 8);  // touches the first: merged
    entry(ranges, 5, 999990, 10);
    AtaReply ok = SendAta(kDrive0, Regs(0x06, 1, 1, 0, 0, 0, 0), 0x1C, 512, ranges);
    ASSERT_TRUE(ok.ok);
    ASSERT_FALSE(ok.Aborted());
    const auto& t = m->Devices().Sata(0)->State().trim;
    EXPECT_EQ(t.commands, 1u);
    EXPECT_EQ(t.ranges, 3u);
    EXPECT_EQ(t.sectors, 26u);
    ASSERT_EQ(t.intervals.size(), 2u);
    EXPECT_EQ(t.intervals[0], (std::pair<uint64_t, uint64_t>{1000, 1016}));

    std::vector<uint8_t> bad(512, 0);
    entry(bad, 0, 2000, 8);
    entry(bad, 1, 999995, 10);  // runs past the end
    EXPECT_TRUE(SendAta(kDrive0, Regs(0x06, 1, 1, 0, 0, 0, 0), 0x1C, 512, bad).Aborted());
    EXPECT_EQ(t.commands, 1u) << "nothing of a refused command is trimmed";
    EXPECT_TRUE(SendAta(kDrive0, Regs(0x06, 0, 1, 0, 0, 0, 0), 0x1C, 512, ranges).Aborted()) << "TRIM bit clear";
    EXPECT_TRUE(SendAta(kDrive0, Regs(0x06, 1, 2, 0, 0, 0, 0), 0x1C, 512, ranges).Aborted()) << "count wants 1024 bytes";

    // Trimmed sectors read back as zeros, others as data.
    auto dev = Open(kDrive0);
    std::vector<uint8_t> sector(512);
    uint32_t got = 0;
    ASSERT_TRUE(dev->SetPosition(1000 * 512));
    ASSERT_TRUE(dev->Read(sector.data(), 512, &got));
    EXPECT_EQ(got, 512u);
    EXPECT_EQ(std::count(sector.begin(), sector.end(), 0), 512);
    ASSERT_TRUE(dev->SetPosition(2000 * 512));
    ASSERT_TRUE(dev->Read(sector.data(), 512, &got));
    EXPECT_LT(std::count(sector.begin(), sector.end(), 0), 512);
}

// Sends an image as the program does: 32768-byte pieces, zero padded, offsets in blocks.
bool Download(const std::vector<uint8_t>& image, uint8_t blocksPerPiece = 64) {
    const size_t piece = blocksPerPiece * 512u;
    for (size_t off = 0; off < image.size(); off += piece) {
        std::vector<uint8_t> chunk(piece, 0);
        std::copy(image.begin() + off, image.begin() + std::min(image.size(), off + piece), chunk.begin());
        const uint32_t block = static_cast<uint32_t>(off / 512);
        AtaReply r = DataOut(kDrive0, Regs(0x92, 3, blocksPerPiece, 0, block & 0xFF, block >> 8), chunk);
        if (!r.ok || r.Aborted()) {
            return false;
        }
    }
    return true;
}

std::string Revision() { return AtaText(DataIn(kDrive0, Regs(0xEC)).data, 23, 4); }

TEST(SataDrive, DownloadMicrocodeActivatesOnlyAGoodImageForThisModel) {
    json d = SataDiskJson(0);
    TestMachine m(ProfileWithDisks(json::array({d})));
    std::vector<uint8_t> payload(40000);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7);
    }
    const auto good = sim::MakeFirmwareImage("VARNO TL30A 256GB", "1.10", payload);

    auto corrupt = good;
    corrupt[20000] ^= 1;
    EXPECT_FALSE(Download(corrupt));
    EXPECT_EQ(Revision(), "1.08    ");
    EXPECT_FALSE(Download(sim::MakeFirmwareImage("VARNO TL30B 512GB", "1.10", payload))) << "another model";
    EXPECT_FALSE(Download(std::vector<uint8_t>(40000, 0x55))) << "not an image";
    EXPECT_FALSE(Download(good, 200)) << "pieces above the maximum segment size";
    // Out of order: the second piece first.
    std::vector<uint8_t> chunk(32768, 0);
    EXPECT_TRUE(DataOut(kDrive0, Regs(0x92, 3, 64, 0, 64, 0), chunk).Aborted());
    EXPECT_EQ(Revision(), "1.08    ");

    EXPECT_TRUE(Download(good));
    EXPECT_EQ(Revision(), "1.10    ");
    EXPECT_EQ(m->Devices().Sata(0)->State().firmware, "1.10");
}

TEST(SataDrive, VendorStatisticsSequenceOfJmf608Drives) {
    json d = SataDiskJson(0);
    d["model"] = "VARNO VQRB77 128GB";
    d["sata"] = {{"smart", {{"vendorSignature", "JMF608"}}},
                 {"vendorStatistics", {{"counters", {{{10, 1}, {20, 2}, {30, 3}}, {{0, 0}, {0, 0}, {0, 0}},
                                                     {{0, 0}, {0, 0}, {0, 0}}, {{0, 0}, {0, 0}, {0, 0}}}},
                                       {"writesPerMinute", {0, 5, 0, 0}}, {"readsPerMinute", {0, 7, 0, 0}}}}};
    TestMachine m(ProfileWithDisks(json::array({d})));
    std::vector<uint8_t> request(512, 0);
    std::memcpy(request.data(), platform::kVendorRequestSignature, 3);
    request[5] = 0x02;
    request[6] = 0x2C;
    const auto table = [&] {
        return DataIn(kDrive0, Regs(0x86, 0, 16, 'J', 'M', '6', 0xE0), 16 * 512);
    };
    EXPECT_TRUE(table().Aborted()) << "no vendor mode yet";
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xEF, platform::kVendorModeFeature, platform::kVendorModeKey, 0, 0, 0, 0xE0),
                         std::vector<uint8_t>(512, 0)).Aborted());
    std::vector<uint8_t> wrong = request;
    wrong[7] = 1;
    EXPECT_TRUE(DataOut(kDrive0, Regs(0x88, 0, 1, 'J', 'M', '8', 0xE0), wrong).Aborted()) << "other table address";
    ASSERT_FALSE(DataOut(kDrive0, Regs(0x88, 0, 1, 'J', 'M', '8', 0xE0), request).Aborted());
    AtaReply t = table();
    ASSERT_FALSE(t.Aborted());
    ASSERT_EQ(t.data.size(), 8192u);
    const auto le32 = [&](const std::vector<uint8_t>& b, size_t o) {
        return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (uint32_t{b[o + 3]} << 24);
    };
    EXPECT_EQ(le32(t.data, 28 + 8), 20u);
    EXPECT_EQ(le32(t.data, 28 + 20), 3u);
    EXPECT_EQ(le32(t.data, 28 + 0), 10u + 2u) << "the two 512-byte writes of the sequence count in pair 0";
    EXPECT_EQ(le32(t.data, 0), platform::kVendorStatisticsTableAddress);
    m->Clock().Advance(10 * 60000);
    AtaReply later = table();
    EXPECT_EQ(le32(later.data, 196 + 8), 50u) << "background writes in the 4 KB bucket, pair 1";
    EXPECT_EQ(le32(later.data, 196 + 12), 70u);

    // Another drive does not know the vendor mode.
    json plain = SataDiskJson(1);
    TestMachine other(ProfileWithDisks(json::array({plain})));
    EXPECT_TRUE(DataOut(kDrive1, Regs(0xEF, platform::kVendorModeFeature, platform::kVendorModeKey, 0, 0, 0, 0xF0),
                        std::vector<uint8_t>(512, 0)).Aborted());
}

TEST(SataDrive, StatePersistsAcrossARestartAndAFreshDirectoryStartsAfresh) {
    TempDir dir;
    json d = SataDiskJson(0);
    d["sata"] = {{"selfTest", {{"shortSeconds", 60}}}};
    const json profile = ProfileWithDisks(json::array({d}));
    const auto readLog = [] { return DataIn(kDrive0, Regs(0xB0, 0xD5, 1, 0x06, 0x4F, 0xC2, 0x40)).data; };
    {
        TestMachine m(profile, dir.Path());
        ASSERT_TRUE(Download(sim::MakeFirmwareImage("VARNO TL30A 256GB", "2.00", std::vector<uint8_t>(1000, 1))));
        std::vector<uint8_t> ranges(512, 0);
        const uint64_t v = 4096 | (uint64_t{16} << 48);
        std::memcpy(ranges.data(), &v, 8);
        ASSERT_FALSE(SendAta(kDrive0, Regs(0x06, 1, 1, 0, 0, 0, 0), 0x1C, 512, ranges).Aborted());
        ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
        m->Clock().Sleep(61000);
        ASSERT_EQ(SelfTestStatus(), 0x00);
        m->Clock().Advance(3600 * 1000);
        ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());  // still running when the program ends
        m->Clock().Sleep(20000);
        ASSERT_EQ(SelfTestStatus(), 0xF7);
    }
    {
        TestMachine m(profile, dir.Path());
        EXPECT_EQ(Revision(), "2.00    ");
        EXPECT_EQ(m->Devices().Sata(0)->State().trim.sectors, 16u);
        EXPECT_EQ(m->Devices().Sata(0)->State().powerOns, 1u) << "a new run is no power-on";
        EXPECT_EQ(SelfTestStatus(), 0xF7) << "the test goes on where the last run left it";
        m->Clock().Sleep(40000);
        EXPECT_EQ(SelfTestStatus(), 0x00) << "and completes in time";
        std::vector<uint8_t> log = readLog();
        EXPECT_EQ(log[508], 2);
        EXPECT_EQ(log[27], 0x00);
        EXPECT_EQ(log[28], 1) << "power-on hours carry over";

        // A power cycle interrupts a running test, but one that had ended by then is complete.
        ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
        m->Clock().Sleep(61000);
        ASSERT_TRUE(m->Devices().PowerCycle());
        EXPECT_EQ(SelfTestStatus(), 0x00) << "ended before the power went";
        ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
        m->Clock().Sleep(10000);
        ASSERT_TRUE(m->Devices().PowerCycle());
        EXPECT_EQ(SelfTestStatus(), 0x20) << "the test running at the power cycle was interrupted";
        log = readLog();
        EXPECT_EQ(log[508], 4);
        EXPECT_EQ(log[3 + 24 * 2], 0x00);
        EXPECT_EQ(log[3 + 24 * 3], 0x20);
        EXPECT_EQ(m->Devices().Sata(0)->State().powerOns, 3u);
    }
    TestMachine fresh(profile);
    EXPECT_EQ(Revision(), "1.08    ");
    EXPECT_EQ(fresh->Devices().Sata(0)->State().trim.sectors, 0u);
    EXPECT_EQ(fresh->Devices().Sata(0)->State().powerOns, 1u) << "a new drive powers on once";
}

TEST(SataDrive, DamagedStateFileStopsTheMachineWithANamedError) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path() / "disks");
    {
        std::ofstream(dir.Path() / "disks" / "disk0.json") << "{not json";
    }
    auto loaded = sim::LoadMachineProfile(ProfileWithDisks(json::array({SataDiskJson(0)})).dump(), "t", "t.json");
    ASSERT_TRUE(loaded.profile);
    sim::SimOptions options;
    options.stateDir = dir.Path();
    options.virtualClock = true;
    std::string error;
    EXPECT_FALSE(sim::SimMachine::Create(*loaded.profile, options, &error));
    EXPECT_NE(error.find("disk0.json"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvex::test
