#pragma once
// diskpart's "detail disk" answer for one disk, as the report shows it: a script file, the
// diskpart child with its output on a pipe, and the collected text.
#include <cstdint>

namespace tarvex {

inline constexpr char16_t kDiskpartScript[] = u".//tmpxxxvarno.bat";
inline constexpr char16_t kDiskpartProgram[] = u"C:\\Windows\\System32\\diskpart.exe";
inline constexpr int kDiskpartAnswerChars = 1023;

// Fills `out` with diskpart's answer for physical drive `driveNumber` (at most 1023
// characters), or with the failure text of the step that failed.
void GetDiskpartMsg(char16_t (&out)[kDiskpartAnswerChars + 1], int driveNumber);

}  // namespace tarvex
