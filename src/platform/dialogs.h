#pragma once
// What the system asks the user: message boxes (information, yes/no, OK/cancel) and the
// open-file dialog. The GUI shows them, the CLI answers from the terminal or its flags, and
// tests answer from a script.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::platform {

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // MessageBoxW: `type` combines a button set (MB_OK, MB_YESNO, ...) and an icon
    // (MB_ICONERROR, ...); returns the answer (IDOK, IDCANCEL, IDYES, IDNO, ...).
    virtual int MessageBox(std::u16string_view text, std::u16string_view caption,
                           uint32_t type) = 0;

    // The open-file dialog. `filter` is in the Windows form "Name\0*.ext\0" with '|' for '\0'
    // ("Firmware (*.bin)|*.bin||"). Returns the chosen path, or nothing when cancelled.
    virtual std::optional<std::u16string> GetOpenFileName(std::u16string_view title,
                                                          std::u16string_view filter,
                                                          std::u16string_view initialDirectory) = 0;
};

}  // namespace tarvex::platform
