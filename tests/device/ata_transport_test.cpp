// The bytes each request form puts on the wire.
#include <gtest/gtest.h>

#include <cstring>

#include "device/ata_command.h"
#include "platform/win32_values.h"
#include "support/fake_devices.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

using platform::AtaPassThroughEx;
using test::FakeDevices;

AtaPassThroughEx Header(const FakeDevices::Request& r) {
    AtaPassThroughEx h{};
    EXPECT_GE(r.input.size(), sizeof h);
    std::memcpy(&h, r.input.data(), std::min(r.input.size(), sizeof h));
    return h;
}

nlohmann::json Os(uint32_t major, uint32_t minor, const char* servicePack = "") {
    nlohmann::json p = test::BaseProfile();
    p["os"] = {{"major", major}, {"minor", minor}, {"servicePack", servicePack}};
    return p;
}

class TransportTest : public ::testing::Test {
protected:
    void Use(const nlohmann::json& profile) {
        fakeDevices_.reset();
        machine_ = std::make_unique<test::TestMachine>(profile);
        fake_ = FakeDevices{};
        fakeDevices_ = std::make_unique<test::WithFakeDevices>(machine_->Machine().Platform(), fake_);
        InitGlobalAtaCommand();
    }
    void SetUp() override { Use(test::BaseProfile()); }
    void TearDown() override {
        fakeDevices_.reset();
        machine_.reset();
    }
    FakeDevices fake_;
    std::unique_ptr<test::TestMachine> machine_;
    std::unique_ptr<test::WithFakeDevices> fakeDevices_;
};

TEST_F(TransportTest, SmartRegistersTimeoutsAndFlags) {
    ATACommand ata;
    uint8_t page[512];
    // SMART READ DATA with garbage in LBA low/mid/high: the SMART rule fixes them.
    ASSERT_EQ(ata.SendAtaCommandPhysicalDrive(u"\\\\?\\ide#disk1", AtaTaskFile{0xD0, 0, 0x11, 0x22, 0x33, 0xA0, 0xB0, 0},
                                              page, 512, platform::ATA_FLAGS_DATA_IN),
              1);
    ASSERT_EQ(fake_.requests.size(), 1u);
    const auto& r = fake_.requests[0];
    EXPECT_EQ(r.path, u"\\\\?\\ide#disk1");
    EXPECT_EQ(r.code, platform::IOCTL_ATA_PASS_THROUGH);
    EXPECT_EQ(r.input.size(), 44u + 512u);
    AtaPassThroughEx h = Header(r);
    EXPECT_EQ(h.Length, 40);
    EXPECT_EQ(h.AtaFlags, platform::ATA_FLAGS_DATA_IN);
    EXPECT_EQ(h.DataTransferLength, 512u);
    EXPECT_EQ(h.TimeOutValue, kTimeoutByPath);
    EXPECT_EQ(h.DataBufferOffset, 44u);
    EXPECT_EQ(h.CurrentTaskFile.features, 0xD0);
    EXPECT_EQ(h.CurrentTaskFile.lbaLow, 0) << "LBA low takes the count in the unpacked forms";
    EXPECT_EQ(h.CurrentTaskFile.lbaMid, 0x4F);
    EXPECT_EQ(h.CurrentTaskFile.lbaHigh, 0xC2);
    EXPECT_EQ(h.CurrentTaskFile.device, 0xA0);
    EXPECT_EQ(h.CurrentTaskFile.command, 0xB0);
    const uint8_t zeros[8] = {};
    EXPECT_EQ(std::memcmp(&h.PreviousTaskFile, zeros, 8), 0);
    ASSERT_EQ(fake_.opens.size(), 1u);
    EXPECT_EQ(fake_.opens[0].access, win::GENERIC_READ | win::GENERIC_WRITE);
    EXPECT_EQ(fake_.opens[0].share, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
    EXPECT_EQ(fake_.openHandles, 0) << "closed right after the request";

    // No data: flags and length 0 whatever the caller passed; by number the timeout is 1000.
    ASSERT_EQ(ata.SendAtaCommandPhysicalDrive(3, AtaTaskFile{0, 0, 0, 0, 0, 0, 0xEA, 0}, nullptr, 0, 1), 1);
    h = Header(fake_.requests[1]);
    EXPECT_EQ(fake_.requests[1].path, u"\\\\.\\PhysicalDrive3");
    EXPECT_EQ(h.AtaFlags, 0);
    EXPECT_EQ(h.DataTransferLength, 0u);
    EXPECT_EQ(h.TimeOutValue, kTimeoutByNumber);
    EXPECT_EQ(fake_.requests[1].input.size(), 44u);

    // Too long: refused without opening the drive.
    std::vector<uint8_t> big(32769);
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(u"\\\\?\\ide#disk1", AtaTaskFile{3, 0, 0, 0, 0, 0, 0x92, 0}, big.data(), 32769, 4), 0);
    EXPECT_EQ(fake_.opens.size(), 2u);
    EXPECT_EQ(fake_.requests.size(), 2u);

    // Packed form: LBA low stays as given for SMART.
    ASSERT_EQ(ata.SendAtaCommandPD(u"\\\\?\\ide#disk1", AtaTaskFile{0xD5, 1, 0xE0, 0, 0, 0x40, 0xB0, 0}, page, 512, 2),
              1);
    h = Header(fake_.requests[2]);
    EXPECT_EQ(h.CurrentTaskFile.lbaLow, 0xE0);
    EXPECT_EQ(h.CurrentTaskFile.lbaMid, 0x4F);
    EXPECT_EQ(h.CurrentTaskFile.lbaHigh, 0xC2);
    EXPECT_EQ(h.CurrentTaskFile.device, 0x40);
}

