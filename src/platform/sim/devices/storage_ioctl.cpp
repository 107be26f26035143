// The DeviceIoControl requests of the emulated storage stack. Each is METHOD_BUFFERED: the
// input is copied into a system buffer first (so input and output may be the same memory),
// the driver works on that buffer, and bytesReturned bytes of it go back to the output.
// Every field is read and written through bounds-checked readers and writers over the copied
// input and the system buffer, so no length a request states can carry the decoder past the
// bytes it was given. Malformed requests are refused (ERROR_INVALID_PARAMETER, or
// ERROR_INSUFFICIENT_BUFFER for an answer that does not fit) before anything reaches a drive.
#include <algorithm>
#include <cstring>

#include "platform/byte_span.h"
#include "platform/last_error.h"
#include "platform/sim/devices/storage_stack.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace win = tarvex::win;
using platform::AtaPassThroughEx;
using platform::AtaTaskFile;
using platform::ByteReader;
using platform::ByteWriter;

namespace {

// The largest transfer the emulated adapters take in one request.
constexpr uint32_t kMaxTransfer = 0x20000;
constexpr uint8_t kSmartIdeError = 1;  // DriverStatus.bDriverError when the drive aborted
// SRB_IO_CONTROL.ReturnCode of the NVMe miniport: the command completed with an error status.
constexpr uint32_t kMiniportCommandFailed = 1;

bool Aborted(const AtaExchange& x) { return (x.regs.command & platform::kAtaStatusErr) != 0; }

// Fills `length` bytes of `to` at `offset` with zero; false when the room is not there.
bool Zero(const ByteWriter& to, size_t offset, size_t length) {
    const auto room = to.Bytes(offset, length);
    if (!room) {
        return false;
    }
    std::fill(room->begin(), room->end(), uint8_t{0});
    return true;
}

}  // namespace

