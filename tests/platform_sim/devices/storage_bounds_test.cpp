// The emulated storage stack at the edges of its buffers: requests cut short at every length
// are refused without a read past their bytes (the sanitizer build sees any), answers that do
// not fit are refused, and the request log stays within its bounds.
#include <gtest/gtest.h>

#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;

json SataAndNvme() {
    json nvme = {{"number", 1}, {"kind", "nvme"}, {"model", "VARNO NV10 512GB"}, {"serial", "NV0001"},
                 {"firmware", "E8FK11.5"}, {"capacityBytes", 512110190592ull}, {"port", 2},
                 {"nvme", {{"driver", "miniport"}}}};
    return json::array({SataDiskJson(0), nvme});
}

// A valid request header of `code`, cut to `size` bytes: each buffer is allocated at exactly
// its size so that a read past it is an error of the sanitizer build.
std::vector<uint8_t> Cut(std::vector<uint8_t> full, size_t size) {
    full.resize(size);
    full.shrink_to_fit();
    return full;
}

std::vector<uint8_t> MiniportRequest(uint32_t length) {
    std::vector<uint8_t> buf(28 + length, 0);
    platform::SrbIoControl srb{};
    srb.HeaderLength = 28;
    std::memcpy(srb.Signature, platform::kNvmeMiniSignature, 8);
    srb.ControlCode = platform::kNvmePassThroughControlCode;
    srb.Length = length;
    std::memcpy(buf.data(), &srb, std::min(buf.size(), sizeof srb));
    if (buf.size() >= sizeof(platform::NvmePassThroughHeader)) {
        platform::NvmePassThroughHeader h{};
        std::memcpy(&h, buf.data(), sizeof h);
        h.NVMeCmd[0] = platform::kNvmeAdminIdentify;
        h.NVMeCmd[1] = 1;
        h.NVMeCmd[10] = 1;
        h.Direction = platform::kNvmeDirectionDeviceToHost;
        h.ReturnBufferLen = static_cast<uint32_t>(buf.size());
        std::memcpy(buf.data(), &h, sizeof h);
    }
    return buf;
}

TEST(StorageBounds, RequestsCutShortAtAnyLengthAreRefusedBeforeTheDrive) {
    TestMachine m(ProfileWithDisks(SataAndNvme()));
    auto disk = Open(kDrive0);
    auto port = Open(u"\\\\.\\SCSI2:");
    ASSERT_TRUE(disk && port);

    platform::AtaPassThroughEx ata{};
    ata.Length = 40;
    ata.CurrentTaskFile.command = platform::kAtaCmdCheckPowerMode;
    std::vector<uint8_t> ataFull(40);
    std::memcpy(ataFull.data(), &ata, sizeof ata);
    std::vector<uint8_t> ideFull(12, 0);
    ideFull[6] = platform::kAtaCmdCheckPowerMode;
    std::vector<uint8_t> smartFull(32, 0);  // SENDCMDINPARAMS without its data byte
    smartFull[10] = platform::kAtaCmdIdentify;
    struct Case {
        const char* what;
        platform::Device* device;
        uint32_t code;
        std::vector<uint8_t> full;
        size_t outSize;
    };
    const Case cases[] = {
        {"ATA pass-through", disk.get(), platform::IOCTL_ATA_PASS_THROUGH, ataFull, 40},
        {"direct ATA pass-through", disk.get(), platform::IOCTL_ATA_PASS_THROUGH_DIRECT, ataFull, 40},
        {"IDE pass-through", disk.get(), platform::IOCTL_IDE_PASS_THROUGH, ideFull, 12},
        {"SMART receive-data", disk.get(), platform::SMART_RCV_DRIVE_DATA, smartFull, 528},
        {"miniport SRB header", port.get(), platform::IOCTL_SCSI_MINIPORT, MiniportRequest(0), 28},
    };
    for (const Case& c : cases) {
        // The whole request reaches the drive; every shorter one does not.
        uint32_t returned = 0;
        std::vector<uint8_t> out(c.outSize, 0);
        const uint64_t mark = m->Devices().RequestMark();
        for (size_t size = 0; size < c.full.size(); ++size) {
            const std::vector<uint8_t> in = Cut(c.full, size);
            returned = 99;
            EXPECT_FALSE(c.device->DeviceIoControl(c.code, in, out, &returned)) << c.what << " of " << size << " bytes";
            EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER) << c.what << " of " << size << " bytes";
            EXPECT_EQ(returned, 0u);
        }
        for (const auto& r : m->Devices().RequestsSince(mark)) {
            EXPECT_FALSE(r.reachedDrive) << c.what << " of " << r.input.size() << " bytes";
        }
        if (c.code != platform::IOCTL_SCSI_MINIPORT) {
            EXPECT_TRUE(c.device->DeviceIoControl(c.code, c.full, out, &returned)) << c.what << " whole";
        }
    }

    // A miniport request whose SRB is whole but whose Length leaves no room for the 152-byte
    // NVMe header: refused at every length, the header never read.
    for (uint32_t length = 0; length < 152 - 28; ++length) {
        const std::vector<uint8_t> in = Cut(MiniportRequest(length), 28 + length);
        std::vector<uint8_t> out(in.size(), 0);
        uint32_t returned = 99;
        EXPECT_FALSE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, in, out, &returned)) << "Length " << length;
        EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER) << "Length " << length;
        EXPECT_EQ(returned, 0u);
        ASSERT_TRUE(m->Devices().LastRequest());
        EXPECT_FALSE(m->Devices().LastRequest()->reachedDrive) << "Length " << length;
    }
    // The output must hold the request too.
    std::vector<uint8_t> whole = MiniportRequest(4096 + 124);
    std::vector<uint8_t> shortOut(whole.size() - 1, 0);
    uint32_t returned = 0;
    EXPECT_FALSE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, whole, shortOut, &returned));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(port->DeviceIoControl(platform::IOCTL_SCSI_MINIPORT, whole, whole, &returned));
    EXPECT_EQ(returned, whole.size());

    // Answers that do not fit the output.
    for (size_t size : {size_t{0}, size_t{7}}) {
        std::vector<uint8_t> out(size, 0);
        EXPECT_FALSE(disk->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {}, out, &returned)) << size;
        EXPECT_EQ(platform::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    }
}

