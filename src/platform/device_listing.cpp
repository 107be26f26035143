#include "platform/device_listing.h"

#include <cstring>

#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::platform {

namespace {

constexpr uint32_t kErrorInvalidUserBuffer = 1784;  // ERROR_INVALID_USER_BUFFER
constexpr uint32_t kDigcfDeviceInterface = 0x10;
constexpr uint32_t kSpintActive = 1;
constexpr uint32_t kInterfaceDataSize = 28;  // SP_DEVICE_INTERFACE_DATA of the 32-bit layout
constexpr uint32_t kDetailDataSize = 6;      // SP_DEVICE_INTERFACE_DETAIL_DATA_W of the 32-bit layout

}  // namespace

bool ListsDiskInterfaces(const uint8_t (&classGuid)[16], uint32_t flags) {
    return std::memcmp(classGuid, kDiskInterfaceGuid, 16) == 0 && (flags & kDigcfDeviceInterface) != 0;
}

bool DiskInterfaceSet::EnumDeviceInterfaces(uint32_t memberIndex, DeviceInterfaceData* data) {
    if (data == nullptr || data->cbSize != kInterfaceDataSize) {
        SetLastError(kErrorInvalidUserBuffer);
        return false;
    }
    if (memberIndex >= paths_.size()) {
        SetLastError(win::ERROR_NO_MORE_ITEMS);
        return false;
    }
    std::memcpy(data->interfaceClassGuid, kDiskInterfaceGuid, 16);
    data->flags = kSpintActive;
    // The set's own mark of the interface: its position plus one, so that a record the listing
    // never filled (0) names none.
    data->reserved = memberIndex + 1;
    return true;
}

bool DiskInterfaceSet::GetDeviceInterfaceDetail(const DeviceInterfaceData& data, std::span<uint8_t> detail,
                                                uint32_t* requiredSize) {
    if (data.cbSize != kInterfaceDataSize || data.reserved == 0 || data.reserved > paths_.size()) {
        SetLastError(win::ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::u16string& path = paths_[data.reserved - 1];
    // cbSize, then the path with its NUL in UTF-16LE.
    const uint32_t need = static_cast<uint32_t>(4 + 2 * (path.size() + 1));
    if (requiredSize != nullptr) {
        *requiredSize = need;
    }
    if (detail.size() < need) {
        SetLastError(win::ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    uint32_t cbSize = 0;
    std::memcpy(&cbSize, detail.data(), 4);
    if (cbSize != kDetailDataSize) {
        SetLastError(kErrorInvalidUserBuffer);
        return false;
    }
    for (size_t i = 0; i <= path.size(); ++i) {
        const char16_t c = i < path.size() ? path[i] : u'\0';
        detail[4 + 2 * i] = static_cast<uint8_t>(c & 0xFF);
        detail[5 + 2 * i] = static_cast<uint8_t>(c >> 8);
    }
    return true;
}

uint32_t RootConfigManager::CM_Locate_DevNode(uint32_t* devInst, std::optional<std::u16string_view> deviceId,
                                              uint32_t flags) {
    if (devInst == nullptr) {
        return win::CR_INVALID_POINTER;
    }
    *devInst = 0;
    if ((flags & ~win::CM_LOCATE_DEVNODE_BITS) != 0) {
        return win::CR_INVALID_FLAG;
    }
    // Only the root is known: the tree below it is not modelled.
    if (deviceId && !deviceId->empty() && !EqualsIgnoreCase(*deviceId, kRootDeviceId)) {
        return win::CR_NO_SUCH_DEVNODE;
    }
    if (const uint32_t result = LocateRoot(); result != win::CR_SUCCESS) {
        return result;
    }
    *devInst = kRootDevInst;
    return win::CR_SUCCESS;
}

uint32_t RootConfigManager::CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) {
    if ((flags & ~win::CM_REENUMERATE_BITS) != 0) {
        return win::CR_INVALID_FLAG;
    }
    if (devInst != kRootDevInst) {
        return win::CR_INVALID_DEVNODE;
    }
    return ReenumerateRoot();
}

std::optional<uint32_t> NumberedName(std::u16string_view path, std::u16string_view prefix, std::u16string_view suffix) {
    if (path.size() <= prefix.size() + suffix.size() || path.substr(0, prefix.size()) != prefix ||
        path.substr(path.size() - suffix.size()) != suffix) {
        return std::nullopt;
    }
    const std::u16string_view digits = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    if (digits.size() > 3) {
        return std::nullopt;
    }
    uint32_t n = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        n = n * 10 + static_cast<uint32_t>(c - u'0');
    }
    return n;
}

}  // namespace tarvex::platform
