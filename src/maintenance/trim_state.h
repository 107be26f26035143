#pragma once
// What outlives one TRIM run in the registry: whether a run is under way and since when, and
// the start-up recovery of a run that did not end.
#include <cstdint>
#include <string_view>

#include "device/ata_command.h"

namespace tarvex {

// The product key, where the TRIM start operation and its worker keep the run state.
inline constexpr char16_t kTrimStateKey[] = u"SOFTWARE\\VARNO\\SSDVelmora";
// The key the start-up recovery tests and resets (a different key from the product key).
inline constexpr char16_t kStartupTrimStateKey[] = u"SOFTWARE\\QUELK\\SSDVelmora";
inline constexpr char16_t kTrimInProgressValue[] = u"TrimInProgress";
inline constexpr char16_t kTrimStartAtValue[] = u"TrimStartAt";
// A run started this many seconds ago or longer counts as dead.
inline constexpr int64_t kTrimRunLifetimeSeconds = 3600;

// Whether a run that started at `startAt` counts as under way at `now` (both seconds since
// 1970): now - startAt < 3600, taken as exact signed arithmetic, so a start in the future
// counts as under way and no pair of stored values can overflow the difference.
bool TrimStartIsRecent(int64_t now, int64_t startAt);

// The in-progress test on `key` (kTrimStateKey or kStartupTrimStateKey) at time `now`:
// "TrimInProgress" reads 1 and "TrimStartAt" (missing: 0) is recent. A missing or unreadable
// "TrimInProgress", or any other value, means no run is under way.
bool TrimRunUnderWay(ATACommand& ata, std::u16string_view key, int64_t now);

// The platform clock's wall time in seconds since 1970.
int64_t CurrentTime();

// Start-up: when no run is under way on kStartupTrimStateKey, resets its "TrimInProgress" to
// 0 and runs ATACommand::DeleteTrimTempFolder over the drives of PhysicalDriveTable; traces
// "Check tmp folder done!" in either case. Called once, after the drive scan.
void RecoverInterruptedTrim();

}  // namespace tarvex
