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

// At most this many device interfaces are listed.
inline constexpr int kMaxListedDrives = 80;

}  // namespace tarvex
