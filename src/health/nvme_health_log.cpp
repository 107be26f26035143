#include "health/nvme_health_log.h"

namespace tarvex {

namespace {
uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}
}  // namespace

NvmeHealthLog DecodeNvmeHealthLog(const uint8_t* log) {
    NvmeHealthLog h;
    h.criticalWarning = log[0];
    h.compositeTemperatureKelvin = static_cast<uint16_t>(log[1] | (log[2] << 8));
    h.availableSpare = log[3];
    h.availableSpareThreshold = log[4];
    h.percentageUsed = log[5];
    h.dataUnitsRead = Le64(log + 32);
    h.dataUnitsWritten = Le64(log + 48);
    h.hostReadCommands = Le64(log + 64);
    h.hostWriteCommands = Le64(log + 80);
    h.controllerBusyTime = Le64(log + 96);
    h.powerCycles = Le64(log + 112);
    h.powerOnHours = Le64(log + 128);
    h.unsafeShutdowns = Le64(log + 144);
    h.mediaErrors = Le64(log + 160);
    h.errorLogEntries = Le64(log + 176);
    return h;
}

}  // namespace tarvex
