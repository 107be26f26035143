// The ATA command set and the NVMe commands as they reach the drive, and their fallbacks.
#include <gtest/gtest.h>

#include <cstring>

#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/win32_values.h"
#include "support/fake_devices.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

using platform::AtaPassThroughEx;
using test::FakeDevices;

AtaTaskFile TaskFile(const FakeDevices::Request& r) {
    AtaPassThroughEx h{};
    std::memcpy(&h, r.input.data(), sizeof h);
    return h.CurrentTaskFile;
}

platform::SendCmdInParams SmartIn(const FakeDevices::Request& r) {
    platform::SendCmdInParams in{};
    EXPECT_EQ(r.input.size(), sizeof in);
    std::memcpy(&in, r.input.data(), sizeof in);
    return in;
}

// Fails every pass-through and answers SMART receive-data with a page full of `fill`.
FakeDevices::Answer OnlySmartReceive(uint8_t fill, uint32_t returnedSize = 528) {
    return [=](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
        if (r.code != platform::SMART_RCV_DRIVE_DATA) {
            return false;
        }
        std::memset(out.data(), 0, out.size());
        std::memset(out.data() + 16, fill, 512);
        *returned = returnedSize;
        return true;
    };
}

class CommandTest : public ::testing::Test {
protected:
    void Use(const nlohmann::json& profile) {
        installed_.reset();
        machine_ = std::make_unique<test::TestMachine>(profile);
        fake_ = FakeDevices{};
        installed_ = std::make_unique<test::WithFakeDevices>(machine_->Machine().Platform(), fake_);
        InitGlobalAtaCommand();
    }
    void SetUp() override { Use(test::BaseProfile()); }
    void TearDown() override {
        SetTraceLevel(0);
        ResetTraceForTesting();
        installed_.reset();
    }
    std::string TraceText() { return test::ReadHostFile(machine_->Host(u"C:\\Tools\\Tarvex.log")); }

    FakeDevices fake_;
    std::unique_ptr<test::TestMachine> machine_;
    std::unique_ptr<test::WithFakeDevices> installed_;
};

TEST_F(CommandTest, SelfTestAndLogReadRegisters) {
    ATACommand ata;
    ASSERT_EQ(ata.DoSmartSelfTest(1, 2), 1);
    AtaTaskFile tf = TaskFile(fake_.requests.at(0));
    EXPECT_EQ(fake_.requests[0].path, u"\\\\.\\PhysicalDrive1");
    EXPECT_EQ(tf.features, 0xD4);
    EXPECT_EQ(tf.sectorCount, 2);
    EXPECT_EQ(tf.lbaLow, 2);
    EXPECT_EQ(tf.lbaMid, 0x4F);
    EXPECT_EQ(tf.lbaHigh, 0xC2);
    EXPECT_EQ(tf.command, 0xB0);

    uint8_t log[512];
    ASSERT_EQ(ata.SmartReadLogPd(u"\\\\?\\ide#d", 0xA0, 1, 0xE0, log), 1);
    tf = TaskFile(fake_.requests.at(1));
    EXPECT_EQ(tf.features, 0xD5);
    EXPECT_EQ(tf.sectorCount, 1);
    EXPECT_EQ(tf.lbaLow, 0xE0);
    EXPECT_EQ(tf.device, 0x40) << "READ LOG always uses device 40h";

    uint8_t write[512] = {0xAB};
    ASSERT_EQ(ata.SmartWriteLogPd(u"\\\\?\\ide#d", 0xA0, 1, 0xE0, write), 1);
    EXPECT_EQ(fake_.requests.at(2).input[44], 0xAB) << "the caller's data is what is written";
    tf = TaskFile(fake_.requests[2]);
    EXPECT_EQ(tf.features, 0xD6);
    EXPECT_EQ(tf.device, 0xA0);
}

