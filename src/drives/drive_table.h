#pragma once
// The process-wide drive table and its companions: the records of the last scan in the
// order the device listing returned them, their count, the selected drive, and the kind of
// the background operation under way (0: none).
#include <atomic>
#include <functional>
#include <vector>

#include "drives/physical_drive_info.h"

namespace tarvex {

std::vector<PhysicalDriveInfo>& PhysicalDriveTable();
extern int DriveCount;
extern int SelectedDrive;
extern std::atomic<int> BusyOperation;

// Claims BusyOperation for an operation of `kind` in one atomic step, on the thread that is
// about to start it (before its worker exists); false when another operation holds it.
// A successful claim of any kind but the background reader's stops that reader first (see
// SetBackgroundReaderStop), so the new operation's commands never interleave with its own.
bool ClaimBusyOperation(int kind);

// A reader that keeps sending commands after it has given its claim back (the ATA statistics
// worker, kind 5) registers how to stop it: `stop` must stop and join the reader. One reader
// at a time; an empty `stop` unregisters it, and waits for a stop that is under way.
void SetBackgroundReaderStop(int kind, std::function<void()> stop);
// Stops the registered reader, if any (a rescan of the drives does this too).
void StopBackgroundReader();
// Gives the claim of `kind` back; a flag that another operation holds stays as it is.
inline void ReleaseBusyOperation(int kind) { BusyOperation.compare_exchange_strong(kind, 0); }

// At most this many device interfaces are listed.
inline constexpr int kMaxListedDrives = 80;

}  // namespace tarvex
