// The ATA PASS-THROUGH (16) CDBs of every command the program sends, worked out by hand from the
// SCSI / ATA translation rules, and the registers taken back out of both sense formats.
#include "platform/linux/sat_translation.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/win32_values.h"

namespace tarvex::linuxhost {
namespace {

using platform::AtaPassThroughEx;
using platform::AtaTaskFile;
using Cdb = std::array<uint8_t, kCdbSize>;

AtaPassThroughEx Header(AtaTaskFile tf, uint16_t flags, uint32_t length, AtaTaskFile previous = {}) {
    AtaPassThroughEx h{};
    h.Length = platform::kAtaPassThroughHeaderSize;
    h.AtaFlags = flags;
    h.DataTransferLength = length;
    h.CurrentTaskFile = tf;
    h.PreviousTaskFile = previous;
    return h;
}

constexpr uint16_t kIn = platform::ATA_FLAGS_DATA_IN;
constexpr uint16_t kOut = platform::ATA_FLAGS_DATA_OUT;
constexpr uint16_t kDrdy = platform::ATA_FLAGS_DRDY_REQUIRED;

TEST(SatTranslation, EveryCommandOfTheProgramBuildsItsCdb) {
    struct Case {
        const char* name;
        AtaPassThroughEx header;
        Cdb cdb;
    };
    // Data commands go without CK_COND: their outcome is the SCSI status (an ATA error brings its
    // registers in the sense data anyway); non-data commands carry it for their registers.
    const Case cases[] = {
        {"SMART READ DATA",
         Header({0xD0, 0x01, 0x01, 0x4F, 0xC2, 0x00, 0xB0, 0}, kIn, 512),
         {0x85, 0x08, 0x0E, 0x00, 0xD0, 0x00, 0x01, 0x00, 0x01, 0x00, 0x4F, 0x00, 0xC2, 0x00, 0xB0, 0x00}},
        {"IDENTIFY",
         Header({0, 0, 0, 0, 0, 0xA0, 0xEC, 0}, kIn, 512),
         {0x85, 0x08, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00}},
        {"SMART READ THRESHOLDS",
         Header({0xD1, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0}, kIn, 512),
         {0x85, 0x08, 0x0E, 0x00, 0xD1, 0x00, 0x01, 0x00, 0x01, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0xB0, 0x00}},
        {"SMART READ LOG",
         Header({0xD5, 0x01, 0x06, 0x4F, 0xC2, 0xA0, 0xB0, 0}, kIn, 512),
         {0x85, 0x08, 0x0E, 0x00, 0xD5, 0x00, 0x01, 0x00, 0x06, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0xB0, 0x00}},
        {"SMART WRITE LOG",
         Header({0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0, 0}, kOut, 512),
         {0x85, 0x0A, 0x06, 0x00, 0xD6, 0x00, 0x01, 0x00, 0xE0, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0xB0, 0x00}},
        // A request without data carries no data flags (the program clears them).
        {"SMART RETURN STATUS",
         Header({0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0, 0}, 0, 0),
         {0x85, 0x06, 0x20, 0x00, 0xDA, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0xB0, 0x00}},
        {"SMART EXECUTE OFF-LINE",
         Header({0xD4, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0}, kDrdy, 0),
         {0x85, 0x06, 0x20, 0x00, 0xD4, 0x00, 0x01, 0x00, 0x01, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0xB0, 0x00}},
        {"DSM TRIM",
         Header({0x01, 0x01, 0, 0, 0, 0, 0x06, 0}, 0x1C, 512),
         {0x85, 0x0D, 0x06, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00}},
        {"DOWNLOAD MICROCODE",
         Header({0x07, 0x40, 0x00, 0x80, 0x00, 0xA0, 0x92, 0}, kOut, 32768),
         {0x85, 0x0A, 0x06, 0x00, 0x07, 0x00, 0x40, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0xA0, 0x92, 0x00}},
        {"SECURITY SET PASSWORD",
         Header({0, 0, 0, 0, 0, 0, 0xF1, 0}, kOut, 512),
         {0x85, 0x0A, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF1, 0x00}},
        {"SECURITY ERASE PREPARE",
         Header({0, 0, 0, 0, 0, 0xA0, 0xF3, 0}, 0, 0),
         {0x85, 0x06, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xF3, 0x00}},
        {"SECURITY ERASE UNIT",
         Header({0, 0, 0, 0, 0, 0, 0xF4, 0}, kOut, 512),
         {0x85, 0x0A, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF4, 0x00}},
        // 48-bit by its command code, though the request's flags say nothing.
        {"FLUSH CACHE EXT",
         Header({0, 0, 0, 0, 0, 0xA0, 0xEA, 0}, 0, 0),
         {0x85, 0x07, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xEA, 0x00}},
        {"STANDBY IMMEDIATE",
         Header({0, 0, 0, 0, 0, 0xA0, 0xE0, 0}, 0, 0),
         {0x85, 0x06, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xE0, 0x00}},
        // A 48-bit request: the previous registers travel in the high bytes.
        {"48-bit DMA read with high bytes",
         Header({0x11, 0x22, 0x33, 0x44, 0x55, 0x40, 0x25, 0}, kIn | platform::ATA_FLAGS_48BIT_COMMAND | 0x10, 512,
                {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0, 0, 0}),
         {0x85, 0x0D, 0x0E, 0xA1, 0x11, 0xA2, 0x22, 0xA3, 0x33, 0xA4, 0x44, 0xA5, 0x55, 0x40, 0x25, 0x00}},
        // Without EXTEND the previous registers are not the drive's business.
        {"28-bit ignores previous registers",
         Header({0xD0, 0x01, 0x01, 0x4F, 0xC2, 0x00, 0xB0, 0}, kIn, 512, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0, 0, 0}),
         {0x85, 0x08, 0x0E, 0x00, 0xD0, 0x00, 0x01, 0x00, 0x01, 0x00, 0x4F, 0x00, 0xC2, 0x00, 0xB0, 0x00}},
        // A DMA flag on a command without data is a non-data command.
        {"DMA flag without data",
         Header({0, 0, 0, 0, 0, 0xA0, 0xE5, 0}, 0x10, 0),
         {0x85, 0x06, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xE5, 0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildAtaPassThrough16(CommandFromPassThrough(c.header)), c.cdb) << c.name;
    }
}

// RETURN STATUS of a drive past a threshold: LBA mid/high F4h/2Ch.
const std::vector<uint8_t> kDescriptorExceeded = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x0E, 0x09, 0x0C, 0x00,
                                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF4, 0x00, 0x2C, 0xA0, 0x50};
const std::vector<uint8_t> kFixedExceeded = {0x70, 0x00, 0x01, 0x00, 0x50, 0xA0, 0x00, 0x0A, 0x00,
                                             0x00, 0xF4, 0x2C, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00};

TEST(SatTranslation, RegistersComeBackFromBothSenseFormats) {
    for (const auto* sense : {&kDescriptorExceeded, &kFixedExceeded}) {
        const auto r = DecodeAtaSense(*sense);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->current.lbaMid, 0xF4);
        EXPECT_EQ(r->current.lbaHigh, 0x2C);
        EXPECT_EQ(r->current.command, 0x50) << "status in the command register";
        EXPECT_EQ(r->current.device, 0xA0);
        EXPECT_EQ(r->current.features, 0x00) << "error in the features register";
    }
    // An abort (ABORTED COMMAND), 48-bit, behind another descriptor: every byte in its place.
    const std::vector<uint8_t> abort = {0x72, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1A, 0x00, 0x0A, 0x80, 0x00,
                                        0,    0,    0,    0,    0,    0,    0,    0,    0x09, 0x0C, 0x01, 0x04,
                                        0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0xE0, 0x51};
    const auto r = DecodeAtaSense(abort);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(r->extend);
    EXPECT_EQ(r->current.features, 0x04);
    EXPECT_EQ(r->current.command, 0x51);
    EXPECT_EQ(r->current.sectorCount, 0x34);
    EXPECT_EQ(r->previous.sectorCount, 0x12);
    EXPECT_EQ(r->current.lbaLow, 0x78);
    EXPECT_EQ(r->previous.lbaLow, 0x56);
    EXPECT_EQ(r->current.lbaMid, 0xBC);
    EXPECT_EQ(r->previous.lbaMid, 0x9A);
    EXPECT_EQ(r->current.lbaHigh, 0xF0);
    EXPECT_EQ(r->previous.lbaHigh, 0xDE);
    EXPECT_EQ(r->current.device, 0xE0);

