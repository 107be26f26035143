#pragma once
// What a drive changes about itself, kept per disk in <state>/disks/disk<N>.json: the
// firmware revision, the security state and passwords, what was trimmed or erased, the
// self-test log, the vendor statistics counters and the power-on time. A missing file means
// a drive fresh from its profile; each save replaces the file whole (write, then rename).
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/devices/drive_profile.h"

namespace tarvex::sim {

struct SelfTestLogEntry {
    uint8_t subcommand = 0;   // 1 short, 2 extended (off-line mode)
    uint8_t statusByte = 0;   // the execution status byte the test ended with
    uint16_t lifeHours = 0;   // power-on hours when it ended
    uint32_t failingLba = 0;  // 0xFFFFFFFF when no LBA failed
};

struct TrimSummary {
    uint64_t commands = 0;   // DATA SET MANAGEMENT commands that trimmed
    uint64_t ranges = 0;     // non-empty range entries received
    uint64_t sectors = 0;    // sectors named by those entries (overlaps counted again)
    // Trimmed LBA intervals [first, end), merged and sorted; at most kMaxIntervals are kept,
    // beyond that the smallest gaps are closed.
    std::vector<std::pair<uint64_t, uint64_t>> intervals;
    static constexpr size_t kMaxIntervals = 1024;
};

struct DriveState {
    std::string firmware;
    // ATA security.
    bool securityEnabled = false;
    std::array<uint8_t, 32> userPassword{};
    std::array<uint8_t, 32> masterPassword{};
    bool maximumLevel = false;
    uint32_t erasesDone = 0;
    uint64_t eraseEndMs = 0;  // power-on time an erase in progress ends; 0: none
    bool eraseEnhanced = false;
    // User data: written until an erase; trimmed ranges read back as zeros.
    bool hasUserData = true;
    TrimSummary trim;
    // Self-test: the log (oldest first, at most 21) and the last status byte.
    std::vector<SelfTestLogEntry> selfTestLog;
    uint8_t selfTestStatus = 0;
    uint8_t runningSelfTest = 0;  // subcommand of the test in progress, 0 none
    uint64_t selfTestStartMs = 0;
    // Vendor statistics counters (JMF608): bucket, pair, write/read.
    uint32_t vendorCounters[4][3][2] = {};
    uint64_t vendorLastMinute = 0;  // power-on minute up to which background counts were added
    // Power-on time in milliseconds, over every run of the machine.
    uint64_t powerOnMs = 0;
    uint64_t powerOns = 0;
};

// The state of a drive that was never used: everything from the profile.
DriveState InitialDriveState(const DiskProfile& disk);
// Loads the state file; nothing when it does not exist; `error` set when it is unreadable.
std::optional<DriveState> LoadDriveState(const std::filesystem::path& file, std::string* error);
bool SaveDriveState(const std::filesystem::path& file, const DriveState& state, std::string* error);

// The 32-byte password field of a security command from a profile's text (zero padded).
std::array<uint8_t, 32> PasswordField(const std::string& text);

}  // namespace tarvex::sim
