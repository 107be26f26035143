#include "platform/sim/devices/drive_state.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

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

std::array<uint8_t, 32> FromHex(const std::string& s) {
    std::array<uint8_t, 32> out{};
    if (s.size() != 64) {
        throw std::runtime_error("a password is 64 hexadecimal digits");
    }
    for (size_t i = 0; i < 32; ++i) {
        out[i] = static_cast<uint8_t>(std::stoul(s.substr(2 * i, 2), nullptr, 16));
    }
    return out;
}

json ToJson(const DriveState& s) {
    json j;
    j["version"] = kStateVersion;
    j["firmware"] = s.firmware;
    j["security"] = {{"enabled", s.securityEnabled},
                     {"locked", s.locked},
                     {"frozen", s.frozen},
                     {"unlockAttemptsLeft", s.unlockAttemptsLeft},
                     {"userPassword", Hex(s.userPassword)},
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

DriveState FromJson(const json& j) {
    if (j.at("version").get<int>() != kStateVersion) {
        throw std::runtime_error("unsupported state version");
    }
    DriveState s;
    s.firmware = j.at("firmware").get<std::string>();
    const json& sec = j.at("security");
    s.securityEnabled = sec.at("enabled").get<bool>();
    // Files from before drives stayed powered between runs lack these; such a state comes up
    // with a power-on, which sets them.
    s.locked = sec.value("locked", false);
    s.frozen = sec.value("frozen", false);
    const int attempts = sec.value("unlockAttemptsLeft", int{kUnlockAttempts});
    s.unlockAttemptsLeft = static_cast<uint8_t>(std::clamp(attempts, 0, int{kUnlockAttempts}));
    s.userPassword = FromHex(sec.at("userPassword").get<std::string>());
    s.masterPassword = FromHex(sec.at("masterPassword").get<std::string>());
    s.maximumLevel = sec.at("maximumLevel").get<bool>();
    s.erasesDone = sec.at("erasesDone").get<uint32_t>();
    s.eraseEndMs = sec.at("eraseEndMs").get<uint64_t>();
    s.eraseEnhanced = sec.at("eraseEnhanced").get<bool>();
    s.hasUserData = j.at("hasUserData").get<bool>();
    const json& trim = j.at("trim");
    s.trim.commands = trim.at("commands").get<uint64_t>();
    s.trim.ranges = trim.at("ranges").get<uint64_t>();
    s.trim.sectors = trim.at("sectors").get<uint64_t>();
    for (const json& iv : trim.at("intervals")) {
        s.trim.intervals.emplace_back(iv.at(0).get<uint64_t>(), iv.at(1).get<uint64_t>());
    }
    const json& st = j.at("selfTest");
    for (const json& e : st.at("log")) {
        s.selfTestLog.push_back({e.at("subcommand").get<uint8_t>(), e.at("status").get<uint8_t>(),
                                 e.at("lifeHours").get<uint16_t>(), e.at("failingLba").get<uint32_t>()});
    }
    s.selfTestStatus = st.at("status").get<uint8_t>();
    s.runningSelfTest = st.at("running").get<uint8_t>();
    s.selfTestStartMs = st.at("startMs").get<uint64_t>();
    const json& counters = j.at("vendorStatistics").at("counters");
    for (size_t b = 0; b < 4; ++b) {
        for (size_t k = 0; k < 3; ++k) {
            s.vendorCounters[b][k][0] = counters.at(b).at(k).at(0).get<uint32_t>();
            s.vendorCounters[b][k][1] = counters.at(b).at(k).at(1).get<uint32_t>();
        }
    }
    s.vendorLastMinute = j.at("vendorStatistics").at("lastMinute").get<uint64_t>();
    s.powerOnMs = j.at("powerOnMs").get<uint64_t>();
    s.powerOns = j.at("powerOns").get<uint64_t>();
    if (const auto it = j.find("savedAtUnixMs"); it != j.end()) {
        s.savedAtUnixMs = it->get<int64_t>();
    }
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
    s.securityEnabled = sec.supported && !sec.userPassword.empty();
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

std::optional<DriveState> LoadDriveState(const fs::path& file, std::string* error) {
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return FromJson(json::parse(text.str()));
    } catch (const std::exception& e) {
        *error = file.string() + ": the drive state is damaged (" + e.what() + "); delete it to start the drive afresh";
        return std::nullopt;
    }
}

bool SaveDriveState(const fs::path& file, const DriveState& state, std::string* error) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const fs::path temp = file.string() + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << ToJson(state).dump(1) << '\n';
        out.flush();
        if (!out) {
            *error = "cannot write " + temp.string();
            return false;
        }
    }
    fs::rename(temp, file, ec);
    if (ec) {
        *error = "cannot replace " + file.string() + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace tarvex::sim