TEST_F(CommandTest, SmartReadFallsBackToReceiveData) {
    ATACommand ata;
    PhysicalDriveInfo record = EmptyDriveRecord();
    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
        if (r.code != platform::SMART_RCV_DRIVE_DATA) {
            return false;
        }
        std::memset(out.data(), 0, out.size());
        out[16 + 2] = 0x09;   // slot 0: attribute 9
        out[16 + 14] = 0xC2;  // slot 1: attribute 194
        out[16 + 14 + 5] = 41;
        *returned = 528;
        return true;
    };
    ASSERT_EQ(ata.GetSmartAttributePd(u"\\\\?\\ide#d", 0xA0, record), 1);
    ASSERT_EQ(fake_.requests.size(), 2u);
    EXPECT_EQ(fake_.requests[0].code, platform::IOCTL_ATA_PASS_THROUGH);
    const platform::SendCmdInParams in = SmartIn(fake_.requests[1]);
    EXPECT_EQ(in.cBufferSize, 512u);
    EXPECT_EQ(in.irDriveRegs.bFeaturesReg, 0xD0);
    EXPECT_EQ(in.irDriveRegs.bSectorCountReg, 1);
    EXPECT_EQ(in.irDriveRegs.bSectorNumberReg, 1);
    EXPECT_EQ(in.irDriveRegs.bCylLowReg, 0x4F);
    EXPECT_EQ(in.irDriveRegs.bCylHighReg, 0xC2);
    EXPECT_EQ(in.irDriveRegs.bDriveHeadReg, 0xA0);
    EXPECT_EQ(in.irDriveRegs.bCommandReg, 0xB0);
    EXPECT_EQ(record.attributeCount, 2u);
    EXPECT_EQ(record.temperature, 41);

    // A receive-data answer of any other size than 528 bytes is a failure.
    fake_.answer = OnlySmartReceive(0x11, 527);
    EXPECT_EQ(ata.GetSmartAttributePd(u"\\\\?\\ide#d", 0xA0, record), 0);
    uint8_t identify[512];
    EXPECT_EQ(ata.DoIdentify(u"\\\\?\\ide#d", 0xA0, identify), 0);
    fake_.answer = OnlySmartReceive(0x22);
    ASSERT_EQ(ata.DoIdentify(u"\\\\?\\ide#d", 0xA0, identify), 1);
    EXPECT_EQ(identify[0], 0x22);
    const platform::SendCmdInParams id = SmartIn(fake_.requests.back());
    EXPECT_EQ(id.irDriveRegs.bCommandReg, 0xEC);
    EXPECT_EQ(id.irDriveRegs.bCylLowReg, 0);
}

TEST_F(CommandTest, WithoutPassThroughSmartGoesStraightToReceiveData) {
    nlohmann::json xp = test::BaseProfile();
    xp["os"] = {{"major", 5}, {"minor", 1}, {"servicePack", "Service Pack 1"}};
    Use(xp);
    fake_.answer = OnlySmartReceive(0);
    ATACommand ata;
    PhysicalDriveInfo record = EmptyDriveRecord();
    (void)ata.GetSmartAttributePd(u"\\\\?\\ide#d", 0, record);
    ASSERT_EQ(fake_.requests.size(), 1u);
    EXPECT_EQ(fake_.requests[0].code, platform::SMART_RCV_DRIVE_DATA);
    uint8_t data[512] = {1};
    EXPECT_EQ(ata.SmartWriteLogPd(u"\\\\?\\ide#d", 0, 1, 0xE0, data), 0)
        << "a log write that cannot be carried is not reported as done";
}

TEST_F(CommandTest, UsbDrivesGetNoCommand) {
    ATACommand ata;
    PhysicalDriveInfo record = EmptyDriveRecord();
    uint8_t buffer[512];
    EXPECT_EQ(ata.DoIdentify(u"\\\\?\\usbstor#disk&ven_x", 0xA0, buffer), 0);
    EXPECT_EQ(ata.GetSmartAttributePd(u"\\\\?\\USBSTOR#disk", 0, record), 0);
    EXPECT_EQ(ata.SmartReadLogPd(u"\\\\?\\usbstor#disk", 0, 1, 0xE0, buffer), 1);
    EXPECT_TRUE(fake_.opens.empty());
}

TEST_F(CommandTest, SelfTestStatusIsByte363OfThatDrive) {
    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
        std::memcpy(out.data(), r.input.data(), std::min(r.input.size(), out.size()));
        out[44 + 2] = 0x09;
        out[44 + 363] = 0xF3;
        *returned = static_cast<uint32_t>(out.size());
        return true;
    };
    ATACommand ata;
    EXPECT_EQ(ata.GetSelfTestStatus(4), 0xF3);
    EXPECT_EQ(fake_.requests.at(0).path, u"\\\\.\\PhysicalDrive4");
}

