#pragma once
// The commands this backend lets through to a real drive. Reading commands (identification,
// SMART data, thresholds, logs and status, the power mode; NVMe Identify and Get Log Page) always
// pass. Everything that can change a drive - its data, its security state, its firmware, its
// settings, its power state - passes only when writes were allowed (TARVEX_ALLOW_WRITES=1).
#include <cstdint>
#include <string>

#include "platform/ata_requests.h"

namespace tarvex::linuxhost {

// True when the ATA command only reads from the drive.
[[nodiscard]] bool IsReadOnlyAtaCommand(const platform::AtaTaskFile& regs);
// True when the NVMe admin opcode only reads from the controller.
[[nodiscard]] bool IsReadOnlyNvmeAdminCommand(uint8_t opcode);

// The one-line message of a refusal, naming the device node and the command.
[[nodiscard]] std::string AtaRefusal(const std::string& node, const platform::AtaTaskFile& regs);
[[nodiscard]] std::string NvmeRefusal(const std::string& node, uint8_t opcode);

}  // namespace tarvex::linuxhost
