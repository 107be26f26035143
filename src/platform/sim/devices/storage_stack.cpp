#include "platform/sim/devices/storage_stack.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/last_error.h"
#include "platform/sim/state_files.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
namespace win = tarvex::win;

namespace {

constexpr uint32_t kErrorWriteFault = 29;  // ERROR_WRITE_FAULT
using platform::NumberedName;

class SimDeviceHandle : public platform::Device {
public:
    SimDeviceHandle(SimDevices& owner, SimDevices::Target target) : owner_(owner), target_(std::move(target)) {}
    bool DeviceIoControl(uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output,
                         uint32_t* bytesReturned, std::span<uint8_t> directData) override {
        return owner_.Locked(target_, bytesReturned, [&] {
            return owner_.Control(target_, code, input, output, bytesReturned, directData);
        });
    }
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        return owner_.Locked(target_, bytesRead,
                             [&] { return owner_.ReadDisk(target_, &position_, buffer, size, bytesRead); });
    }
    bool SetPosition(uint64_t offset) override {
        if (target_.disk == nullptr || offset % 512 != 0) {
            platform::SetLastError(win::ERROR_INVALID_PARAMETER);
            return false;
        }
        position_ = offset;
        return true;
    }

private:
    SimDevices& owner_;
    SimDevices::Target target_;
    uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<SimDevices> SimDevices::Create(const std::vector<DiskProfile>& disks, SimClock& clock,
                                               const fs::path& stateDir, std::string* error) {
    std::unique_ptr<SimDevices> d(new SimDevices());
    std::error_code ec;
    fs::create_directories(stateDir, ec);
    for (const DiskProfile& p : disks) {
        const fs::path file = stateDir / ("disk" + std::to_string(p.number) + ".json");
        // Under the disk's lock: two programs starting at once power a new drive on once.
        StateLock lock(file.string() + ".lock");
        if (!lock.Held()) {
            *error = lock.Error();
            return nullptr;
        }
        std::string loadError;
        std::optional<DriveState> state = LoadDriveState(file, &loadError);
        if (!loadError.empty()) {
            *error = loadError;
            return nullptr;
        }
        // A new drive is switched on for the first time. A state saved before the machine
        // stayed powered between runs (no save time) was meant to come up with a power-on.
        const bool powerOn = !state || !state->savedAtUnixMs;
        DriveState s = state ? std::move(*state) : InitialDriveState(p);
        Slot slot{&p, nullptr, std::vector<uint32_t>(p.faults.size(), 0)};
        switch (p.kind) {
            case DiskKind::Sata: slot.disk = std::make_unique<SataDrive>(p, std::move(s), clock, file); break;
            case DiskKind::Nvme: slot.disk = std::make_unique<NvmeDrive>(p, std::move(s), clock, file); break;
            case DiskKind::Usb: slot.disk = std::make_unique<SimDisk>(p, std::move(s), clock, file); break;
        }
        if (powerOn) {
            slot.disk->PowerOn();
            std::string saveError;
            if (!slot.disk->Save(&saveError)) {
                slot.disk->Revert();  // nothing to keep at exit either
                *error = saveError;
                return nullptr;
            }
        }
        d->slots_.push_back(std::move(slot));
    }
    return d;
}

SimDevices::~SimDevices() = default;

void SimDevices::AttachVolumes(const std::vector<VolumeProfile>* volumes, char16_t systemDrive) {
    std::lock_guard lock(mutex_);
    volumes_ = volumes;
    for (Slot& s : slots_) {
        s.disk->SetPartitionSectors(volumes != nullptr ? PartitionSectors(*s.profile, *volumes, systemDrive)
                                                       : PartitionSectors());
    }
}

SimDevices::Slot* SimDevices::SlotOf(const SimDisk* disk) {
    for (Slot& s : slots_) {
        if (s.disk.get() == disk) {
            return &s;
        }
    }
    return nullptr;
}

const FaultProfile* SimDevices::TakeFault(Slot& slot, FaultProfile::On on, uint32_t ioctl,
                                          const platform::AtaTaskFile* regs) {
    for (size_t i = 0; i < slot.profile->faults.size(); ++i) {
        const FaultProfile& f = slot.profile->faults[i];
        if (f.on != on || (f.times && slot.faultUses[i] >= *f.times)) {
            continue;
        }
        if (on == FaultProfile::On::Ioctl && f.ioctl != ioctl) {
            continue;
        }
        if (on == FaultProfile::On::Ata &&
            (regs == nullptr || f.command != regs->command || (f.feature && *f.feature != regs->features))) {
            continue;
        }
        ++slot.faultUses[i];
        return &f;
    }
    return nullptr;
}

std::unique_ptr<platform::Device> SimDevices::CreateFile(std::u16string_view path, uint32_t /*access*/,
                                                         uint32_t /*shareMode*/, uint32_t disposition,
                                                         uint32_t /*flagsAndAttributes*/) {
    std::lock_guard lock(mutex_);
    DeviceRequest record;
    record.kind = DeviceRequest::Kind::Open;
    record.path = std::u16string(path);
    const std::u16string folded = platform::FoldCase(path);
    Target target;
    target.path = record.path;
    uint32_t error = win::ERROR_FILE_NOT_FOUND;
    if (auto n = NumberedName(folded, u"\\\\.\\physicaldrive", u"")) {
        for (Slot& s : slots_) {
            target.disk = s.profile->number == *n ? s.disk.get() : target.disk;
        }
    } else if (folded.size() == 6 && folded.rfind(u"\\\\.\\", 0) == 0 && folded[5] == u':' && volumes_ != nullptr) {
        // A volume by its drive letter.
        for (const VolumeProfile& v : *volumes_) {
            if (platform::FoldCase(v.letter) == folded[4]) {
                target.volume = &v;
            }
        }
    } else if (auto port = NumberedName(folded, u"\\\\.\\scsi", u":")) {
        for (Slot& s : slots_) {
            if (s.profile->port == *port) {
                target.port = static_cast<uint8_t>(*port);
            }
        }
    } else {
        for (Slot& s : slots_) {
            target.disk = s.profile->interfacePath == folded ? s.disk.get() : target.disk;
        }
    }
    if (target.disk != nullptr) {
        record.disk = target.disk->Profile().number;
        if (const FaultProfile* f = TakeFault(*SlotOf(target.disk), FaultProfile::On::Open, 0, nullptr)) {
            target.disk = nullptr;
            error = f->error;
        }
    }
    const bool found = target.disk != nullptr || target.port.has_value() || target.volume != nullptr;
    if (found && disposition != win::OPEN_EXISTING) {
        error = win::ERROR_ACCESS_DENIED;  // a device cannot be created or truncated
    }
    record.result = found && disposition == win::OPEN_EXISTING;
    if (!record.result) {
        record.error = error;
        Record(std::move(record));
        platform::SetLastError(error);
        return nullptr;
    }
    Record(std::move(record));
    return std::make_unique<SimDeviceHandle>(*this, std::move(target));
}

std::unique_ptr<platform::DeviceInfoSet> SimDevices::SetupDiGetClassDevs(const uint8_t (&classGuid)[16],
                                                                         uint32_t flags) {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> paths;
    if (platform::ListsDiskInterfaces(classGuid, flags)) {
        for (const Slot& s : slots_) {
            paths.push_back(s.profile->interfacePath);
        }
    }
    return std::make_unique<platform::DiskInterfaceSet>(std::move(paths));
}

namespace {
size_t HeldBytes(const DeviceRequest& r) { return r.input.size() + r.directData.size(); }
}  // namespace

void SimDevices::Record(DeviceRequest request) {
    request.sequence = nextSequence_++;
    logBytes_ += HeldBytes(request);
    log_.push_back(std::move(request));
    // The newest request stays even when it alone passes the byte bound.
    while (log_.size() > kRequestLogLimit || (log_.size() > 1 && logBytes_ > kRequestLogBytes)) {
        logBytes_ -= HeldBytes(log_.front());
        log_.pop_front();
    }
}

uint64_t SimDevices::RequestMark() {
    std::lock_guard lock(mutex_);
    return nextSequence_;
}

std::vector<DeviceRequest> SimDevices::RequestsSince(uint64_t mark) {
    std::lock_guard lock(mutex_);
    auto first = std::find_if(log_.begin(), log_.end(), [&](const DeviceRequest& r) { return r.sequence >= mark; });
    return {first, log_.end()};
}

std::vector<DeviceRequest> SimDevices::LastRequests(size_t count) {
    std::lock_guard lock(mutex_);
    const size_t n = std::min(count, log_.size());
    return {log_.end() - static_cast<std::ptrdiff_t>(n), log_.end()};
}

std::optional<DeviceRequest> SimDevices::LastRequest() {
    std::lock_guard lock(mutex_);
    if (log_.empty()) {
        return std::nullopt;
    }
    return log_.back();
}

void SimDevices::ClearRequests() {
    std::lock_guard lock(mutex_);
    log_.clear();
    logBytes_ = 0;
}

SimDisk* SimDevices::Disk(uint32_t number) {
    for (Slot& s : slots_) {
        if (s.profile->number == number) {
            return s.disk.get();
        }
    }
    return nullptr;
}

SataDrive* SimDevices::Sata(uint32_t number) { return dynamic_cast<SataDrive*>(Disk(number)); }
NvmeDrive* SimDevices::Nvme(uint32_t number) { return dynamic_cast<NvmeDrive*>(Disk(number)); }

bool SimDevices::SaveAll(std::string* error) {
    std::lock_guard session(sessionMutex_);
    std::lock_guard lock(mutex_);
    bool ok = true;
    for (Slot& s : slots_) {
        StateLock fileLock(s.disk->LockFile());
        std::string problem;
        if (!fileLock.Held()) {
            problem = fileLock.Error();
        } else if (s.disk->Refresh(&problem)) {
            if (s.disk->Save(&problem)) {
                continue;
            }
        }
        if (ok && error != nullptr) {
            *error = problem;
        }
        ok = false;
    }
    return ok;
}

void SimDevices::SetSpeedFile(fs::path file, double speed) {
    std::lock_guard lock(mutex_);
    speedFile_ = std::move(file);
    speed_ = speed;
}

std::string SimDevices::TakeStateError() {
    std::lock_guard lock(mutex_);
    return std::exchange(stateError_, std::string());
}

bool SimDevices::PowerCycle(std::string* error) {
    std::lock_guard session(sessionMutex_);
    std::lock_guard lock(mutex_);
    bool ok = true;
    auto fail = [&](const std::string& problem) {
        if (ok && error != nullptr) {
            *error = problem;
        }
        ok = false;
    };
    for (Slot& s : slots_) {
        StateLock fileLock(s.disk->LockFile());
        std::string problem;
        if (!fileLock.Held()) {
            fail(fileLock.Error());
            continue;
        }
        if (!s.disk->Refresh(&problem)) {
            fail(problem);
            continue;
        }
        s.disk->PowerOn();
        if (!s.disk->Save(&problem)) {
            fail(problem);
        }
    }
    // The PC now runs at this program's speed.
    if (!speedFile_.empty()) {
        std::string problem;
        if (!WriteSpeedFile(speedFile_, speed_, &problem)) {
            fail(problem);
        }
    }
    return ok;
}

bool SimDevices::Locked(const Target& target, uint32_t* bytesDone, const std::function<bool()>& run) {
    std::lock_guard session(sessionMutex_);
    // The disks the request can reach: the handle's disk, or those behind its SCSI port.
    std::vector<Slot*> reach;
    for (Slot& s : slots_) {
        if (s.disk.get() == target.disk || (target.disk == nullptr && target.port && s.profile->port == *target.port)) {
            reach.push_back(&s);
        }
    }
    auto fail = [&](std::string problem, uint32_t code) {
        {
            std::lock_guard lock(mutex_);
            stateError_ = std::move(problem);
        }
        if (bytesDone != nullptr) {
            *bytesDone = 0;
        }
        platform::SetLastError(code);
        return false;
    };
    // In the order of the slots, the same in every process, so two never wait for each other.
    std::vector<std::unique_ptr<StateLock>> locks;
    for (Slot* s : reach) {
        locks.push_back(std::make_unique<StateLock>(s->disk->LockFile()));
        std::string problem;
        if (!locks.back()->Held()) {
            return fail(locks.back()->Error(), win::ERROR_IO_DEVICE);
        }
        if (!s->disk->Refresh(&problem)) {
            return fail(problem, win::ERROR_IO_DEVICE);
        }
    }
    bool ok = run();
    const uint32_t lastError = platform::GetLastError();
    std::string saveProblem;
    int saveErrno = 0;
    for (Slot* s : reach) {
        std::string problem;
        int e = 0;
        if (s->disk->Dirty() && !s->disk->Save(&problem, &e)) {
            s->disk->Revert();  // the change did not take: the drive stays as its file says
            if (saveProblem.empty()) {
                saveProblem = problem;
                saveErrno = e;
            }
        }
    }
    if (!saveProblem.empty()) {
        return fail(saveProblem, saveErrno == ENOSPC || saveErrno == EDQUOT ? win::ERROR_DISK_FULL : kErrorWriteFault);
    }
    if (!ok) {
        platform::SetLastError(lastError);
    }
    return ok;
}

bool SimDevices::ReadDisk(const Target& target, uint64_t* position, void* buffer, uint32_t size,
                          uint32_t* bytesRead) {
    std::lock_guard lock(mutex_);
    DeviceRequest record;
    record.kind = DeviceRequest::Kind::Read;
    record.path = target.path;
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    // Raw disk reads move whole sectors.
    if (target.disk == nullptr || size % 512 != 0 || (buffer == nullptr && size != 0)) {
        record.error = target.disk == nullptr ? win::ERROR_INVALID_FUNCTION : win::ERROR_INVALID_PARAMETER;
        Record(record);
        platform::SetLastError(record.error);
        return false;
    }
    record.disk = target.disk->Profile().number;
    if (!target.disk->MediaReady()) {
        record.error = win::ERROR_IO_DEVICE;
        Record(record);
        platform::SetLastError(record.error);
        return false;
    }
    const uint64_t capacity = target.disk->Profile().capacitySectors * 512;
    const uint64_t n = *position >= capacity ? 0 : std::min<uint64_t>(size, capacity - *position);
    target.disk->ReadSectors(*position, std::span(static_cast<uint8_t*>(buffer), static_cast<size_t>(n)));
    *position += n;
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<uint32_t>(n);
    }
    record.result = true;
    record.bytesReturned = static_cast<uint32_t>(n);
    Record(record);
    return true;
}

}  // namespace tarvex::sim