TEST_F(CommandTest, FirmwareGoesInPiecesAtGrowingOffsets) {
    std::vector<uint8_t> image(40000);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7);
    }
    {
        auto f = machine_->Machine().Files().OpenStream(u"C:\\fw.bin", "wb");
        uint32_t n;
        ASSERT_TRUE(f->Write(image.data(), static_cast<uint32_t>(image.size()), &n));
    }
    ResetTraceForTesting();
    SetTraceLevel(1);
    ATACommand ata;
    ASSERT_EQ(ata.DownloadMicrocode(u"C:\\fw.bin", 0xA0, u"\\\\?\\ide#d", 3, 64), 1);
    ASSERT_EQ(fake_.requests.size(), 2u);
    for (int piece = 0; piece < 2; ++piece) {
        const auto& r = fake_.requests[piece];
        AtaTaskFile tf = TaskFile(r);
        EXPECT_EQ(tf.command, 0x92);
        EXPECT_EQ(tf.features, 3);
        EXPECT_EQ(tf.sectorCount, 64);
        EXPECT_EQ(tf.lbaMid | (tf.lbaHigh << 8), piece * 64);
        EXPECT_EQ(r.input.size(), 44u + 32768u);
    }
    EXPECT_EQ(std::memcmp(fake_.requests[1].input.data() + 44, image.data() + 32768, 40000 - 32768), 0);
    EXPECT_EQ(fake_.requests[1].input[44 + 40000 - 32768], 0) << "the short last piece is padded with zeros";
    EXPECT_NE(TraceText().find(" 0 DownloadMicrocode--read 32768 bytes\r\n"), std::string::npos);
    EXPECT_NE(TraceText().find(" 1 DownloadMicrocode--read 7232 bytes\r\n"), std::string::npos);

    EXPECT_EQ(ata.DownloadMicrocode(u"C:\\missing.bin", 0xA0, u"\\\\?\\ide#d", 3, 64), 0);
    EXPECT_NE(TraceText().find("Open firmware file error:C:\\missing.bin"), std::string::npos);
}

TEST_F(CommandTest, OversizedFirmwareIsRefusedBeforeAnyPiece) {
    {
        auto f = machine_->Machine().Files().OpenStream(u"C:\\huge.bin", "wb");
        ASSERT_TRUE(f->Seek(1024 * 32768 + 1 - 1, 0, nullptr));
        uint32_t n;
        const uint8_t last = 1;
        ASSERT_TRUE(f->Write(&last, 1, &n));  // 32 MiB + 1 byte
    }
    ATACommand ata;
    EXPECT_EQ(ata.DownloadMicrocode(u"C:\\huge.bin", 0xA0, u"\\\\?\\ide#d", 3, 64), 0);
    EXPECT_TRUE(fake_.requests.empty());
    {
        auto f = machine_->Machine().Files().OpenStream(u"C:\\empty.bin", "wb");
    }
    EXPECT_EQ(ata.DownloadMicrocode(u"C:\\empty.bin", 0xA0, u"\\\\?\\ide#d", 3, 64), 0);
}

TEST_F(CommandTest, VendorStatisticsSequence) {
    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned,
                      std::span<uint8_t> direct) {
        std::memcpy(out.data(), r.input.data(), 40);
        out[38] = 0x50;  // status: ready, no error
        if (direct.size() == 16 * 512) {
            direct[0] = 0x78;
            direct[1] = 0x56;
            direct[2] = 0x34;
            direct[3] = 0x12;
        }
        *returned = 40;
        return true;
    };
    ATACommand ata;
    std::vector<uint8_t> table(16 * 512);
    for (int drive : {2, 3}) {
        fake_.requests.clear();
        EXPECT_EQ(ata.GetVendorStatistics(drive, 16, table.data()), 0x12345678u);
        ASSERT_EQ(fake_.requests.size(), 3u);
        const uint8_t device = drive == 2 ? 0xE0 : 0xF0;
        AtaTaskFile entry = TaskFile(fake_.requests[0]);
        EXPECT_EQ(entry.command, 0xEF);
        EXPECT_EQ(entry.features, platform::kVendorModeFeature);
        EXPECT_EQ(entry.sectorCount, platform::kVendorModeKey);
        EXPECT_EQ(entry.device, device) << drive;
        AtaTaskFile request = TaskFile(fake_.requests[1]);
        EXPECT_EQ(request.command, 0x88);
        EXPECT_EQ(request.sectorCount, 1);
        EXPECT_EQ(request.lbaLow, platform::kVendorRequestLba[0]);
        EXPECT_EQ(request.lbaHigh, platform::kVendorRequestLba[2]);
        const auto& block = fake_.requests[1].direct;
        EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + 8),
                  (std::vector<uint8_t>{0x53, 0x54, 0x51, 0, 0x00, 0x02, 0x2C, 0x00}));
        AtaTaskFile read = TaskFile(fake_.requests[2]);
        EXPECT_EQ(read.command, 0x86);
        EXPECT_EQ(read.sectorCount, 16);
        EXPECT_EQ(read.device, device);
    }
}