AtaData AtaCommandDirection(const AtaTaskFile& regs) {
    using namespace platform;
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

struct SimDevices::Call {
    Slot* slot = nullptr;  // null for a port handle
    std::optional<uint8_t> port;
    std::vector<uint8_t> in;   // a copy of the input
    std::vector<uint8_t> sys;  // the system buffer: max(input, output) bytes, starting as the input
    size_t outSize = 0;
    std::span<uint8_t> direct;
    uint32_t returned = 0;
    uint32_t error = 0;  // set by a failing decoder
    DeviceRequest* record = nullptr;

    [[nodiscard]] ByteReader In() const { return ByteReader(in); }
    // The part of the system buffer that goes back to the caller: the output's size.
    [[nodiscard]] ByteWriter Out() { return ByteWriter(std::span(sys).first(outSize)); }

    bool Fail(uint32_t e) {
        error = e;
        return false;
    }
    // Answers `value` at the start of the output; ERROR_INSUFFICIENT_BUFFER when it does not fit.
    template <typename T>
    bool Answer(const T& value) {
        if (!Out().WriteRecord(0, value)) {
            return Fail(win::ERROR_INSUFFICIENT_BUFFER);
        }
        returned = sizeof(T);
        return true;
    }
};

bool SimDevices::Control(const Target& target, uint32_t code, std::span<const uint8_t> input,
                         std::span<uint8_t> output, uint32_t* bytesReturned, std::span<uint8_t> directData) {
    std::lock_guard lock(mutex_);
    DeviceRequest record;
    record.kind = DeviceRequest::Kind::Ioctl;
    record.path = target.path;
    record.ioctl = code;
    record.input.assign(input.begin(), input.end());
    record.directData.assign(directData.begin(), directData.end());
    Call c;
    c.slot = target.disk != nullptr ? SlotOf(target.disk) : nullptr;
    c.port = target.port;
    c.in = record.input;
    c.sys.assign(std::max(input.size(), output.size()), 0);
    std::copy(c.in.begin(), c.in.end(), c.sys.begin());
    c.outSize = output.size();
    c.direct = directData;
    c.record = &record;
    if (c.slot != nullptr) {
        record.disk = c.slot->profile->number;
    }

    // A request on a SCSI port strikes the faults of the disk behind that port.
    Slot* faultSlot = c.slot;
    for (Slot& s : slots_) {
        if (faultSlot == nullptr && c.port.has_value() && s.profile->port == c.port) {
            faultSlot = &s;
        }
    }
    const FaultProfile* fault =
        faultSlot != nullptr ? TakeFault(*faultSlot, FaultProfile::On::Ioctl, code, nullptr) : nullptr;
    bool ok = false;
    if (fault != nullptr && fault->effect == FaultProfile::Effect::Fail) {
        ok = c.Fail(fault->error);
    } else if (c.slot != nullptr) {
        SimDisk& disk = *c.slot->disk;
        const DiskProfile& p = *c.slot->profile;
        switch (code) {
            case platform::IOCTL_ATA_PASS_THROUGH:
            case platform::IOCTL_ATA_PASS_THROUGH_DIRECT:
                ok = disk.AcceptsAta() ? AtaPassThrough(c, code == platform::IOCTL_ATA_PASS_THROUGH_DIRECT)
                                       : c.Fail(win::ERROR_INVALID_FUNCTION);
                break;
            case platform::IOCTL_IDE_PASS_THROUGH:
                ok = disk.AcceptsAta() ? IdePassThrough(c) : c.Fail(win::ERROR_INVALID_FUNCTION);
                break;
            case platform::SMART_RCV_DRIVE_DATA:
                ok = disk.AcceptsAta() ? SmartReceive(c) : c.Fail(win::ERROR_INVALID_FUNCTION);
                break;
            case platform::IOCTL_SCSI_GET_ADDRESS:
                ok = c.Answer(platform::ScsiAddress{8, p.port, p.pathId, p.targetId, p.lun});
                break;
            case platform::IOCTL_STORAGE_GET_DEVICE_NUMBER:
                ok = c.Answer(platform::StorageDeviceNumber{platform::FILE_DEVICE_DISK, p.number, 0});
                break;
            default: ok = c.Fail(win::ERROR_INVALID_FUNCTION); break;
        }
    } else if (target.volume != nullptr) {
        ok = VolumeControl(c, code, *target.volume);
    } else {
        ok = code == platform::IOCTL_SCSI_MINIPORT ? Miniport(c) : c.Fail(win::ERROR_INVALID_FUNCTION);
    }

    if (ok && fault != nullptr && fault->effect == FaultProfile::Effect::Short) {
        c.returned = std::min(c.returned, fault->bytes);
    }
    if (ok) {
        c.returned = static_cast<uint32_t>(std::min<size_t>(c.returned, output.size()));
        std::copy(c.sys.begin(), c.sys.begin() + c.returned, output.begin());
    } else {
        c.returned = 0;
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = c.returned;
    }
    record.result = ok;
    record.error = ok ? 0 : c.error;
    record.bytesReturned = c.returned;
    Record(std::move(record));
    if (!ok) {
        platform::SetLastError(c.error);
    }
    return ok;
}

// A volume answers where it lives: the disk and partition (a CD drive: its own device type
// and number, no partition), and the one extent it covers on its disk.
namespace {
constexpr uint32_t kFileDeviceMassStorage = 0x2D;  // FILE_DEVICE_MASS_STORAGE
}  // namespace

bool SimDevices::VolumeControl(Call& c, uint32_t code, const VolumeProfile& v) {
    const bool onDisk = v.kind == VolumeKind::Partition &&
                        std::any_of(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.profile->number == v.disk; });
    switch (code) {
        case platform::IOCTL_STORAGE_GET_DEVICE_NUMBER: {
            platform::StorageDeviceNumber n{};
            if (v.kind == VolumeKind::CdRom) {
                n = {platform::FILE_DEVICE_CD_ROM, v.cdromNumber, 0xFFFFFFFFu};
            } else if (onDisk) {
                // A volume on a USB stick answers as removable mass storage, not as a disk:
                // the program lists only volumes of fixed disks.
                const bool usb = std::any_of(slots_.begin(), slots_.end(), [&](const Slot& s) {
                    return s.profile->number == v.disk && s.profile->kind == DiskKind::Usb;
                });
                n = {usb ? kFileDeviceMassStorage : platform::FILE_DEVICE_DISK, v.disk, v.partition};
            } else {
                return c.Fail(win::ERROR_INVALID_FUNCTION);
            }
            return c.Answer(n);
        }
        case platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            // VOLUME_DISK_EXTENTS: the count (4 bytes, padded to 8), then DISK_EXTENT entries of
            // the disk number (padded to 8), starting offset and length.
            constexpr size_t kOneExtent = 32;
            if (!onDisk) {
                return c.Fail(win::ERROR_INVALID_FUNCTION);
            }
            const ByteWriter out = c.Out();
            if (!Zero(out, 0, kOneExtent) || !out.U32(0, 1) || !out.U32(8, v.disk) || !out.U64(16, v.offsetBytes) ||
                !out.U64(24, v.sizeBytes)) {
                return c.Fail(win::ERROR_INSUFFICIENT_BUFFER);
            }
            c.returned = kOneExtent;
            return true;
        }
        default: return c.Fail(win::ERROR_INVALID_FUNCTION);
    }
}

