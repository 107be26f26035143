#pragma once
// The NVMe SMART / Health Information log (log page 02h) decoded into its fields.
#include <cstdint>
#include <span>

namespace tarvex {

struct NvmeHealthLog {
    uint8_t criticalWarning = 0;
    uint16_t compositeTemperatureKelvin = 0;
    uint8_t availableSpare = 0;  // percent
    uint8_t availableSpareThreshold = 0;
    uint8_t percentageUsed = 0;
    // The 128-bit counters, kept to their low 64 bits (enough for any real drive).
    uint64_t dataUnitsRead = 0;  // thousands of 512-byte units
    uint64_t dataUnitsWritten = 0;
    uint64_t hostReadCommands = 0;
    uint64_t hostWriteCommands = 0;
    uint64_t controllerBusyTime = 0;
    uint64_t powerCycles = 0;
    uint64_t powerOnHours = 0;
    uint64_t unsafeShutdowns = 0;
    uint64_t mediaErrors = 0;
    uint64_t errorLogEntries = 0;
    // The same ten counters whole, in log order (data units read first): low, high 64 bits.
    struct Counter128 {
        uint64_t low = 0;
        uint64_t high = 0;
    };
    Counter128 counters[10];
};

NvmeHealthLog DecodeNvmeHealthLog(std::span<const uint8_t> log512);

}  // namespace tarvex
