#pragma once
// The parts of the SMART READ DATA page around the attribute table (off-line data
// collection, self-test execution status and capabilities, the polling times), the meanings
// of an attribute's flags and of attribute 9, and the SMART self-test log (log 06h).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drives/physical_drive_info.h"

namespace tarvex {

struct SmartOfflineStatus {
    uint8_t status = 0;    // byte 362
    std::string statusText;
    uint16_t seconds = 0;  // bytes 364..365: time to finish off-line data collection
};

struct SmartSelfTestStatus {
    uint8_t status = 0;            // byte 363 bits 7..4
    std::string statusText;
    uint8_t remainingPercent = 0;  // byte 363 bits 3..0, in tens of percent
    bool shortAndExtendedSupported = false;  // byte 367 bit 4
    bool conveyanceSupported = false;        // bit 5
    bool selectiveSupported = false;         // bit 6
    uint8_t shortMinutes = 0;                // byte 372
    uint16_t extendedMinutes = 0;            // byte 373, or word 375..376 when 373 is FFh
    uint8_t conveyanceMinutes = 0;           // byte 374
};

struct SmartCapabilities {
    uint8_t offlineCapability = 0;  // byte 367
    uint16_t smartCapability = 0;   // word 368..369
    bool errorLogging = false;      // byte 370 bit 0
};

struct SmartDataDetails {
    SmartOfflineStatus offline;
    SmartSelfTestStatus selfTest;
    SmartCapabilities capabilities;
};
SmartDataDetails DecodeSmartDataDetails(std::span<const uint8_t> smartData);

// Byte 362 in words: "never started", "completed without error", ..., with ", automatic
// collection enabled" when bit 7 is set.
std::string OfflineStatusText(uint8_t status);
// A self-test status value (bits 7..4 of the execution status byte, 0..15) in words.
std::string SelfTestStatusText(uint8_t value);

// Flags bit 0: the attribute predicts failure (pre-failure) rather than only advising.
inline bool IsPrefailure(const SmartAttributeEntry& e) {
    return (e.flags[0] & 0x01) != 0;
}
// Flags bit 1: the drive updates the attribute while it is in use, not only off-line.
inline bool IsOnline(const SmartAttributeEntry& e) {
    return (e.flags[0] & 0x02) != 0;
}

// The threshold paired with attribute `i` of the record (by slot position) belongs to another
// attribute: its slot holds a non-zero id that is not the attribute's. The pages of such a
// drive list their attributes in different orders.
bool ThresholdOfOtherAttribute(const PhysicalDriveInfo& record, uint32_t i);

// Attribute 9's raw value (48 bits) taken as hours; nothing when the drive lists no
// attribute 9.
std::optional<uint64_t> PowerOnHours(const PhysicalDriveInfo& record);

// One descriptor of the self-test log.
struct SelfTestLogEntry {
    int number = 0;               // 1 = the newest
    uint8_t typeCode = 0;         // the subcommand that started it (LBA low)
    std::string type;             // "short off-line", ...
    uint8_t status = 0;           // bits 7..4 of the status byte
    std::string statusText;
    uint8_t remainingPercent = 0;
    uint16_t lifeHours = 0;       // power-on hours when the test ended
    std::optional<uint32_t> failingLba;  // only for a test that found a failure
};
// The used descriptors of a self-test log page, newest first: from the one byte 508 names
// backwards around the 21 slots. An index past 21 reads no entry.
std::vector<SelfTestLogEntry> DecodeSelfTestLog(std::span<const uint8_t> log512);
// The subcommand of a self-test log entry in words.
std::string SelfTestTypeText(uint8_t subcommand);

}  // namespace tarvex
