#include "app/os_version_info.h"

#include <atomic>
#include <cctype>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"

namespace tarvex {

namespace {
std::atomic<bool> fatalRequested{false};

// The decimal number after "Service Pack " in the ANSI form of the text, read as the C
// runtime's number parsing would (leading blanks and a sign allowed). Nothing when absent.
bool ReadServicePackNumber(const std::string& csd, long* number) {
    static const std::string kMarker = "Service Pack ";
    size_t pos = csd.find(kMarker);
    if (pos == std::string::npos) {
        return false;
    }
    size_t i = pos + kMarker.size();
    while (i < csd.size() && std::isspace(static_cast<unsigned char>(csd[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < csd.size() && (csd[i] == '+' || csd[i] == '-')) {
        negative = csd[i] == '-';
        ++i;
    }
    size_t start = i;
    long value = 0;
    while (i < csd.size() && std::isdigit(static_cast<unsigned char>(csd[i])) && value < 100000000) {
        value = value * 10 + (csd[i] - '0');
        ++i;
    }
    if (i == start) {
        return false;
    }
    *number = negative ? -value : value;
    return true;
}
}  // namespace

OsVersionInfo::OsVersionInfo() { Classify(*platform::Current().system); }

OsVersionInfo::OsVersionInfo(platform::System& system) { Classify(system); }

void OsVersionInfo::Classify(platform::System& system) {
    osvi = platform::OsVersionInfoExW{};
    osvi.dwOSVersionInfoSize = platform::kOsVersionInfoExWSize;
    if (!system.GetVersionEx(&osvi)) {
        // Systems without the extended record answer the plain one.
        osvi = platform::OsVersionInfoExW{};
        osvi.dwOSVersionInfoSize = platform::kOsVersionInfoWSize;
        (void)system.GetVersionEx(&osvi);
    }
    PassThroughCapable = 0;
    IsWindows8 = 0;
    const uint32_t major = osvi.dwMajorVersion;
    const uint32_t minor = osvi.dwMinorVersion;
    if (major == 6 && minor == 2) {
        IsWindows8 = 1;
        PassThroughCapable = 1;
    } else if (major >= 6 || (major == 5 && minor == 2)) {
        PassThroughCapable = 1;
    } else if (major == 5 && minor == 1) {
        // Unmappable characters become a blank, as the conversion is asked to do.
        const std::string csd = system.WideToAnsi(platform::FixedText(osvi.szCSDVersion), ' ', nullptr);
        long servicePack = 0;
        if (!ReadServicePackNumber(csd, &servicePack)) {
            fatal_ = true;
            fatalRequested.store(true);
            return;
        }
        if (servicePack >= 2) {
            PassThroughCapable = 1;
        }
    }
}

bool StartupFatalRequested() { return fatalRequested.load(); }

void ResetStartupFatalForTesting() { fatalRequested.store(false); }

}  // namespace tarvex
