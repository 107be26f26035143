// The field decoders of IDENTIFY DEVICE data: synthetic pages for the edge cases, and the
// pages of real drives against what hdparm --Istdin reads from the same bytes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "device/identify_decoding.h"
#include "device/identify_details.h"
#include "device/realworld_pages.h"
#include "platform/text.h"

namespace tarvex {
namespace {

struct Page {
    std::array<uint8_t, 512> bytes{};
    Page& Set(int word, uint16_t value) {
        bytes[2 * word] = static_cast<uint8_t>(value & 0xFF);
        bytes[2 * word + 1] = static_cast<uint8_t>(value >> 8);
        return *this;
    }
    Page& Sectors28(uint32_t n) { return Set(60, n & 0xFFFF).Set(61, static_cast<uint16_t>(n >> 16)); }
    Page& Sectors48(uint64_t n) {
        for (int i = 0; i < 4; ++i) {
            Set(100 + i, static_cast<uint16_t>(n >> (16 * i)));
        }
        return *this;
    }
    Page& Seal() {
        bytes[510] = 0xA5;
        uint8_t sum = 0;
        for (int i = 0; i < 511; ++i) {
            sum = static_cast<uint8_t>(sum + bytes[i]);
        }
        bytes[511] = static_cast<uint8_t>(0x100 - sum);
        return *this;
    }
};

TEST(IdentifyDetails, CapacityFollowsTheAddressFeatureSetAndTheSectorSizes) {
    // Without the 48-bit feature set words 100..103 mean nothing, even when they hold a value.
    Page old;
    old.Set(83, 0x7000).Sectors28(117231408).Sectors48(999);
    IdentifyCapacity c = DecodeIdentifyCapacity(old.bytes);
    EXPECT_FALSE(c.lba48);
    EXPECT_EQ(c.sectors, 117231408u) << "words 60..61 give the size";
    EXPECT_EQ(c.lba28Sectors, 117231408u);
    EXPECT_EQ(c.lba48Sectors, 999u);
    EXPECT_EQ(c.bytes, 117231408ull * 512);
    EXPECT_EQ(c.gigabytes, 60u);

    Page modern;
    modern.Set(83, 0x7400).Sectors28(0x0FFFFFFF).Sectors48(1953525168);
    c = DecodeIdentifyCapacity(modern.bytes);
    EXPECT_TRUE(c.lba48);
    EXPECT_EQ(c.sectors, 1953525168u);
    EXPECT_EQ(c.lba28Sectors, 0x0FFFFFFFu);
    EXPECT_EQ(c.gigabytes, 1000u) << "1000204886016 bytes, rounded down";
    EXPECT_EQ(c.logicalSectorBytes, 512u) << "word 106 is 0: the default sector";
    EXPECT_EQ(c.physicalSectorBytes, 512u);

    // 4096-byte logical sectors: bit 12 of word 106, words 117..118 count 16-bit words.
    Page native = modern;
    native.Set(106, 0x5000).Set(117, 2048).Set(118, 0).Sectors48(244190646);
    c = DecodeIdentifyCapacity(native.bytes);
    EXPECT_EQ(c.logicalSectorBytes, 4096u);
    EXPECT_EQ(c.physicalSectorBytes, 4096u);
    EXPECT_EQ(c.bytes, 244190646ull * 4096) << "sectors count in the logical size";

    native.Set(106, 0x7003);
    c = DecodeIdentifyCapacity(native.bytes);
    EXPECT_EQ(c.logicalSectorBytes, 4096u);
    EXPECT_EQ(c.physicalSectorBytes, 4096u << 3) << "bit 13: 2^(bits 3..0) logical sectors per physical one";

    // 512e: 512-byte logical sectors in 4096-byte physical ones.
    Page emulated = modern;
    emulated.Set(106, 0x6003);
    c = DecodeIdentifyCapacity(emulated.bytes);
    EXPECT_EQ(c.logicalSectorBytes, 512u);
    EXPECT_EQ(c.physicalSectorBytes, 4096u);

    // Word 106 counts only with bit 14 set and bit 15 clear.
    for (uint16_t invalid : {uint16_t{0xF003}, uint16_t{0x3003}, uint16_t{0xFFFF}}) {
        Page p = native;
        p.Set(106, invalid);
        c = DecodeIdentifyCapacity(p.bytes);
        EXPECT_EQ(c.logicalSectorBytes, 512u) << std::hex << invalid;
        EXPECT_EQ(c.physicalSectorBytes, 512u) << std::hex << invalid;
    }
    // A logical size of nothing or of gigabytes is not believed.
    for (uint32_t words : {0u, 100u, 0x7FFFFFFFu}) {
        Page p = native;
        p.Set(106, 0x5000).Set(117, words & 0xFFFF).Set(118, static_cast<uint16_t>(words >> 16));
        EXPECT_EQ(DecodeIdentifyCapacity(p.bytes).logicalSectorBytes, 512u) << words;
    }
    // A page full of FFh must not wrap the byte count round to a small number.
    Page garbage = native;
    garbage.Sectors48(UINT64_MAX);
    EXPECT_EQ(DecodeIdentifyCapacity(garbage.bytes).bytes, UINT64_MAX);
}

TEST(IdentifyDetails, SataRevisionsSpeedsAndAtaVersions) {
    const char* names[] = {"ATA8-AST", "SATA 1.0a", "SATA II Ext", "SATA 2.5", "SATA 2.6", "SATA 3.0",
                           "SATA 3.1", "SATA 3.2",  "SATA 3.3",    "SATA 3.4", "SATA 3.5"};
    for (int bit = 0; bit <= 10; ++bit) {
        // The highest bit set names the revision.
        EXPECT_EQ(SataRevisionName(static_cast<uint16_t>(0x1000 | ((2u << bit) - 1))), names[bit]) << bit;
    }
    EXPECT_EQ(SataRevisionName(0x1FFF), "SATA >3.5");
    EXPECT_EQ(SataRevisionName(0x0000), "N/A") << "a parallel transport";
    EXPECT_EQ(SataRevisionName(0x2001), "N/A") << "bits 15..12 must be 1 for a serial transport";
    EXPECT_EQ(SataRevisionName(0xFFFF), "N/A");
    EXPECT_EQ(SataRevisionName(0x1000), "N/A") << "serial, but no revision named";
    // The report keeps its own text for the revisions past 3.1.
    Page sata32;
    sata32.Set(222, 0x10FF);
    EXPECT_EQ(SataRevisionText(sata32.bytes), u"SATA >3.1");
    EXPECT_EQ(DecodeIdentifySata(sata32.bytes).revision, "SATA 3.2");

    Page p;
    p.Set(222, 0x107F).Set(76, 0x850E).Set(77, 0x00C6);
    IdentifySata s = DecodeIdentifySata(p.bytes);
    EXPECT_EQ(s.supportedSpeeds, (std::vector<std::string>{"1.5 Gb/s", "3.0 Gb/s", "6.0 Gb/s"}));
    EXPECT_EQ(s.negotiatedSpeed, "6.0 Gb/s");
    p.Set(76, 0x0506).Set(77, 0x0004);
    s = DecodeIdentifySata(p.bytes);
    EXPECT_EQ(s.supportedSpeeds, (std::vector<std::string>{"1.5 Gb/s", "3.0 Gb/s"}));
    EXPECT_EQ(s.negotiatedSpeed, "3.0 Gb/s");
    p.Set(76, 0xFFFF).Set(77, 0x0008);
    s = DecodeIdentifySata(p.bytes);
    EXPECT_TRUE(s.supportedSpeeds.empty()) << "FFFFh reports nothing";
    EXPECT_EQ(s.negotiatedSpeed, ">6.0 Gb/s");
    for (uint16_t w77 : {uint16_t{0x0000}, uint16_t{0x0007}, uint16_t{0xFFFF}}) {
        p.Set(77, w77);
        EXPECT_EQ(DecodeIdentifySata(p.bytes).negotiatedSpeed, "N/A") << std::hex << w77;
    }
    p.Set(77, 0x0006).Set(222, 0x0000);
    EXPECT_EQ(DecodeIdentifySata(p.bytes).negotiatedSpeed, "N/A") << "no serial transport, no link speed";

    Page v;
    v.Set(80, 0x09FC);
    EXPECT_EQ(AtaMajorVersions(v.bytes), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 11}));
    v.Set(80, 0x8011);
    EXPECT_EQ(AtaMajorVersions(v.bytes), (std::vector<int>{4})) << "bits 0 and 15 are no version";
    for (uint16_t none : {uint16_t{0x0000}, uint16_t{0xFFFF}}) {
        v.Set(80, none);
        EXPECT_TRUE(AtaMajorVersions(v.bytes).empty()) << std::hex << none;
    }
}

