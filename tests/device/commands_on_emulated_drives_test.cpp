// The command layer against the emulated drives of the demo PC: both halves must agree on
// the wire, and the drive's answers must reach the caller.
#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "device/identify_decoding.h"
#include "platform/sim/devices/firmware_image.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

class EmulatedDrivesTest : public ::testing::Test {
protected:
    EmulatedDrivesTest() : machine_(nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text)) {
        InitGlobalAtaCommand();
    }
    std::u16string Firmware(int disk) {
        ATACommand ata;
        uint8_t page[512];
        EXPECT_EQ(ata.DoIdentify(u"\\\\.\\PhysicalDrive" + std::u16string(1, static_cast<char16_t>(u'0' + disk)), 0xA0,
                                 page),
                  1);
        PhysicalDriveInfo record = EmptyDriveRecord();
        StoreSataIdentify(record, page);
        return std::u16string(platform::FixedText(record.firmwareRevision));
    }
    test::TestMachine machine_;
};

TEST_F(EmulatedDrivesTest, SelfTestRunsWithTheClockAndCanBeAborted) {
    ATACommand ata;
    ASSERT_EQ(ata.DoSmartSelfTest(0, 1), 1);
    const uint8_t start = ata.GetSmartSelfTestStatus(0);
    EXPECT_EQ(start & 0xF0, 0xF0) << "running";
    machine_->Clock().Sleep(60000);
    const uint8_t half = ata.GetSmartSelfTestStatus(0);
    EXPECT_EQ(half & 0xF0, 0xF0);
    EXPECT_LT(half & 0x0F, start & 0x0F) << "less left to do as time passes";
    machine_->Clock().Sleep(24 * 3600 * 1000);
    EXPECT_EQ(ata.GetSmartSelfTestStatus(0), 0x00) << "completed without error";

    ASSERT_EQ(ata.DoSmartSelfTest(0, 2), 1);
    EXPECT_EQ(ata.GetSmartSelfTestStatus(0) & 0xF0, 0xF0);
    ASSERT_EQ(ata.DoSmartSelfTest(0, 0x7F), 1);
    EXPECT_EQ(ata.GetSmartSelfTestStatus(0) & 0xF0, 0x10) << "aborted by the host";
}

TEST_F(EmulatedDrivesTest, FirmwareDownloadChangesTheRevisionOnlyForAGoodImage) {
    const std::u16string before = Firmware(0);
    std::vector<uint8_t> payload(40000, 0x3C);
    auto write = [&](const std::u16string& name, const std::vector<uint8_t>& bytes) {
        auto f = machine_->Files().OpenStream(name, "wb");
        uint32_t n = 0;
        ASSERT_TRUE(f && f->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &n));
    };
    write(u"C:\\wrong.bin", sim::MakeFirmwareImage("SOME OTHER MODEL", "9.99", payload));
    ATACommand ata;
    // The drive refuses the image; the buffered form does not see a drive's abort.
    (void)ata.DownloadMicrocode(u"C:\\wrong.bin", 0xA0, u"\\\\.\\PhysicalDrive0", 3, 64);
    EXPECT_EQ(Firmware(0), before);

    write(u"C:\\good.bin", sim::MakeFirmwareImage("VARNO TL30A 256GB", "1.09", payload));
    ASSERT_EQ(ata.DownloadMicrocode(u"C:\\good.bin", 0xA0, u"\\\\.\\PhysicalDrive0", 3, 64), 1);
    EXPECT_EQ(Firmware(0), u"1.09");
}

TEST_F(EmulatedDrivesTest, NvmeBehindTheMiniportAnswersAndUsbDoesNot) {
    ATACommand ata;
    std::vector<uint8_t> buffer(platform::kNvmeIdentifyBufferSize);
    ASSERT_TRUE(ata.IdentifyCommand_Controller(u"\\\\.\\PhysicalDrive2", buffer.data()));
    PhysicalDriveInfo record = EmptyDriveRecord();
    std::memcpy(record.nvmeIdentify, buffer.data() + platform::kNvmeDataOffset, 4096);
    StoreNvmeIdentifyStrings(record);
    EXPECT_EQ(platform::FixedText(record.modelNumber), u"VARNO NV10 512GB");
    uint8_t log[512];
    ASSERT_TRUE(ata.GetLogPageCommand_SMART_Health(u"\\\\.\\PhysicalDrive2", log));
    EXPECT_GT(log[1] | (log[2] << 8), 273) << "a composite temperature in kelvin";

    uint8_t page[512];
    EXPECT_EQ(ata.DoIdentify(u"\\\\.\\PhysicalDrive4", 0xA0, page), 0);
}

}  // namespace
}  // namespace tarvex
