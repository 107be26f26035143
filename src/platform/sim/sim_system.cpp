#include "platform/sim/sim_system.h"

#include <cstring>

#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

SimSystem::SimSystem(const MachineProfile& profile, std::u16string moduleFileName)
    : os_(profile.os), uiLanguage_(profile.uiLanguage), moduleFileName_(std::move(moduleFileName)) {
    commandLine_ = profile.commandLine.value_or(u"\"" + profile.programPath + u"\"");
    // The variables every Windows PC has, then the profile's own.
    std::map<std::u16string, std::u16string> vars = {
        {u"SystemDrive", u"C:"},
        {u"SystemRoot", u"C:\\Windows"},
        {u"windir", u"C:\\Windows"},
        {u"ProgramFiles", u"C:\\Program Files"},
        {u"ComSpec", u"C:\\Windows\\system32\\cmd.exe"},
        {u"TEMP", u"C:\\Windows\\TEMP"},
        {u"TMP", u"C:\\Windows\\TEMP"},
        {u"OS", u"Windows_NT"},
        {u"COMPUTERNAME", u"TARVEX-PC"},
        {u"NUMBER_OF_PROCESSORS", u"4"},
    };
    for (const auto& [name, value] : vars) {
        environment_[platform::FoldCase(name)] = value;
    }
    // The profile's variables replace defaults whose names differ only in case.
    for (const auto& [name, value] : profile.environment) {
        environment_[platform::FoldCase(name)] = value;
    }
}

bool SimSystem::GetVersionEx(platform::OsVersionInfoExW* info) {
    if (info == nullptr) {
        platform::SetLastError(win::ERROR_INVALID_PARAMETER);
        return false;
    }
    const uint32_t size = info->dwOSVersionInfoSize;
    if (size != platform::kOsVersionInfoWSize &&
        (size != platform::kOsVersionInfoExWSize || !os_.versionInfoEx)) {
        platform::SetLastError(win::ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    info->dwMajorVersion = os_.major;
    info->dwMinorVersion = os_.minor;
    info->dwBuildNumber = os_.build;
    info->dwPlatformId = os_.platformId;
    platform::CopyToFixed(info->szCSDVersion, os_.servicePack);
    if (size == platform::kOsVersionInfoExWSize) {
        info->wServicePackMajor = os_.servicePackMajor;
        info->wServicePackMinor = os_.servicePackMinor;
        info->wSuiteMask = os_.suiteMask;
        info->wProductType = os_.productType;
        info->wReserved = 0;
    }
    return true;
}

uint32_t SimSystem::ConvertDefaultLocale(uint32_t locale) {
    constexpr uint32_t kLocaleNeutral = 0x0000;
    constexpr uint32_t kLocaleUserDefault = 0x0400;
    constexpr uint32_t kLocaleSystemDefault = 0x0800;
    if (locale == kLocaleNeutral || locale == kLocaleUserDefault || locale == kLocaleSystemDefault) {
        return uiLanguage_;
    }
    const uint32_t langId = locale & 0xFFFF;
    const uint32_t primary = langId & 0x3FF;
    const uint32_t sub = langId >> 10;
    if (sub == 0) {
        // A neutral language: its default country. Chinese defaults to the PRC form.
        constexpr uint32_t kLangChinese = 0x04;
        const uint32_t specific = primary == kLangChinese ? 0x0804 : ((1u << 10) | primary);
        return (locale & ~0xFFFFu) | specific;
    }
    return locale;
}

std::optional<std::u16string> SimSystem::GetEnvironmentVariable(std::u16string_view name) {
    auto it = environment_.find(platform::FoldCase(name));
    if (it == environment_.end()) {
        platform::SetLastError(203);  // ERROR_ENVVAR_NOT_FOUND
        return std::nullopt;
    }
    return it->second;
}

std::string SimSystem::WideToAnsi(std::u16string_view text, char defaultChar, bool* usedDefault) {
    return platform::Utf16ToUtf8(text, defaultChar, usedDefault);
}

std::u16string SimSystem::AnsiToWide(std::string_view text) { return platform::Utf8ToUtf16(text); }

}  // namespace tarvex::sim
