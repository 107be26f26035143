// The SMART data page around the attribute table, the attribute flags, attribute 9 and the
// self-test log: synthetic pages for the edge cases, real drives' pages against skdump.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "device/realworld_pages.h"
#include "health/smart_attributes.h"
#include "health/smart_details.h"

namespace tarvex {
namespace {

TEST(SmartDetails, DataPageFiguresAroundTheAttributeTable) {
    std::array<uint8_t, 512> page{};
    page[362] = 0x82;  // completed, automatic collection on
    page[363] = 0xF3;  // in progress, 30 % left
    page[364] = 0x2C;
    page[365] = 0x01;  // 300 s
    page[367] = 0x5B;
    page[368] = 0x03;
    page[369] = 0x00;
    page[370] = 0x01;
    page[372] = 2;
    page[373] = 0xFF;  // too long for the byte: the word at 375 holds it
    page[374] = 5;
    page[375] = 0x2C;
    page[376] = 0x01;
    SmartDataDetails d = DecodeSmartDataDetails(page);
    EXPECT_EQ(d.offline.status, 0x82);
    EXPECT_EQ(d.offline.statusText, "completed without error, automatic collection enabled");
    EXPECT_EQ(d.offline.seconds, 300);
    EXPECT_EQ(d.selfTest.status, 15);
    EXPECT_EQ(d.selfTest.statusText, "in progress");
    EXPECT_EQ(d.selfTest.remainingPercent, 30);
    EXPECT_TRUE(d.selfTest.shortAndExtendedSupported);
    EXPECT_FALSE(d.selfTest.conveyanceSupported);
    EXPECT_TRUE(d.selfTest.selectiveSupported);
    EXPECT_EQ(d.selfTest.shortMinutes, 2);
    EXPECT_EQ(d.selfTest.extendedMinutes, 300) << "FFh in byte 373 sends the reader to word 375..376";
    EXPECT_EQ(d.selfTest.conveyanceMinutes, 5);
    EXPECT_EQ(d.capabilities.offlineCapability, 0x5B);
    EXPECT_EQ(d.capabilities.smartCapability, 3);
    EXPECT_TRUE(d.capabilities.errorLogging);

    page[373] = 0xFE;
    EXPECT_EQ(DecodeSmartDataDetails(page).selfTest.extendedMinutes, 254) << "below FFh the byte is the time";
    // A short page reads what it has and zero for the rest.
    EXPECT_EQ(DecodeSmartDataDetails(std::span<const uint8_t>(page.data(), 364)).offline.seconds, 0);
    EXPECT_EQ(DecodeSmartDataDetails(std::span<const uint8_t>(page.data(), 364)).selfTest.status, 15);

    EXPECT_EQ(OfflineStatusText(0x41), "vendor specific (41h)") << "bit 7 is not part of the status";
    EXPECT_EQ(OfflineStatusText(0x87), "reserved (07h), automatic collection enabled");
}

PhysicalDriveInfo RecordWith(std::initializer_list<std::array<uint8_t, 12>> slots) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    size_t at = 2;
    for (const auto& slot : slots) {
        std::memcpy(r.smartData + at, slot.data(), 12);
        at += 12;
    }
    ParseSmartAttributes(r);
    return r;
}

TEST(SmartDetails, FlagsAndPowerOnHours) {
    const PhysicalDriveInfo r = RecordWith({
        {5, 0x33, 0x00, 100, 100, 0, 0, 0, 0, 0, 0, 0},
        {9, 0x32, 0x00, 99, 99, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xEE},  // byte 11 is not raw
        {194, 0x20, 0x00, 70, 60, 30, 0, 0, 0, 0, 0, 0},
    });
    ASSERT_EQ(r.attributeCount, 3u);
    EXPECT_TRUE(IsPrefailure(r.attributes[0]));
    EXPECT_TRUE(IsOnline(r.attributes[0]));
    EXPECT_FALSE(IsPrefailure(r.attributes[1]));
    EXPECT_TRUE(IsOnline(r.attributes[1]));
    EXPECT_FALSE(IsOnline(r.attributes[2])) << "flags 0020h: collected off-line only";
    EXPECT_EQ(PowerOnHours(r), 0x060504030201ull) << "all 48 bits of the raw value, nothing of byte 11";

    EXPECT_FALSE(PowerOnHours(RecordWith({{12, 0x32, 0, 100, 100, 7, 0, 0, 0, 0, 0, 0}})).has_value());
}

// A self-test log page: `slots` maps a slot (0..20) to its subcommand, status, hours and LBA.
struct LogSlot {
    int slot;
    uint8_t subcommand;
    uint8_t status;
    uint16_t hours;
    uint32_t lba;
};
std::array<uint8_t, 512> LogPage(std::initializer_list<LogSlot> slots, uint8_t index) {
    std::array<uint8_t, 512> p{};
    p[0] = 1;
    for (const LogSlot& s : slots) {
        uint8_t* d = p.data() + 2 + 24 * s.slot;
        d[0] = s.subcommand;
        d[1] = s.status;
        d[2] = static_cast<uint8_t>(s.hours);
        d[3] = static_cast<uint8_t>(s.hours >> 8);
        for (int b = 0; b < 4; ++b) {
            d[5 + b] = static_cast<uint8_t>(s.lba >> (8 * b));
        }
    }
    p[508] = index;
    return p;
}

TEST(SmartDetails, SelfTestLogIsReadNewestFirstRoundTheRing) {
    // Index 2: slot 1 is the newest, then slot 0, then round to the end of the ring.
    const auto page = LogPage({{0, 0x01, 0x00, 100, 0},
                               {1, 0x02, 0x73, 300, 0x00ABCDEF},
                               {20, 0x81, 0x10, 50, 0xFFFFFFFF},
                               {19, 0x01, 0x50, 40, 0xFFFFFFFF}},
                              2);
    const std::vector<SelfTestLogEntry> log = DecodeSelfTestLog(page);
    ASSERT_EQ(log.size(), 4u) << "empty slots are no entries";
    EXPECT_EQ(log[0].number, 1);
    EXPECT_EQ(log[0].type, "extended off-line");
    EXPECT_EQ(log[0].typeCode, 0x02);
    EXPECT_EQ(log[0].status, 7);
    EXPECT_EQ(log[0].statusText, "failed: read element");
    EXPECT_EQ(log[0].remainingPercent, 30);
    EXPECT_EQ(log[0].lifeHours, 300);
    EXPECT_EQ(log[0].failingLba, 0x00ABCDEFu);
    EXPECT_EQ(log[1].lifeHours, 100);
    EXPECT_EQ(log[1].type, "short off-line");
    EXPECT_FALSE(log[1].failingLba.has_value()) << "a test without a failure names no LBA";
    EXPECT_EQ(log[2].number, 3);
    EXPECT_EQ(log[2].type, "short captive");
    EXPECT_EQ(log[2].statusText, "aborted by the host");
    EXPECT_EQ(log[3].lifeHours, 40);
    EXPECT_FALSE(log[3].failingLba.has_value()) << "FFFFFFFFh: the drive could not name the LBA";

    EXPECT_TRUE(DecodeSelfTestLog(LogPage({{0, 0x01, 0x00, 1, 0}}, 0)).empty()) << "index 0: nothing logged";
    EXPECT_TRUE(DecodeSelfTestLog(LogPage({{0, 0x01, 0x00, 1, 0}}, 22)).empty()) << "an index past the ring";
    EXPECT_EQ(DecodeSelfTestLog(LogPage({{20, 0x01, 0x00, 1, 0}}, 21)).size(), 1u) << "the last slot is 21";
    EXPECT_TRUE(DecodeSelfTestLog(std::span<const uint8_t>()).empty());
}

TEST(SmartDetails, AThresholdOfAnotherAttributeIsTold) {
    // The threshold page lists 9 before 5: pairing by position gives 5 the threshold of 9.
    PhysicalDriveInfo r = RecordWith({
        {5, 0x33, 0x00, 100, 100, 0, 0, 0, 0, 0, 0, 0},
        {9, 0x32, 0x00, 99, 99, 1, 0, 0, 0, 0, 0, 0},
        {194, 0x22, 0x00, 70, 60, 30, 0, 0, 0, 0, 0, 0},
    });
    const uint8_t thresholds[][2] = {{9, 0}, {5, 10}, {194, 0}};
    for (int s = 0; s < 3; ++s) {
        r.smartThresholds[2 + 12 * s] = thresholds[s][0];
        r.smartThresholds[2 + 12 * s + 1] = thresholds[s][1];
    }
    ASSERT_TRUE(ParseSmartThresholds(r));
    EXPECT_EQ(r.thresholdEntries[0].id, 9);
    EXPECT_TRUE(ThresholdOfOtherAttribute(r, 0));
    EXPECT_TRUE(ThresholdOfOtherAttribute(r, 1));
    EXPECT_FALSE(ThresholdOfOtherAttribute(r, 2));
    EXPECT_FALSE(ThresholdOfOtherAttribute(r, 3)) << "past the attributes";
    EXPECT_FALSE(ThresholdOfOtherAttribute(r, 1000));

    std::memset(r.smartThresholds, 0, sizeof r.smartThresholds);
    ParseSmartThresholds(r);
    EXPECT_FALSE(ThresholdOfOtherAttribute(r, 0)) << "an empty threshold page pairs nothing wrongly";
}

// What skdump --load prints for each real drive's data page.
struct RealSmart {
    const char* file;
    uint8_t offlineStatus;
    uint16_t offlineSeconds;
    uint8_t selfTestStatus;
    uint8_t remainingPercent;
    bool conveyance;
    uint8_t shortMinutes;
    uint16_t extendedMinutes;
    uint8_t conveyanceMinutes;
    uint64_t powerOnHours;
};

TEST(SmartDetails, RealDrivesDecodeAsSkdumpReadsThem) {
    TARVEX_REQUIRE_REALWORLD_DRIVES(folder);
    const RealSmart drives[] = {
        {"INTEL_SSDSA2CW120G3--4PC10302.blob", 0x00, 1, 0, 0, true, 1, 1, 1, 45},
        {"INTEL_SSDSA2MH080G1GC--045C8820.blob", 0x00, 1, 2, 0, true, 2, 3, 1, 2309},
        {"MCCOE64GEMPP--2.9.09.blob", 0x02, 120, 0, 0, false, 2, 15, 0, 1},
        {"SAMSUNG_MMCQE28G8MUP--0VA_VAM08L1Q.blob", 0x02, 360, 15, 70, false, 6, 36, 0, 2417},
    };
    for (const RealSmart& r : drives) {
        SCOPED_TRACE(r.file);
        const auto parts = test::ReadRealworldDump(folder / r.file);
        ASSERT_EQ(parts.count("SMDT"), 1u);
        const std::vector<uint8_t>& data = parts.at("SMDT");
        ASSERT_EQ(data.size(), 512u);
        const SmartDataDetails d = DecodeSmartDataDetails(data);
        EXPECT_EQ(d.offline.status, r.offlineStatus);
        EXPECT_EQ(d.offline.seconds, r.offlineSeconds);
        EXPECT_EQ(d.selfTest.status, r.selfTestStatus);
        EXPECT_EQ(d.selfTest.remainingPercent, r.remainingPercent);
        EXPECT_TRUE(d.selfTest.shortAndExtendedSupported);
        EXPECT_EQ(d.selfTest.conveyanceSupported, r.conveyance);
        EXPECT_EQ(d.selfTest.shortMinutes, r.shortMinutes);
        EXPECT_EQ(d.selfTest.extendedMinutes, r.extendedMinutes);
        EXPECT_EQ(d.selfTest.conveyanceMinutes, r.conveyanceMinutes);

        PhysicalDriveInfo record = EmptyDriveRecord();
        std::memcpy(record.smartData, data.data(), 512);
        ASSERT_TRUE(ParseSmartAttributes(record));
        EXPECT_EQ(PowerOnHours(record), r.powerOnHours);
    }

    // skdump's Type and Updates columns for attributes of several flag words.
    const auto parts = test::ReadRealworldDump(folder / "INTEL_SSDSA2MH080G1GC--045C8820.blob");
    PhysicalDriveInfo record = EmptyDriveRecord();
    std::memcpy(record.smartData, parts.at("SMDT").data(), 512);
    ASSERT_TRUE(ParseSmartAttributes(record));
    for (uint32_t i = 0; i < record.attributeCount; ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        if (e.id == 3) {
            EXPECT_FALSE(IsPrefailure(e));  // old-age offline
            EXPECT_FALSE(IsOnline(e));
        } else if (e.id == 232) {
            EXPECT_TRUE(IsPrefailure(e));  // prefail online
            EXPECT_TRUE(IsOnline(e));
        } else if (e.id == 9) {
            EXPECT_FALSE(IsPrefailure(e));  // old-age online
            EXPECT_TRUE(IsOnline(e));
        }
    }
}

}  // namespace
}  // namespace tarvex
