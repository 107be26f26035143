#include "health/alert_settings.h"

#include <limits>

#include "device/ata_command.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {

constexpr char16_t kAlertKey[] = u"SOFTWARE\\VARNO\\SSDVelmora";
constexpr char16_t kTemperatureValue[] = u"VelmoraSvcTemperature";
constexpr char16_t kLifeValue[] = u"VelmoraSvcRemainingLife";

bool WriteDword(const char16_t* name, uint32_t value) {
    platform::Registry& reg = *platform::Current().registry;
    platform::RegKey key = platform::kNullRegKey;
    if (reg.RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, kAlertKey, 0, win::KEY_ALL_ACCESS, &key) != win::ERROR_SUCCESS &&
        reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, kAlertKey, win::REG_OPTION_NON_VOLATILE, win::KEY_ALL_ACCESS, &key,
                           nullptr) != win::ERROR_SUCCESS) {
        return false;
    }
    platform::UniqueRegKey owned(reg, key);
    const uint32_t result = reg.RegSetValueEx(key, name, win::REG_DWORD, reinterpret_cast<const uint8_t*>(&value), 4);
    if (result != win::ERROR_SUCCESS) {
        // The caller may tell the user why (a full disk, access denied).
        platform::SetLastError(result);
        return false;
    }
    return true;
}

// The stored DWORD, or nothing when the key or the value is missing.
std::optional<uint32_t> ReadDword(const char16_t* name) {
    platform::Registry& reg = *platform::Current().registry;
    platform::RegKey key = platform::kNullRegKey;
    if (reg.RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, kAlertKey, 0, win::KEY_READ, &key) != win::ERROR_SUCCESS) {
        return std::nullopt;
    }
    platform::UniqueRegKey owned(reg, key);
    uint32_t value = 0;
    uint32_t size = 4;
    if (reg.RegQueryValueEx(key, name, nullptr, reinterpret_cast<uint8_t*>(&value), &size) != win::ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

bool ATACommand::WriteTemperatureAlert(int value) {
    EnableRestorePrivilege();
    return WriteDword(kTemperatureValue, static_cast<uint32_t>(value));
}

bool ATACommand::WriteLifeAlert(int value) {
    EnableRestorePrivilege();
    return WriteDword(kLifeValue, static_cast<uint32_t>(value));
}

int ATACommand::ReadTemperatureAlert() {
    EnableRestorePrivilege();
    const auto v = ReadDword(kTemperatureValue);
    return v ? static_cast<int>(*v) : -1;
}

int ATACommand::ReadLifeAlert() {
    EnableRestorePrivilege();
    const auto v = ReadDword(kLifeValue);
    if (!v) {
        return -1;
    }
    if (*v > 100) {
        (void)WriteDword(kLifeValue, 100);
        return 100;
    }
    return static_cast<int>(*v);
}

std::optional<int32_t> ParseAlertInput(std::u16string_view text) {
    if (text.empty()) {
        return 0;
    }
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    const size_t firstDigit = i;
    int64_t value = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + (text[i] - u'0');
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) {
            return std::nullopt;  // more than the stored 32 bits hold
        }
        ++i;
    }
    // Without a digit nothing was converted, so the whole text is left over.
    if (i == firstDigit || i != text.size()) {
        return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

int ShownTemperatureAlert() {
    ATACommand ata;
    const int v = ata.ReadTemperatureAlert();
    return v == -1 ? kDefaultTemperatureAlert : v;
}

int ShownLifeAlert() {
    ATACommand ata;
    const int v = ata.ReadLifeAlert();
    return v == -1 ? kDefaultLifeAlert : (static_cast<uint32_t>(v) > 100 ? 100 : v);
}

}  // namespace tarvex
