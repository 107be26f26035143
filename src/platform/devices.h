#pragma once
// Disks, SCSI ports and volumes as CreateFileW and DeviceIoControl reach them, the disk
// device-interface listing of the setup API, and the configuration manager's device tree. Request buffers keep the 32-bit Windows layouts
// the program sends; a pointer that such a layout puts in a 4-byte field (the direct ATA
// pass-through's data buffer) travels beside the request in `directData`.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvex::platform {

// Control codes the system sends.
inline constexpr uint32_t IOCTL_ATA_PASS_THROUGH = 0x0004D02C;
inline constexpr uint32_t IOCTL_ATA_PASS_THROUGH_DIRECT = 0x0004D030;
inline constexpr uint32_t IOCTL_IDE_PASS_THROUGH = 0x0004D028;
inline constexpr uint32_t SMART_RCV_DRIVE_DATA = 0x0007C088;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT = 0x0004D008;
inline constexpr uint32_t IOCTL_SCSI_GET_ADDRESS = 0x00041018;
inline constexpr uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER = 0x002D1080;
inline constexpr uint32_t IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = 0x00560000;
inline constexpr uint32_t FSCTL_GET_RETRIEVAL_POINTERS = 0x00090073;

// An open disk, port or volume handle. Closed when destroyed.
class Device {
public:
    virtual ~Device() = default;
    // DeviceIoControl with METHOD_BUFFERED semantics: `input` is read, `output` written,
    // `bytesReturned` set. `directData` is the caller's data buffer of a direct request.
    virtual bool DeviceIoControl(uint32_t ioControlCode, std::span<const uint8_t> input,
                                 std::span<uint8_t> output, uint32_t* bytesReturned,
                                 std::span<uint8_t> directData = {}) = 0;
    // ReadFile at the current position (raw sectors of a disk opened for reading).
    virtual bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
    virtual bool SetPosition(uint64_t offset) = 0;
};

// A SP_DEVICE_INTERFACE_DATA as the listing returns it.
struct DeviceInterfaceData {
    uint32_t cbSize = 28;
    uint8_t interfaceClassGuid[16] = {};
    uint32_t flags = 0;
    uintptr_t reserved = 0;  // which interface of the set this is; filled by the listing
};

// One SetupDiGetClassDevsW result: the present interfaces of one class.
class DeviceInfoSet {
public:
    virtual ~DeviceInfoSet() = default;  // SetupDiDestroyDeviceInfoList
    // SetupDiEnumDeviceInterfaces: false with ERROR_NO_MORE_ITEMS past the last one.
    virtual bool EnumDeviceInterfaces(uint32_t memberIndex, DeviceInterfaceData* data) = 0;
    // SetupDiGetDeviceInterfaceDetailW into a caller's SP_DEVICE_INTERFACE_DETAIL_DATA_W
    // buffer (cbSize 6, then the NUL-terminated path). `requiredSize` may be null.
    virtual bool GetDeviceInterfaceDetail(const DeviceInterfaceData& data,
                                          std::span<uint8_t> detail, uint32_t* requiredSize) = 0;
};

// "cfgmgr32.dll" loaded at run time, with the two device-tree calls looked up in it. The calls
// return a CONFIGRET (CR_SUCCESS 0). The library is freed (FreeLibrary) when the object goes.
class ConfigManager {
public:
    virtual ~ConfigManager() = default;
    // CM_Locate_DevNodeW: the device node of `deviceId`; the tree's root when there is none
    // (NULL) or it is empty. `devInst` is set to 0 when the call fails.
    virtual uint32_t CM_Locate_DevNode(uint32_t* devInst, std::optional<std::u16string_view> deviceId,
                                       uint32_t flags) = 0;
    // CM_Reenumerate_DevNode: the node's drivers look again for the devices below it.
    virtual uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) = 0;
};

class Devices {
public:
    virtual ~Devices() = default;
    // CreateFileW on "\\\\.\\PhysicalDriveN", a device-interface path, "\\\\.\\SCSIn:" or
    // "\\\\.\\C:". Null with the last error set when it cannot be opened.
    virtual std::unique_ptr<Device> CreateFile(std::u16string_view path, uint32_t access,
                                               uint32_t shareMode, uint32_t disposition,
                                               uint32_t flagsAndAttributes) = 0;
    // SetupDiGetClassDevsW(classGuid, NULL, NULL, flags). Null for an invalid handle.
    virtual std::unique_ptr<DeviceInfoSet> SetupDiGetClassDevs(const uint8_t (&classGuid)[16],
                                                               uint32_t flags) = 0;
    // LoadLibraryW("cfgmgr32.dll") and GetProcAddress of both calls: null, with the last error
    // set, when the library or one of the calls is not there.
    virtual std::unique_ptr<ConfigManager> LoadConfigManager() = 0;
};

}  // namespace tarvex::platform
