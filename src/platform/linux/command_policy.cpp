#include "platform/linux/command_policy.h"

#include <algorithm>
#include <iterator>

#include <fmt/format.h>

namespace tarvex::linuxhost {

namespace {

constexpr uint8_t kReadOnlyAtaCommands[] = {platform::kAtaCmdIdentify, platform::kAtaCmdCheckPowerMode};
constexpr uint8_t kReadOnlySmartFeatures[] = {platform::kSmartReadData, platform::kSmartReadThresholds,
                                              platform::kSmartReadLog, platform::kSmartReturnStatus};
constexpr uint8_t kReadOnlyNvmeAdmin[] = {platform::kNvmeAdminGetLogPage, platform::kNvmeAdminIdentify};

template <typename Table>
bool Contains(const Table& table, uint8_t value) {
    return std::find(std::begin(table), std::end(table), value) != std::end(table);
}

constexpr const char* kHowToAllow = "commands that change a drive are off (set TARVEX_ALLOW_WRITES=1 to allow them)";

}  // namespace

bool IsReadOnlyAtaCommand(const platform::AtaTaskFile& regs) {
    if (regs.command == platform::kAtaCmdSmart) {
        return Contains(kReadOnlySmartFeatures, regs.features);
    }
    return Contains(kReadOnlyAtaCommands, regs.command);
}

bool IsReadOnlyNvmeAdminCommand(uint8_t opcode) { return Contains(kReadOnlyNvmeAdmin, opcode); }

std::string AtaRefusal(const std::string& node, const platform::AtaTaskFile& regs) {
    if (regs.command == platform::kAtaCmdSmart) {
        return fmt::format("{}: ATA command {:02X}h (SMART {:02X}h) refused: {}", node, regs.command, regs.features,
                           kHowToAllow);
    }
    return fmt::format("{}: ATA command {:02X}h refused: {}", node, regs.command, kHowToAllow);
}

std::string NvmeRefusal(const std::string& node, uint8_t opcode) {
    return fmt::format("{}: NVMe admin command {:02X}h refused: {}", node, opcode, kHowToAllow);
}

}  // namespace tarvex::linuxhost
