// The DeviceIoControl requests of the Linux backend. platform/storage_requests decodes and
// answers each request buffer with the same rules as the emulated storage stack; what is left
// here is carrying the commands to the drive: ATA commands as SG_IO with ATA PASS-THROUGH (16),
// NVMe commands as the NVMe admin ioctl. A command the allow-list or the process's privileges
// do not let through is refused before anything is sent.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "platform/linux/command_policy.h"
#include "platform/linux/linux_devices.h"
#include "platform/storage_requests.h"
#include "platform/win32_values.h"

namespace tarvex::linuxhost {

namespace win = tarvex::win;

namespace {

constexpr size_t kIdentifyBytes = 512;
// The wait of a request that states none (IDE pass-through, SMART receive, a miniport's 0).
constexpr uint32_t kDefaultTimeoutSeconds = 30;

bool Aborted(const AtaResult& r) { return (r.current.command & platform::kAtaStatusErr) != 0; }

// The translation layer's view of a command: a pass-through's AtaFlags say its DMA and 48-bit
// use; a command whose data phase the driver inferred takes them from the command.
SatCommand SatCommandOf(const platform::AtaRequest& r) {
    const auto length = static_cast<uint32_t>(r.data.size());
    if (!r.ataFlags) {
        return CommandFromRegisters(r.current, r.direction, length);
    }
    platform::AtaPassThroughEx h{};
    h.AtaFlags = *r.ataFlags;
    h.DataTransferLength = length;
    h.PreviousTaskFile = r.previous;
    h.CurrentTaskFile = r.current;
    SatCommand command = CommandFromPassThrough(h);
    command.timeoutSeconds = r.timeoutSeconds;
    return command;
}

}  // namespace

// The port of an NVMe controller knows the "NvmeMini" signature; its commands go out as NVMe
// admin commands once the allow-list and the privilege let them.
class LinuxDevices::Miniport : public platform::NvmeMiniport {
  public:
    Miniport(LinuxDevices& owner, const Target& target) : owner_(owner), t_(target) {}

    bool Claim() override { return t_.portIsNvme; }

    platform::NvmeCompletion Execute(const platform::NvmeRequest& request) override {
        platform::NvmeCompletion done;
        const uint8_t opcode = static_cast<uint8_t>(request.command[0] & 0xFF);
        if (!owner_.allowWrites_ && !IsReadOnlyNvmeAdminCommand(opcode)) {
            done.error = owner_.Refuse(NvmeRefusal(t_.node, opcode));
            return done;
        }
        if (t_.fd < 0) {
            done.error = win::ERROR_ACCESS_DENIED;
            return done;
        }
        if (!owner_.seam_.HasCapability(Capability::SysAdmin)) {
            done.error = owner_.Refuse(fmt::format(
                "{}: sending NVMe admin commands needs the CAP_SYS_ADMIN privilege (run as root)", t_.node));
            return done;
        }
        NvmeAdminCommand cmd;
        cmd.opcode = opcode;
        cmd.nsid = request.command[1];
        cmd.cdw2 = request.command[2];
        cmd.cdw3 = request.command[3];
        std::copy(request.command.begin() + 10, request.command.end(), cmd.cdw10to15.begin());
        cmd.data = request.data;
        const uint32_t seconds = request.timeoutSeconds != 0 ? request.timeoutSeconds : kDefaultTimeoutSeconds;
        cmd.timeoutMs = std::min<uint32_t>(seconds, 0xFFFFFFFFu / 1000) * 1000;
        const NvmeReply reply = owner_.seam_.NvmeAdmin(t_.fd, cmd);
        if (reply.error != 0) {
            if (reply.error == EPERM || reply.error == EACCES) {
                owner_.SetDeviceError(fmt::format("{}: the kernel refused the NVMe admin command {:02X}h: {}",
                                                  t_.node, opcode, std::strerror(reply.error)));
            }
            done.error = Win32ErrorFromErrno(reply.error);
            return done;
        }
        done.dword0 = reply.result;
        done.status = reply.status & 0x7FFFu;  // the status field without the phase tag
        return done;
    }

