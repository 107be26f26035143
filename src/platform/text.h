#pragma once
// Text helpers shared by every layer: UTF-16 <-> UTF-8 conversion (UTF-8 is the "ANSI code
// page" on this platform), the case folding Windows uses for registry and file names, and
// bounded copies into the fixed-capacity text fields of the plain records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex::platform {

// Malformed input (a lone surrogate, a bad UTF-8 sequence) becomes `replacement`; when
// `usedReplacement` is given it is set to whether that happened.
std::string Utf16ToUtf8(std::u16string_view text, char replacement = '?',
                        bool* usedReplacement = nullptr);
std::u16string Utf8ToUtf16(std::string_view text, char16_t replacement = u'\uFFFD');

// Simple case folding to lower case for the Latin, Greek and Cyrillic letters; other
// characters stay as they are. Windows compares registry and file names this way.
char16_t FoldCase(char16_t c);
std::u16string FoldCase(std::u16string_view text);
std::string FoldCaseAscii(std::string_view text);

// FNV-1a over the bytes: a stable 32-bit tag for ids that must stay the same between runs.
uint32_t Fnv1a(std::string_view text);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Copies at most N-1 characters and a terminating NUL into a fixed field; the rest is zeroed.
template <size_t N>
void CopyToFixed(char16_t (&field)[N], std::u16string_view text) {
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < N; ++i) {
        field[i] = i < n ? text[i] : u'\0';
    }
}

// The text of a fixed field up to its first NUL.
template <size_t N>
std::u16string_view FixedText(const char16_t (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != u'\0') {
        ++n;
    }
    return std::u16string_view(field, n);
}

}  // namespace tarvex::platform
