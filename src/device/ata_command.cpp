#include "device/ata_command.h"

#include <mutex>

#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {
std::mutex globalMutex;
// Every object ever made, the current one last. A replaced object is kept for the rest of the
// process: a worker (or a call in progress on another thread) may still use the reference it
// got, and an object is small and replaced only at start-up (and between tests).
std::vector<std::unique_ptr<ATACommand>> globalCommands;
}  // namespace

ATACommand::ATACommand() = default;

ATACommand& GlobalAtaCommand() {
    std::lock_guard lock(globalMutex);
    if (globalCommands.empty()) {
        globalCommands.push_back(std::make_unique<ATACommand>());
    }
    return *globalCommands.back();
}

void InitGlobalAtaCommand() {
    auto fresh = std::make_unique<ATACommand>();  // fully classified before anyone can see it
    std::lock_guard lock(globalMutex);
    globalCommands.push_back(std::move(fresh));
}

std::unique_ptr<platform::Device> OpenDevice(std::u16string_view path, uint32_t access, uint32_t shareMode,
                                             uint32_t flagsAndAttributes) {
    platform::Devices* devices = platform::Current().devices;
    if (devices == nullptr) {
        platform::SetLastError(win::ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return devices->CreateFile(path, access, shareMode, win::OPEN_EXISTING, flagsAndAttributes);
}

void ATACommand::EnableRestorePrivilege() {
    if (platform::Registry* registry = platform::Current().registry) {
        (void)registry->EnablePrivilege(u"SeRestorePrivilege");
    }
}

bool IsUsbPath(std::u16string_view path) {
    return platform::FoldCase(path).find(u"usb") != std::u16string::npos;
}

}  // namespace tarvex