TEST_F(CommandTest, NvmeRequestsThroughTheScsiPort) {
    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
        if (r.code == platform::IOCTL_SCSI_GET_ADDRESS) {
            platform::ScsiAddress a{8, 2, 0, 0, 0};
            std::memcpy(out.data(), &a, sizeof a);
            *returned = 8;
            return true;
        }
        std::memcpy(out.data(), r.input.data(), r.input.size());
        out[152] = 0x5A;
        *returned = static_cast<uint32_t>(out.size());
        return true;
    };
    ATACommand ata;
    std::vector<uint8_t> identify(4248);
    ASSERT_TRUE(ata.IdentifyCommand_Controller(u"\\\\?\\scsi#disk&ven_nvme", identify.data()));
    ASSERT_EQ(fake_.requests.size(), 2u);
    EXPECT_EQ(fake_.requests[0].code, platform::IOCTL_SCSI_GET_ADDRESS);
    EXPECT_EQ(fake_.opens[0].share, 0u);
    EXPECT_EQ(fake_.requests[1].path, u"\\\\.\\SCSI2:");
    EXPECT_EQ(fake_.requests[1].code, platform::IOCTL_SCSI_MINIPORT);
    platform::NvmePassThroughHeader h;
    ASSERT_EQ(fake_.requests[1].input.size(), 4248u);
    std::memcpy(&h, fake_.requests[1].input.data(), sizeof h);
    EXPECT_EQ(h.SrbIoCtrl.HeaderLength, 28u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(h.SrbIoCtrl.Signature), 8), "NvmeMini");
    EXPECT_EQ(h.SrbIoCtrl.Timeout, 1000u);
    EXPECT_EQ(h.SrbIoCtrl.ControlCode, 0xE0002000u);
    EXPECT_EQ(h.SrbIoCtrl.Length, 4220u);
    EXPECT_EQ(h.NVMeCmd[0], 0x06u);
    EXPECT_EQ(h.NVMeCmd[1], 1u);
    EXPECT_EQ(h.NVMeCmd[10], 1u);
    EXPECT_EQ(h.Direction, 2u);
    EXPECT_EQ(h.ReturnBufferLen, 4248u);
    EXPECT_EQ(identify[152], 0x5A);

    std::vector<uint8_t> log(512);
    ASSERT_TRUE(ata.GetLogPageCommand_SMART_Health(u"\\\\?\\scsi#disk&ven_nvme", log.data()));
    std::memcpy(&h, fake_.requests[3].input.data(), sizeof h);
    EXPECT_EQ(fake_.requests[3].input.size(), 664u);
    EXPECT_EQ(h.SrbIoCtrl.Length, 636u);
    EXPECT_EQ(h.ReturnBufferLen, 664u);
    EXPECT_EQ(h.NVMeCmd[0], 0x02u);
    EXPECT_EQ(h.NVMeCmd[1], 0xFFFFFFFFu);
    EXPECT_EQ(h.NVMeCmd[10], 0x007F0002u);
    EXPECT_EQ(log[0], 0x5A);

    fake_.requests.clear();
    fake_.unopenable.insert(u"\\\\.\\SCSI2:");
    EXPECT_FALSE(ata.IdentifyCommand_Controller(u"\\\\?\\scsi#disk&ven_nvme", identify.data()));
    EXPECT_FALSE(ata.GetLogPageCommand_SMART_Health(u"\\\\?\\scsi#disk&ven_nvme", log.data()));
    for (const auto& r : fake_.requests) {
        EXPECT_NE(r.code, platform::IOCTL_SCSI_MINIPORT) << "nothing is sent to a port that cannot be opened";
    }
}

// A miniport that completes the call and reports the outcome the way the test scripts it.
struct MiniportReply {
    uint32_t completionDword3 = 0x10000;  // phase tag only: success
    uint32_t returnCode = 0;
    int64_t returnedDelta = 0;  // bytes reported beyond (or short of) the whole buffer
    uint32_t addressBytes = 8;
    bool addressOk = true;

