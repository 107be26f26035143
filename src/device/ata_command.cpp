#include "device/ata_command.h"

#include <mutex>

#include "platform/text.h"

namespace tarvex {

namespace {
std::mutex globalMutex;
std::unique_ptr<ATACommand> globalCommand;
}  // namespace

ATACommand::ATACommand() = default;

ATACommand& GlobalAtaCommand() {
    std::lock_guard lock(globalMutex);
    if (!globalCommand) {
        globalCommand = std::make_unique<ATACommand>();
    }
    return *globalCommand;
}

void InitGlobalAtaCommand() {
    std::lock_guard lock(globalMutex);
    globalCommand = std::make_unique<ATACommand>();
}

bool IsUsbPath(std::u16string_view path) {
    return platform::FoldCase(path).find(u"usb") != std::u16string::npos;
}

}  // namespace tarvex
