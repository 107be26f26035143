#include "platform/sim/services/service_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include <nlohmann/json.hpp>

#include "platform/sim/json_reader.h"
#include "platform/sim/state_files.h"
#include "platform/text.h"

namespace tarvex::sim {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr int kStateVersion = 1;

struct StateWord {
    const char* name;
    uint32_t value;
};
constexpr StateWord kStates[] = {
    {"stopped", win::SERVICE_STOPPED},
    {"startPending", win::SERVICE_START_PENDING},
    {"stopPending", win::SERVICE_STOP_PENDING},
    {"running", win::SERVICE_RUNNING},
};

bool IsPending(uint32_t state) {
    return state == win::SERVICE_START_PENDING || state == win::SERVICE_STOP_PENDING;
}

const char* StateName(uint32_t state) {
    for (const StateWord& w : kStates) {
        if (w.value == state) {
            return w.name;
        }
    }
    return "stopped";
}

json ToJson(const std::vector<ServiceRecord>& records) {
    json services = json::array();
    for (const ServiceRecord& r : records) {
        json s = {{"name", platform::Utf16ToUtf8(r.name)},
                  {"state", StateName(r.currentState)},
                  {"startType", StartTypeName(r.startType)}};
        if (IsPending(r.currentState)) {
            s["sinceTickMs"] = r.sinceTickMs;
            s["sinceUnixMs"] = r.sinceUnixMs;
            s["run"] = r.sinceRun;
        }
        services.push_back(std::move(s));
    }
    return {{"version", kStateVersion}, {"services", services}};
}

ServiceRecord RecordFromJson(const json& node, const std::string& path) {
    JsonObject o(node, path);
    ServiceRecord r;
    r.name = platform::Utf8ToUtf16(o.String("name"));
    const std::string state = o.String("state");
    r.currentState = 0;
    for (const StateWord& w : kStates) {
        if (state == w.name) {
            r.currentState = w.value;
        }
    }
    if (r.currentState == 0) {
        throw JsonError(o.PathOf("state"), "unknown state \"" + state + "\"");
    }
    const std::string type = o.String("startType");
    r.startType = StartTypeFromName(type);
    if (r.startType == 0) {
        throw JsonError(o.PathOf("startType"), "unknown start type \"" + type + "\"");
    }
    if (IsPending(r.currentState)) {
        // Times far from any clock would overflow the arithmetic of a pending state.
        constexpr int64_t kMaxMs = int64_t{1} << 56;
        r.sinceTickMs = static_cast<uint64_t>(o.Int("sinceTickMs", 0, kMaxMs));
        r.sinceUnixMs = o.Int("sinceUnixMs", -kMaxMs, kMaxMs);
        r.sinceRun = o.String("run", 64);
    }
    o.Finish();
    return r;
}

std::vector<ServiceRecord> FromJson(const json& root) {
    JsonObject o(root, "$");
    if (o.Int("version", 0, 1000000) != kStateVersion) {
        throw JsonError("$.version", "unsupported state version");
    }
    const json& arr = RequireArray(o.Raw("services"), "$.services");
    std::vector<ServiceRecord> records;
    for (size_t i = 0; i < arr.size(); ++i) {
        ServiceRecord r = RecordFromJson(arr[i], ElementPath("$.services", i));
        for (const ServiceRecord& other : records) {
            if (platform::EqualsIgnoreCase(other.name, r.name)) {
                throw JsonError(ElementPath("$.services", i) + ".name",
                                "the service is listed twice");
            }
        }
        records.push_back(std::move(r));
    }
    o.Finish();
    return records;
}

}  // namespace

ServiceRecord InitialServiceRecord(const ServiceProfile& profile) {
    ServiceRecord r;
    r.name = profile.name;
    r.currentState = profile.running ? win::SERVICE_RUNNING : win::SERVICE_STOPPED;
    r.startType = profile.startType;
    return r;
}

std::optional<std::vector<ServiceRecord>> LoadServiceRecords(const fs::path& file,
                                                             std::string* error) {
    error->clear();
    std::string text;
    switch (ReadStateFile(file, &text, error)) {
        case ReadResult::Missing: return std::nullopt;
        case ReadResult::Unreadable: *error = file.string() + ": cannot read the service state: " + *error; return std::nullopt;
        case ReadResult::Ok: break;
    }
    try {
        return ParseServiceRecords(text);
    } catch (const std::exception& e) {
        *error = file.string() + ": the service state is damaged (" + e.what() +
                 "); delete it to start the services afresh";
        return std::nullopt;
    }
}

std::vector<ServiceRecord> ParseServiceRecords(const std::string& text) { return FromJson(ParseJsonText(text)); }

bool SaveServiceRecords(const fs::path& file, const std::vector<ServiceRecord>& records,
                        std::string* error, int* errnoOut) {
    return ReplaceFile(file, ToJson(records).dump(1) + "\n", error, errnoOut);
}

ServiceStateLock::ServiceStateLock(const fs::path& file) {
    const std::string lockFile = file.string() + ".lock";
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

ServiceStateLock::~ServiceStateLock() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
}

}  // namespace tarvex::sim
