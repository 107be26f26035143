#include "app/build_info.h"

#include <cstring>

#include <fmt/format.h>

#include "app/trace.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

char BuildBanner[kBuildBannerSize] = {};
char16_t BuildNumber[9] = {};
platform::FileTime BuildTimeStamp;

std::string MakeBuildBanner(const char* date, const char* time) {
    return std::string("This build was compiled at ") + date + ", " + time + ".";
}

void InitBuildBanner() {
    const std::string banner = MakeBuildBanner(__DATE__, __TIME__);
    const size_t n = std::min(banner.size(), kBuildBannerSize - 1);
    std::memcpy(BuildBanner, banner.data(), n);
    BuildBanner[n] = '\0';
    Trace("%s", BuildBanner);
}

std::optional<std::u16string> FormatBuildNumber(const platform::SystemTime& t) {
    if (t.wYear <= 1936) {
        return std::nullopt;
    }
    std::u16string out(1, static_cast<char16_t>(t.wYear - 1936));
    const std::string rest = fmt::format("{:X}{:02X}{:02X}{:02X}", t.wMonth, t.wDay, t.wHour, t.wMinute);
    out.append(rest.begin(), rest.end());
    return out;
}

void ComputeBuildNumber() {
    std::memset(BuildNumber, 0, sizeof BuildNumber);
    const platform::Platform& p = platform::Current();
    auto file = p.files->CreateFile(u"Tarvex.exe", win::GENERIC_READ, win::FILE_SHARE_READ,
                                    win::OPEN_EXISTING, 0);
    if (!file) {
        Trace("Open Tarvex.exe fail:%d!", static_cast<int>(platform::GetLastError()));
        return;
    }
    platform::FileTime creation, access, write;
    if (!file->GetFileTime(&creation, &access, &write)) {
        Trace("GetFileTime() fail:%d!", static_cast<int>(platform::GetLastError()));
        return;
    }
    platform::SystemTime st;
    std::optional<std::u16string> number;
    if (!platform::FileTimeToSystemTime(write, &st) || !(number = FormatBuildNumber(st))) {
        platform::SetLastError(win::ERROR_INVALID_PARAMETER);
        Trace("GetFileTime() fail:%d!", static_cast<int>(platform::GetLastError()));
        return;
    }
    BuildTimeStamp = write;
    platform::CopyToFixed(BuildNumber, *number);
    Trace("Build number:%s, Creation Time(UTC):%d %d %d %d %d!", BuildNumber, st.wYear, st.wMonth, st.wDay,
          st.wHour, st.wMinute);
}

}  // namespace tarvex
