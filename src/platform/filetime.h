#pragma once
// FILETIME and SYSTEMTIME, the Windows time records, and the conversions between them and
// Unix time. FILETIME counts 100-nanosecond intervals since 1601-01-01 UTC.
#include <cstdint>

namespace tarvex::platform {

struct FileTime {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;

    [[nodiscard]] uint64_t Value() const {
        return (static_cast<uint64_t>(dwHighDateTime) << 32) | dwLowDateTime;
    }
    static FileTime FromValue(uint64_t v) {
        return FileTime{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
    }
};
static_assert(sizeof(FileTime) == 8);

struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};
static_assert(sizeof(SystemTime) == 16);

// 100-ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

// Fails, as Windows does, for times at or beyond 0x8000000000000000.
[[nodiscard]] bool FileTimeToSystemTime(const FileTime& fileTime, SystemTime* systemTime);
// Fails for fields out of range (month 1..12, day valid for the month, year 1601..30827).
[[nodiscard]] bool SystemTimeToFileTime(const SystemTime& systemTime, FileTime* fileTime);

FileTime FileTimeFromUnixMs(int64_t unixMs);
int64_t UnixMsFromFileTime(const FileTime& fileTime);

}  // namespace tarvex::platform
