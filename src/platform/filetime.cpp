#include "platform/filetime.h"

namespace tarvex::platform {
namespace {

constexpr uint64_t kTicksPerMs = 10000;
constexpr uint64_t kTicksPerDay = 86400ull * 1000 * kTicksPerMs;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

// Day number of 1601-01-01 relative to 1970-01-01.
const int64_t kDays1601 = DaysFromCivil(1601, 1, 1);

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool FileTimeToSystemTime(const FileTime& fileTime, SystemTime* systemTime) {
    const uint64_t v = fileTime.Value();
    if (v >= 0x8000000000000000ull || systemTime == nullptr) {
        return false;
    }
    const int64_t days = static_cast<int64_t>(v / kTicksPerDay) + kDays1601;
    uint64_t rest = v % kTicksPerDay;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, &y, &m, &d);
    systemTime->wYear = static_cast<uint16_t>(y);
    systemTime->wMonth = static_cast<uint16_t>(m);
    systemTime->wDay = static_cast<uint16_t>(d);
    // 1970-01-01 was a Thursday (4).
    systemTime->wDayOfWeek = static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);
    const uint64_t ms = rest / kTicksPerMs;
    systemTime->wHour = static_cast<uint16_t>(ms / 3600000);
    systemTime->wMinute = static_cast<uint16_t>(ms / 60000 % 60);
    systemTime->wSecond = static_cast<uint16_t>(ms / 1000 % 60);
    systemTime->wMilliseconds = static_cast<uint16_t>(ms % 1000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& st, FileTime* fileTime) {
    static const unsigned kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (fileTime == nullptr || st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 ||
        st.wMonth > 12 || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
        st.wMilliseconds > 999) {
        return false;
    }
    unsigned monthDays = kMonthDays[st.wMonth - 1] + (st.wMonth == 2 && IsLeap(st.wYear) ? 1 : 0);
    if (st.wDay < 1 || st.wDay > monthDays) {
        return false;
    }
    const int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) - kDays1601;
    const uint64_t ms = ((st.wHour * 60ull + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
    *fileTime = FileTime::FromValue(static_cast<uint64_t>(days) * kTicksPerDay + ms * kTicksPerMs);
    return true;
}

FileTime FileTimeFromUnixMs(int64_t unixMs) {
    const int64_t ticks = unixMs * static_cast<int64_t>(kTicksPerMs) +
                          static_cast<int64_t>(kFileTimeUnixEpoch);
    return FileTime::FromValue(ticks < 0 ? 0 : static_cast<uint64_t>(ticks));
}

int64_t UnixMsFromFileTime(const FileTime& fileTime) {
    return (static_cast<int64_t>(fileTime.Value()) - static_cast<int64_t>(kFileTimeUnixEpoch)) /
           static_cast<int64_t>(kTicksPerMs);
}

}  // namespace tarvex::platform