  private:
    LinuxDevices& owner_;
    const Target& t_;
};

bool LinuxDevices::Control(const Target& target, uint32_t code, std::span<const uint8_t> input,
                           std::span<uint8_t> output, uint32_t* bytesReturned, std::span<uint8_t> directData) {
    platform::IoctlCall c(input, output.size(), directData);
    bool ok = false;
    switch (target.kind) {
        case Target::Kind::Disk: {
            const HostDisk& d = target.disk;
            platform::DiskAnswers disk;
            // ATA commands go to SATA disks, and to other SCSI disks whose translation layer may
            // take them (a SATA drive behind a SAS adapter; one that does not refuses the CDB).
            // USB disks are left alone as the Windows drivers leave them, and NVMe has no ATA.
            disk.acceptsAta = d.kind == HostDiskKind::Sata || d.kind == HostDiskKind::Other;
            disk.address = platform::ScsiAddress{8, d.port, d.pathId, d.targetId, d.lun};
            disk.number = d.number;
            ok = platform::DiskControl(c, code, disk, [&](const platform::AtaRequest& r) { return RunAta(target, r); });
            break;
        }
        case Target::Kind::Volume: {
            const HostVolume& v = target.volume;
            platform::VolumePlace place;
            if (const std::optional<HostDisk>& disk = target.volumeDisk) {
                // A volume on a USB disk answers as removable mass storage, not as a disk: the
                // program lists only volumes of fixed disks.
                const uint32_t type =
                    disk->kind == HostDiskKind::Usb ? platform::kFileDeviceMassStorage : platform::FILE_DEVICE_DISK;
                place.number = platform::StorageDeviceNumber{type, v.disk, v.partition};
                place.extent = platform::DiskExtent{v.disk, v.offsetBytes, v.partitionBytes};
            }
            ok = platform::VolumeControl(c, code, place);
            break;
        }
        case Target::Kind::Port: {
            Miniport miniport(*this, target);
            ok = platform::PortControl(c, code, miniport);
            break;
        }
    }
    return c.Complete(ok, output, bytesReturned);
}

uint32_t LinuxDevices::Refuse(std::string message) {
    SetDeviceError(std::move(message));
    return win::ERROR_ACCESS_DENIED;
}

platform::AtaCompletion LinuxDevices::RunAta(const Target& t, const platform::AtaRequest& request) {
    const SatCommand command = SatCommandOf(request);
    platform::AtaCompletion done;
    if (!allowWrites_ && !IsReadOnlyAtaCommand(command.current)) {
        done.error = Refuse(AtaRefusal(t.node, command.current));
        return done;
    }
    if (t.fd < 0) {
        done.error = win::ERROR_ACCESS_DENIED;  // a handle opened for no access sends nothing
        return done;
    }
    if (!seam_.HasCapability(Capability::SysRawio)) {
        done.error =
            Refuse(fmt::format("{}: sending ATA commands needs the CAP_SYS_RAWIO privilege (run as root)", t.node));
        return done;
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
    sc.data = command.direction == AtaDirection::None ? std::span<uint8_t>() : request.data.first(command.length);
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
        done.error = Win32ErrorFromErrno(reply.error);
        return done;
    }
    const ScsiCompletion completion{reply.status, reply.hostStatus, reply.driverStatus,
                                    std::span<const uint8_t>(sense, std::min<size_t>(reply.senseLength, sizeof sense))};
    const AtaOutcome outcome = DecodeCompletion(completion, command);
    if (!outcome.registers) {
        done.error = outcome.error;
        return done;
    }
    const AtaResult& result = *outcome.registers;
    done.current = result.current;
    if (command.extend) {
        done.previous = result.previous;
    }
    // An aborted command moved nothing that counts; otherwise what the kernel did not move is
    // left out.
    const uint32_t residual = reply.residual > 0 ? static_cast<uint32_t>(reply.residual) : 0;
    done.transferred = Aborted(result) ? 0 : sc.data.size() - std::min<size_t>(residual, sc.data.size());
    // Remember the erase times of each IDENTIFY page, for the timeout of a later erase.
    if (command.current.command == platform::kAtaCmdIdentify && command.direction == AtaDirection::In &&
        done.transferred >= kIdentifyBytes) {
        std::lock_guard lock(mutex_);
        eraseTimes_[t.node] = EraseTimesFromIdentify(sc.data.first(kIdentifyBytes));
    }
    return done;
}

}  // namespace tarvex::linuxhost
