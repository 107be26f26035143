#pragma once
// The emulated storage stack: the disk and SCSI port devices CreateFileW reaches, the
// DeviceIoControl requests their drivers decode (checked as the real drivers check them),
// the disk device-interface listing, and the drives behind them. Every request is recorded,
// with a copy of its bytes, so tests can see exactly what went over the wire.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_listing.h"
#include "platform/devices.h"
#include "platform/storage_requests.h"
#include "platform/sim/devices/device_tree.h"
#include "platform/sim/devices/nvme_drive.h"
#include "platform/sim/devices/sata_drive.h"
#include "platform/sim/volumes/volume_profile.h"

namespace tarvex::sim {

using platform::kDiskInterfaceGuid;

struct DeviceRequest {
    enum class Kind { Open, Ioctl, Read };
    uint64_t sequence = 0;                // counts every request since the machine was built
    Kind kind = Kind::Ioctl;
    std::u16string path;                  // the path the handle was opened with
    std::optional<uint32_t> disk;         // the disk the handle reaches (none for a port or a failed open)
    uint32_t ioctl = 0;
    std::vector<uint8_t> input;           // the input bytes as they came
    std::vector<uint8_t> directData;      // the direct data buffer as it came
    bool result = false;
    uint32_t error = 0;                   // the last error when the call failed
    uint32_t bytesReturned = 0;
    bool reachedDrive = false;            // a command got to the drive
    std::optional<platform::AtaTaskFile> ata;  // the registers the drive received
    std::optional<uint16_t> nvmeStatus;   // the status field an NVMe command completed with
};

class SimDevices : public platform::Devices {
public:
    // Builds the disks of `disks`, each with its state from <stateDir>/disk<N>.json. A drive
    // without a state file is new and powers on; one with a file carries on where the last run
    // left it, powered meanwhile (see SimDisk). Null with `error` set when a state file is
    // damaged. The profiles must outlive the object.
    static std::unique_ptr<SimDevices> Create(const std::vector<DiskProfile>& disks, SimClock& clock,
                                              const std::filesystem::path& stateDir, std::string* error);
    ~SimDevices() override;

    std::unique_ptr<platform::Device> CreateFile(std::u16string_view path, uint32_t access, uint32_t shareMode,
                                                 uint32_t disposition, uint32_t flagsAndAttributes) override;
    std::unique_ptr<platform::DeviceInfoSet> SetupDiGetClassDevs(const uint8_t (&classGuid)[16],
                                                                 uint32_t flags) override;
    std::unique_ptr<platform::ConfigManager> LoadConfigManager() override { return deviceTree_.Load(); }

    // The device tree behind LoadConfigManager (re-enumerations, loaded libraries).
    SimDeviceTree& DeviceTree() { return deviceTree_; }
    void SetDeviceTree(const DeviceTreeProfile& profile) { deviceTree_ = SimDeviceTree(profile); }

    // The volumes that \\.\C: and the other drive letters open (kept by the caller). Each disk
    // gets the partition table of its volumes; `systemDrive`'s partition is the active one.
    void AttachVolumes(const std::vector<VolumeProfile>* volumes, char16_t systemDrive = u'C');

    // Tests and tools. The request log keeps the last kRequestLogLimit requests, and drops the
    // oldest sooner when the bytes they hold pass kRequestLogBytes, so a long run (a fuzzer,
    // a soak) cannot grow it without bound. Take what a check needs: the requests since a
    // mark, or the last few.
    static constexpr size_t kRequestLogLimit = 1024;
    static constexpr size_t kRequestLogBytes = size_t{16} << 20;
    // The sequence number the next request will get.
    uint64_t RequestMark();
    // The kept requests numbered `mark` or later, oldest first.
    std::vector<DeviceRequest> RequestsSince(uint64_t mark);
    // The last `count` kept requests (fewer when fewer are kept), oldest first.
    std::vector<DeviceRequest> LastRequests(size_t count);
    // The most recent request, or nothing when none is kept.
    std::optional<DeviceRequest> LastRequest();
    void ClearRequests();
    SimDisk* Disk(uint32_t number);
    SataDrive* Sata(uint32_t number);
    NvmeDrive* Nvme(uint32_t number);
    // Writes every drive's state file (each under its lock, after taking in what another
    // process saved).
    bool SaveAll(std::string* error);
    // Switches the machine off and on: every drive powers on (PowerOn) and is saved. False with
    // `error` set when a state file cannot be written (the drives have powered on all the same).
    // A running PC's clock speed (SetSpeedFile) is set to this process's speed.
    bool PowerCycle(std::string* error = nullptr);
    // The file that records the clock speed of the running PC, and this process's speed;
    // PowerCycle rewrites it.
    void SetSpeedFile(std::filesystem::path file, double speed);
    // The last problem with a drive's state file that failed a request (a save on a full disk,
    // a file another process left unreadable), cleared by the call; empty when none.
    std::string TakeStateError();


    // Called by the open handles (storage_ioctl.cpp).
    struct Target {
        std::u16string path;
        SimDisk* disk = nullptr;  // a disk handle
        std::optional<uint8_t> port;  // a SCSI port handle
        const VolumeProfile* volume = nullptr;  // a volume handle
    };
    bool Control(const Target& target, uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output,
                 uint32_t* bytesReturned, std::span<uint8_t> directData);
    bool ReadDisk(const Target& target, uint64_t* position, void* buffer, uint32_t size, uint32_t* bytesRead);
    // Runs one request of an open handle under the lock of every disk it can reach: takes in
    // what other processes saved, runs `run`, saves what changed. A state file that cannot be
    // read or saved fails the request (ERROR_IO_DEVICE, or ERROR_DISK_FULL / a write fault),
    // and the unsaved change is dropped.
    bool Locked(const Target& target, uint32_t* bytesDone, const std::function<bool()>& run);

private:
    SimDevices() = default;

    struct Slot {
        const DiskProfile* profile;
        std::unique_ptr<SimDisk> disk;
        std::vector<uint32_t> faultUses;  // how often each fault has struck
    };
    Slot* SlotOf(const SimDisk* disk);
    // The first fault of `slot` that matches and still strikes (counted as used), or null.
    const FaultProfile* TakeFault(Slot& slot, FaultProfile::On on, uint32_t ioctl, const platform::AtaTaskFile* regs);

    // The executing part of a request (storage_ioctl.cpp); platform/storage_requests decodes it.
    struct Call;
    // Hands one ATA command to the drive, with the faults of the disk applied.
    platform::AtaCompletion RunAta(Call& c, const platform::AtaRequest& request);
    // The NVMe miniport of the disk behind a SCSI port handle.
    class Miniport;
    // Where a volume lies, as its disk and its extent.
    platform::VolumePlace PlaceOf(const VolumeProfile& volume) const;
    // Appends to the request log (under mutex_), dropping the oldest beyond its bounds.
    void Record(DeviceRequest request);

    std::mutex sessionMutex_;  // held across Locked, SaveAll and PowerCycle; taken before mutex_
    std::mutex mutex_;
    std::vector<Slot> slots_;
    std::string stateError_;
    std::filesystem::path speedFile_;
    double speed_ = 1.0;
    std::deque<DeviceRequest> log_;
    size_t logBytes_ = 0;      // input and direct-data bytes the kept requests hold
    uint64_t nextSequence_ = 0;
    const std::vector<VolumeProfile>* volumes_ = nullptr;
    SimDeviceTree deviceTree_;
};

}  // namespace tarvex::sim
