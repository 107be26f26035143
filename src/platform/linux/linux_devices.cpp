// Opening disks, SCSI ports and volumes by their Windows names, raw reads, the disk
// device-interface listing and the configuration manager of the Linux backend.
#include "platform/linux/linux_devices.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "platform/last_error.h"
#include "platform/device_listing.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::linuxhost {

namespace win = tarvex::win;

namespace {

constexpr uint32_t kSectorBytes = 512;

using platform::NumberedName;

class LinuxDeviceHandle : public platform::Device {
  public:
    LinuxDeviceHandle(LinuxDevices& owner, LinuxDevices::Target target) : owner_(owner), target_(std::move(target)) {}
    ~LinuxDeviceHandle() override {
        if (target_.fd >= 0) {
            owner_.CloseNode(target_.fd);
        }
    }
    LinuxDeviceHandle(const LinuxDeviceHandle&) = delete;
    LinuxDeviceHandle& operator=(const LinuxDeviceHandle&) = delete;

    bool DeviceIoControl(uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output,
                         uint32_t* bytesReturned, std::span<uint8_t> directData) override {
        return owner_.Control(target_, code, input, output, bytesReturned, directData);
    }
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        return owner_.ReadDisk(target_, &position_, buffer, size, bytesRead);
    }
    bool SetPosition(uint64_t offset) override {
        if (target_.kind != LinuxDevices::Target::Kind::Disk || offset % kSectorBytes != 0) {
            platform::SetLastError(win::ERROR_INVALID_PARAMETER);
            return false;
        }
        position_ = offset;
        return true;
    }

  private:
    LinuxDevices& owner_;
    LinuxDevices::Target target_;
    uint64_t position_ = 0;
};

// The device tree is the root node alone; its re-enumeration reads the disks again.
class LinuxConfigManager : public platform::RootConfigManager {
  public:
    explicit LinuxConfigManager(LinuxDevices& owner) : owner_(owner) {}

  protected:
    uint32_t ReenumerateRoot() override {
        owner_.Reenumerate();
        return win::CR_SUCCESS;
    }

  private:
    LinuxDevices& owner_;
};

}  // namespace

uint32_t Win32ErrorFromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS: return win::ERROR_ACCESS_DENIED;
        case ENOENT:
        case ENXIO:
        case ENODEV: return win::ERROR_FILE_NOT_FOUND;
        case EBUSY: return win::ERROR_SHARING_VIOLATION;
        case EMFILE:
        case ENFILE: return win::ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM: return win::ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL: return win::ERROR_INVALID_PARAMETER;
        case ENOTTY:
        case EOPNOTSUPP: return win::ERROR_INVALID_FUNCTION;
        case ETIMEDOUT: return win::ERROR_SEM_TIMEOUT;
        default: return win::ERROR_IO_DEVICE;
    }
}

LinuxDevices::LinuxDevices(HostInventory inventory, IoctlSeam& seam, bool allowWrites, InventoryReader reread)
    : seam_(seam), allowWrites_(allowWrites), reread_(std::move(reread)), inventory_(std::move(inventory)) {}

std::string LinuxDevices::TakeDeviceError() {
    std::lock_guard lock(mutex_);
    return std::exchange(deviceError_, std::string());
}

void LinuxDevices::SetDeviceError(std::string message) {
    std::lock_guard lock(mutex_);
    // Each refusal once: a scan that meets the same missing privilege on every request of a
    // disk says it once per disk, and every disk that refused is named.
    if (("\n" + deviceError_ + "\n").find("\n" + message + "\n") == std::string::npos) {
        deviceError_ += deviceError_.empty() ? message : "\n" + message;
    }
}

HostInventory LinuxDevices::Inventory() {
    std::lock_guard lock(mutex_);
    return inventory_;
}

void LinuxDevices::Reenumerate() {
    if (!reread_) {
        return;
    }
    // Read outside the lock (it walks sysfs); handles already open keep the records they have.
    HostInventory fresh = reread_();
    std::lock_guard lock(mutex_);
    inventory_ = std::move(fresh);
}

