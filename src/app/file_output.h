#pragma once
// Writing a whole text file so that it is either complete or absent: the text goes to a
// temporary file of its own beside the target (a fresh name, created only if no file has it),
// which then replaces the target in one step. A failure leaves the old target (if any) as it
// was and no temporary file behind, and says why. A target that is not a plain file (a device
// such as NUL, or a symbolic link) is written in place instead, so the device stays a device
// and the link keeps pointing where it did.
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

struct FileOutcome {
    bool ok = false;
    uint32_t error = 0;     // GetLastError of the step that failed
    std::u16string reason;  // the system's wording of `error`
};

// Writes `text` (UTF-8, "\n" line ends) in text mode, so the file gets CR LF.
FileOutcome ReplaceFileWithText(std::u16string_view path, std::string_view text);

// The system's message for a Win32 error code, as FormatMessage words it.
std::u16string Win32ErrorText(uint32_t error);

}  // namespace tarvex