void SimDevices::RunAta(Call& c, AtaExchange& x) {
    c.record->ata = x.regs;
    const FaultProfile* f = TakeFault(*c.slot, FaultProfile::On::Ata, 0, &x.regs);
    if (f != nullptr && f->effect == FaultProfile::Effect::Fail) {
        c.error = f->error;
        return;
    }
    if (f != nullptr && f->effect == FaultProfile::Effect::Abort) {
        x.regs.command = platform::kAtaStatusDrdy | platform::kAtaStatusDsc | platform::kAtaStatusErr;
        x.regs.features = platform::kAtaErrorAbrt;
        x.transferred = 0;
        return;
    }
    c.slot->disk->ExecuteAta(x);
    c.record->reachedDrive = true;
    if (f != nullptr && f->effect == FaultProfile::Effect::Short) {
        x.transferred = std::min(x.transferred, f->bytes);
    }
    // A drive never moves more than the data phase holds.
    x.transferred = std::min<uint32_t>(x.transferred, static_cast<uint32_t>(x.data.size()));
}

bool SimDevices::AtaPassThrough(Call& c, bool direct) {
    constexpr uint32_t kHeader = platform::kAtaPassThroughHeaderSize;
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const std::optional<AtaPassThroughEx> header = in.ReadRecord<AtaPassThroughEx>();
    if (!header || !out.Has(0, kHeader)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    AtaPassThroughEx h = *header;
    const bool dataIn = (h.AtaFlags & platform::ATA_FLAGS_DATA_IN) != 0;
    const bool dataOut = (h.AtaFlags & platform::ATA_FLAGS_DATA_OUT) != 0;
    const uint32_t len = h.DataTransferLength;
    if (h.Length != kHeader || (dataIn && dataOut) || len > kMaxTransfer || (len > 0 && !dataIn && !dataOut)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const uint32_t offset = h.DataBufferOffset;
    // Where the data travel: the caller's direct buffer, or the request buffer after the header.
    std::span<uint8_t> directData;
    std::vector<uint8_t> buffer(len, 0);
    if (len > 0) {
        if (direct) {
            const auto address = reinterpret_cast<uintptr_t>(c.direct.data());
            if (c.direct.size() < len || (address & c.slot->profile->alignmentMask) != 0 ||
                static_cast<uint32_t>(address) != offset) {
                return c.Fail(win::ERROR_INVALID_PARAMETER);
            }
            directData = c.direct.first(len);
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
    AtaExchange x;
    x.regs = h.CurrentTaskFile;
    x.direction = len == 0 ? AtaData::None : dataIn ? AtaData::In : AtaData::Out;
    x.data = buffer;
    RunAta(c, x);
    if (c.error != 0) {
        return false;
    }
    h.CurrentTaskFile = x.regs;
    h.DataTransferLength = x.transferred;
    const auto moved = std::span<const uint8_t>(buffer).first(x.transferred);
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = kHeader;
    if (x.direction == AtaData::In) {
        if (direct) {
            std::copy(moved.begin(), moved.end(), directData.begin());
        } else if (out.CopyIn(offset, moved)) {
            c.returned = offset + x.transferred;
        } else {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
    }
    return true;
}

bool SimDevices::IdePassThrough(Call& c) {
    constexpr uint32_t kHeader = sizeof(platform::IdePassThroughHeader);
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const auto header = in.ReadRecord<platform::IdePassThroughHeader>();
    if (!header || !out.Has(0, kHeader)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    platform::IdePassThroughHeader h = *header;
    const uint32_t len = h.dataLength;
    const AtaData dir = len == 0 ? AtaData::None : AtaCommandDirection(h.taskFile);
    if (len > kMaxTransfer || (dir == AtaData::In && !out.Has(kHeader, len)) ||
        (dir == AtaData::Out && !in.Has(kHeader, len))) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    std::vector<uint8_t> buffer(dir == AtaData::None ? 0 : len, 0);
    if (dir == AtaData::Out) {
        const auto source = in.Bytes(kHeader, len);
        std::copy(source->begin(), source->end(), buffer.begin());
    }
    AtaExchange x;
    x.regs = h.taskFile;
    x.direction = dir;
    x.data = buffer;
    RunAta(c, x);
    if (c.error != 0) {
        return false;
    }
    h.taskFile = x.regs;
    h.dataLength = x.transferred;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = kHeader;
    if (dir == AtaData::In) {
        if (!out.CopyIn(kHeader, std::span<const uint8_t>(buffer).first(x.transferred))) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
        c.returned += x.transferred;
    }
    return true;
}

bool SimDevices::SmartReceive(Call& c) {
    using namespace platform;
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
    AtaExchange x;
    x.regs = AtaTaskFile{r.bFeaturesReg, r.bSectorCountReg, r.bSectorNumberReg, r.bCylLowReg,
                         r.bCylHighReg, r.bDriveHeadReg, r.bCommandReg, 0};
    x.direction = bytes != 0 ? AtaData::In : AtaData::None;
    x.data = buffer;
    RunAta(c, x);
    if (c.error != 0) {
        return false;
    }
    DriverStatusBlock status{};
    if (Aborted(x)) {
        status.bDriverError = kSmartIdeError;
        status.bIDEError = x.regs.features;
    }
    if (!out.U32(offsetof(SendCmdOutParams, cBufferSize), x.transferred) ||
        !out.WriteRecord(offsetof(SendCmdOutParams, DriverStatus), status)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = static_cast<uint32_t>(kOutHeader);
    if (!Aborted(x)) {
        if (!out.CopyIn(kOutHeader, std::span<const uint8_t>(buffer).first(x.transferred))) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
        c.returned += x.transferred;
        if (selfTest) {
            // The off-line immediate comes back as a full, zeroed reply.
            const size_t full = std::min<size_t>(sizeof(SendCmdOutParams), out.Size());
            (void)Zero(out, kOutHeader, full - kOutHeader);
            c.returned = static_cast<uint32_t>(full);
        }
    }
    return true;
}

bool SimDevices::Miniport(Call& c) {
    using platform::NvmePassThroughHeader;
    constexpr size_t kSrb = sizeof(platform::SrbIoControl);
    constexpr size_t kHeader = sizeof(NvmePassThroughHeader);
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const auto srbRead = in.ReadRecord<platform::SrbIoControl>();
    if (!srbRead || !out.Has(0, kSrb)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const platform::SrbIoControl& srb = *srbRead;
    // The request covers the SRB header and Length bytes after it, in the input and the output.
    const uint64_t whole = kSrb + static_cast<uint64_t>(srb.Length);
    if (srb.HeaderLength != kSrb || !in.Has(0, whole) || !out.Has(0, whole)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    // Only a miniport that knows the signature answers; the inbox driver does not.
    Slot* slot = nullptr;
    for (Slot& s : slots_) {
        if (s.profile->port == c.port && s.disk->AcceptsNvme()) {
            slot = &s;
            break;
        }
    }
    if (slot == nullptr || std::memcmp(srb.Signature, platform::kNvmeMiniSignature, 8) != 0 ||
        srb.ControlCode != platform::kNvmePassThroughControlCode) {
        return c.Fail(win::ERROR_INVALID_FUNCTION);
    }
    c.slot = slot;
    c.record->disk = slot->profile->number;
    // The NVMe pass-through header is read only once the request is known to hold it.
    if (whole < kHeader) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const std::optional<NvmePassThroughHeader> header = in.ReadRecord<NvmePassThroughHeader>();
    if (!header || header->ReturnBufferLen != whole || header->Direction != platform::kNvmeDirectionDeviceToHost ||
        header->DataBufferLen != 0 || header->MetaDataLen != 0 || header->QueueId != 0) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    NvmePassThroughHeader h = *header;
    const auto data = out.Bytes(kHeader, static_cast<size_t>(whole - kHeader));
    if (!data) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    uint32_t command[16];
    std::memcpy(command, h.NVMeCmd, sizeof command);
    NvmeExchange x;
    x.command = command;
    x.data = *data;
    std::fill(x.data.begin(), x.data.end(), uint8_t{0});
    slot->disk->ExecuteNvme(x);
    c.record->reachedDrive = true;
    c.record->nvmeStatus = x.status;
    // Completion entry: command identifier and phase tag in dword 3 with the status field.
    std::memset(h.CplEntry, 0, sizeof h.CplEntry);
    h.CplEntry[3] = (command[0] >> 16) | 0x10000u | (static_cast<uint32_t>(x.status & 0xFF) << 17) |
                    (static_cast<uint32_t>((x.status >> 8) & 0x7) << 25);
    h.SrbIoCtrl.ReturnCode = x.status == 0 ? 0 : kMiniportCommandFailed;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    // The call completes either way, as a miniport's does: a command the drive failed comes
    // back as the header alone, its completion entry and ReturnCode carrying the error.
    c.returned = static_cast<uint32_t>(x.status == 0 ? whole : kHeader);
    return true;
}

}  // namespace tarvex::sim
