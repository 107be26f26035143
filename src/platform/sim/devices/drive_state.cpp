#include "platform/sim/devices/drive_state.h"

#include <algorithm>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "platform/sim/json_reader.h"
#include "platform/sim/state_files.h"

namespace tarvex::sim {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr int kStateVersion = 1;

std::string Hex(const std::array<uint8_t, 32>& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s.push_back(kDigits[b >> 4]);
        s.push_back(kDigits[b & 15]);
    }
    return s;
}

// 64 hexadecimal digits, nothing else (no sign, no spaces).
std::array<uint8_t, 32> FromHex(const std::string& s, const std::string& path) {
    std::array<uint8_t, 32> out{};
    auto digit = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw JsonError(path, "a password is 64 hexadecimal digits");
    };
    if (s.size() != 64) {
        throw JsonError(path, "a password is 64 hexadecimal digits");
    }
    for (size_t i = 0; i < 32; ++i) {
        out[i] = static_cast<uint8_t>(digit(s[2 * i]) << 4 | digit(s[2 * i + 1]));
    }
    return out;
}

// Millisecond counts stay far below the top of 64 bits, so sums of them cannot wrap.
constexpr int64_t kMaxMs = int64_t{1} << 56;

json ToJson(const DriveState& s) {
    json j;
    j["version"] = kStateVersion;
    j["firmware"] = s.firmware;
    j["security"] = {{"enabled", s.securityEnabled},
                     {"locked", s.locked},
                     {"frozen", s.frozen},
                     {"unlockAttemptsLeft", s.unlockAttemptsLeft},
                     {"userPassword", Hex(s.userPassword)},
                     {"userPasswordUnknown", s.userPasswordUnknown},
                     {"masterPassword", Hex(s.masterPassword)},
                     {"maximumLevel", s.maximumLevel},
                     {"erasesDone", s.erasesDone},
                     {"eraseEndMs", s.eraseEndMs},
                     {"eraseEnhanced", s.eraseEnhanced}};
    j["hasUserData"] = s.hasUserData;
    json intervals = json::array();
    for (const auto& [first, end] : s.trim.intervals) {
        intervals.push_back({first, end});
    }
    j["trim"] = {{"commands", s.trim.commands}, {"ranges", s.trim.ranges}, {"sectors", s.trim.sectors},
                 {"intervals", intervals}};
    json log = json::array();
    for (const SelfTestLogEntry& e : s.selfTestLog) {
        log.push_back({{"subcommand", e.subcommand}, {"status", e.statusByte}, {"lifeHours", e.lifeHours},
                       {"failingLba", e.failingLba}});
    }
    j["selfTest"] = {{"log", log}, {"status", s.selfTestStatus}, {"running", s.runningSelfTest},
                     {"startMs", s.selfTestStartMs}};
    json counters = json::array();
    for (const auto& bucket : s.vendorCounters) {
        json b = json::array();
        for (const auto& pair : bucket) {
            b.push_back({pair[0], pair[1]});
        }
        counters.push_back(b);
    }
    j["vendorStatistics"] = {{"counters", counters}, {"lastMinute", s.vendorLastMinute}};
    j["powerOnMs"] = s.powerOnMs;
    j["powerOns"] = s.powerOns;
    if (s.savedAtUnixMs) {
        j["savedAtUnixMs"] = *s.savedAtUnixMs;
    }
    return j;
}

uint64_t Ms(JsonObject& o, const char* key) { return static_cast<uint64_t>(o.Int(key, 0, kMaxMs)); }
uint32_t U32(JsonObject& o, const char* key) { return static_cast<uint32_t>(o.Int(key, 0, UINT32_MAX)); }

uint32_t U32At(const json& node, const std::string& path) {
    if (!node.is_number_unsigned() || node.get<uint64_t>() > UINT32_MAX) {
        throw JsonError(path, "expected an integer from 0 to 4294967295");
    }
    return node.get<uint32_t>();
}

