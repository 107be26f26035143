#include "platform/storage_requests.h"

#include <algorithm>
#include <cstring>

#include "platform/last_error.h"

namespace tarvex::platform {

namespace {

constexpr uint8_t kSmartIdeError = 1;  // DriverStatus.bDriverError when the drive aborted
// SRB_IO_CONTROL.ReturnCode of the NVMe miniport: the command completed with an error status.
constexpr uint32_t kMiniportCommandFailed = 1;

bool Aborted(const AtaCompletion& done) { return (done.current.command & kAtaStatusErr) != 0; }

// Fills `length` bytes of `to` at `offset` with zero; false when the room is not there.
bool Zero(const ByteWriter& to, size_t offset, size_t length) {
    const auto room = to.Bytes(offset, length);
    if (!room) {
        return false;
    }
    std::fill(room->begin(), room->end(), uint8_t{0});
    return true;
}

// Runs `request` and keeps the count of moved bytes within the data phase.
AtaCompletion Run(const AtaExecutor& run, const AtaRequest& request) {
    AtaCompletion done = run(request);
    done.transferred = std::min<uint32_t>(done.transferred, static_cast<uint32_t>(request.data.size()));
    return done;
}

bool AtaPassThrough(IoctlCall& c, bool direct, uint32_t alignmentMask, const AtaExecutor& run) {
    constexpr uint32_t kHeader = kAtaPassThroughHeaderSize;
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const std::optional<AtaPassThroughEx> header = in.ReadRecord<AtaPassThroughEx>();
    if (!header || !out.Has(0, kHeader)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    AtaPassThroughEx h = *header;
    const bool dataIn = (h.AtaFlags & ATA_FLAGS_DATA_IN) != 0;
    const bool dataOut = (h.AtaFlags & ATA_FLAGS_DATA_OUT) != 0;
    const uint32_t len = h.DataTransferLength;
    if (h.Length != kHeader || (dataIn && dataOut) || len > kMaxStorageTransfer || (len > 0 && !dataIn && !dataOut)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const uint32_t offset = h.DataBufferOffset;
    // Where the data travel: the caller's direct buffer, or the request buffer after the header.
    std::span<uint8_t> directData;
    std::vector<uint8_t> buffer(len, 0);
    if (len > 0) {
        if (direct) {
            const auto address = reinterpret_cast<uintptr_t>(c.Direct().data());
            if (c.Direct().size() < len || (address & alignmentMask) != 0 || static_cast<uint32_t>(address) != offset) {
                return c.Fail(win::ERROR_INVALID_PARAMETER);
            }
            directData = c.Direct().first(len);
            if (dataOut) {
                std::copy(directData.begin(), directData.end(), buffer.begin());
            }
        } else if (offset < kHeader || (dataIn && !out.Has(offset, len))) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        } else if (dataOut) {
            const auto source = in.Bytes(offset, len);
            if (!source) {
                return c.Fail(win::ERROR_INVALID_PARAMETER);
            }
            std::copy(source->begin(), source->end(), buffer.begin());
        }
    }
    AtaRequest request;
    request.current = h.CurrentTaskFile;
    request.previous = h.PreviousTaskFile;
    request.ataFlags = h.AtaFlags;
    request.direction = len == 0 ? AtaData::None : dataIn ? AtaData::In : AtaData::Out;
    request.data = buffer;
    request.timeoutSeconds = h.TimeOutValue;
    const AtaCompletion done = Run(run, request);
    if (done.error != 0) {
        return c.Fail(done.error);
    }
    h.CurrentTaskFile = done.current;
    if (done.previous) {
        h.PreviousTaskFile = *done.previous;
    }
    h.DataTransferLength = done.transferred;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = kHeader;
    if (request.direction == AtaData::In) {
        const auto moved = std::span<const uint8_t>(buffer).first(done.transferred);
        if (direct) {
            std::copy(moved.begin(), moved.end(), directData.begin());
        } else if (out.CopyIn(offset, moved)) {
            c.returned = offset + done.transferred;
        } else {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
    }
    return true;
}

bool IdePassThrough(IoctlCall& c, const AtaExecutor& run) {
    constexpr uint32_t kHeader = sizeof(IdePassThroughHeader);
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const auto header = in.ReadRecord<IdePassThroughHeader>();
    if (!header || !out.Has(0, kHeader)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    IdePassThroughHeader h = *header;
    const uint32_t len = h.dataLength;
    const AtaData dir = len == 0 ? AtaData::None : AtaCommandDirection(h.taskFile);
    if (len > kMaxStorageTransfer || (dir == AtaData::In && !out.Has(kHeader, len)) ||
        (dir == AtaData::Out && !in.Has(kHeader, len))) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    std::vector<uint8_t> buffer(dir == AtaData::None ? 0 : len, 0);
    if (dir == AtaData::Out) {
        const auto source = in.Bytes(kHeader, len);
        std::copy(source->begin(), source->end(), buffer.begin());
    }
    AtaRequest request;
    request.current = h.taskFile;
    request.direction = dir;
    request.data = buffer;
    const AtaCompletion done = Run(run, request);
    if (done.error != 0) {
        return c.Fail(done.error);
    }
    h.taskFile = done.current;
    h.dataLength = done.transferred;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = kHeader;
    if (dir == AtaData::In) {
        if (!out.CopyIn(kHeader, std::span<const uint8_t>(buffer).first(done.transferred))) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
        c.returned += done.transferred;
    }
    return true;
}

bool SmartReceive(IoctlCall& c, const AtaExecutor& run) {
    constexpr size_t kIn = sizeof(SendCmdInParams) - 1;  // the data byte is not needed
    constexpr size_t kOutHeader = offsetof(SendCmdOutParams, bBuffer);
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const auto regs = in.ReadRecord<IdeRegs>(offsetof(SendCmdInParams, irDriveRegs));
    if (!in.Has(0, kIn) || !regs || !out.Has(0, kOutHeader)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const IdeRegs& r = *regs;
    // The disk driver passes identification and the reading SMART subcommands only (and the
    // off-line immediate the program also sends this way).
    uint32_t bytes = 0;
    bool selfTest = false;
    const bool smart = r.bCommandReg == kAtaCmdSmart;
    if (r.bCommandReg == kAtaCmdIdentify) {
        bytes = 512;
    } else if (smart && (r.bFeaturesReg == kSmartReadData || r.bFeaturesReg == kSmartReadThresholds)) {
        bytes = 512;
    } else if (smart && r.bFeaturesReg == kSmartReadLog && r.bSectorCountReg != 0) {
        bytes = 512u * r.bSectorCountReg;
    } else if (smart && r.bFeaturesReg == kSmartExecuteOfflineImmediate) {
        selfTest = true;
    } else {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    if (!out.Has(kOutHeader, bytes)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    std::vector<uint8_t> buffer(bytes, 0);
    AtaRequest request;
    request.current = AtaTaskFile{r.bFeaturesReg, r.bSectorCountReg, r.bSectorNumberReg, r.bCylLowReg,
                                  r.bCylHighReg,  r.bDriveHeadReg,   r.bCommandReg,      0};
    request.direction = bytes != 0 ? AtaData::In : AtaData::None;
    request.data = buffer;
    const AtaCompletion done = Run(run, request);
    if (done.error != 0) {
        return c.Fail(done.error);
    }
    DriverStatusBlock status{};
    if (Aborted(done)) {
        status.bDriverError = kSmartIdeError;
        status.bIDEError = done.current.features;
    }
    if (!out.U32(offsetof(SendCmdOutParams, cBufferSize), done.transferred) ||
        !out.WriteRecord(offsetof(SendCmdOutParams, DriverStatus), status)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = static_cast<uint32_t>(kOutHeader);
    if (!Aborted(done)) {
        if (!out.CopyIn(kOutHeader, std::span<const uint8_t>(buffer).first(done.transferred))) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
        c.returned += done.transferred;
        if (selfTest) {
            // The off-line immediate comes back as a full, zeroed reply.
            const size_t full = std::min<size_t>(sizeof(SendCmdOutParams), out.Size());
            (void)Zero(out, kOutHeader, full - kOutHeader);
            c.returned = static_cast<uint32_t>(full);
        }
    }
    return true;
}

bool Miniport(IoctlCall& c, NvmeMiniport& miniport) {
    constexpr size_t kSrb = sizeof(SrbIoControl);
    constexpr size_t kHeader = sizeof(NvmePassThroughHeader);
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const auto srbRead = in.ReadRecord<SrbIoControl>();
    if (!srbRead || !out.Has(0, kSrb)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const SrbIoControl& srb = *srbRead;
    // The request covers the SRB header and Length bytes after it, in the input and the output.
    const uint64_t whole = kSrb + static_cast<uint64_t>(srb.Length);
    if (srb.HeaderLength != kSrb || !in.Has(0, whole) || !out.Has(0, whole)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    // Only a miniport that knows the signature answers; the inbox driver does not.
    if (std::memcmp(srb.Signature, kNvmeMiniSignature, 8) != 0 || srb.ControlCode != kNvmePassThroughControlCode ||
        !miniport.Claim()) {
        return c.Fail(win::ERROR_INVALID_FUNCTION);
    }
    // The NVMe pass-through header is read only once the request is known to hold it.
    if (whole < kHeader) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const std::optional<NvmePassThroughHeader> header = in.ReadRecord<NvmePassThroughHeader>();
    if (!header || header->ReturnBufferLen != whole || header->Direction != kNvmeDirectionDeviceToHost ||
        header->DataBufferLen != 0 || header->MetaDataLen != 0 || header->QueueId != 0) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    NvmePassThroughHeader h = *header;
    const auto data = out.Bytes(kHeader, static_cast<size_t>(whole - kHeader));
    if (!data) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    NvmeRequest request;
    std::copy(std::begin(h.NVMeCmd), std::end(h.NVMeCmd), request.command.begin());
    request.data = *data;
    request.timeoutSeconds = srb.Timeout;
    std::fill(request.data.begin(), request.data.end(), uint8_t{0});
    const NvmeCompletion done = miniport.Execute(request);
    if (done.error != 0) {
        return c.Fail(done.error);
    }
    const uint32_t status = done.status & 0x7FFFu;
    // Completion entry: dword 0 as the controller returned it; in dword 3 the command
    // identifier, the phase tag and the status field.
    std::memset(h.CplEntry, 0, sizeof h.CplEntry);
    h.CplEntry[0] = done.dword0;
    h.CplEntry[3] = (request.command[0] >> 16) | 0x10000u | (status << 17);
    h.SrbIoCtrl.ReturnCode = status == 0 ? 0 : kMiniportCommandFailed;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    // The call completes either way, as a miniport's does: a command the drive failed comes
    // back as the header alone, its completion entry and ReturnCode carrying the error.
    c.returned = static_cast<uint32_t>(status == 0 ? whole : kHeader);
    return true;
}

}  // namespace

AtaData AtaCommandDirection(const AtaTaskFile& regs) {
    switch (regs.command) {
        case kAtaCmdIdentify:
        case kVendorTableReadCommand: return AtaData::In;
        case kAtaCmdSmart:
            if (regs.features == kSmartReadData || regs.features == kSmartReadThresholds ||
                regs.features == kSmartReadLog) {
                return AtaData::In;
            }
            return regs.features == kSmartWriteLog ? AtaData::Out : AtaData::None;
        case kAtaCmdDataSetManagement:
        case kAtaCmdDownloadMicrocode:
        case kAtaCmdSecuritySetPassword:
        case kAtaCmdSecurityUnlock:
        case kAtaCmdSecurityEraseUnit:
        case kAtaCmdSecurityDisablePassword:
        case kVendorTableRequestCommand: return AtaData::Out;
        case kAtaCmdSetFeatures: return regs.features == kVendorModeFeature ? AtaData::Out : AtaData::None;
        default: return AtaData::None;
    }
}

IoctlCall::IoctlCall(std::span<const uint8_t> input, size_t outputSize, std::span<uint8_t> directData)
    : in_(input.begin(), input.end()),
      sys_(std::max(input.size(), outputSize), 0),
      outSize_(outputSize),
      direct_(directData) {
    std::copy(in_.begin(), in_.end(), sys_.begin());
}

bool IoctlCall::Complete(bool ok, std::span<uint8_t> output, uint32_t* bytesReturned) {
    if (ok) {
        returned = static_cast<uint32_t>(std::min<size_t>(returned, output.size()));
        std::copy(sys_.begin(), sys_.begin() + returned, output.begin());
    } else {
        returned = 0;
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = returned;
    }
    if (!ok) {
        SetLastError(error);
    }
    return ok;
}

bool DiskControl(IoctlCall& c, uint32_t code, const DiskAnswers& disk, const AtaExecutor& run) {
    switch (code) {
        case IOCTL_ATA_PASS_THROUGH:
        case IOCTL_ATA_PASS_THROUGH_DIRECT:
            return disk.acceptsAta
                       ? AtaPassThrough(c, code == IOCTL_ATA_PASS_THROUGH_DIRECT, disk.directAlignmentMask, run)
                       : c.Fail(win::ERROR_INVALID_FUNCTION);
        case IOCTL_IDE_PASS_THROUGH:
            return disk.acceptsAta ? IdePassThrough(c, run) : c.Fail(win::ERROR_INVALID_FUNCTION);
        case SMART_RCV_DRIVE_DATA:
            return disk.acceptsAta ? SmartReceive(c, run) : c.Fail(win::ERROR_INVALID_FUNCTION);
        case IOCTL_SCSI_GET_ADDRESS: return c.Answer(disk.address);
        case IOCTL_STORAGE_GET_DEVICE_NUMBER: return c.Answer(StorageDeviceNumber{FILE_DEVICE_DISK, disk.number, 0});
        default: return c.Fail(win::ERROR_INVALID_FUNCTION);
    }
}

bool VolumeControl(IoctlCall& c, uint32_t code, const VolumePlace& volume) {
    switch (code) {
        case IOCTL_STORAGE_GET_DEVICE_NUMBER:
            return volume.number ? c.Answer(*volume.number) : c.Fail(win::ERROR_INVALID_FUNCTION);
        case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            // VOLUME_DISK_EXTENTS: the count (4 bytes, padded to 8), then DISK_EXTENT entries of
            // the disk number (padded to 8), starting offset and length.
            constexpr size_t kOneExtent = 32;
            if (!volume.extent) {
                return c.Fail(win::ERROR_INVALID_FUNCTION);
            }
            const DiskExtent& e = *volume.extent;
            const ByteWriter out = c.Out();
            if (!Zero(out, 0, kOneExtent) || !out.U32(0, 1) || !out.U32(8, e.disk) || !out.U64(16, e.offsetBytes) ||
                !out.U64(24, e.lengthBytes)) {
                return c.Fail(win::ERROR_INSUFFICIENT_BUFFER);
            }
            c.returned = kOneExtent;
            return true;
        }
        default: return c.Fail(win::ERROR_INVALID_FUNCTION);
    }
}

bool PortControl(IoctlCall& c, uint32_t code, NvmeMiniport& miniport) {
    return code == IOCTL_SCSI_MINIPORT ? Miniport(c, miniport) : c.Fail(win::ERROR_INVALID_FUNCTION);
}

}  // namespace tarvex::platform