std::unique_ptr<platform::Device> LinuxDevices::CreateFile(std::u16string_view path, uint32_t access,
                                                           uint32_t /*shareMode*/, uint32_t disposition,
                                                           uint32_t /*flagsAndAttributes*/) {
    const std::u16string folded = platform::FoldCase(path);
    Target target;
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        auto takeDisk = [&](const HostDisk& d) {
            target.kind = Target::Kind::Disk;
            target.disk = d;
            target.node = d.blockNode;
            found = true;
        };
        if (auto n = NumberedName(folded, u"\\\\.\\physicaldrive", u"")) {
            for (const HostDisk& d : inventory_.disks) {
                if (d.number == *n) {
                    takeDisk(d);
                }
            }
        } else if (folded.size() == 6 && folded.rfind(u"\\\\.\\", 0) == 0 && folded[5] == u':') {
            for (const HostVolume& v : inventory_.volumes) {
                if (platform::FoldCase(v.letter) == folded[4]) {
                    target.kind = Target::Kind::Volume;
                    target.volume = v;
                    for (const HostDisk& d : inventory_.disks) {
                        if (d.number == v.disk) {
                            target.volumeDisk = d;
                        }
                    }
                    found = true;
                }
            }
        } else if (auto port = NumberedName(folded, u"\\\\.\\scsi", u":")) {
            for (const HostDisk& d : inventory_.disks) {
                if (d.port != *port || (found && target.portIsNvme)) {
                    continue;
                }
                target.kind = Target::Kind::Port;
                target.port = d.port;
                found = true;
                if (d.kind == HostDiskKind::Nvme && !d.nvmeControllerNode.empty()) {
                    target.portIsNvme = true;
                    target.disk = d;
                    target.node = d.nvmeControllerNode;
                }
            }
        } else {
            for (const HostDisk& d : inventory_.disks) {
                if (platform::FoldCase(d.interfacePath) == folded) {
                    takeDisk(d);
                }
            }
        }
    }
    if (!found) {
        platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (disposition != win::OPEN_EXISTING) {
        platform::SetLastError(win::ERROR_ACCESS_DENIED);  // a device cannot be created or truncated
        return nullptr;
    }
    // A handle opened for no access only asks questions the records answer; the node is opened
    // for a handle that reads or sends commands.
    const bool opens = !target.node.empty() && access != 0;
    if (opens) {
        const bool write = (access & (win::GENERIC_WRITE | win::GENERIC_ALL)) != 0;
        int error = 0;
        target.fd = seam_.Open(target.node, write, &error);
        if (target.fd < 0) {
            const uint32_t code = Win32ErrorFromErrno(error);
            if (code == win::ERROR_ACCESS_DENIED) {
                SetDeviceError(fmt::format("{}: cannot open the device for {}: {} (run as root)", target.node,
                                           write ? "reading and writing" : "reading", std::strerror(error)));
            }
            platform::SetLastError(code);
            return nullptr;
        }
    }
    return std::make_unique<LinuxDeviceHandle>(*this, std::move(target));
}

std::unique_ptr<platform::DeviceInfoSet> LinuxDevices::SetupDiGetClassDevs(const uint8_t (&classGuid)[16],
                                                                           uint32_t flags) {
    std::vector<std::u16string> paths;
    if (platform::ListsDiskInterfaces(classGuid, flags)) {
        std::lock_guard lock(mutex_);
        for (const HostDisk& d : inventory_.disks) {
            paths.push_back(d.interfacePath);
        }
    }
    return std::make_unique<platform::DiskInterfaceSet>(std::move(paths));
}

std::unique_ptr<platform::ConfigManager> LinuxDevices::LoadConfigManager() {
    return std::make_unique<LinuxConfigManager>(*this);
}

bool LinuxDevices::ReadDisk(const Target& target, uint64_t* position, void* buffer, uint32_t size,
                            uint32_t* bytesRead) {
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    uint32_t error = 0;
    if (target.kind != Target::Kind::Disk) {
        error = win::ERROR_INVALID_FUNCTION;
    } else if (size % kSectorBytes != 0 || (buffer == nullptr && size != 0)) {
        error = win::ERROR_INVALID_PARAMETER;  // raw disk reads move whole sectors
    } else if (target.fd < 0) {
        error = win::ERROR_ACCESS_DENIED;  // opened without read access
    }
    if (error != 0) {
        platform::SetLastError(error);
        return false;
    }
    const std::span<uint8_t> whole(static_cast<uint8_t*>(buffer), size);
    size_t done = 0;
    // pread may return less than asked; read on until the request is met or the disk ends.
    while (done < whole.size()) {
        int e = 0;
        const int64_t n = seam_.PRead(target.fd, whole.subspan(done), *position + done, &e);
        if (n < 0 && e == EINTR) {
            continue;
        }
        if (n < 0) {
            platform::SetLastError(Win32ErrorFromErrno(e));
            return false;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(whole.size() - done)));
    }
    *position += done;
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<uint32_t>(done);
    }
    return true;
}

}  // namespace tarvex::linuxhost