DriveState FromJson(const json& j) {
    JsonObject o(j, "$");
    if (o.Int("version", 0, 1000000) != kStateVersion) {
        throw JsonError("$.version", "unsupported state version");
    }
    DriveState s;
    s.firmware = o.String("firmware", 8);
    for (char c : s.firmware) {
        if (c < 0x20 || c > 0x7E) {
            throw JsonError("$.firmware", "expected printable ASCII");
        }
    }
    JsonObject sec = o.Object("security");
    s.securityEnabled = sec.Bool("enabled");
    // Files from before drives stayed powered between runs lack these; such a state comes up
    // with a power-on, which sets them.
    s.locked = sec.OptionalBool("locked").value_or(false);
    s.frozen = sec.OptionalBool("frozen").value_or(false);
    s.unlockAttemptsLeft =
        static_cast<uint8_t>(sec.OptionalInt("unlockAttemptsLeft", 0, kUnlockAttempts).value_or(kUnlockAttempts));
    s.userPassword = FromHex(sec.String("userPassword", 64), "$.security.userPassword");
    s.userPasswordUnknown = sec.OptionalBool("userPasswordUnknown").value_or(false);
    s.masterPassword = FromHex(sec.String("masterPassword", 64), "$.security.masterPassword");
    s.maximumLevel = sec.Bool("maximumLevel");
    s.erasesDone = U32(sec, "erasesDone");
    s.eraseEndMs = Ms(sec, "eraseEndMs");
    s.eraseEnhanced = sec.Bool("eraseEnhanced");
    sec.Finish();
    s.hasUserData = o.Bool("hasUserData");
    JsonObject trim = o.Object("trim");
    s.trim.commands = trim.UInt64("commands");
    s.trim.ranges = trim.UInt64("ranges");
    s.trim.sectors = trim.UInt64("sectors");
    const json& intervals = RequireArray(trim.Raw("intervals"), "$.trim.intervals");
    if (intervals.size() > TrimSummary::kMaxIntervals) {
        throw JsonError("$.trim.intervals", "more than " + std::to_string(TrimSummary::kMaxIntervals) + " intervals");
    }
    for (size_t i = 0; i < intervals.size(); ++i) {
        const std::string path = ElementPath("$.trim.intervals", i);
        const json& iv = intervals[i];
        if (!iv.is_array() || iv.size() != 2 || !iv[0].is_number_unsigned() || !iv[1].is_number_unsigned()) {
            throw JsonError(path, "expected [first, end] of two unsigned integers");
        }
        const uint64_t first = iv[0].get<uint64_t>();
        const uint64_t last = iv[1].get<uint64_t>();
        // Sorted, merged and non-empty, as the drive keeps them.
        if (first >= last || (!s.trim.intervals.empty() && first <= s.trim.intervals.back().second)) {
            throw JsonError(path, "the intervals must be non-empty, sorted and apart");
        }
        s.trim.intervals.emplace_back(first, last);
    }
    trim.Finish();
    JsonObject st = o.Object("selfTest");
    const json& log = RequireArray(st.Raw("log"), "$.selfTest.log");
    if (log.size() > kMaxSelfTestLogEntries) {
        throw JsonError("$.selfTest.log", "more than " + std::to_string(kMaxSelfTestLogEntries) + " entries");
    }
    for (size_t i = 0; i < log.size(); ++i) {
        JsonObject e(log[i], ElementPath("$.selfTest.log", i));
        s.selfTestLog.push_back({static_cast<uint8_t>(e.Int("subcommand", 0, 255)),
                                 static_cast<uint8_t>(e.Int("status", 0, 255)),
                                 static_cast<uint16_t>(e.Int("lifeHours", 0, 65535)), U32(e, "failingLba")});
        e.Finish();
    }
    s.selfTestStatus = static_cast<uint8_t>(st.Int("status", 0, 255));
    s.runningSelfTest = static_cast<uint8_t>(st.Int("running", 0, 127));
    s.selfTestStartMs = Ms(st, "startMs");
    st.Finish();
    JsonObject vendor = o.Object("vendorStatistics");
    const json& counters = RequireArray(vendor.Raw("counters"), "$.vendorStatistics.counters");
    if (counters.size() != 4) {
        throw JsonError("$.vendorStatistics.counters", "expected 4 buckets");
    }
    for (size_t b = 0; b < 4; ++b) {
        const std::string bucketPath = ElementPath("$.vendorStatistics.counters", b);
        if (!counters[b].is_array() || counters[b].size() != 3) {
            throw JsonError(bucketPath, "expected 3 pairs");
        }
        for (size_t k = 0; k < 3; ++k) {
            const json& pair = counters[b][k];
            const std::string pairPath = ElementPath(bucketPath, k);
            if (!pair.is_array() || pair.size() != 2) {
                throw JsonError(pairPath, "expected [write, read]");
            }
            s.vendorCounters[b][k][0] = U32At(pair[0], ElementPath(pairPath, 0));
            s.vendorCounters[b][k][1] = U32At(pair[1], ElementPath(pairPath, 1));
        }
    }
    s.vendorLastMinute = Ms(vendor, "lastMinute");
    vendor.Finish();
    s.powerOnMs = Ms(o, "powerOnMs");
    s.powerOns = o.UInt64("powerOns");
    if (auto saved = o.OptionalInt("savedAtUnixMs", -kMaxMs, kMaxMs)) {
        s.savedAtUnixMs = *saved;
    }
    o.Finish();
    return s;
}

}  // namespace

