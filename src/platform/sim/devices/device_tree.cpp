#include "platform/sim/devices/device_tree.h"

#include "platform/last_error.h"
#include "platform/sim/json_reader.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {

class SimConfigManager : public platform::ConfigManager {
public:
    explicit SimConfigManager(std::shared_ptr<SimDeviceTree::State> state) : state_(std::move(state)) {
        state_->loaded.fetch_add(1);
    }
    ~SimConfigManager() override { state_->loaded.fetch_sub(1); }
    SimConfigManager(const SimConfigManager&) = delete;
    SimConfigManager& operator=(const SimConfigManager&) = delete;

    uint32_t CM_Locate_DevNode(uint32_t* devInst, std::optional<std::u16string_view> deviceId,
                               uint32_t flags) override {
        if (devInst == nullptr) {
            return win::CR_INVALID_POINTER;
        }
        *devInst = 0;
        if ((flags & ~win::CM_LOCATE_DEVNODE_BITS) != 0) {
            return win::CR_INVALID_FLAG;
        }
        // Only the root is known here: the tree below it is not modelled.
        if (deviceId && !deviceId->empty() && !platform::EqualsIgnoreCase(*deviceId, kRootDeviceId)) {
            return win::CR_NO_SUCH_DEVNODE;
        }
        if (state_->profile.failLocate) {
            return *state_->profile.failLocate;
        }
        *devInst = kRootDevInst;
        return win::CR_SUCCESS;
    }

    uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) override {
        if ((flags & ~win::CM_REENUMERATE_BITS) != 0) {
            return win::CR_INVALID_FLAG;
        }
        if (devInst != kRootDevInst) {
            return win::CR_INVALID_DEVNODE;
        }
        if (state_->profile.failReenumerate) {
            return *state_->profile.failReenumerate;
        }
        state_->reenumerations.fetch_add(1);
        return win::CR_SUCCESS;
    }

private:
    std::shared_ptr<SimDeviceTree::State> state_;
};

}  // namespace

DeviceTreeProfile ParseDeviceTreeProfile(const nlohmann::json& node, const std::string& path) {
    JsonObject o(node, path);
    DeviceTreeProfile d;
    auto failure = [&](const char* key) -> std::optional<uint32_t> {
        // A failure is a CONFIGRET other than CR_SUCCESS, which would be a failure that says success.
        if (auto v = o.OptionalInt(key, 1, win::NUM_CR_RESULTS - 1)) {
            return static_cast<uint32_t>(*v);
        }
        return std::nullopt;
    };
    d.libraryMissing = o.OptionalBool("libraryMissing").value_or(false);
    d.failLocate = failure("failLocate");
    d.failReenumerate = failure("failReenumerate");
    o.Finish();
    return d;
}

SimDeviceTree::SimDeviceTree(DeviceTreeProfile profile) : state_(std::make_shared<State>()) {
    state_->profile = profile;
}

std::unique_ptr<platform::ConfigManager> SimDeviceTree::Load() {
    if (state_->profile.libraryMissing) {
        platform::SetLastError(win::ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return std::make_unique<SimConfigManager>(state_);
}

}  // namespace tarvex::sim