    // Sense without registers: cut short, another descriptor only, plain SCSI errors.
    EXPECT_FALSE(DecodeAtaSense(std::span(kDescriptorExceeded).first(20)));
    EXPECT_FALSE(DecodeAtaSense(std::vector<uint8_t>{0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0}));
    EXPECT_FALSE(DecodeAtaSense(std::vector<uint8_t>{0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00}));
    EXPECT_FALSE(DecodeAtaSense({}));
    // A descriptor length that points past the bytes never reads beyond them.
    std::vector<uint8_t> lying = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF};
    lying.insert(lying.end(), kDescriptorExceeded.begin() + 8, kDescriptorExceeded.end());
    EXPECT_FALSE(DecodeAtaSense(lying));
}

TEST(SatTranslation, CompletionsMapToRegistersOrWin32Errors) {
    const SatCommand smart = CommandFromRegisters({0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0, 0}, AtaDirection::None, 0);
    // Check condition with registers: the registers.
    auto out = DecodeCompletion({0x02, 0, 0x08, kDescriptorExceeded}, smart);
    ASSERT_TRUE(out.registers);
    EXPECT_EQ(out.registers->current.lbaMid, 0xF4);
    // A good completion with no sense: status 50h, no register contents invented.
    out = DecodeCompletion({0x00, 0, 0, {}}, smart);
    ASSERT_TRUE(out.registers);
    EXPECT_EQ(out.registers->current.command, 0x50);
    EXPECT_EQ(out.registers->current.lbaMid, 0x00);
    EXPECT_EQ(out.registers->current.device, 0xA0);
    // Timeouts, lost devices, busy targets, refused CDBs.
    EXPECT_EQ(DecodeCompletion({0x00, 0x03, 0, {}}, smart).error, win::ERROR_SEM_TIMEOUT);
    EXPECT_EQ(DecodeCompletion({0x00, 0, 0x06, {}}, smart).error, win::ERROR_SEM_TIMEOUT);
    EXPECT_EQ(DecodeCompletion({0x00, 0x01, 0, {}}, smart).error, win::ERROR_IO_DEVICE);
    EXPECT_EQ(DecodeCompletion({0x08, 0, 0, {}}, smart).error, win::ERROR_IO_DEVICE);
    const std::vector<uint8_t> illegal = {0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(DecodeCompletion({0x02, 0, 0x08, illegal}, smart).error, win::ERROR_INVALID_FUNCTION);
    const std::vector<uint8_t> medium = {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(DecodeCompletion({0x02, 0, 0x08, medium}, smart).error, win::ERROR_IO_DEVICE);
    EXPECT_FALSE(DecodeCompletion({0x02, 0, 0x08, medium}, smart).registers);
}

TEST(SatTranslation, TimeoutsHaveFloorsAndFollowTheStatedEraseTime) {
    const AtaTaskFile identify{0, 0, 0, 0, 0, 0xA0, 0xEC, 0};
    const AtaTaskFile microcode{0x07, 0x40, 0, 0, 0, 0xA0, 0x92, 0};
    const AtaTaskFile erase{0, 0, 0, 0, 0, 0, 0xF4, 0};
    EXPECT_EQ(CommandTimeoutSeconds(identify, 2, {}, {}), kMinimumTimeoutSeconds);
    EXPECT_EQ(CommandTimeoutSeconds(identify, 1000, {}, {}), 1000u);
    EXPECT_EQ(CommandTimeoutSeconds(microcode, 2, {}, {}), 600u);
    EXPECT_EQ(CommandTimeoutSeconds(erase, 1000, {}, {}), 1000u);
    EXPECT_EQ(CommandTimeoutSeconds(erase, 2, {}, {}), 600u);
    EXPECT_EQ(CommandTimeoutSeconds(identify, 0xFFFFFFFFu, {}, {}), 0xFFFFFFFFu / 1000) << "fits SG_IO's milliseconds";

    // Word 89: 16 units (32 minutes, short form); word 90: 100 units in the long form (200
    // minutes).
    std::vector<uint8_t> page(512, 0);
    page[178] = 0x10;
    page[180] = 0x64;
    page[181] = 0x80;
    const EraseTimes t = EraseTimesFromIdentify(page);
    EXPECT_EQ(t.normalMinutes, 32u);
    EXPECT_EQ(t.enhancedMinutes, 200u);
    // The short form keeps bits 7:0 only.
    page[179] = 0x7F;
    EXPECT_EQ(EraseTimesFromIdentify(page).normalMinutes, 32u);
    EXPECT_EQ(EraseTimesFromIdentify(std::span(page).first(100)).normalMinutes, 0u) << "short page";

    std::vector<uint8_t> block(512, 0);
    EXPECT_EQ(CommandTimeoutSeconds(erase, 2, t, block), 32u * 60 + 600) << "normal: stated time + 10 min";
    block[0] = 0x02;
    EXPECT_EQ(CommandTimeoutSeconds(erase, 2, t, block), 200u * 60 + 200u * 15) << "enhanced: stated time + 25%";
}

}  // namespace
}  // namespace tarvex::linuxhost