TEST(IdentifyDetails, SecurityLevelEraseTimesAndMasterPasswordIdentifier) {
    EXPECT_FALSE(DecodeEraseTime(0).minutes.has_value()) << "0: the drive gives no time";
    EXPECT_EQ(DecodeEraseTime(1).minutes, 2u);
    EXPECT_EQ(DecodeEraseTime(0x00FE).minutes, 508u);
    EXPECT_FALSE(DecodeEraseTime(0x00FE).moreThan);
    EXPECT_EQ(DecodeEraseTime(0x00FF).minutes, 510u);
    EXPECT_TRUE(DecodeEraseTime(0x00FF).moreThan) << "255: more than 508 minutes";
    EXPECT_EQ(DecodeEraseTime(0x0103).minutes, 6u) << "the short form reads bits 7..0 only";
    EXPECT_EQ(DecodeEraseTime(0x8000 | 300).minutes, 600u) << "bit 15: the extended form";
    EXPECT_FALSE(DecodeEraseTime(0x8000 | 300).moreThan);
    EXPECT_EQ(DecodeEraseTime(0xFFFF).minutes, 65534u);
    EXPECT_TRUE(DecodeEraseTime(0xFFFF).moreThan);

    Page p;
    p.Set(128, 0x0129).Set(89, 0x00FF).Set(90, 0x8000 | 1000).Set(92, 0x4BBC);
    IdentifySecurityDetails d = DecodeIdentifySecurityDetails(p.bytes);
    EXPECT_TRUE(d.maximumLevel);
    EXPECT_EQ(d.erase.minutes, 510u);
    EXPECT_TRUE(d.erase.moreThan);
    EXPECT_EQ(d.enhancedErase.minutes, 2000u);
    EXPECT_EQ(d.masterPasswordIdentifier, 0x4BBC);
    p.Set(128, 0x0029);
    EXPECT_FALSE(DecodeIdentifySecurityDetails(p.bytes).maximumLevel);
    for (uint16_t none : {uint16_t{0x0000}, uint16_t{0xFFFF}}) {
        p.Set(92, none);
        EXPECT_FALSE(DecodeIdentifySecurityDetails(p.bytes).masterPasswordIdentifier.has_value()) << std::hex << none;
    }
    p.Set(92, 0xFFFE);
    EXPECT_EQ(DecodeIdentifySecurityDetails(p.bytes).masterPasswordIdentifier, 0xFFFE);
}

