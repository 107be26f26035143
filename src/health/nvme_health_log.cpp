#include "health/nvme_health_log.h"

#include "platform/byte_span.h"

namespace tarvex {

NvmeHealthLog DecodeNvmeHealthLog(std::span<const uint8_t> log512) {
    // Fields whose bytes are not all there read as 0.
    const platform::ByteReader log(log512);
    NvmeHealthLog h;
    h.criticalWarning = log.U8(0).value_or(0);
    h.compositeTemperatureKelvin = log.U16(1).value_or(0);
    h.availableSpare = log.U8(3).value_or(0);
    h.availableSpareThreshold = log.U8(4).value_or(0);
    h.percentageUsed = log.U8(5).value_or(0);
    h.dataUnitsRead = log.U64(32).value_or(0);
    h.dataUnitsWritten = log.U64(48).value_or(0);
    h.hostReadCommands = log.U64(64).value_or(0);
    h.hostWriteCommands = log.U64(80).value_or(0);
    h.controllerBusyTime = log.U64(96).value_or(0);
    h.powerCycles = log.U64(112).value_or(0);
    h.powerOnHours = log.U64(128).value_or(0);
    h.unsafeShutdowns = log.U64(144).value_or(0);
    h.mediaErrors = log.U64(160).value_or(0);
    h.errorLogEntries = log.U64(176).value_or(0);
    for (int i = 0; i < 10; ++i) {
        const size_t offset = 32 + 16 * static_cast<size_t>(i);
        h.counters[i].low = log.U64(offset).value_or(0);
        h.counters[i].high = log.U64(offset + 8).value_or(0);
    }
    return h;
}

}  // namespace tarvex