std::array<uint8_t, 32> PasswordField(const std::string& text) {
    std::array<uint8_t, 32> out{};
    for (size_t i = 0; i < text.size() && i < out.size(); ++i) {
        out[i] = static_cast<uint8_t>(text[i]);
    }
    return out;
}

DriveState InitialDriveState(const DiskProfile& disk) {
    DriveState s;
    s.firmware = disk.firmware;
    const SecurityProfile& sec = disk.sata.security;
    s.userPasswordUnknown = sec.supported && sec.unknownUserPassword && sec.userPassword.empty();
    s.securityEnabled = sec.supported && (!sec.userPassword.empty() || s.userPasswordUnknown);
    s.userPassword = PasswordField(sec.userPassword);
    s.masterPassword = PasswordField(sec.masterPassword);
    s.maximumLevel = sec.maximumLevel;
    s.hasUserData = disk.hasUserData;
    if (disk.sata.vendorStatistics) {
        std::copy(&disk.sata.vendorStatistics->counters[0][0][0], &disk.sata.vendorStatistics->counters[0][0][0] + 24,
                  &s.vendorCounters[0][0][0]);
    }
    return s;
}

std::string DriveStateText(const DriveState& state) { return ToJson(state).dump(1) + "\n"; }

DriveState ParseDriveState(const std::string& text) { return FromJson(ParseJsonText(text)); }

std::optional<DriveState> LoadDriveState(const fs::path& file, std::string* error) {
    error->clear();
    std::string text;
    switch (ReadStateFile(file, &text, error)) {
        case ReadResult::Missing: return std::nullopt;
        case ReadResult::Unreadable: *error = file.string() + ": cannot read the drive state: " + *error; return std::nullopt;
        case ReadResult::Ok: break;
    }
    try {
        return ParseDriveState(text);
    } catch (const std::exception& e) {
        *error = file.string() + ": the drive state is damaged (" + e.what() + "); delete it to start the drive afresh";
        return std::nullopt;
    }
}

bool SaveDriveState(const fs::path& file, const DriveState& state, std::string* error, int* errnoOut) {
    if (!ReplaceFile(file, DriveStateText(state), error, errnoOut)) {
        *error = "cannot save the drive state: " + *error;
        return false;
    }
    return true;
}

}  // namespace tarvex::sim
