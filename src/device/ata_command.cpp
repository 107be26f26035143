#include "device/ata_command.h"

#include <mutex>

#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

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

std::unique_ptr<platform::Device> OpenDevice(std::u16string_view path, uint32_t access, uint32_t shareMode,
                                             uint32_t flagsAndAttributes) {
    platform::Devices* devices = platform::Current().devices;
    if (devices == nullptr) {
        platform::SetLastError(win::ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return devices->CreateFile(path, access, shareMode, win::OPEN_EXISTING, flagsAndAttributes);
}

bool IsUsbPath(std::u16string_view path) {
    return platform::FoldCase(path).find(u"usb") != std::u16string::npos;
}

}  // namespace tarvex