TEST(IdentifyDetails, ChecksumAndWwnPresence) {
    Page p;
    p.Set(0, 0x0040).Set(87, 0x4163).Seal();
    IdentifyChecksum c = DecodeIdentifyChecksum(p.bytes);
    EXPECT_TRUE(c.present);
    EXPECT_TRUE(c.valid);
    EXPECT_TRUE(HasWwn(p.bytes));

    Page corrupt = p;
    corrupt.bytes[200] ^= 0x01;
    c = DecodeIdentifyChecksum(corrupt.bytes);
    EXPECT_TRUE(c.present);
    EXPECT_FALSE(c.valid) << "one bit changed after sealing";

    Page unsigned_ = p;
    unsigned_.bytes[510] = 0x00;
    unsigned_.bytes[511] = static_cast<uint8_t>(p.bytes[511] + 0xA5);  // still sums to 0
    c = DecodeIdentifyChecksum(unsigned_.bytes);
    EXPECT_FALSE(c.present);
    EXPECT_FALSE(c.valid) << "a sum of 0 without the signature is no checksum";

    EXPECT_FALSE(DecodeIdentifyChecksum(std::span<const uint8_t>(p.bytes.data(), 511)).present);

    p.Set(87, 0x4063);
    EXPECT_FALSE(HasWwn(p.bytes)) << "word 87 bit 8 clear";
}

