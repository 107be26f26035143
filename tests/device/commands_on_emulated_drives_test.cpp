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
    const uint8_t start = ata.GetSelfTestStatus(0);
    EXPECT_EQ(start & 0xF0, 0xF0) << "running";
    machine_->Clock().Sleep(60000);
    const uint8_t half = ata.GetSelfTestStatus(0);
    EXPECT_EQ(half & 0xF0, 0xF0);
    EXPECT_LT(half & 0x0F, start & 0x0F) << "less left to do as time passes";
    machine_->Clock().Sleep(24 * 3600 * 1000);
    EXPECT_EQ(ata.GetSelfTestStatus(0), 0x00) << "completed without error";

    ASSERT_EQ(ata.DoSmartSelfTest(0, 2), 1);
    EXPECT_EQ(ata.GetSelfTestStatus(0) & 0xF0, 0xF0);
    ASSERT_EQ(ata.DoSmartSelfTest(0, 0x7F), 1);
    EXPECT_EQ(ata.GetSelfTestStatus(0) & 0xF0, 0x10) << "aborted by the host";
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

namespace tarvex {
namespace {

TEST(EmulatedDriveFaults, ReachTheCallersAsFailures) {
    nlohmann::json profile = nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text);
    profile["disks"][0]["faults"] = nlohmann::json::parse(R"([{"on": "ata", "command": 236, "effect": "fail"}])");
    profile["disks"][1]["faults"] = nlohmann::json::parse(R"([{"on": "open"}])");
    profile["disks"][2]["faults"] = nlohmann::json::parse(R"([{"on": "ioctl", "ioctl": "IOCTL_SCSI_MINIPORT"}])");
    profile["disks"][3]["faults"] =
        nlohmann::json::parse(R"([{"on": "ata", "command": 176, "feature": 208, "effect": "fail", "times": 1}])");
    test::TestMachine machine(profile);
    InitGlobalAtaCommand();
    ATACommand ata;
    uint8_t page[512];
    EXPECT_EQ(ata.DoIdentify(u"\\\\.\\PhysicalDrive0", 0xA0, page), 0) << "IDENTIFY fails by either route";
    EXPECT_EQ(ata.DoIdentify(u"\\\\.\\PhysicalDrive1", 0xA0, page), 0) << "a drive that cannot be opened";
    PhysicalDriveInfo record = EmptyDriveRecord();
    EXPECT_EQ(ata.GetSmartAttributePd(u"\\\\.\\PhysicalDrive1", 0, record), 0);
    std::vector<uint8_t> buffer(platform::kNvmeIdentifyBufferSize);
    EXPECT_FALSE(ata.IdentifyCommand_Controller(u"\\\\.\\PhysicalDrive2", buffer.data()));
    // One failed SMART READ DATA: the receive-data route still gets the page.
    EXPECT_EQ(ata.GetSmartAttributePd(u"\\\\.\\PhysicalDrive3", 0, record), 1);
    EXPECT_GT(record.attributeCount, 0u);
}

TEST(EmulatedDriveFaults, ShortRepliesAreFailuresNotZeroPaddedPages) {
    nlohmann::json profile = nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text);
    // SMART READ DATA and IDENTIFY return only their first 100 bytes, by either route.
    profile["disks"][0]["faults"] = nlohmann::json::parse(
        R"([{"on": "ata", "command": 176, "feature": 208, "effect": "short", "bytes": 100},
            {"on": "ata", "command": 236, "effect": "short", "bytes": 100}])");
    test::TestMachine machine(profile);
    InitGlobalAtaCommand();
    ATACommand ata;
    PhysicalDriveInfo record = EmptyDriveRecord();
    record.driveIndex = 0;
    bool read = true;
    EXPECT_EQ(ata.GetSmartAttributePd(0, record, &read), 0);
    EXPECT_FALSE(read) << "a page cut short is no page";
    EXPECT_EQ(record.attributeCount, 0u);
    uint8_t page[512];
    EXPECT_EQ(ata.DoIdentify(u"\\\\.\\PhysicalDrive0", 0xA0, page), 0);
}

}  // namespace
}  // namespace tarvex

namespace tarvex {
namespace {

TEST(EmulatedSmartReturnStatus, ComesFromTheReturnedRegisters) {
    nlohmann::json profile = nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text);
    // Disk 1: an attribute down at its threshold. Disks 0 and 3: the command is refused or
    // fails on the way.
    bool lowered = false;
    for (auto& a : profile["disks"][1]["sata"]["smart"]["attributes"]) {
        if (!lowered && a.value("threshold", 0) > 0) {
            a["current"] = a["threshold"];
            a["worst"] = a["threshold"];
            lowered = true;
        }
    }
    ASSERT_TRUE(lowered);
    profile["disks"][3]["faults"] =
        nlohmann::json::parse(R"([{"on": "ata", "command": 176, "feature": 218, "effect": "abort"}])");
    test::TestMachine machine(profile);
    InitGlobalAtaCommand();
    ATACommand ata;

    bool exceeded = true;
    EXPECT_EQ(ata.SmartReturnStatusPd(u"\\\\.\\PhysicalDrive0", 0, &exceeded), 1);
    EXPECT_FALSE(exceeded) << "4Fh/C2h: no threshold exceeded";
    EXPECT_EQ(ata.SmartReturnStatusPd(u"\\\\.\\PhysicalDrive1", 0, &exceeded), 1);
    EXPECT_TRUE(exceeded) << "F4h/2Ch";
    exceeded = true;
    EXPECT_EQ(ata.SmartReturnStatusPd(u"\\\\.\\PhysicalDrive3", 0, &exceeded), 0) << "ERR: the status is not known";
    EXPECT_FALSE(exceeded);
    EXPECT_EQ(ata.SmartReturnStatusPd(u"\\\\.\\PhysicalDrive4", 0, &exceeded), 0) << "a USB disk gets no command";
    EXPECT_EQ(ata.SmartReturnStatusPd(u"\\\\.\\PhysicalDrive9", 0, &exceeded), 0) << "no such drive";
}

TEST(EmulatedSmartReturnStatus, AFailedPassThroughIsNotAGoodDrive) {
    nlohmann::json profile = nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text);
    profile["disks"][0]["faults"] =
        nlohmann::json::parse(R"([{"on": "ata", "command": 176, "feature": 218, "effect": "fail"}])");
    test::TestMachine machine(profile);
    InitGlobalAtaCommand();
    ATACommand ata;
    bool exceeded = true;
    EXPECT_EQ(ata.SmartReturnStatusPd(u"\\\\.\\PhysicalDrive0", 0, &exceeded), 0);
    EXPECT_FALSE(exceeded);
}

}  // namespace
}  // namespace tarvex
