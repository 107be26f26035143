#pragma once
// What every backend's device listing shares: the disk device-interface set that
// SetupDiGetClassDevsW returns, the configuration manager of a device tree that is its root
// node alone, and the numbered device names CreateFileW takes ("\\\\.\\PhysicalDrive3").
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/devices.h"

namespace tarvex::platform {

// GUID_DEVINTERFACE_DISK {53f56307-b6bf-11d0-94f2-00a0c91efb8b} as it lies in memory.
inline constexpr uint8_t kDiskInterfaceGuid[16] = {0x07, 0x63, 0xF5, 0x53, 0xBF, 0xB6, 0xD0, 0x11,
                                                   0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B};

// True when SetupDiGetClassDevsW(classGuid, ..., flags) asks for the disk interfaces: the disk
// class with DIGCF_DEVICEINTERFACE. Any other set is empty.
[[nodiscard]] bool ListsDiskInterfaces(const uint8_t (&classGuid)[16], uint32_t flags);

// The present disk interfaces, one device-interface path each, in listing order.
class DiskInterfaceSet : public DeviceInfoSet {
public:
    explicit DiskInterfaceSet(std::vector<std::u16string> paths) : paths_(std::move(paths)) {}

    bool EnumDeviceInterfaces(uint32_t memberIndex, DeviceInterfaceData* data) override;
    bool GetDeviceInterfaceDetail(const DeviceInterfaceData& data, std::span<uint8_t> detail,
                                  uint32_t* requiredSize) override;

private:
    std::vector<std::u16string> paths_;
};

// The device instance id of the tree's root, and the handle CM_Locate_DevNodeW gives for it.
inline constexpr char16_t kRootDeviceId[] = u"HTREE\\ROOT\\0";
inline constexpr uint32_t kRootDevInst = 0x00010001;

// A configuration manager whose tree is known down to its root only. The checks of both calls
// (pointer, flags, device id, node) are made here; what the root does is the backend's.
class RootConfigManager : public ConfigManager {
public:
    uint32_t CM_Locate_DevNode(uint32_t* devInst, std::optional<std::u16string_view> deviceId,
                               uint32_t flags) final;
    uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) final;

protected:
    // The CONFIGRET of locating the root once the call is known to be well formed.
    virtual uint32_t LocateRoot() { return 0; }
    // Re-enumerates the root; the CONFIGRET of the call.
    virtual uint32_t ReenumerateRoot() = 0;
};

// The number between `prefix` and `suffix` of a folded path ("\\\\.\\physicaldrive12" -> 12):
// at most three decimal digits. Nothing when the path has another shape.
[[nodiscard]] std::optional<uint32_t> NumberedName(std::u16string_view path, std::u16string_view prefix,
                                                   std::u16string_view suffix);

}  // namespace tarvex::platform