TEST_F(TransportTest, DataGoesOutAndComesBackWithoutOverrun) {
    ATACommand ata;
    uint8_t out[512];
    for (int i = 0; i < 512; ++i) {
        out[i] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(ata.SendAtaCommandPhysicalDrive(1, AtaTaskFile{0, 0, 0, 0, 0, 0, 0xF1, 0}, out, 512, platform::ATA_FLAGS_DATA_OUT), 1);
    EXPECT_EQ(std::memcmp(fake_.requests[0].input.data() + 44, out, 512), 0);

    // A driver that claims to have returned far more than the request holds.
    fake_.answer = [](const FakeDevices::Request&, std::span<uint8_t> output, uint32_t* returned, std::span<uint8_t>) {
        std::memset(output.data() + 44, 0x5A, output.size() - 44);
        *returned = 1u << 20;
        return true;
    };
    std::vector<uint8_t> in(512 + 16, 0xEE);
    ASSERT_EQ(ata.SendAtaCommandPhysicalDrive(1, AtaTaskFile{0, 0, 0, 0, 0, 0, 0xEC, 0}, in.data(), 512, 2), 1);
    EXPECT_EQ(in[511], 0x5A);
    EXPECT_EQ(in[512], 0xEE) << "nothing past the caller's length is written";
}

TEST_F(TransportTest, DirectFormAlignsAndChecksTheStatus) {
    ATACommand ata;
    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> output, uint32_t* returned,
                      std::span<uint8_t> direct) {
        std::memcpy(output.data(), r.input.data(), 40);
        std::memset(direct.data(), 0x77, direct.size());
        AtaPassThroughEx h;
        std::memcpy(&h, output.data(), 40);
        h.DataTransferLength = 4096;  // more than was asked
        h.CurrentTaskFile.command = 0x50;
        std::memcpy(output.data(), &h, 40);
        *returned = 40;
        return true;
    };
    std::vector<uint8_t> dest(1024 + 8, 0);
    uint32_t length = 1024;
    ASSERT_EQ(ata.SendAtaCommandDirect(2, 0, nullptr, dest.data(), &length, AtaTaskFile{0x86, 0x01, 0, 0, 0x36, 0xE0, 0x86, 0}), 1);
    const auto& r = fake_.requests.at(0);
    EXPECT_EQ(r.code, platform::IOCTL_ATA_PASS_THROUGH_DIRECT);
    EXPECT_EQ(r.input.size(), 40u);
    AtaPassThroughEx h = Header(r);
    EXPECT_EQ(h.AtaFlags, 0x13);
    EXPECT_EQ(h.TimeOutValue, kTimeoutDirect);
    EXPECT_EQ(h.DataTransferLength, 1024u);
    EXPECT_EQ(h.DataBufferOffset, r.directAddressLow) << "the address field holds the buffer's low 32 bits";
    EXPECT_EQ(r.directAddressLow % 16, 0u);
    EXPECT_EQ(r.direct.size(), 1024u);
    EXPECT_EQ(length, 1024u) << "the reported count is bounded by the buffer";
    EXPECT_EQ(dest[1023], 0x77);
    EXPECT_EQ(dest[1024], 0);

    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> output, uint32_t* returned, std::span<uint8_t>) {
        std::memcpy(output.data(), r.input.data(), 40);
        output[38] = 0x51;  // status with ERR
        *returned = 40;
        return true;
    };
    uint8_t src[512] = {1, 2, 3};
    length = 512;
    EXPECT_EQ(ata.SendAtaCommandDirect(2, 1, src, nullptr, &length, AtaTaskFile{}), 0) << "ERR fails the direct form";
    h = Header(fake_.requests.at(1));
    EXPECT_EQ(h.AtaFlags, 0x15);
    EXPECT_EQ(fake_.requests[1].direct[2], 3);
}

