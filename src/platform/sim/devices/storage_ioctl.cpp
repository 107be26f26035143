// The DeviceIoControl requests of the emulated storage stack. platform/storage_requests decodes
// and answers each request buffer as a Windows storage driver does; what is left here is the
// emulated machine's part: the faults of the profile, the drives that run the commands, and the
// request log that records every call with a copy of its bytes.
#include <algorithm>

#include "platform/sim/devices/storage_stack.h"
#include "platform/storage_requests.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace win = tarvex::win;

struct SimDevices::Call {
    explicit Call(platform::IoctlCall& io) : io(io) {}
    platform::IoctlCall& io;
    Slot* slot = nullptr;  // null for a port handle
    std::optional<uint8_t> port;
    DeviceRequest* record = nullptr;
};

// The "NvmeMini" miniport of a SCSI port: the NVMe disk behind the port, when its driver knows
// the interface.
class SimDevices::Miniport : public platform::NvmeMiniport {
public:
    Miniport(SimDevices& owner, Call& c) : owner_(owner), c_(c) {}

    bool Claim() override {
        for (Slot& s : owner_.slots_) {
            if (s.profile->port == c_.port && s.disk->AcceptsNvme()) {
                c_.slot = &s;
                c_.record->disk = s.profile->number;
                return true;
            }
        }
        return false;
    }

    platform::NvmeCompletion Execute(const platform::NvmeRequest& request) override {
        NvmeExchange x;
        x.command = request.command.data();
        x.data = request.data;
        c_.slot->disk->ExecuteNvme(x);
        c_.record->reachedDrive = true;
        c_.record->nvmeStatus = x.status;
        return {0, x.status, 0};
    }

private:
    SimDevices& owner_;
    Call& c_;
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
    platform::IoctlCall io(record.input, output.size(), directData);
    Call c(io);
    c.slot = target.disk != nullptr ? SlotOf(target.disk) : nullptr;
    c.port = target.port;
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
        ok = io.Fail(fault->error);
    } else if (c.slot != nullptr) {
        const DiskProfile& p = *c.slot->profile;
        platform::DiskAnswers disk;
        disk.acceptsAta = c.slot->disk->AcceptsAta();
        disk.address = platform::ScsiAddress{8, p.port, p.pathId, p.targetId, p.lun};
        disk.number = p.number;
        disk.directAlignmentMask = p.alignmentMask;
        ok = platform::DiskControl(io, code, disk, [&](const platform::AtaRequest& r) { return RunAta(c, r); });
    } else if (target.volume != nullptr) {
        ok = platform::VolumeControl(io, code, PlaceOf(*target.volume));
    } else {
        Miniport miniport(*this, c);
        ok = platform::PortControl(io, code, miniport);
    }

    if (ok && fault != nullptr && fault->effect == FaultProfile::Effect::Short) {
        io.returned = std::min(io.returned, fault->bytes);
    }
    ok = io.Complete(ok, output, bytesReturned);
    record.result = ok;
    record.error = ok ? 0 : io.error;
    record.bytesReturned = io.returned;
    Record(std::move(record));
    return ok;
}

// A volume answers where it lives: the disk and partition (a CD drive: its own device type
// and number, no partition), and the one extent it covers on its disk.
platform::VolumePlace SimDevices::PlaceOf(const VolumeProfile& v) const {
    const bool onDisk = v.kind == VolumeKind::Partition &&
                        std::any_of(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.profile->number == v.disk; });
    platform::VolumePlace place;
    if (v.kind == VolumeKind::CdRom) {
        place.number = platform::StorageDeviceNumber{platform::FILE_DEVICE_CD_ROM, v.cdromNumber, 0xFFFFFFFFu};
    } else if (onDisk) {
        // A volume on a USB stick answers as removable mass storage, not as a disk: the program
        // lists only volumes of fixed disks.
        const bool usb = std::any_of(slots_.begin(), slots_.end(), [&](const Slot& s) {
            return s.profile->number == v.disk && s.profile->kind == DiskKind::Usb;
        });
        place.number =
            platform::StorageDeviceNumber{usb ? platform::kFileDeviceMassStorage : platform::FILE_DEVICE_DISK, v.disk,
                                          v.partition};
    }
    if (onDisk) {
        place.extent = platform::DiskExtent{v.disk, v.offsetBytes, v.sizeBytes};
    }
    return place;
}

platform::AtaCompletion SimDevices::RunAta(Call& c, const platform::AtaRequest& request) {
    AtaExchange x;
    x.regs = request.current;
    x.direction = request.direction;
    x.data = request.data;
    c.record->ata = x.regs;
    platform::AtaCompletion done;
    const FaultProfile* f = TakeFault(*c.slot, FaultProfile::On::Ata, 0, &x.regs);
    if (f != nullptr && f->effect == FaultProfile::Effect::Fail) {
        done.current = x.regs;
        done.error = f->error;
        return done;
    }
    if (f != nullptr && f->effect == FaultProfile::Effect::Abort) {
        x.regs.command = platform::kAtaStatusDrdy | platform::kAtaStatusDsc | platform::kAtaStatusErr;
        x.regs.features = platform::kAtaErrorAbrt;
        x.transferred = 0;
    } else {
        c.slot->disk->ExecuteAta(x);
        c.record->reachedDrive = true;
        if (f != nullptr && f->effect == FaultProfile::Effect::Short) {
            x.transferred = std::min(x.transferred, f->bytes);
        }
    }
    done.current = x.regs;
    done.transferred = x.transferred;
    return done;
}

}  // namespace tarvex::sim
