#pragma once
// Build identification written to the trace at start-up: the banner with the compiler's
// build date and time, and the build number derived from the last-write time of the program
// file "Tarvex.exe" in the current directory.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/filetime.h"

namespace tarvex {

inline constexpr size_t kBuildBannerSize = 400;

// "This build was compiled at Mmm dd yyyy, hh:mm:ss." (narrow, at most 399 characters).
extern char BuildBanner[kBuildBannerSize];
// Eight characters and NUL; empty when the program file could not be read.
extern char16_t BuildNumber[9];
// The program file's last-write time.
extern platform::FileTime BuildTimeStamp;

// The banner text for a compiler date ("Mar 13 2017") and time ("20:49:11").
std::string MakeBuildBanner(const char* date, const char* time);
// Copies the banner of this build into BuildBanner and traces it.
void InitBuildBanner();

// "%c%X%02X%02X%02X" of (year - 1936 as a character, month, day, hour, minute): a file
// written on 2017-03-13 at 20:49 UTC gives "Q30D1431". Nothing for years before 1937, whose
// first character would be a control character or none at all.
std::optional<std::u16string> FormatBuildNumber(const platform::SystemTime& time);

// Opens "Tarvex.exe" in the current directory and sets BuildNumber and BuildTimeStamp from
// its last-write time, with the trace lines of each outcome.
void ComputeBuildNumber();

}  // namespace tarvex
