// The shared request decoding seen from the executor's side: what a backend is handed for each
// request, and how what it answers comes back in the caller's buffer. The byte rules of each
// request are covered through both backends (sim_device_tests, platform_linux_tests).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/last_error.h"
#include "platform/storage_requests.h"
#include "platform/win32_values.h"

namespace tarvex::platform {
namespace {


template <typename T>
T RecordAt(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// Runs one disk request with `run` as the drive; returns the result, the output and the count.
struct DiskCall {
    bool ok = false;
    uint32_t returned = 0;
    std::vector<uint8_t> output;
};
DiskCall Disk(uint32_t code, const std::vector<uint8_t>& input, size_t outputSize, const AtaExecutor& run) {
    DiskCall r;
    r.output.assign(outputSize, 0xEE);
    IoctlCall c(input, outputSize, {});
    DiskAnswers disk;
    disk.acceptsAta = true;
    r.ok = c.Complete(DiskControl(c, code, disk, run), r.output, &r.returned);
    return r;
}

std::vector<uint8_t> PassThrough(uint16_t flags, std::vector<uint8_t> data) {
    AtaPassThroughEx h{};
    h.Length = kAtaPassThroughHeaderSize;
    h.AtaFlags = flags;
    h.DataTransferLength = static_cast<uint32_t>(data.size());
    h.TimeOutValue = 77;
    h.DataBufferOffset = kAtaPassThroughDataOffset;
    h.PreviousTaskFile = AtaTaskFile{0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0};
    h.CurrentTaskFile = AtaTaskFile{0, 1, 2, 3, 4, 0x40, kAtaCmdDataSetManagement, 0};
    std::vector<uint8_t> in(kAtaPassThroughDataOffset + data.size(), 0);
    std::memcpy(in.data(), &h, sizeof h);
    std::copy(data.begin(), data.end(), in.begin() + kAtaPassThroughDataOffset);
    return in;
}

TEST(StorageRequests, APassThroughCarriesItsFlagsPreviousRegistersAndTimeoutBothWays) {
    const std::vector<uint8_t> payload(512, 0x5A);
    const uint16_t flags = ATA_FLAGS_DATA_OUT | ATA_FLAGS_48BIT_COMMAND | ATA_FLAGS_USE_DMA;
    AtaRequest seen;
    std::vector<uint8_t> seenData;
    AtaCompletion answer;
    answer.current = AtaTaskFile{0, 0, 0, 0, 0, 0, kAtaStatusDrdy, 0};
    answer.previous = AtaTaskFile{0, 0x9A, 0xBC, 0xDE, 0xF0, 0, 0, 0};
    answer.transferred = 4096;  // more than the data phase: the count stays within it
    const AtaExecutor run = [&](const AtaRequest& r) {
        seen = r;
        seenData.assign(r.data.begin(), r.data.end());
        return answer;
    };
    DiskCall r = Disk(IOCTL_ATA_PASS_THROUGH, PassThrough(flags, payload), kAtaPassThroughHeaderSize, run);
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(seen.ataFlags.has_value());
    EXPECT_EQ(*seen.ataFlags, flags);
    EXPECT_EQ(seen.direction, AtaData::Out);
    EXPECT_EQ(seen.timeoutSeconds, 77u);
    EXPECT_EQ(seen.current.command, kAtaCmdDataSetManagement);
    EXPECT_EQ(seen.previous.lbaLow, 0x34) << "the high bytes of a 48-bit command reach the executor";
    EXPECT_EQ(seenData, payload);
    EXPECT_EQ(r.returned, kAtaPassThroughHeaderSize) << "a data-out command answers the header alone";
    const auto back = RecordAt<AtaPassThroughEx>(r.output);
    EXPECT_EQ(back.CurrentTaskFile.command, kAtaStatusDrdy);
    EXPECT_EQ(back.PreviousTaskFile.lbaLow, 0xBC) << "returned high bytes replace the request's";
    EXPECT_EQ(back.DataTransferLength, 512u);

    // A backend that gives no high bytes back leaves the request's in the answer.
    answer.previous.reset();
    r = Disk(IOCTL_ATA_PASS_THROUGH, PassThrough(flags, payload), kAtaPassThroughHeaderSize, run);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(RecordAt<AtaPassThroughEx>(r.output).PreviousTaskFile.lbaLow, 0x34);
}

TEST(StorageRequests, InferredCommandsStateNoFlagsAndAFailingExecutorFailsTheCallWhole) {
    // SMART READ DATA through SMART_RCV_DRIVE_DATA: the driver knows it reads one sector.
    std::vector<uint8_t> in(sizeof(SendCmdInParams), 0);
    SendCmdInParams p{};
    p.cBufferSize = 512;
    p.irDriveRegs = IdeRegs{kSmartReadData, 1, 1, kSmartLbaMid, kSmartLbaHigh, 0xA0, kAtaCmdSmart, 0};
    std::memcpy(in.data(), &p, sizeof p);
    AtaRequest seen;
    uint32_t runs = 0;
    uint32_t failWith = 0;
    const AtaExecutor run = [&](const AtaRequest& r) {
        ++runs;
        seen = r;
        std::fill(r.data.begin(), r.data.end(), uint8_t{0xA5});
        AtaCompletion done;
        done.current = AtaTaskFile{0, 0, 0, kSmartLbaMid, kSmartLbaHigh, 0, kAtaStatusDrdy, 0};
        done.transferred = 512;
        done.error = failWith;
        return done;
    };
    DiskCall r = Disk(SMART_RCV_DRIVE_DATA, in, sizeof(SendCmdOutParams), run);
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(seen.ataFlags.has_value());
    EXPECT_EQ(seen.direction, AtaData::In);
    EXPECT_EQ(seen.data.size(), 512u);
    EXPECT_EQ(seen.timeoutSeconds, 0u);
    EXPECT_EQ(r.returned, sizeof(SendCmdOutParams));
    EXPECT_EQ(r.output[offsetof(SendCmdOutParams, bBuffer) + 511], 0xA5);

    // The executor's error fails the call: nothing is returned or written, the error is kept.
    failWith = win::ERROR_SEM_TIMEOUT;
    r = Disk(SMART_RCV_DRIVE_DATA, in, sizeof(SendCmdOutParams), run);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.returned, 0u);
    EXPECT_EQ(GetLastError(), win::ERROR_SEM_TIMEOUT);
    EXPECT_EQ(r.output, std::vector<uint8_t>(sizeof(SendCmdOutParams), 0xEE));

    // A request refused while decoding never reaches the executor.
    runs = 0;
    p.irDriveRegs.bFeaturesReg = kSmartWriteLog;
    std::memcpy(in.data(), &p, sizeof p);
    r = Disk(SMART_RCV_DRIVE_DATA, in, sizeof(SendCmdOutParams), run);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(GetLastError(), win::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(runs, 0u);
}

class FakeMiniport : public NvmeMiniport {
public:
    bool knows = true;
    int claims = 0;
    NvmeRequest seen;
    std::vector<uint8_t> seenData;
    NvmeCompletion answer;
    bool Claim() override {
        ++claims;
        return knows;
    }
    NvmeCompletion Execute(const NvmeRequest& r) override {
        seen = r;
        seenData.assign(r.data.begin(), r.data.end());
        std::fill(r.data.begin(), r.data.end(), uint8_t{0x3C});
        return answer;
    }
};

std::vector<uint8_t> NvmeIdentify(const char* signature) {
    std::vector<uint8_t> in(kNvmeIdentifyBufferSize, 0xCC);  // garbage where the data goes
    NvmePassThroughHeader h{};
    h.SrbIoCtrl.HeaderLength = sizeof(SrbIoControl);
    std::memcpy(h.SrbIoCtrl.Signature, signature, 8);
    h.SrbIoCtrl.Timeout = 40;
    h.SrbIoCtrl.ControlCode = kNvmePassThroughControlCode;
    h.SrbIoCtrl.Length = kNvmeIdentifyBufferSize - sizeof(SrbIoControl);
    h.NVMeCmd[0] = kNvmeAdminIdentify | (0x1234u << 16);
    h.NVMeCmd[10] = 1;
    h.Direction = kNvmeDirectionDeviceToHost;
    h.ReturnBufferLen = kNvmeIdentifyBufferSize;
    std::memcpy(in.data(), &h, sizeof h);
    return in;
}

TEST(StorageRequests, TheMiniportIsClaimedOnlyForItsSignatureAndItsCompletionIsEncoded) {
    FakeMiniport port;
    uint32_t returned = 0;
    std::vector<uint8_t> out(kNvmeIdentifyBufferSize, 0);
    {
        IoctlCall c(NvmeIdentify("ScsiDisk"), out.size(), {});
        EXPECT_FALSE(c.Complete(PortControl(c, IOCTL_SCSI_MINIPORT, port), out, &returned));
        EXPECT_EQ(GetLastError(), win::ERROR_INVALID_FUNCTION);
        EXPECT_EQ(port.claims, 0) << "another signature is refused before the port is asked";
    }
    {
        port.knows = false;  // the inbox driver
        IoctlCall c(NvmeIdentify("NvmeMini"), out.size(), {});
        EXPECT_FALSE(c.Complete(PortControl(c, IOCTL_SCSI_MINIPORT, port), out, &returned));
        EXPECT_EQ(GetLastError(), win::ERROR_INVALID_FUNCTION);
        EXPECT_TRUE(port.seenData.empty());
    }
    port.knows = true;
    port.answer = NvmeCompletion{0xCAFE, 0, 0};
    {
        IoctlCall c(NvmeIdentify("NvmeMini"), out.size(), {});
        ASSERT_TRUE(c.Complete(PortControl(c, IOCTL_SCSI_MINIPORT, port), out, &returned));
        EXPECT_EQ(port.seen.command[10], 1u);
        EXPECT_EQ(port.seen.timeoutSeconds, 40u);
        EXPECT_EQ(port.seenData, std::vector<uint8_t>(4096, 0)) << "the data room is zeroed, not the input's bytes";
        EXPECT_EQ(returned, kNvmeIdentifyBufferSize);
        EXPECT_EQ(out[kNvmeDataOffset], 0x3C);
        const auto h = RecordAt<NvmePassThroughHeader>(out);
        EXPECT_EQ(h.CplEntry[0], 0xCAFEu);
        EXPECT_EQ(h.CplEntry[3], 0x1234u | 0x10000u) << "command identifier and phase tag";
        EXPECT_EQ(h.SrbIoCtrl.ReturnCode, 0u);
    }
    // Invalid Field in Command with Do Not Retry: the call completes, the header alone returns.
    port.answer = NvmeCompletion{0, 0x4002, 0};
    {
        IoctlCall c(NvmeIdentify("NvmeMini"), out.size(), {});
        ASSERT_TRUE(c.Complete(PortControl(c, IOCTL_SCSI_MINIPORT, port), out, &returned));
        EXPECT_EQ(returned, sizeof(NvmePassThroughHeader));
        const auto h = RecordAt<NvmePassThroughHeader>(out);
        EXPECT_EQ(h.CplEntry[3] >> 17, 0x4002u);
        EXPECT_EQ(h.SrbIoCtrl.ReturnCode, 1u);
    }
}

TEST(StorageRequests, AVolumeAnswersOnlyWhatItsPlaceHolds) {
    std::vector<uint8_t> out(32, 0);
    uint32_t returned = 0;
    VolumePlace cd;
    cd.number = StorageDeviceNumber{FILE_DEVICE_CD_ROM, 0, 0xFFFFFFFFu};
    {
        IoctlCall c({}, out.size(), {});
        EXPECT_FALSE(c.Complete(VolumeControl(c, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, cd), out, &returned));
        EXPECT_EQ(GetLastError(), win::ERROR_INVALID_FUNCTION) << "a CD drive has no extent on a disk";
    }
    VolumePlace part;
    part.number = StorageDeviceNumber{FILE_DEVICE_DISK, 2, 1};
    part.extent = DiskExtent{2, 0x100000, 0x40000000};
    {
        IoctlCall c({}, out.size(), {});
        ASSERT_TRUE(c.Complete(VolumeControl(c, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, part), out, &returned));
        EXPECT_EQ(returned, 32u);
        EXPECT_EQ(RecordAt<uint32_t>(out, 0), 1u);
        EXPECT_EQ(RecordAt<uint32_t>(out, 8), 2u);
        EXPECT_EQ(RecordAt<uint64_t>(out, 16), 0x100000u);
        EXPECT_EQ(RecordAt<uint64_t>(out, 24), 0x40000000u);
    }
    {
        std::vector<uint8_t> small(31, 0);
        IoctlCall c({}, small.size(), {});
        EXPECT_FALSE(c.Complete(VolumeControl(c, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, part), small, &returned));
        EXPECT_EQ(GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    }
}

}  // namespace
}  // namespace tarvex::platform
