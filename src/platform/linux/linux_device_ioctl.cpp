// The DeviceIoControl requests of the Linux backend. Each is METHOD_BUFFERED as on Windows: the
// input is copied into a system buffer of max(input, output) bytes, the request is decoded from
// it through bounds-checked readers, and bytesReturned bytes of it go back to the output. A
// malformed request is refused (ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER) with the
// same rules as the emulated storage stack, and before anything reaches a drive; so is a
// command the allow-list or the process's privileges do not let through.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "platform/byte_span.h"
#include "platform/last_error.h"
#include "platform/linux/command_policy.h"
#include "platform/linux/linux_devices.h"
#include "platform/sim/devices/storage_stack.h"
#include "platform/win32_values.h"

namespace tarvex::linuxhost {

namespace win = tarvex::win;
using platform::AtaPassThroughEx;
using platform::AtaTaskFile;
using platform::ByteReader;
using platform::ByteWriter;

namespace {

// The largest transfer one request takes (as the emulated adapters).
constexpr uint32_t kMaxTransfer = 0x20000;
constexpr uint8_t kSmartIdeError = 1;           // DriverStatus.bDriverError when the drive aborted
constexpr uint32_t kMiniportCommandFailed = 1;  // SRB_IO_CONTROL.ReturnCode of a failed NVMe command
constexpr uint32_t kFileDeviceMassStorage = 0x2D;
constexpr size_t kIdentifyBytes = 512;
// The wait of a request that states none (IDE pass-through, SMART receive, a miniport's 0).
constexpr uint32_t kDefaultTimeoutSeconds = 30;

AtaDirection FromSim(sim::AtaData d) {
    switch (d) {
        case sim::AtaData::In: return AtaDirection::In;
        case sim::AtaData::Out: return AtaDirection::Out;
        default: return AtaDirection::None;
    }
}

bool Aborted(const AtaResult& r) { return (r.current.command & platform::kAtaStatusErr) != 0; }

bool Zero(const ByteWriter& to, size_t offset, size_t length) {
    const auto room = to.Bytes(offset, length);
    if (!room) {
        return false;
    }
    std::fill(room->begin(), room->end(), uint8_t{0});
    return true;
}

}  // namespace

struct LinuxDevices::Call {
    const Target* target = nullptr;
    std::vector<uint8_t> in;   // a copy of the input
    std::vector<uint8_t> sys;  // the system buffer, starting as the input
    size_t outSize = 0;
    std::span<uint8_t> direct;
    uint32_t returned = 0;
    uint32_t error = 0;