TEST_F(TransportTest, OlderSystemsUseIdePassThrough) {
    for (const char* sp : {"Service Pack 1", ""}) {
        Use(sp[0] ? Os(5, 1, sp) : Os(5, 0));
        ATACommand ata;
        uint8_t buffer[512];
        ASSERT_EQ(ata.SendAtaCommandPhysicalDrive(u"\\\\?\\ide#d", AtaTaskFile{3, 64, 0, 0x40, 0x01, 0xA0, 0x92, 0}, buffer, 512, 4), 1);
        const auto& r = fake_.requests.at(0);
        EXPECT_EQ(r.code, platform::IOCTL_IDE_PASS_THROUGH) << sp;
        EXPECT_EQ(r.input.size(), 512u + 15u);
        platform::IdePassThroughHeader h;
        std::memcpy(&h, r.input.data(), sizeof h);
        EXPECT_EQ(h.dataLength, 512u);
        EXPECT_EQ(h.taskFile.command, 0x92);
        EXPECT_EQ(h.taskFile.sectorCount, 64);
        EXPECT_EQ(h.taskFile.lbaMid, 0x40) << "the block offset reaches the drive";
        EXPECT_EQ(h.taskFile.lbaHigh, 0x01);
    }
    Use(Os(4, 0, "Service Pack 6"));
    ATACommand nt4;
    uint8_t buffer[512];
    EXPECT_EQ(nt4.SendAtaCommandPhysicalDrive(0, AtaTaskFile{0, 0, 0, 0, 0, 0, 0xEC, 0}, buffer, 512, 2), 0);
    EXPECT_TRUE(fake_.requests.empty()) << "NT 4 fails at once";
    EXPECT_TRUE(fake_.opens.empty()) << "without opening the drive";
}

TEST_F(TransportTest, IdePassThroughRefusesLongTransfersBeforeOpening) {
    Use(Os(5, 0));
    ATACommand ata;
    std::vector<uint8_t> big(32769, 0xAB);
    const AtaTaskFile download{3, 64, 0, 0, 0, 0xA0, 0x92, 0};
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(u"\\\\?\\ide#d", download, big.data(), 32769, 4), 0);
    EXPECT_EQ(ata.SendAtaCommandPD(u"\\\\?\\ide#d", download, big.data(), 32769, 4), 0);
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(1, download, big.data(), 32769, 4), 0);
    // A length whose size + 15 wraps in 32 bits: nothing may be allocated short or copied.
    uint8_t small[16] = {};
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(1, download, small, 0xFFFFFFF5u, 4), 0);
    EXPECT_TRUE(fake_.opens.empty()) << "refused before the drive is opened";
    EXPECT_TRUE(fake_.requests.empty());
    // The largest transfer still goes out.
    ASSERT_EQ(ata.SendAtaCommandPhysicalDrive(1, download, big.data(), 32768, 4), 1);
    EXPECT_EQ(fake_.requests.at(0).input.size(), 32768u + 15u);
}

// Answers a pass-through as a driver that ran the command: registers and DataTransferLength
// in the returned header, `dataBytes` bytes of data (0x5A), `returnedBytes` reported.
FakeDevices::Answer DriverReply(uint32_t dataBytes, uint32_t returnedBytes, uint8_t status = 0x50) {
    return [=](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
        std::memmove(out.data(), r.input.data(), std::min(r.input.size(), out.size()));
        if (r.code == platform::IOCTL_IDE_PASS_THROUGH) {
            platform::IdePassThroughHeader h;
            std::memcpy(&h, out.data(), sizeof h);
            h.dataLength = dataBytes;
            h.taskFile.command = status;
            std::memcpy(out.data(), &h, sizeof h);
            std::memset(out.data() + sizeof h, 0x5A, dataBytes);
        } else {
            AtaPassThroughEx h;
            std::memcpy(&h, out.data(), sizeof h);
            h.DataTransferLength = dataBytes;
            h.CurrentTaskFile.command = status;
            h.CurrentTaskFile.features = status & 1 ? 0x04 : 0;
            std::memcpy(out.data(), &h, sizeof h);
            std::memset(out.data() + 44, 0x5A, dataBytes);
        }
        *returned = returnedBytes;
        return true;
    };
}

