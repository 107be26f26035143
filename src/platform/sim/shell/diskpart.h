#pragma once
// The emulated diskpart: a script of "select disk N" and "detail disk" run against the disks
// and volumes of a machine profile, answered in diskpart's shape. Commands ignore case and may
// be shortened to three letters ("sel dis 0", "det disk"); blank lines and "rem" lines are
// skipped, "exit" ends the script. The text is what the program writes to its standard
// output: the PC's ANSI code page (UTF-8) with CR LF line ends.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sim/machine_profile.h"

namespace tarvex::sim {

struct DiskpartRun {
    std::string output;
    int exitCode = 0;  // 0 when every command succeeded, 1 when one failed (the rest still ran)
};

// The lines diskpart starts with: its version (the PC's Windows version) and the computer.
std::string DiskpartBanner(const MachineProfile& profile, std::u16string_view computerName);
// Runs `script` (lines ending in "\n", a CR before it is ignored); the output has no banner.
DiskpartRun RunDiskpartScript(const MachineProfile& profile, std::string_view script);
// A size as diskpart shows it: the largest unit (B, KB, MB, GB, TB) that leaves at least 10 of
// it, rounded down ("238 GB", "7633 MB", "100 MB").
std::string DiskpartSize(uint64_t bytes);

}  // namespace tarvex::sim