    FakeDevices::Answer Answer() {
        return [this](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
            if (r.code == platform::IOCTL_SCSI_GET_ADDRESS) {
                platform::ScsiAddress a{8, 2, 0, 0, 0};
                std::memcpy(out.data(), &a, sizeof a);
                *returned = addressBytes;
                return addressOk;
            }
            std::memcpy(out.data(), r.input.data(), r.input.size());
            platform::NvmePassThroughHeader h;
            std::memcpy(&h, out.data(), sizeof h);
            h.CplEntry[3] = completionDword3;
            h.SrbIoCtrl.ReturnCode = returnCode;
            std::memcpy(out.data(), &h, sizeof h);
            std::memset(out.data() + 152, 0x5A, out.size() - 152);
            *returned = static_cast<uint32_t>(static_cast<int64_t>(out.size()) + returnedDelta);
            return true;
        };
    }
};

TEST_F(CommandTest, NvmeCommandsFailOnAFailedCompletionOrAShortReply) {
    ATACommand ata;
    const std::u16string path = u"\\\\?\\scsi#disk&ven_nvme";
    std::vector<uint8_t> identify(4248, 0);
    std::vector<uint8_t> log(512, 0);
    MiniportReply reply;
    fake_.answer = reply.Answer();
    ASSERT_TRUE(ata.IdentifyCommand_Controller(path, identify.data()));
    ASSERT_TRUE(ata.GetLogPageCommand_SMART_Health(path, log.data()));
    ASSERT_EQ(log[0], 0x5A);

    const struct {
        uint32_t dword3;
        uint32_t returnCode;
        int64_t delta;
        const char* what;
    } failures[] = {
        {0x10000 | (0x02u << 17), 0, 0, "status field: invalid field in command"},
        {0x10000 | (0x1u << 25), 0, 0, "status code type set"},
        {0x10000, 1, 0, "the driver's ReturnCode"},
        {0x10000, 0, -1, "one byte short"},
        {0x10000, 0, -512, "no data"},
    };
    for (const auto& f : failures) {
        reply = MiniportReply{f.dword3, f.returnCode, f.delta};
        std::fill(identify.begin(), identify.end(), 0);
        std::fill(log.begin(), log.end(), 0);
        EXPECT_FALSE(ata.IdentifyCommand_Controller(path, identify.data())) << f.what;
        EXPECT_FALSE(ata.GetLogPageCommand_SMART_Health(path, log.data())) << f.what;
        EXPECT_EQ(identify[152], 0) << f.what << ": nothing is copied out";
        EXPECT_EQ(log[0], 0) << f.what;
    }
}

TEST_F(CommandTest, ScsiPortNameNeedsAWholeAddress) {
    ATACommand ata;
    MiniportReply reply;
    fake_.answer = reply.Answer();
    std::u16string port = u"\\\\.\\SCSI9:";
    ASSERT_TRUE(ata.GetScsiPortName(u"\\\\?\\scsi#disk&ven_nvme", &port));
    EXPECT_EQ(port, u"\\\\.\\SCSI2:");

    for (const auto& [bytes, ok] : {std::pair<uint32_t, bool>{4, true}, {8, false}}) {
        reply.addressBytes = bytes;
        reply.addressOk = ok;
        port = u"\\\\.\\SCSI9:";
        EXPECT_FALSE(ata.GetScsiPortName(u"\\\\?\\scsi#disk&ven_nvme", &port)) << bytes << " " << ok;
        EXPECT_TRUE(port.empty()) << "no name is left over from before";
        fake_.opens.clear();
        std::vector<uint8_t> identify(4248, 0);
        EXPECT_FALSE(ata.IdentifyCommand_Controller(u"\\\\?\\scsi#disk&ven_nvme", identify.data()));
        ASSERT_EQ(fake_.opens.size(), 1u) << "only the drive itself is opened, no guessed port";
    }
}

TEST_F(CommandTest, SelfTestStartRefusedByTheDriveFails) {
    // The drive completes the call but aborts the command: ERR in the returned status.
    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
        std::memcpy(out.data(), r.input.data(), r.input.size());
        if (r.code == platform::IOCTL_ATA_PASS_THROUGH) {
            out[32] = 0x04;  // error: ABRT
            out[38] = 0x51;  // status: DRDY DSC ERR
        }
        *returned = static_cast<uint32_t>(r.input.size());
        return true;
    };
    ATACommand ata;
    EXPECT_EQ(ata.DoSmartSelfTest(1, 1), 0);
    ASSERT_EQ(fake_.requests.size(), 1u) << "the drive has answered: no second route";
    fake_.answer = nullptr;
    EXPECT_EQ(ata.DoSmartSelfTest(1, 1), 1) << "the echo has a status without ERR";
}

}  // namespace
}  // namespace tarvex
