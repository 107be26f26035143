#include <gtest/gtest.h>

#include <cstring>

#include "device/identify_decoding.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

void SetWord(uint8_t* page, int word, uint16_t v) {
    page[2 * word] = static_cast<uint8_t>(v);
    page[2 * word + 1] = static_cast<uint8_t>(v >> 8);
}

// Puts an ATA string as a drive does: two characters per word, the first in the high byte.
void PutAtaString(uint8_t* page, size_t offset, const std::string& text, size_t length) {
    std::string padded = text;
    padded.resize(length, ' ');
    for (size_t i = 0; i < length; i += 2) {
        page[offset + i] = static_cast<uint8_t>(padded[i + 1]);
        page[offset + i + 1] = static_cast<uint8_t>(padded[i]);
    }
}

TEST(IdentifyDecoding, StringsAreSwappedTrimmedAndKeepLeadingBlanks) {
    test::TestMachine m;
    uint8_t page[512] = {};
    PutAtaString(page, kIdentifyModelOffset, "VARNO TL30A 256GB", 40);
    PutAtaString(page, kIdentifySerialOffset, "        ABC123DEF456", 20);
    PutAtaString(page, kIdentifyFirmwareOffset, "R0818A", 8);
    PhysicalDriveInfo record = EmptyDriveRecord();
    StoreSataIdentify(record, page);
    EXPECT_EQ(platform::FixedText(record.modelNumber), u"VARNO TL30A 256GB");
    EXPECT_EQ(platform::FixedText(record.serialNumber), u"        ABC123DEF456");
    EXPECT_EQ(platform::FixedText(record.firmwareRevision), u"R0818A");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record.identify) + kIdentifyModelOffset, 5), "VARNO")
        << "the record keeps the strings in reading order";

    uint8_t raw[512] = {};
    raw[54] = 0x41;
    raw[55] = 0x53;
    raw[56] = 0x31;
    raw[57] = 0x44;
    StoreSataIdentify(record, raw);
    EXPECT_EQ(platform::FixedText(record.modelNumber), u"SAD1");

    char blanks[41];
    std::memset(blanks, ' ', 40);
    blanks[40] = 0;
    TrimTrailingBlanks(blanks);
    EXPECT_STREQ(blanks, "");
    char single[41];
    std::memset(single, ' ', 40);
    single[0] = 'A';
    single[40] = 0;
    TrimTrailingBlanks(single);
    EXPECT_STREQ(single, "A");
    EXPECT_EQ(single[1], 0);
    EXPECT_EQ(single[39], 0) << "the rest up to the old end becomes NUL";
}

TEST(IdentifyDecoding, NvmeStringsNeedNoSwap) {
    test::TestMachine m;
    PhysicalDriveInfo record = EmptyDriveRecord();
    std::memcpy(record.nvmeIdentify + kNvmeSerialOffset, "S3X9NX0M123456      ", 20);
    std::memcpy(record.nvmeIdentify + kNvmeModelOffset, "VARNO NV900 1TB                         ", 40);
    std::memcpy(record.nvmeIdentify + kNvmeFirmwareOffset, "1.2.0   ", 8);
    StoreNvmeIdentifyStrings(record);
    EXPECT_EQ(platform::FixedText(record.serialNumber), u"S3X9NX0M123456");
    EXPECT_EQ(platform::FixedText(record.modelNumber), u"VARNO NV900 1TB");
    EXPECT_EQ(platform::FixedText(record.firmwareRevision), u"1.2.0");
}

TEST(IdentifyDecoding, SataRevisionAndLinkSpeed) {
    const struct {
        uint16_t w222;
        const char16_t* revision;
    } revisions[] = {
        {0x107E, u"SATA 3.1"}, {0x1000, u"SATA >3.1"}, {0x0000, u"N/A"},  {0x1001, u"ATA8-AST"},
        {0x1002, u"SATA 1.0a"}, {0x1004, u"SATA II Ext"}, {0x100F, u"SATA 2.5"}, {0x1010, u"SATA 2.6"},
        {0x103F, u"SATA 3.0"}, {0x10FF, u"SATA >3.1"}, {0x207E, u"N/A"},
    };
    for (const auto& c : revisions) {
        uint8_t page[512] = {};
        SetWord(page, 222, c.w222);
        EXPECT_EQ(SataRevisionText(page), c.revision) << std::hex << c.w222;
    }
    const struct {
        uint16_t w222, w77;
        const char16_t* speed;
    } speeds[] = {
        {0x107E, 0x0006, u"6.0 Gb/s"}, {0x107E, 0x0007, u"N/A"},      {0x107E, 0x0004, u"3.0 Gb/s"},
        {0x107E, 0x0002, u"1.5 Gb/s"}, {0x107E, 0x0008, u">6.0 Gb/s"}, {0x107E, 0x0000, u"N/A"},
        {0x0000, 0x0006, u"N/A"},
    };
    for (const auto& c : speeds) {
        PhysicalDriveInfo record = EmptyDriveRecord();
        SetWord(record.identify, 222, c.w222);
        SetWord(record.identify, 77, c.w77);
        EXPECT_EQ(LinkSpeedText(record), c.speed) << std::hex << c.w222 << " " << c.w77;
    }
}

TEST(IdentifyDecoding, WwnAndMaximumLba) {
    uint8_t page[512] = {};
    SetWord(page, 108, 0x5002);
    SetWord(page, 109, 0x5388);
    SetWord(page, 110, 0x0000);
    SetWord(page, 111, 0x1234);
    EXPECT_EQ(WwnText(page), u"5002538800001234");
    SetWord(page, 100, 0x32B0);
    SetWord(page, 101, 0x1DCF);
    SetWord(page, 102, 0x0000);
    EXPECT_EQ(MaxLba(page), 500118192u);
    ByteSwap(page + 216, 2);
    EXPECT_EQ(IdentifyWord(page, 108), 0x0250);
}

}  // namespace
}  // namespace tarvex
