#pragma once
// The services of an emulated PC as the machine profile lists them (the "services" array, see
// docs/machine-profile.md): name, start type, whether it runs when the PC starts, how long
// its start and stop take on the PC's clock, and a start failure a test wants it to show.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/win32_values.h"

namespace tarvex::sim {

struct ServiceProfile {
    std::u16string name;         // the service name OpenServiceW takes; unique ignoring case
    std::u16string displayName;  // defaults to the name
    uint32_t startType = win::SERVICE_DEMAND_START;  // or SERVICE_AUTO_START, SERVICE_DISABLED
    bool running = false;                            // its state when the state directory is new
    uint32_t startMs = 0;         // time spent in START_PENDING; 0: RUNNING at once
    uint32_t stopMs = 0;          // time spent in STOP_PENDING; 0: STOPPED at once
    uint32_t failStartError = 0;  // non-zero: StartService fails with this error
};

// Parses the "services" array (at `path`). Throws JsonError.
std::vector<ServiceProfile> ParseServiceProfiles(const nlohmann::json& node,
                                                 const std::string& path);

// The profile's words for the start types ("auto", "demand", "disabled"); nullptr / 0 for
// anything else.
const char* StartTypeName(uint32_t startType);
uint32_t StartTypeFromName(const std::string& name);

}  // namespace tarvex::sim
