#include "drives/drive_table.h"

namespace tarvex {

namespace {
std::vector<PhysicalDriveInfo> table;
}  // namespace

std::vector<PhysicalDriveInfo>& PhysicalDriveTable() { return table; }
int DriveCount = 0;
int SelectedDrive = 0;
std::atomic<int> BusyOperation{0};

}  // namespace tarvex
