#include "drives/device_tree_refresh.h"

#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

bool ReenumerateDeviceTree() {
    platform::Devices* devices = platform::Current().devices;
    if (devices == nullptr) {
        return false;
    }
    // The library goes with `manager`, on every path out.
    const std::unique_ptr<platform::ConfigManager> manager = devices->LoadConfigManager();
    if (!manager) {
        return false;
    }
    uint32_t root = 0;
    if (manager->CM_Locate_DevNode(&root, std::nullopt, win::CM_LOCATE_DEVNODE_NORMAL) != win::CR_SUCCESS) {
        return false;
    }
    return manager->CM_Reenumerate_DevNode(root, win::CM_REENUMERATE_NORMAL) == win::CR_SUCCESS;
}

}  // namespace tarvex
