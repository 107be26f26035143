#pragma once
// System facts: the OS version record, the UI language, the command line, the environment,
// the module file name, the conversions between UTF-16 and the ANSI code page, and the C
// runtime's locale.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::platform {

// OSVERSIONINFOEXW, byte for byte. The first 276 bytes are OSVERSIONINFOW.
struct OsVersionInfoExW {
    uint32_t dwOSVersionInfoSize = 0;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
    char16_t szCSDVersion[128] = {};
    uint16_t wServicePackMajor = 0;
    uint16_t wServicePackMinor = 0;
    uint16_t wSuiteMask = 0;
    uint8_t wProductType = 0;
    uint8_t wReserved = 0;
};
static_assert(sizeof(OsVersionInfoExW) == 284);
static_assert(offsetof(OsVersionInfoExW, szCSDVersion) == 20);
static_assert(offsetof(OsVersionInfoExW, wServicePackMajor) == 276);
inline constexpr uint32_t kOsVersionInfoWSize = 276;
inline constexpr uint32_t kOsVersionInfoExWSize = 284;

// The categories of the C runtime's setlocale, numbered as the Windows runtime numbers them.
inline constexpr int kLcAll = 0;
inline constexpr int kLcCollate = 1;
inline constexpr int kLcCtype = 2;
inline constexpr int kLcMonetary = 3;
inline constexpr int kLcNumeric = 4;
inline constexpr int kLcTime = 5;

class System {
public:
    virtual ~System() = default;

    // GetVersionExW: fills as much of the record as its dwOSVersionInfoSize (276 or 284)
    // announces; any other size fails with ERROR_INSUFFICIENT_BUFFER.
    virtual bool GetVersionEx(OsVersionInfoExW* info) = 0;
    virtual uint16_t GetUserDefaultUILanguage() = 0;
    // ConvertDefaultLocale: turns neutral and default locale ids into a specific one.
    virtual uint32_t ConvertDefaultLocale(uint32_t locale) = 0;
    virtual std::u16string GetCommandLine() = 0;
    virtual std::optional<std::u16string> GetEnvironmentVariable(std::u16string_view name) = 0;
    // GetModuleFileNameW (NULL module): the full Windows path of the running program.
    virtual std::u16string GetModuleFileName() = 0;

    // WideCharToMultiByte / MultiByteToWideChar for CP_ACP. Unmappable characters become
    // `defaultChar`; `usedDefault` tells whether that happened.
    virtual std::string WideToAnsi(std::u16string_view text, char defaultChar = '?',
                                   bool* usedDefault = nullptr) = 0;
    virtual std::u16string AnsiToWide(std::string_view text) = 0;

    // setlocale of the C runtime, for this process: `locale` "" is the user's default locale
    // (a name such as "Korean_Korea.949"), "C" the neutral one, nothing (NULL) asks without
    // changing anything. Returns the category's locale name afterwards; nothing, with the
    // locale left as it was, for a category or a name the runtime does not know.
    virtual std::optional<std::string> SetLocale(int category, std::optional<std::u16string_view> locale) = 0;
};

}  // namespace tarvex::platform