TEST_F(TransportTest, ShortDataInRepliesFailAndLeaveTheBufferAlone) {
    ATACommand ata;
    const AtaTaskFile identify{0, 0, 0, 0, 0, 0xA0, 0xEC, 0};
    std::vector<uint8_t> in(512, 0xEE);
    fake_.answer = DriverReply(512, 44 + 512);
    ASSERT_EQ(ata.SendAtaCommandPhysicalDrive(1, identify, in.data(), 512, platform::ATA_FLAGS_DATA_IN), 1);
    EXPECT_EQ(in[511], 0x5A) << "a whole reply is copied";

    std::fill(in.begin(), in.end(), 0xEE);
    fake_.answer = DriverReply(100, 44 + 100);
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(1, identify, in.data(), 512, platform::ATA_FLAGS_DATA_IN), 0)
        << "DataTransferLength below the length asked";
    fake_.answer = DriverReply(512, 44 + 100);
    EXPECT_EQ(ata.SendAtaCommandPD(u"\\\\?\\ide#d", identify, in.data(), 512, platform::ATA_FLAGS_DATA_IN), 0)
        << "fewer bytes returned than the data needs";
    fake_.answer = DriverReply(0, 20);
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(1, AtaTaskFile{0, 0, 0, 0, 0, 0, 0xEA, 0}, nullptr, 0, 1), 0)
        << "a reply without the header";
    EXPECT_EQ(in[0], 0xEE) << "nothing of a failed reply reaches the caller";

    // Data out and no data legitimately return only the header; the registers come back.
    fake_.answer = DriverReply(0, 40, 0x51);
    std::vector<uint8_t> out(512, 1);
    AtaTaskFile registers{};
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(1, AtaTaskFile{0, 0, 0, 0, 0, 0, 0xF1, 0}, out.data(), 512,
                                              platform::ATA_FLAGS_DATA_OUT, &registers),
              1);
    EXPECT_EQ(registers.command, 0x51) << "the status register as the drive returned it";
    EXPECT_EQ(registers.features, 0x04) << "and the error register";
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(1, AtaTaskFile{0, 0, 0, 0, 0, 0, 0xEA, 0}, nullptr, 0, 1), 1);

    // The same rule on systems with only IDE pass-through.
    Use(Os(5, 0));
    ATACommand w2k;
    fake_.answer = DriverReply(100, 12 + 100);
    EXPECT_EQ(w2k.SendAtaCommandPhysicalDrive(1, identify, in.data(), 512, platform::ATA_FLAGS_DATA_IN), 0);
    fake_.answer = DriverReply(512, 12 + 512);
    ASSERT_EQ(w2k.SendAtaCommandPhysicalDrive(1, identify, in.data(), 512, platform::ATA_FLAGS_DATA_IN), 1);
    EXPECT_EQ(in[0], 0x5A);
}

TEST_F(TransportTest, DirectFormFailsOnAShortDataInReply) {
    ATACommand ata;
    fake_.answer = [](const FakeDevices::Request& r, std::span<uint8_t> output, uint32_t* returned,
                      std::span<uint8_t> direct) {
        std::memcpy(output.data(), r.input.data(), 40);
        AtaPassThroughEx h;
        std::memcpy(&h, output.data(), 40);
        h.DataTransferLength = 512;  // one sector of the two asked
        h.CurrentTaskFile.command = 0x50;
        std::memcpy(output.data(), &h, 40);
        std::memset(direct.data(), 0x77, 512);
        *returned = 40;
        return true;
    };
    std::vector<uint8_t> dest(1024, 0);
    uint32_t length = 1024;
    EXPECT_EQ(ata.SendAtaCommandDirect(2, 0, nullptr, dest.data(), &length, AtaTaskFile{0, 2, 0, 0, 0, 0xE0, 0x86, 0}),
              0);
    EXPECT_EQ(length, 512u) << "the count the driver reported";
    EXPECT_EQ(dest[0], 0) << "no part of a short reply is handed out";
}

}  // namespace
}  // namespace tarvex
