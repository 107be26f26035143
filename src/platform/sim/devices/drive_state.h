#pragma once
// What a drive changes about itself, kept per disk in <state>/disks/disk<N>.json: the
// firmware revision, the security state and passwords, what was trimmed or erased, the
// self-test log, the vendor statistics counters and the power-on time. The emulated PC stays
// on between runs of the program, so the file also holds what lasts only until the drive is
// powered off (locked, frozen, the unlock attempts left) and the host time of the save. A
// missing file means a drive fresh from its profile; each save replaces the file whole
// (a unique temporary file, then rename), so a crash leaves the old or the new state.
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
    bool operator==(const SelfTestLogEntry&) const = default;
};

struct TrimSummary {
    uint64_t commands = 0;   // DATA SET MANAGEMENT commands that trimmed
    uint64_t ranges = 0;     // non-empty range entries received
    uint64_t sectors = 0;    // sectors named by those entries (overlaps counted again)
    // Trimmed LBA intervals [first, end), merged and sorted; at most kMaxIntervals are kept,
    // beyond that the smallest gaps are closed.
    std::vector<std::pair<uint64_t, uint64_t>> intervals;
    static constexpr size_t kMaxIntervals = 1024;
    bool operator==(const TrimSummary&) const = default;
};

// UNLOCK and ERASE UNIT with a wrong password that a drive takes before it refuses them
// until the next power-on.
inline constexpr uint8_t kUnlockAttempts = 5;

struct DriveState {
    std::string firmware;
    // ATA security.
    bool securityEnabled = false;
    // Until the next power-on: locked (a password is set and no UNLOCK came yet), frozen
    // (FREEZE LOCK, or the BIOS at power-on), and the wrong passwords still allowed.
    bool locked = false;
    bool frozen = false;
    uint8_t unlockAttemptsLeft = kUnlockAttempts;
    std::array<uint8_t, 32> userPassword{};
    bool userPasswordUnknown = false;  // enabled with a password nobody here knows
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
    // Host wall time (Unix milliseconds) of the last save; the time from there to the next
    // run counts as powered. Absent in a fresh state and in files written before drives
    // stayed powered between runs.
    std::optional<int64_t> savedAtUnixMs;

    bool operator==(const DriveState&) const = default;
};

// Self-test log entries a drive keeps.
inline constexpr size_t kMaxSelfTestLogEntries = 21;

// The state of a drive that was never used: everything from the profile.
DriveState InitialDriveState(const DiskProfile& disk);
// Loads the state file; nothing when it does not exist (`error` left empty). A file that
// cannot be read (permission, a directory) or whose content is damaged or out of range gives
// nothing with `error` set, naming the file; only damaged content comes with the advice to
// delete the file.
std::optional<DriveState> LoadDriveState(const std::filesystem::path& file, std::string* error);
// Replaces the state file atomically (see ReplaceFile); `errnoOut` gets the errno of a failure.
bool SaveDriveState(const std::filesystem::path& file, const DriveState& state, std::string* error,
                    int* errnoOut = nullptr);
// The file's text for a state, and a state from such text (every value range-checked;
// throws JsonError with the path of the first problem).
std::string DriveStateText(const DriveState& state);
DriveState ParseDriveState(const std::string& text);

// The 32-byte password field of a security command from a profile's text (zero padded).
std::array<uint8_t, 32> PasswordField(const std::string& text);

}  // namespace tarvex::sim
