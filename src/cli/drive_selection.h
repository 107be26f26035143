#pragma once
// Choosing one drive of the drive table from the command line: --drive I (index in the
// table, as the window's drive tabs count) or --disk N (N of \\.\PhysicalDriveN).
#include <optional>
#include <string>
#include <vector>

#include "drives/physical_drive_info.h"

namespace tarvex::cli {

struct DriveChoice {
    std::optional<long> index;
    std::optional<long> disk;
};

// A number on the command line: decimal digits only (no sign, no blanks, no "0x"), from `min`
// to `max`; nothing otherwise.
std::optional<long> ParseCliNumber(const std::string& text, long min, long max);

// Whether \\.\PhysicalDriveN exists on the PC: false only when opening it finds no such device.
bool DiskExists(long disk);

// Takes --drive I or --disk N (exactly one of them) out of `args`. False with `error` when
// neither or both are given or the number is not a plain decimal from 0 to 255.
bool TakeDriveChoice(std::vector<std::string>& args, DriveChoice* choice, std::string* error);

// Clears the table and scans, as the window's Refresh does; selects the first drive.
int ScanDrives();
// Scans, then selects the chosen drive (SelectedDrive) and returns its record; null when the
// table has no such drive.
const PhysicalDriveInfo* ScanAndSelect(const DriveChoice& choice);

}  // namespace tarvex::cli
