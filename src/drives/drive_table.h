#pragma once
// The process-wide drive table and its companions: the records of the last scan in the
// order the device listing returned them, their count, the selected drive, and the kind of
// the background operation under way (0: none).
#include <atomic>
#include <vector>

#include "drives/physical_drive_info.h"

namespace tarvex {

std::vector<PhysicalDriveInfo>& PhysicalDriveTable();
extern int DriveCount;
extern int SelectedDrive;
extern std::atomic<int> BusyOperation;

// Claims BusyOperation for an operation of `kind` in one atomic step, on the thread that is
// about to start it (before its worker exists); false when another operation holds it.
inline bool ClaimBusyOperation(int kind) {
    int idle = 0;
    return BusyOperation.compare_exchange_strong(idle, kind);
}
// Gives the claim of `kind` back; a flag that another operation holds stays as it is.
inline void ReleaseBusyOperation(int kind) { BusyOperation.compare_exchange_strong(kind, 0); }

// At most this many device interfaces are listed.
inline constexpr int kMaxListedDrives = 80;

}  // namespace tarvex
