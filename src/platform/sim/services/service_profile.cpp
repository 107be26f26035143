#include "platform/sim/services/service_profile.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "platform/sim/json_reader.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

using nlohmann::json;

namespace {

// The service control manager's limit for service and display names.
constexpr size_t kMaxServiceNameLength = 256;
// A longer start or stop would only model a hung service, which a failing start does better.
constexpr double kMaxTransitionSeconds = 3600;

struct StartTypeWord {
    const char* name;
    uint32_t value;
};
constexpr StartTypeWord kStartTypes[] = {
    {"auto", win::SERVICE_AUTO_START},
    {"demand", win::SERVICE_DEMAND_START},
    {"disabled", win::SERVICE_DISABLED},
};

std::u16string NameField(JsonObject& o, const std::string& key, bool required) {
    std::optional<std::string> text = required
                                          ? std::optional(o.String(key, kMaxServiceNameLength * 3))
                                          : o.OptionalString(key, kMaxServiceNameLength * 3);
    if (!text) {
        return {};
    }
    std::u16string name = platform::Utf8ToUtf16(*text);
    if (name.empty() || name.size() > kMaxServiceNameLength) {
        throw JsonError(o.PathOf(key), "expected 1 to 256 characters");
    }
    return name;
}

uint32_t Milliseconds(JsonObject& o, const std::string& key) {
    const double seconds = o.OptionalNumber(key, 0, kMaxTransitionSeconds).value_or(0);
    return static_cast<uint32_t>(std::llround(seconds * 1000));
}

ServiceProfile ParseService(const json& node, const std::string& path) {
    JsonObject o(node, path);
    ServiceProfile s;
    s.name = NameField(o, "name", true);
    // The service control manager refuses both slashes in a service name.
    if (s.name.find_first_of(u"/\\") != std::u16string::npos) {
        throw JsonError(o.PathOf("name"), "a service name has no '/' or '\\'");
    }
    s.displayName = NameField(o, "displayName", false);
    if (s.displayName.empty()) {
        s.displayName = s.name;
    }
    if (auto type = o.OptionalString("startType", 16)) {
        s.startType = StartTypeFromName(*type);
        if (s.startType == 0) {
            throw JsonError(o.PathOf("startType"),
                            "expected auto, demand or disabled, found \"" + *type + "\"");
        }
    }
    if (auto state = o.OptionalString("state", 16)) {
        if (*state != "running" && *state != "stopped") {
            throw JsonError(o.PathOf("state"),
                            "expected running or stopped, found \"" + *state + "\"");
        }
        s.running = *state == "running";
    }
    s.startMs = Milliseconds(o, "startSeconds");
    s.stopMs = Milliseconds(o, "stopSeconds");
    s.failStartError = static_cast<uint32_t>(o.OptionalInt("failStart", 1, 0xFFFF).value_or(0));
    o.Finish();
    return s;
}

}  // namespace

std::vector<ServiceProfile> ParseServiceProfiles(const json& node, const std::string& path) {
    const json& arr = RequireArray(&node, path);
    std::vector<ServiceProfile> services;
    for (size_t i = 0; i < arr.size(); ++i) {
        const std::string p = ElementPath(path, i);
        ServiceProfile s = ParseService(arr[i], p);
        for (const ServiceProfile& other : services) {
            if (platform::EqualsIgnoreCase(other.name, s.name)) {
                throw JsonError(p + ".name", "the service \"" + platform::Utf16ToUtf8(s.name) +
                                                 "\" is listed twice (names ignore case)");
            }
        }
        services.push_back(std::move(s));
    }
    return services;
}

const char* StartTypeName(uint32_t startType) {
    for (const StartTypeWord& w : kStartTypes) {
        if (w.value == startType) {
            return w.name;
        }
    }
    return nullptr;
}

uint32_t StartTypeFromName(const std::string& name) {
    for (const StartTypeWord& w : kStartTypes) {
        if (name == w.name) {
            return w.value;
        }
    }
    return 0;
}

}  // namespace tarvex::sim
