#include "platform/sim/sim_system.h"

#include <cstring>

#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {

struct LanguageLocale {
    uint16_t language;
    const char* locale;
};

// The user locales of the languages the program has texts for, as the runtime names them.
constexpr LanguageLocale kLanguageLocales[] = {
    {1033, "English_United States.1252"},
    {1028, "Chinese (Traditional)_Taiwan.950"},
    {1041, "Japanese_Japan.932"},
    {1042, "Korean_Korea.949"},
    {1049, "Russian_Russia.1251"},
    {2052, "Chinese (Simplified)_People's Republic of China.936"},
};

constexpr const char* kCategoryNames[] = {"LC_ALL", "LC_COLLATE", "LC_CTYPE", "LC_MONETARY", "LC_NUMERIC", "LC_TIME"};

}  // namespace

std::string DefaultLocaleOfLanguage(uint16_t uiLanguage) {
    for (const LanguageLocale& l : kLanguageLocales) {
        if (l.language == uiLanguage) {
            return l.locale;
        }
    }
    return kLanguageLocales[0].locale;
}

SimSystem::SimSystem(const MachineProfile& profile, std::u16string moduleFileName)
    : os_(profile.os), uiLanguage_(profile.uiLanguage), moduleFileName_(std::move(moduleFileName)) {
    userLocale_ = profile.locale.value_or(DefaultLocaleOfLanguage(uiLanguage_));
    // A program starts in the neutral locale until it asks for another.
    locales_.fill("C");
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

std::optional<std::string> SimSystem::SetLocale(int category, std::optional<std::u16string_view> locale) {
    if (category < platform::kLcAll || category > platform::kLcTime) {
        return std::nullopt;
    }
    std::lock_guard lock(localeMutex_);
    if (locale) {
        // "" is the user's locale; otherwise a name the runtime knows, in any case.
        std::optional<std::string> chosen;
        if (locale->empty()) {
            chosen = userLocale_;
        } else if (*locale == u"C") {
            chosen = "C";
        } else if (platform::EqualsIgnoreCase(*locale, platform::Utf8ToUtf16(userLocale_))) {
            chosen = userLocale_;
        } else {
            for (const LanguageLocale& l : kLanguageLocales) {
                if (platform::EqualsIgnoreCase(*locale, platform::Utf8ToUtf16(l.locale))) {
                    chosen = l.locale;
                }
            }
        }
        if (!chosen) {
            return std::nullopt;
        }
        if (category == platform::kLcAll) {
            for (size_t c = 1; c < locales_.size(); ++c) {
                locales_[c] = *chosen;
            }
        } else {
            locales_[static_cast<size_t>(category)] = *chosen;
        }
    }
    if (category != platform::kLcAll) {
        return locales_[static_cast<size_t>(category)];
    }
    // One name when every category has it, else each category by name.
    bool same = true;
    for (size_t c = 2; c < locales_.size(); ++c) {
        same = same && locales_[c] == locales_[1];
    }
    if (same) {
        return locales_[1];
    }
    std::string all;
    for (size_t c = 1; c < locales_.size(); ++c) {
        all += std::string(all.empty() ? "" : ";") + kCategoryNames[c] + "=" + locales_[c];
    }
    return all;
}

}  // namespace tarvex::sim
