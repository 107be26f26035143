#pragma once
// The trace: one line per call appended to the file named like the program with ".log",
// beside it. The first call of a process deletes the file of an earlier run; each line is
// "%08d %s\n" with the milliseconds since that first call. Nothing is written while the
// level is 0. Calls from several threads are serialised, so lines never interleave.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include <fmt/printf.h>

#include "platform/text.h"

namespace tarvex {

// 0, 1 or 2; any other value stores 0.
void SetTraceLevel(unsigned level);
unsigned TraceLevel();

// Writes one already formatted text (at most 1024 characters are kept).
void TraceText(std::string_view text);

// The trace file's Windows path (from the module file name). Empty before the first write.
std::u16string TraceFilePath();

// Tests: make the next call behave as the first call of a process again.
void ResetTraceForTesting();

namespace trace_detail {
inline std::string Arg(const std::u16string& s) { return platform::Utf16ToUtf8(s); }
inline std::string Arg(std::u16string_view s) { return platform::Utf16ToUtf8(s); }
inline std::string Arg(const char16_t* s) { return platform::Utf16ToUtf8(s == nullptr ? u"(null)" : s); }
inline std::string Arg(char16_t* s) { return Arg(static_cast<const char16_t*>(s)); }
inline const char* Arg(const char* s) { return s == nullptr ? "(null)" : s; }
inline const char* Arg(char* s) { return Arg(static_cast<const char*>(s)); }
inline const std::string& Arg(const std::string& s) { return s; }
template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T> || std::is_enum_v<T>>>
T Arg(T v) {
    return v;
}
// Other pointers print through "%p" as the 32-bit program prints them: the low 32 bits.
inline uint32_t Arg(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
void FormatFailed(const char* format);
// "%p" becomes "%08X": eight upper-case hex digits, for pointers and integers alike.
std::string PointerFormat(const char* format);
}  // namespace trace_detail

// printf-style trace: Trace("Disk %d is NVMe device.", n). UTF-16 text arguments print
// through "%s" in the ANSI code page.
template <typename... Args>
void Trace(const char* format, const Args&... args) {
    if (TraceLevel() == 0) {
        return;
    }
    try {
        if (std::strstr(format, "%p") != nullptr) {
            TraceText(fmt::sprintf(trace_detail::PointerFormat(format), trace_detail::Arg(args)...));
            return;
        }
        TraceText(fmt::sprintf(format, trace_detail::Arg(args)...));
    } catch (const fmt::format_error&) {
        trace_detail::FormatFailed(format);
    }
}

}  // namespace tarvex
