#pragma once
// The Utilities page's Export Log and Decrypt Log: the report written to a file the user
// picks, and a scrambled log turned back into text in "Decrypted.log".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_output.h"
#include "sysinfo/report.h"

namespace tarvex {

inline constexpr char16_t kLogFileFilter[] = u"Log File(*.log)|*.log|All Files(*.*)|*.*||";
inline constexpr char16_t kDecryptedLogName[] = u"Decrypted.log";

// Each 16-bit unit (little-endian) minus 5, modulo 65536; an odd last byte stays as read.
std::vector<uint8_t> UnscrambleBytes(std::vector<uint8_t> bytes);

// Reads the scrambled file at `path` and writes its text to "Decrypted.log" in the current
// directory. On failure `failedFile` names the file it concerns and `whileReading` tells
// whether reading the scrambled file or writing "Decrypted.log" failed.
FileOutcome UnscrambleLog(std::u16string_view path, std::u16string* failedFile, bool* whileReading);

enum class FlowEnd { Refused, Cancelled, Done, Failed };

// Export Log: refused (string 247) while a background operation runs; the open-file dialog;
// the report; string 316, or a message naming the file and the reason.
// `model` (optional) receives the report that was written.
FlowEnd ExportLogFlow(ReportModel* model = nullptr);
// Decrypt Log: the same refusal and dialog; string 320, or the failure message.
FlowEnd DecryptLogFlow();
// Whether the page offers Decrypt Log: the program's arguments contain "-a" anywhere
// (case-sensitive, so "-all" counts too).
bool DecryptLogOffered();

}  // namespace tarvex