    [[nodiscard]] ByteReader In() const { return ByteReader(in); }
    [[nodiscard]] ByteWriter Out() { return ByteWriter(std::span(sys).first(outSize)); }
    bool Fail(uint32_t e) {
        error = e;
        return false;
    }
    template <typename T>
    bool Answer(const T& value) {
        if (!Out().WriteRecord(0, value)) {
            return Fail(win::ERROR_INSUFFICIENT_BUFFER);
        }
        returned = sizeof(T);
        return true;
    }
};

bool LinuxDevices::Control(const Target& target, uint32_t code, std::span<const uint8_t> input,
                           std::span<uint8_t> output, uint32_t* bytesReturned, std::span<uint8_t> directData) {
    Call c;
    c.target = &target;
    c.in.assign(input.begin(), input.end());
    c.sys.assign(std::max(input.size(), output.size()), 0);
    std::copy(c.in.begin(), c.in.end(), c.sys.begin());
    c.outSize = output.size();
    c.direct = directData;

    bool ok = false;
    // ATA commands go to SATA disks, and to other SCSI disks whose translation layer may take
    // them (a SATA drive behind a SAS adapter; one that does not refuses the CDB). USB disks are
    // left alone as the Windows drivers leave them, and NVMe has no ATA.
    const bool sata = target.disk.kind == HostDiskKind::Sata || target.disk.kind == HostDiskKind::Other;
    switch (target.kind) {
        case Target::Kind::Disk:
            switch (code) {
                case platform::IOCTL_ATA_PASS_THROUGH:
                case platform::IOCTL_ATA_PASS_THROUGH_DIRECT:
                    ok = sata ? AtaPassThrough(c, code == platform::IOCTL_ATA_PASS_THROUGH_DIRECT)
                              : c.Fail(win::ERROR_INVALID_FUNCTION);
                    break;
                case platform::IOCTL_IDE_PASS_THROUGH:
                    ok = sata ? IdePassThrough(c) : c.Fail(win::ERROR_INVALID_FUNCTION);
                    break;
                case platform::SMART_RCV_DRIVE_DATA:
                    ok = sata ? SmartReceive(c) : c.Fail(win::ERROR_INVALID_FUNCTION);
                    break;
                case platform::IOCTL_SCSI_GET_ADDRESS: {
                    const HostDisk& d = target.disk;
                    ok = c.Answer(platform::ScsiAddress{8, d.port, d.pathId, d.targetId, d.lun});
                    break;
                }
                case platform::IOCTL_STORAGE_GET_DEVICE_NUMBER:
                    ok = c.Answer(platform::StorageDeviceNumber{platform::FILE_DEVICE_DISK, target.disk.number, 0});
                    break;
                default: ok = c.Fail(win::ERROR_INVALID_FUNCTION); break;
            }
            break;
        case Target::Kind::Volume: ok = VolumeControl(c, code); break;
        case Target::Kind::Port:
            ok = code == platform::IOCTL_SCSI_MINIPORT ? Miniport(c) : c.Fail(win::ERROR_INVALID_FUNCTION);
            break;
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
    if (!ok) {
        platform::SetLastError(c.error);
    }
    return ok;
}

bool LinuxDevices::VolumeControl(Call& c, uint32_t code) {
    const HostVolume& v = c.target->volume;
    const std::optional<HostDisk>& disk = c.target->volumeDisk;
    switch (code) {
        case platform::IOCTL_STORAGE_GET_DEVICE_NUMBER: {
            if (!disk) {
                return c.Fail(win::ERROR_INVALID_FUNCTION);
            }
            // A volume on a USB disk answers as removable mass storage, not as a disk: the
            // program lists only volumes of fixed disks.
            const uint32_t type = disk->kind == HostDiskKind::Usb ? kFileDeviceMassStorage : platform::FILE_DEVICE_DISK;
            return c.Answer(platform::StorageDeviceNumber{type, v.disk, v.partition});
        }
        case platform::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            // VOLUME_DISK_EXTENTS: the count (padded to 8), then one DISK_EXTENT of the disk
            // number (padded to 8), the starting offset and the length.
            constexpr size_t kOneExtent = 32;
            if (!disk) {
                return c.Fail(win::ERROR_INVALID_FUNCTION);
            }
            const ByteWriter out = c.Out();
            if (!Zero(out, 0, kOneExtent) || !out.U32(0, 1) || !out.U32(8, v.disk) || !out.U64(16, v.offsetBytes) ||
                !out.U64(24, v.partitionBytes)) {
                return c.Fail(win::ERROR_INSUFFICIENT_BUFFER);
            }
            c.returned = kOneExtent;
            return true;
        }
        default: return c.Fail(win::ERROR_INVALID_FUNCTION);
    }
}

bool LinuxDevices::Refuse(Call& c, std::string message) {
    SetDeviceError(std::move(message));
    return c.Fail(win::ERROR_ACCESS_DENIED);
}

bool LinuxDevices::RunAta(Call& c, const SatCommand& command, std::span<uint8_t> data, AtaResult* result,
                          uint32_t* transferred) {
    const Target& t = *c.target;
    if (!allowWrites_ && !IsReadOnlyAtaCommand(command.current)) {
        return Refuse(c, AtaRefusal(t.node, command.current));
    }
    if (t.fd < 0) {
        return c.Fail(win::ERROR_ACCESS_DENIED);  // a handle opened for no access sends nothing
    }
    if (!seam_.HasCapability(Capability::SysRawio)) {
        return Refuse(c,
                      fmt::format("{}: sending ATA commands needs the CAP_SYS_RAWIO privilege (run as root)", t.node));
    }
    EraseTimes erase;
    {
        std::lock_guard lock(mutex_);
        if (auto it = eraseTimes_.find(t.node); it != eraseTimes_.end()) {
            erase = it->second;
        }
    }
    const auto cdb = BuildAtaPassThrough16(command);
    uint8_t sense[kSenseBufferSize] = {};
    ScsiCommand sc;
    sc.cdb = cdb;
    sc.direction = command.direction == AtaDirection::In    ? ScsiDataDirection::FromDevice
                   : command.direction == AtaDirection::Out ? ScsiDataDirection::ToDevice
                                                            : ScsiDataDirection::None;
    sc.data = command.direction == AtaDirection::None ? std::span<uint8_t>() : data.first(command.length);
    sc.sense = sense;
    const uint32_t requested = command.timeoutSeconds != 0 ? command.timeoutSeconds : kDefaultTimeoutSeconds;
    sc.timeoutMs = CommandTimeoutSeconds(command.current, requested, erase,
                                         command.direction == AtaDirection::Out ? sc.data : std::span<uint8_t>()) *
                   1000;
    const ScsiReply reply = seam_.SgIo(t.fd, sc);
    if (reply.error != 0) {
        if (reply.error == EPERM || reply.error == EACCES) {
            SetDeviceError(fmt::format("{}: the kernel refused the ATA command {:02X}h: {}", t.node,
                                       command.current.command, std::strerror(reply.error)));
        }
        return c.Fail(Win32ErrorFromErrno(reply.error));
    }
    const ScsiCompletion done{reply.status, reply.hostStatus, reply.driverStatus,
                              std::span<const uint8_t>(sense, std::min<size_t>(reply.senseLength, sizeof sense))};
    const AtaOutcome outcome = DecodeCompletion(done, command);
    if (!outcome.registers) {
        return c.Fail(outcome.error);
    }
    *result = *outcome.registers;
    // An aborted command moved nothing that counts; otherwise what the kernel did not move is
    // left out.
    const uint32_t residual = reply.residual > 0 ? static_cast<uint32_t>(reply.residual) : 0;
    *transferred = Aborted(*result) ? 0 : sc.data.size() - std::min<size_t>(residual, sc.data.size());
    // Remember the erase times of each IDENTIFY page, for the timeout of a later erase.
    if (command.current.command == platform::kAtaCmdIdentify && command.direction == AtaDirection::In &&
        *transferred >= kIdentifyBytes) {
        std::lock_guard lock(mutex_);
        eraseTimes_[t.node] = EraseTimesFromIdentify(sc.data.first(kIdentifyBytes));
    }
    return true;
}

bool LinuxDevices::AtaPassThrough(Call& c, bool direct) {
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
    std::span<uint8_t> directData;
    std::vector<uint8_t> buffer(len, 0);
    if (len > 0) {
        if (direct) {
            const auto address = reinterpret_cast<uintptr_t>(c.direct.data());
            if (c.direct.size() < len || static_cast<uint32_t>(address) != offset) {
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
    SatCommand command = CommandFromPassThrough(h);
    command.timeoutSeconds = h.TimeOutValue;
    AtaResult r;
    uint32_t moved = 0;
    if (!RunAta(c, command, buffer, &r, &moved)) {
        return false;
    }
    h.CurrentTaskFile = r.current;
    if (command.extend) {
        h.PreviousTaskFile = r.previous;
    }
    h.DataTransferLength = moved;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = kHeader;
    if (command.direction == AtaDirection::In) {
        const auto got = std::span<const uint8_t>(buffer).first(moved);
        if (direct) {
            std::copy(got.begin(), got.end(), directData.begin());
        } else if (out.CopyIn(offset, got)) {
            c.returned = offset + moved;
        } else {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
    }
    return true;
}

bool LinuxDevices::IdePassThrough(Call& c) {
    constexpr uint32_t kHeader = sizeof(platform::IdePassThroughHeader);
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const auto header = in.ReadRecord<platform::IdePassThroughHeader>();
    if (!header || !out.Has(0, kHeader)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    platform::IdePassThroughHeader h = *header;
    const uint32_t len = h.dataLength;
    const AtaDirection dir = len == 0 ? AtaDirection::None : FromSim(sim::AtaCommandDirection(h.taskFile));
    if (len > kMaxTransfer || (dir == AtaDirection::In && !out.Has(kHeader, len)) ||
        (dir == AtaDirection::Out && !in.Has(kHeader, len))) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    std::vector<uint8_t> buffer(dir == AtaDirection::None ? 0 : len, 0);
    if (dir == AtaDirection::Out) {
        const auto source = in.Bytes(kHeader, len);
        std::copy(source->begin(), source->end(), buffer.begin());
    }
    const SatCommand command = CommandFromRegisters(h.taskFile, dir, static_cast<uint32_t>(buffer.size()));
    AtaResult r;
    uint32_t moved = 0;
    if (!RunAta(c, command, buffer, &r, &moved)) {
        return false;
    }
    h.taskFile = r.current;
    h.dataLength = moved;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = kHeader;
    if (dir == AtaDirection::In) {
        if (!out.CopyIn(kHeader, std::span<const uint8_t>(buffer).first(moved))) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
        c.returned += moved;
    }
    return true;
}

bool LinuxDevices::SmartReceive(Call& c) {
    using namespace platform;
    constexpr size_t kIn = sizeof(SendCmdInParams) - 1;  // the data byte is not needed
    constexpr size_t kOutHeader = offsetof(SendCmdOutParams, bBuffer);
    const ByteReader in = c.In();
    const ByteWriter out = c.Out();
    const auto regs = in.ReadRecord<IdeRegs>(offsetof(SendCmdInParams, irDriveRegs));
    if (!in.Has(0, kIn) || !regs || !out.Has(0, kOutHeader)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    const IdeRegs& ir = *regs;
    // The disk driver passes identification and the reading SMART subcommands only, and the
    // off-line immediate.
    uint32_t bytes = 0;
    bool selfTest = false;
    const bool smart = ir.bCommandReg == kAtaCmdSmart;
    if (ir.bCommandReg == kAtaCmdIdentify) {
        bytes = 512;
    } else if (smart && (ir.bFeaturesReg == kSmartReadData || ir.bFeaturesReg == kSmartReadThresholds)) {
        bytes = 512;
    } else if (smart && ir.bFeaturesReg == kSmartReadLog && ir.bSectorCountReg != 0) {
        bytes = 512u * ir.bSectorCountReg;
    } else if (smart && ir.bFeaturesReg == kSmartExecuteOfflineImmediate) {
        selfTest = true;
    } else {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    if (!out.Has(kOutHeader, bytes)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    std::vector<uint8_t> buffer(bytes, 0);
    const AtaTaskFile tf{ir.bFeaturesReg, ir.bSectorCountReg, ir.bSectorNumberReg, ir.bCylLowReg,
                         ir.bCylHighReg,  ir.bDriveHeadReg,   ir.bCommandReg,      0};
    const SatCommand command = CommandFromRegisters(tf, bytes != 0 ? AtaDirection::In : AtaDirection::None, bytes);
    AtaResult r;
    uint32_t moved = 0;
    if (!RunAta(c, command, buffer, &r, &moved)) {
        return false;
    }
    DriverStatusBlock status{};
    if (Aborted(r)) {
        status.bDriverError = kSmartIdeError;
        status.bIDEError = r.current.features;
    }
    if (!out.U32(offsetof(SendCmdOutParams, cBufferSize), moved) ||
        !out.WriteRecord(offsetof(SendCmdOutParams, DriverStatus), status)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    c.returned = static_cast<uint32_t>(kOutHeader);
    if (!Aborted(r)) {
        if (!out.CopyIn(kOutHeader, std::span<const uint8_t>(buffer).first(moved))) {
            return c.Fail(win::ERROR_INVALID_PARAMETER);
        }
        c.returned += moved;
        if (selfTest) {
            // The off-line immediate comes back as a full, zeroed reply.
            const size_t full = std::min<size_t>(sizeof(SendCmdOutParams), out.Size());
            (void)Zero(out, kOutHeader, full - kOutHeader);
            c.returned = static_cast<uint32_t>(full);
        }
    }
    return true;
}

bool LinuxDevices::Miniport(Call& c) {
    using platform::NvmePassThroughHeader;
    constexpr size_t kSrb = sizeof(platform::SrbIoControl);
    constexpr size_t kHeader = sizeof(NvmePassThroughHeader);
    const Target& t = *c.target;
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
    // Only the port of an NVMe controller knows the signature.
    if (!t.portIsNvme || std::memcmp(srb.Signature, platform::kNvmeMiniSignature, 8) != 0 ||
        srb.ControlCode != platform::kNvmePassThroughControlCode) {
        return c.Fail(win::ERROR_INVALID_FUNCTION);
    }
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
    const uint8_t opcode = static_cast<uint8_t>(h.NVMeCmd[0] & 0xFF);
    if (!allowWrites_ && !IsReadOnlyNvmeAdminCommand(opcode)) {
        return Refuse(c, NvmeRefusal(t.node, opcode));
    }
    if (t.fd < 0) {
        return c.Fail(win::ERROR_ACCESS_DENIED);
    }
    if (!seam_.HasCapability(Capability::SysAdmin)) {
        return Refuse(
            c, fmt::format("{}: sending NVMe admin commands needs the CAP_SYS_ADMIN privilege (run as root)", t.node));
    }
    std::fill(data->begin(), data->end(), uint8_t{0});
    NvmeAdminCommand cmd;
    cmd.opcode = opcode;
    cmd.nsid = h.NVMeCmd[1];
    cmd.cdw2 = h.NVMeCmd[2];
    cmd.cdw3 = h.NVMeCmd[3];
    std::copy(h.NVMeCmd + 10, h.NVMeCmd + 16, cmd.cdw10to15.begin());
    cmd.data = *data;
    cmd.timeoutMs =
        std::min<uint32_t>(srb.Timeout != 0 ? srb.Timeout : kDefaultTimeoutSeconds, 0xFFFFFFFFu / 1000) * 1000;
    const NvmeReply reply = seam_.NvmeAdmin(t.fd, cmd);
    if (reply.error != 0) {
        if (reply.error == EPERM || reply.error == EACCES) {
            SetDeviceError(fmt::format("{}: the kernel refused the NVMe admin command {:02X}h: {}", t.node, opcode,
                                       std::strerror(reply.error)));
        }
        return c.Fail(Win32ErrorFromErrno(reply.error));
    }
    const uint32_t status = reply.status & 0x7FFFu;  // the status field without the phase tag
    // Completion entry: dword 0 as the controller returned it; in dword 3 the command
    // identifier, the phase tag and the status field.
    std::memset(h.CplEntry, 0, sizeof h.CplEntry);
    h.CplEntry[0] = reply.result;
    h.CplEntry[3] = (h.NVMeCmd[0] >> 16) | 0x10000u | (status << 17);
    h.SrbIoCtrl.ReturnCode = status == 0 ? 0 : kMiniportCommandFailed;
    if (!out.WriteRecord(0, h)) {
        return c.Fail(win::ERROR_INVALID_PARAMETER);
    }
    // The call completes either way, as a miniport's does: a command the drive failed comes back
    // as the header alone, its completion entry and ReturnCode carrying the error.
    c.returned = static_cast<uint32_t>(status == 0 ? whole : kHeader);
    return true;
}

}  // namespace tarvex::linuxhost
