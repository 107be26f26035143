#pragma once
// What the Drive Info page shows of a drive's health, decided once so that the window, the
// report and the CLI show the same: total bytes written, temperature with its colour band,
// the health icon and the remaining-life gauge.
#include <cstdint>
#include <string>

#include "drives/physical_drive_info.h"

namespace tarvex {

struct DriveInfoFigures {
    int status = 0;                 // CheckDiskStatus: 1, 2 or 3
    int64_t totalWrittenGiB = -1;   // -1: not shown
    std::u16string totalWrittenText;  // "%.2fTB" or "N/A"
    uint16_t temperature = 0;       // degrees Celsius or TemperatureUnavailable
    std::u16string temperatureText;   // "%d °C" or "N/A"
    int temperatureState = 0;       // 0 cool (< 31), 1 normal, 2 hot (71 or more, or unknown)
    int healthIconState = 0;        // 0 good, 1 warning
    int remainingLife = 100;        // gauge value, 0..100
};

DriveInfoFigures ComputeDriveInfoFigures(const PhysicalDriveInfo& record);

}  // namespace tarvex
