#pragma once
// The emulated PC's device tree as the configuration manager ("cfgmgr32.dll") shows it: a root
// node that can be located and re-enumerated. The profile's "deviceTree" object (see
// docs/machine-profile.md) can make the library missing or either call fail. Re-enumeration
// finds nothing new (the disks are those of the profile); it is counted, and so are the
// loaded copies of the library, so tests see that a re-enumeration happened and that the
// library was freed.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/devices.h"

namespace tarvex::sim {

struct DeviceTreeProfile {
    bool libraryMissing = false;               // LoadLibrary("cfgmgr32.dll") fails
    std::optional<uint32_t> failLocate;        // CM_Locate_DevNodeW returns this CONFIGRET
    std::optional<uint32_t> failReenumerate;   // CM_Reenumerate_DevNode returns this CONFIGRET
};

// Parses the "deviceTree" object (at `path`). Throws JsonError.
DeviceTreeProfile ParseDeviceTreeProfile(const nlohmann::json& node, const std::string& path);

class SimDeviceTree {
public:
    explicit SimDeviceTree(DeviceTreeProfile profile = {});

    // LoadLibraryW("cfgmgr32.dll") and the look-up of both calls: null with ERROR_MOD_NOT_FOUND
    // when the profile makes the library missing. The library stays loaded while the object
    // lives; it may outlive this tree.
    std::unique_ptr<platform::ConfigManager> Load();

    // How often the root was re-enumerated successfully.
    [[nodiscard]] uint64_t ReenumerationCount() const { return state_->reenumerations.load(); }
    // How many loaded copies of the library are not freed yet.
    [[nodiscard]] int LoadedLibraries() const { return state_->loaded.load(); }

    struct State {
        DeviceTreeProfile profile;
        std::atomic<uint64_t> reenumerations{0};
        std::atomic<int> loaded{0};
    };

private:
    std::shared_ptr<State> state_;
};

}  // namespace tarvex::sim
