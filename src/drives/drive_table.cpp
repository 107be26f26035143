#include "drives/drive_table.h"

#include <mutex>

namespace tarvex {

namespace {
std::vector<PhysicalDriveInfo> table;

// The registered reader. `callMutex` is held while its stop runs, so that unregistering (the
// reader's owner going away) waits until no stop uses the owner any more.
std::mutex readerMutex;
std::recursive_mutex callMutex;
int readerKind = 0;
std::function<void()> readerStop;

}  // namespace

std::vector<PhysicalDriveInfo>& PhysicalDriveTable() { return table; }
int DriveCount = 0;
int SelectedDrive = 0;
std::atomic<int> BusyOperation{0};

void SetBackgroundReaderStop(int kind, std::function<void()> stop) {
    const std::lock_guard<std::recursive_mutex> call(callMutex);
    const std::lock_guard<std::mutex> lock(readerMutex);
    readerKind = stop ? kind : 0;
    readerStop = std::move(stop);
}

namespace {

void StopReaderUnless(int kind) {
    const std::lock_guard<std::recursive_mutex> call(callMutex);
    std::function<void()> stop;
    {
        const std::lock_guard<std::mutex> lock(readerMutex);
        if (!readerStop || readerKind == kind) {
            return;
        }
        stop = readerStop;
    }
    stop();
}

}  // namespace

void StopBackgroundReader() { StopReaderUnless(0); }

bool ClaimBusyOperation(int kind) {
    int idle = 0;
    if (!BusyOperation.compare_exchange_strong(idle, kind)) {
        return false;
    }
    StopReaderUnless(kind);
    return true;
}

}  // namespace tarvex