// What hdparm --Istdin prints for each real page (its list of SATA revisions ends at 3.0;
// the revision here is the highest bit of word 222).
struct RealIdentify {
    const char* file;
    bool lba48;
    uint64_t sectors;
    uint64_t gigabytes;
    const char* wwn;  // "none" without word 87 bit 8
    const char* revision;
    std::vector<std::string> speeds;
    bool trim;
    bool frozen;
    bool maximumLevel;
    uint32_t eraseMinutes;
    std::optional<uint32_t> enhancedEraseMinutes;
    int majorVersion;
};

TEST(IdentifyDetails, RealDrivesDecodeAsHdparmReadsThem) {
    TARVEX_REQUIRE_REALWORLD_DRIVES(folder);
    const std::vector<std::string> gen12 = {"1.5 Gb/s", "3.0 Gb/s"};
    const std::vector<std::string> gen123 = {"1.5 Gb/s", "3.0 Gb/s", "6.0 Gb/s"};
    const RealIdentify drives[] = {
        {"INTEL_SSDSA2CW120G3--4PC10302.blob", true, 234441648, 120, "50015179594F0F14", "SATA 2.6", gen12, true, true,
         true, 2, 2u, 8},
        {"INTEL_SSDSA2MH080G1GC--045C8820.blob", true, 156301488, 80, "5001517387D61905", "SATA 2.6", gen12, false,
         false, false, 2, 2u, 7},
        {"MCCOE64GEMPP--2.9.09.blob", false, 117231408, 60, "none", "N/A", {}, false, false, false, 2, std::nullopt, 7},
        {"SAMSUNG_MMCQE28G8MUP--0VA_VAM08L1Q.blob", true, 250069680, 128, "none", "N/A", gen12, false, true, false, 6,
         6u, 7},
        {"Samsung_SSD_860_EVO_500GB.bin", true, 976773168, 500, "5002538E4067C96B", "SATA 3.1", gen123, true, true,
         false, 4, 8u, 11},
        {"StarDrive-SBFM61.2.bin", true, 468862128, 240, "0000000000000000", "SATA 3.2", gen123, true, true, false, 20,
         60u, 11},
    };
    for (const RealIdentify& r : drives) {
        SCOPED_TRACE(r.file);
        const auto parts = test::ReadRealworldDump(folder / r.file);
        ASSERT_EQ(parts.count("IDFY"), 1u);
        const std::vector<uint8_t>& id = parts.at("IDFY");
        ASSERT_EQ(id.size(), 512u);
        const IdentifyCapacity c = DecodeIdentifyCapacity(id);
        EXPECT_EQ(c.lba48, r.lba48);
        EXPECT_EQ(c.sectors, r.sectors);
        EXPECT_EQ(c.logicalSectorBytes, 512u);
        EXPECT_EQ(c.physicalSectorBytes, 512u);
        EXPECT_EQ(c.gigabytes, r.gigabytes);
        EXPECT_EQ(HasWwn(id) ? platform::Utf16ToUtf8(WwnText(id)) : std::string("none"), r.wwn);
        const IdentifySata s = DecodeIdentifySata(id);
        EXPECT_EQ(s.revision, r.revision);
        EXPECT_EQ(s.supportedSpeeds, r.speeds);
        EXPECT_EQ(DecodeIdentifyTrim(id).supported, r.trim);
        EXPECT_EQ(DecodeSecurityStatus(id).frozen, r.frozen);
        const IdentifySecurityDetails d = DecodeIdentifySecurityDetails(id);
        EXPECT_EQ(d.maximumLevel, r.maximumLevel);
        EXPECT_EQ(d.erase.minutes, r.eraseMinutes);
        EXPECT_EQ(d.enhancedErase.minutes, r.enhancedEraseMinutes);
        const std::vector<int> versions = AtaMajorVersions(id);
        ASSERT_FALSE(versions.empty());
        EXPECT_EQ(versions.back(), r.majorVersion);
        const IdentifyChecksum sum = DecodeIdentifyChecksum(id);
        EXPECT_TRUE(sum.present && sum.valid) << "hdparm: Checksum: correct";
    }
}

}  // namespace
}  // namespace tarvex
