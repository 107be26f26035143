#include "app/file_output.h"

#include <fmt/format.h>

#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {

FileOutcome Failed(uint32_t error) { return FileOutcome{false, error, Win32ErrorText(error)}; }

}  // namespace

std::u16string Win32ErrorText(uint32_t error) {
    switch (error) {
        case 2: return u"The system cannot find the file specified.";
        case 3: return u"The system cannot find the path specified.";
        case 5: return u"Access is denied.";
        case 17: return u"The system cannot move the file to a different disk drive.";
        case 19: return u"The media is write protected.";
        case 32: return u"The process cannot access the file because it is being used by another process.";
        case 53: return u"The network path was not found.";
        case 112: return u"There is not enough space on the disk.";
        case 123: return u"The filename, directory name, or volume label syntax is incorrect.";
        case 183: return u"Cannot create a file when that file already exists.";
        case 206: return u"The filename or extension is too long.";
        default: return platform::Utf8ToUtf16(fmt::format("Error {}.", error));
    }
}

FileOutcome ReplaceFileWithText(std::u16string_view path, std::string_view text) {
    platform::Files& files = *platform::Current().files;
    const std::u16string temporary = std::u16string(path) + u".tmp";
    (void)files.DeleteFile(temporary);  // a leftover of an interrupted run
    {
        auto file = files.OpenStream(temporary, "wc");
        if (!file) {
            // Nothing was created: the reason is the target's folder or name.
            return Failed(platform::GetLastError());
        }
        uint32_t written = 0;
        const bool wrote = file->Write(text.data(), static_cast<uint32_t>(text.size()), &written) &&
                           written == text.size() && file->Flush();
        if (!wrote) {
            const uint32_t error = platform::GetLastError();
            file.reset();
            (void)files.DeleteFile(temporary);
            return Failed(error != 0 ? error : win::ERROR_DISK_FULL);
        }
    }
    if (!files.MoveFileEx(temporary, path, win::MOVEFILE_REPLACE_EXISTING)) {
        const uint32_t error = platform::GetLastError();
        (void)files.DeleteFile(temporary);
        return Failed(error);
    }
    return FileOutcome{true, 0, {}};
}

}  // namespace tarvex
