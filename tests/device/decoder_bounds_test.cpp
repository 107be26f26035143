// The decoders of device replies read through bounds checks: given fewer bytes than a page,
// a field that is not there reads as zero or empty, and nothing past the bytes is touched.
#include <gtest/gtest.h>

#include <vector>

#include "device/identify_decoding.h"
#include "health/nvme_health_log.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

TEST(DecoderBounds, ShortRepliesReadAsMissingFields) {
    test::TestMachine m;
    // 60 bytes: serial (20..39) and firmware (46..53) are there, the model (54..93) is not.
    std::vector<uint8_t> identify(60, 0);
    const char serial[] = "1SABCD";  // as a drive stores it: pairs swapped
    std::copy(serial, serial + 6, identify.begin() + kIdentifySerialOffset);
    PhysicalDriveInfo record = EmptyDriveRecord();
    StoreSataIdentify(record, identify);
    EXPECT_EQ(platform::FixedText(record.serialNumber), u"S1BADC");
    EXPECT_EQ(platform::FixedText(record.modelNumber), u"") << "no model bytes came";
    EXPECT_EQ(record.identify[100], 0) << "the rest of the record's page is zero";

    EXPECT_EQ(IdentifyWord(identify, 30), 0x0000) << "a word past the end reads as 0";
    EXPECT_EQ(IdentifyWord(std::span(identify).first(21), 10), 0) << "half a word is no word";
    EXPECT_EQ(IdentifyWord(identify, 10), 0x5331);
    EXPECT_EQ(IdentifyWord(identify, -1), 0);
    EXPECT_EQ(MaxLba(identify), 0u);
    EXPECT_EQ(WwnText(identify), u"0000000000000000");
    EXPECT_EQ(SataRevisionText(identify), u"N/A");

    std::vector<uint8_t> log(40, 0);
    log[1] = 0x2C;
    log[2] = 0x01;  // 300 K
    log[5] = 7;
    log[32] = 9;  // data units read: only 8 of its bytes would be there with 40
    const NvmeHealthLog h = DecodeNvmeHealthLog(log);
    EXPECT_EQ(h.compositeTemperatureKelvin, 300);
    EXPECT_EQ(h.percentageUsed, 7);
    EXPECT_EQ(h.dataUnitsRead, 9u);
    EXPECT_EQ(h.dataUnitsWritten, 0u) << "a counter past the end reads as 0";
    EXPECT_EQ(DecodeNvmeHealthLog({}).criticalWarning, 0);
}

}  // namespace
}  // namespace tarvex
