// The product's registry helpers: one value under a key of HKEY_LOCAL_MACHINE, written or read
// with the restore privilege enabled.
#include <cstring>
#include <vector>

#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

uint32_t ATACommand::WriteVarnoRegistry(std::u16string_view subKey, std::u16string_view valueName,
                                        uint32_t dataSize, uint32_t type, const void* data) {
    Trace("Enter ATACommand::WriteVarnoRegistry()");
    EnableRestorePrivilege();
    platform::Registry* reg = platform::Current().registry;
    if (reg == nullptr) {
        Trace("Exit ATACommand::WriteVarnoRegistry()");
        return win::ERROR_NOT_SUPPORTED;
    }
    platform::RegKey key = platform::kNullRegKey;
    uint32_t status = reg->RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, subKey, win::REG_OPTION_NON_VOLATILE,
                                          win::KEY_ALL_ACCESS, &key, nullptr);
    platform::UniqueRegKey owned;
    if (status == win::ERROR_SUCCESS) {
        owned = platform::UniqueRegKey(*reg, key);
        status = reg->RegSetValueEx(key, valueName, type, static_cast<const uint8_t*>(data), dataSize);
        if (status != win::ERROR_SUCCESS) {
            Trace("ATACommand::WriteVarnoRegistry--RegSetValueEx() fail: 0x%X\n", status);
        }
    } else {
        Trace("ATACommand::WriteVarnoRegistry--RegCreateKeyEx() fail: 0x%X\n", status);
    }
    Trace("Exit ATACommand::WriteVarnoRegistry()");
    return status;
}

uint32_t ATACommand::ReadVarnoRegistry(std::u16string_view subKey, std::u16string_view valueName,
                                       uint32_t dataSize, uint32_t /*type*/, void* data) {
    Trace("Enter ATACommand::ReadVarnoRegistry()");
    EnableRestorePrivilege();
    platform::Registry* reg = platform::Current().registry;
    if (reg == nullptr) {
        Trace("Exit ATACommand::ReadVarnoRegistry()");
        return win::ERROR_NOT_SUPPORTED;
    }
    platform::RegKey key = platform::kNullRegKey;
    uint32_t status = reg->RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, subKey, 0, win::KEY_ALL_ACCESS, &key);
    platform::UniqueRegKey owned;
    if (status == win::ERROR_SUCCESS) {
        owned = platform::UniqueRegKey(*reg, key);
        // Read aside first: a value that does not fit must not leave part of itself in the
        // caller's buffer, which holds the caller's default.
        std::vector<uint8_t> read(dataSize);
        uint32_t storedType = 0;
        uint32_t size = dataSize;
        status = reg->RegQueryValueEx(key, valueName, &storedType, read.data(), &size);
        if (status == win::ERROR_SUCCESS) {
            const uint32_t copied = size < dataSize ? size : dataSize;
            if (copied > 0) {
                std::memcpy(data, read.data(), copied);
            }
        } else {
            Trace("ATACommand::ReadVarnoRegistry--RegQueryValueEx() fail: 0x%X\n", status);
        }
    }
    Trace("Exit ATACommand::ReadVarnoRegistry()");
    return status;
}

}  // namespace tarvex
