// The DeviceIoControl requests of the emulated storage stack. Each is METHOD_BUFFERED: the
// input is copied into a system buffer first (so input and output may be the same memory),
// the driver works on that buffer, and bytesReturned bytes of it go back to the output.
// Malformed requests are refused with ERROR_INVALID_PARAMETER before anything reaches a drive.
#include <algorithm>
#include <cstring>

#include "platform/last_error.h"
#include "platform/sim/devices/storage_stack.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace win = tarvex::win;
using platform::AtaPassThroughEx;
using platform::AtaTaskFile;

namespace {

// The largest transfer the emulated adapters take in one request.
constexpr uint32_t kMaxTransfer = 0x20000;
constexpr uint8_t kSmartIdeError = 1;  // DriverStatus.bDriverError when the drive aborted

template <typename T>
T Load(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

template <typename T>
void Store(std::vector<uint8_t>& bytes, const T& v, size_t offset = 0) {
    std::memcpy(bytes.data() + offset, &v, sizeof v);
}

bool Aborted(const AtaExchange& x) { return (x.regs.command & platform::kAtaStatusErr) != 0; }

}  // namespace

AtaData AtaCommandDirection(const AtaTaskFile& regs) {
    switch (regs.command) {
        case 0xEC:
        case platform::kVendorTableReadCommand: return AtaData::In;
        case 0xB0:
            if (regs.features == 0xD0 || regs.features == 0xD1 || regs.features == 0xD5) {
                return AtaData::In;
            }
            return regs.features == 0xD6 ? AtaData::Out : AtaData::None;
        case 0x06:
        case 0x92:
        case 0xF1:
        case 0xF2:
        case 0xF4:
        case 0xF6:
        case platform::kVendorTableRequestCommand: return AtaData::Out;
        case 0xEF: return regs.features == platform::kVendorModeFeature ? AtaData::Out : AtaData::None;
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

    bool Fail(uint32_t e) {
        error = e;
        return false;
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
                if (c.outSize < sizeof(platform::ScsiAddress)) {
                    ok = c.Fail(win::ERROR_INSUFFICIENT_BUFFER);
                    break;
                }
                Store(c.sys, platform::ScsiAddress{8, p.port, p.pathId, p.targetId, p.lun});
                c.returned = sizeof(platform::ScsiAddress);
                ok = true;
                break;
            case platform::IOCTL_STORAGE_GET_DEVICE_NUMBER:
                if (c.outSize < sizeof(platform::StorageDeviceNumber)) {
                    ok = c.Fail(win::ERROR_INSUFFICIENT_BUFFER);
                    break;
                }
                Store(c.sys, platform::StorageDeviceNumber{platform::FILE_DEVICE_DISK, p.number, 0});
                c.returned = sizeof(platform::StorageDeviceNumber);
                ok = true;
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
    log_.push_back(std::move(record));
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
            if (c.outSize < sizeof(platform::StorageDeviceNumber)) {
                return c.Fail(win::ERROR_INSUFFICIENT_BUFFER);
            }
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
            Store(c.sys, n);
            c.returned = sizeof n;
            return true;
        }
        case platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            // VOLUME_DISK_EXTENTS: the count (4 bytes, padded to 8), then DISK_EXTENT entries of
            // the disk number (padded to 8), starting offset and length.
            constexpr size_t kOneExtent = 32;
            if (!onDisk) {
                return c.Fail(win::ERROR_INVALID_FUNCTION);
            }
            if (c.outSize < kOneExtent) {
                return c.Fail(win::ERROR_INSUFFICIENT_BUFFER);
            }
            std::fill(c.sys.begin(), c.sys.begin() + kOneExtent, uint8_t{0});
            Store(c.sys, uint32_t{1}, 0);
            Store(c.sys, v.disk, 8);
            Store(c.sys, v.offsetBytes, 16);
            Store(c.sys, v.sizeBytes, 24);
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
}

bool SimDevices::AtaPassThrough(Call& c, bool direct) {
    constexpr uint32_t kHeader = platform::kAtaPassThroughHeaderSize;
    if (c.in.size() < kHeader || c.outSize < kHeader) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    AtaPassThroughEx h = Load<AtaPassThroughEx>(c.in);
    const bool dataIn = (h.AtaFlags & platform::ATA_FLAGS_DATA_IN) != 0;
    const bool dataOut = (h.AtaFlags & platform::ATA_FLAGS_DATA_OUT) != 0;
    const uint32_t len = h.DataTransferLength;
    if (h.Length != kHeader || (dataIn && dataOut) || len > kMaxTransfer || (len > 0 && !dataIn && !dataOut)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const uint64_t offset = h.DataBufferOffset;
    if (len > 0) {
        if (direct) {
            const auto address = reinterpret_cast<uintptr_t>(c.direct.data());
            if (c.direct.size() < len || (address & c.slot->profile->alignmentMask) != 0 ||
                static_cast<uint32_t>(address) != h.DataBufferOffset) {
                return c.Fail(win::ERROR_INVALID_PARAMETER);
            }
        } else if (offset < kHeader || (dataIn && offset + len > c.outSize) || (dataOut && offset + len > c.in.size())) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
    }
    std::vector<uint8_t> buffer(len, 0);
    if (dataOut && len > 0) {
        const uint8_t* src = direct ? c.direct.data() : c.in.data() + offset;
        std::copy(src, src + len, buffer.begin());
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
    Store(c.sys, h);
    c.returned = kHeader;
    if (x.direction == AtaData::In) {
        if (direct) {
            std::copy(buffer.begin(), buffer.begin() + x.transferred, c.direct.begin());
        } else {
            std::copy(buffer.begin(), buffer.begin() + x.transferred, c.sys.begin() + static_cast<std::ptrdiff_t>(offset));
            c.returned = static_cast<uint32_t>(offset + x.transferred);
        }
    }
    return true;
}

bool SimDevices::IdePassThrough(Call& c) {
    constexpr uint32_t kHeader = sizeof(platform::IdePassThroughHeader);
    if (c.in.size() < kHeader || c.outSize < kHeader) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    platform::IdePassThroughHeader h = Load<platform::IdePassThroughHeader>(c.in);
    const uint32_t len = h.dataLength;
    const AtaData dir = len == 0 ? AtaData::None : AtaCommandDirection(h.taskFile);
    if (len > kMaxTransfer || (dir == AtaData::In && kHeader + static_cast<uint64_t>(len) > c.outSize) ||
        (dir == AtaData::Out && kHeader + static_cast<uint64_t>(len) > c.in.size())) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    std::vector<uint8_t> buffer(dir == AtaData::None ? 0 : len, 0);
    if (dir == AtaData::Out) {
        std::copy(c.in.begin() + kHeader, c.in.begin() + kHeader + len, buffer.begin());
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
    Store(c.sys, h);
    c.returned = kHeader;
    if (dir == AtaData::In) {
        std::copy(buffer.begin(), buffer.begin() + x.transferred, c.sys.begin() + kHeader);
        c.returned += x.transferred;
    }
    return true;
}

bool SimDevices::SmartReceive(Call& c) {
    constexpr size_t kIn = sizeof(platform::SendCmdInParams) - 1;  // the data byte is not needed
    constexpr size_t kOutHeader = offsetof(platform::SendCmdOutParams, bBuffer);
    if (c.in.size() < kIn || c.outSize < kOutHeader) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    platform::IdeRegs r;
    std::memcpy(&r, c.in.data() + offsetof(platform::SendCmdInParams, irDriveRegs), sizeof r);
    // The disk driver passes identification and the reading SMART subcommands only (and the
    // off-line immediate the program also sends this way).
    uint32_t bytes = 0;
    bool selfTest = false;
    if (r.bCommandReg == 0xEC) {
        bytes = 512;
    } else if (r.bCommandReg == 0xB0 && (r.bFeaturesReg == 0xD0 || r.bFeaturesReg == 0xD1)) {
        bytes = 512;
    } else if (r.bCommandReg == 0xB0 && r.bFeaturesReg == 0xD5 && r.bSectorCountReg != 0) {
        bytes = 512u * r.bSectorCountReg;
    } else if (r.bCommandReg == 0xB0 && r.bFeaturesReg == 0xD4) {
        selfTest = true;
    } else {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    if (c.outSize < kOutHeader + bytes) {
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
    platform::DriverStatusBlock status{};
    if (Aborted(x)) {
        status.bDriverError = kSmartIdeError;
        status.bIDEError = x.regs.features;
    }
    const uint32_t cBufferSize = x.transferred;
    Store(c.sys, cBufferSize);
    Store(c.sys, status, 4);
    c.returned = static_cast<uint32_t>(kOutHeader);
    if (!Aborted(x)) {
        std::copy(buffer.begin(), buffer.begin() + x.transferred, c.sys.begin() + kOutHeader);
        c.returned += x.transferred;
        if (selfTest) {
            // The off-line immediate comes back as a full, zeroed reply.
            const size_t full = std::min<size_t>(sizeof(platform::SendCmdOutParams), c.outSize);
            std::fill(c.sys.begin() + kOutHeader, c.sys.begin() + static_cast<std::ptrdiff_t>(full), uint8_t{0});
            c.returned = static_cast<uint32_t>(full);
        }
    }
    return true;
}

bool SimDevices::Miniport(Call& c) {
    constexpr size_t kSrb = sizeof(platform::SrbIoControl);
    constexpr size_t kHeader = sizeof(platform::NvmePassThroughHeader);
    if (c.in.size() < kSrb || c.outSize < kSrb) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const auto srb = Load<platform::SrbIoControl>(c.in);
    if (srb.HeaderLength != kSrb || kSrb + static_cast<uint64_t>(srb.Length) > c.in.size() ||
        kSrb + static_cast<uint64_t>(srb.Length) > c.outSize) {
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
    auto h = Load<platform::NvmePassThroughHeader>(c.in);
    if (srb.Length < kHeader - kSrb || h.ReturnBufferLen != kSrb + srb.Length ||
        h.Direction != platform::kNvmeDirectionDeviceToHost || h.DataBufferLen != 0 || h.MetaDataLen != 0 ||
        h.QueueId != 0) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const uint32_t dataBytes = static_cast<uint32_t>(kSrb + srb.Length - kHeader);
    uint32_t command[16];
    std::memcpy(command, c.in.data() + offsetof(platform::NvmePassThroughHeader, NVMeCmd), sizeof command);
    NvmeExchange x;
    x.command = command;
    x.data = std::span(c.sys).subspan(kHeader, dataBytes);
    std::fill(x.data.begin(), x.data.end(), uint8_t{0});
    slot->disk->ExecuteNvme(x);
    c.record->reachedDrive = true;
    // Completion entry: command identifier and phase tag in dword 3 with the status field.
    std::memset(h.CplEntry, 0, sizeof h.CplEntry);
    h.CplEntry[3] = (command[0] >> 16) | 0x10000u | (static_cast<uint32_t>(x.status & 0xFF) << 17) |
                    (static_cast<uint32_t>((x.status >> 8) & 0x7) << 25);
    h.SrbIoCtrl.ReturnCode = x.status == 0 ? 0 : 1;
    if (x.status != 0) {
        return c.Fail(win::ERROR_IO_DEVICE);
    }
    Store(c.sys, h);
    c.returned = static_cast<uint32_t>(kSrb + srb.Length);
    return true;
}

}  // namespace tarvex::sim
