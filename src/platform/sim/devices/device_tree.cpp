#include "platform/sim/devices/device_tree.h"

#include "platform/device_listing.h"
#include "platform/last_error.h"
#include "platform/sim/json_reader.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {

// The root node as the profile lets it be located and re-enumerated.
class SimConfigManager : public platform::RootConfigManager {
public:
    explicit SimConfigManager(std::shared_ptr<SimDeviceTree::State> state) : state_(std::move(state)) {
        state_->loaded.fetch_add(1);
    }
    ~SimConfigManager() override { state_->loaded.fetch_sub(1); }
    SimConfigManager(const SimConfigManager&) = delete;
    SimConfigManager& operator=(const SimConfigManager&) = delete;

protected:
    uint32_t LocateRoot() override { return state_->profile.failLocate.value_or(win::CR_SUCCESS); }

    uint32_t ReenumerateRoot() override {
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