TEST(StorageBounds, TheRequestLogKeepsTheRecentRequestsWithinItsBounds) {
    TestMachine m(ProfileWithDisks(json::array({SataDiskJson(0)})));
    auto& devices = m->Devices();
    auto disk = Open(kDrive0);
    ASSERT_TRUE(disk);
    const uint64_t start = devices.RequestMark();
    const size_t limit = sim::SimDevices::kRequestLogLimit;
    std::vector<uint8_t> addr(8, 0);
    uint32_t returned = 0;
    for (size_t i = 0; i < limit + 100; ++i) {
        ASSERT_TRUE(disk->DeviceIoControl(platform::IOCTL_SCSI_GET_ADDRESS, {}, addr, &returned));
    }
    EXPECT_EQ(devices.RequestMark(), start + limit + 100) << "every request is counted";
    const auto kept = devices.RequestsSince(start);
    ASSERT_EQ(kept.size(), limit) << "only the most recent are kept";
    EXPECT_EQ(kept.front().sequence, start + 100);
    EXPECT_EQ(kept.back().sequence, start + limit + 99);

    const auto last = devices.LastRequests(3);
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[0].sequence, start + limit + 97);
    EXPECT_EQ(last[2].sequence, start + limit + 99);
    EXPECT_EQ(devices.LastRequests(limit * 2).size(), limit);

    // The bytes the log holds are bounded too: requests of 1 MiB each (refused, recorded all
    // the same) push out the older ones long before the count does.
    const std::vector<uint8_t> big(1 << 20, 0x5A);
    const uint64_t bigStart = devices.RequestMark();
    for (int i = 0; i < 24; ++i) {
        EXPECT_FALSE(disk->DeviceIoControl(0x0012345C, big, {}, &returned));
    }
    const auto bigKept = devices.RequestsSince(0);
    size_t bytes = 0;
    for (const auto& r : bigKept) {
        bytes += r.input.size() + r.directData.size();
    }
    EXPECT_LE(bytes, sim::SimDevices::kRequestLogBytes);
    EXPECT_GE(bytes, sim::SimDevices::kRequestLogBytes - big.size());
    EXPECT_EQ(bigKept.back().sequence, bigStart + 23);
    EXPECT_EQ(bigKept.back().input.size(), big.size());

    devices.ClearRequests();
    EXPECT_FALSE(devices.LastRequest());
    EXPECT_TRUE(devices.RequestsSince(0).empty());
    EXPECT_EQ(devices.RequestMark(), bigStart + 24) << "clearing keeps the numbering";
}

}  // namespace
}  // namespace tarvex::test
