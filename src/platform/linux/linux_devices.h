#pragma once
// The disks, SCSI ports and volumes of a real Linux PC behind the Windows-shaped device
// interface. A disk handle is its block node ("/dev/sda"); the SCSI port of an NVMe disk is its
// controller node ("/dev/nvme0"); a volume is answered from its record alone. ATA commands go to
// the drive as SG_IO with ATA PASS-THROUGH (16), NVMe commands of the "NvmeMini" miniport
// interface as NVMe admin commands, both through an IoctlSeam. Request buffers are checked as
// a Windows storage driver checks them, and commands that change a drive pass only when writes
// are allowed.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/devices.h"
#include "platform/linux/host_model.h"
#include "platform/linux/ioctl_seam.h"
#include "platform/linux/sat_translation.h"
#include "platform/storage_requests.h"

namespace tarvex::linuxhost {

class LinuxDevices : public platform::Devices {
  public:
    using InventoryReader = std::function<HostInventory()>;

    // `seam` must outlive this object, and this object every handle, listing and configuration
    // manager it gives out. `reread`, when given, reads the disks and volumes again on a
    // re-enumeration of the device tree.
    LinuxDevices(HostInventory inventory, IoctlSeam& seam, bool allowWrites, InventoryReader reread = {});

    std::unique_ptr<platform::Device> CreateFile(std::u16string_view path, uint32_t access, uint32_t shareMode,
                                                 uint32_t disposition, uint32_t flagsAndAttributes) override;
    std::unique_ptr<platform::DeviceInfoSet> SetupDiGetClassDevs(const uint8_t (&classGuid)[16],
                                                                 uint32_t flags) override;
    std::unique_ptr<platform::ConfigManager> LoadConfigManager() override;

    // The refusals since the last call (a missing privilege, a command that writes while writes
    // are off, a node the process may not open), one line each naming the device, each only
    // once, in the order they came; cleared by the call, empty when there was none.
    std::string TakeDeviceError();

    // The disks and volumes as now known (a copy).
    HostInventory Inventory();

    // What an open handle reaches (linux_device_handle.cpp, linux_device_ioctl.cpp).
    struct Target {
        enum class Kind { Disk, Port, Volume };
        Kind kind = Kind::Disk;
        HostDisk disk;  // the disk of a disk handle; of a port: an NVMe disk behind it
        bool portIsNvme = false;
        uint8_t port = 0;
        HostVolume volume;
        std::optional<HostDisk> volumeDisk;  // the disk a volume lies on, when listed
        std::string node;                    // the opened node ("/dev/sda", "/dev/nvme0"); empty for a volume
        int fd = -1;                         // -1: not opened (a volume, a SATA port, a query-only handle)
    };

    // One DeviceIoControl of a handle; sets the last error when it fails.
    bool Control(const Target& target, uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output,
                 uint32_t* bytesReturned, std::span<uint8_t> directData);
    bool ReadDisk(const Target& target, uint64_t* position, void* buffer, uint32_t size, uint32_t* bytesRead);
    void CloseNode(int fd) { seam_.Close(fd); }
    // The re-enumeration of the configuration manager: reads the inventory again when a reader
    // was given.
    void Reenumerate();

  private:
    // Checks the allow-list and the privilege, sends the command as ATA PASS-THROUGH (16), and
    // decodes the registers; the completion's error is set when the command did not complete.
    platform::AtaCompletion RunAta(const Target& t, const platform::AtaRequest& request);
    // The NVMe admin ioctl behind a port handle, with the same checks.
    class Miniport;
    // A refusal: remembers `message`; the call fails with the ERROR_ACCESS_DENIED returned.
    uint32_t Refuse(std::string message);
    void SetDeviceError(std::string message);

    IoctlSeam& seam_;
    const bool allowWrites_;
    InventoryReader reread_;
    std::mutex mutex_;  // guards everything below
    HostInventory inventory_;
    std::string deviceError_;
    // The erase times each disk (by block node) stated in the last IDENTIFY page it returned.
    std::map<std::string, EraseTimes> eraseTimes_;
};

// The Win32 error an errno of open(2), pread(2) or an ioctl stands for.
[[nodiscard]] uint32_t Win32ErrorFromErrno(int error);

}  // namespace tarvex::linuxhost
