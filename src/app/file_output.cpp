#include "app/file_output.h"

#include <atomic>
#include <random>

#include <fmt/format.h>

#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {

// How many fresh temporary names are tried before giving up (each is taken only if free).
constexpr int kTemporaryNameAttempts = 64;

FileOutcome Failed(uint32_t error) { return FileOutcome{false, error, Win32ErrorText(error)}; }

// "\n" becomes CR LF, as a text-mode stream writes it.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

// The folder part of `path` as it must prefix a name beside it: "C:\\Logs\\", "C:", or "".
std::u16string FolderPrefix(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos) {
        return std::u16string(path.substr(0, slash + 1));
    }
    if (path.size() >= 2 && path[1] == u':') {
        return std::u16string(path.substr(0, 2));
    }
    return {};
}

// A name no run has used: a per-process random part and a counter, so two programs writing
// beside the same file at once do not pick the same name; CREATE_NEW makes sure of it.
std::u16string TemporaryName(std::u16string_view path) {
    static const uint32_t processPart = std::random_device{}();
    static std::atomic<uint32_t> counter{0};
    return FolderPrefix(path) +
           platform::Utf8ToUtf16(fmt::format("~tarvex-{:08x}-{:04x}.tmp", processPart, counter.fetch_add(1)));
}

bool WriteAll(platform::File& file, const std::string& bytes) {
    uint32_t written = 0;
    return file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) && written == bytes.size() &&
           file.Flush();
}

// Writes through a device or a link: the target is opened (created behind a dangling link)
// and truncated.
FileOutcome WriteInPlace(platform::Files& files, std::u16string_view path, const std::string& bytes) {
    auto file = files.CreateFile(path, win::GENERIC_WRITE, win::FILE_SHARE_READ, win::CREATE_ALWAYS, 0);
    if (!file) {
        return Failed(platform::GetLastError());
    }
    if (!WriteAll(*file, bytes)) {
        const uint32_t error = platform::GetLastError();
        return Failed(error != 0 ? error : win::ERROR_DISK_FULL);
    }
    return FileOutcome{true, 0, {}};
}

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
        case 80: return u"The file exists.";
        case 112: return u"There is not enough space on the disk.";
        case 123: return u"The filename, directory name, or volume label syntax is incorrect.";
        case 183: return u"Cannot create a file when that file already exists.";
        case 206: return u"The filename or extension is too long.";
        default: return platform::Utf8ToUtf16(fmt::format("Error {}.", error));
    }
}

FileOutcome ReplaceFileWithText(std::u16string_view path, std::string_view text) {
    platform::Files& files = *platform::Current().files;
    const std::string bytes = WithCrLf(text);
    const uint32_t attributes = files.GetFileAttributes(path);
    if (attributes != win::INVALID_FILE_ATTRIBUTES &&
        (attributes & (win::FILE_ATTRIBUTE_DEVICE | win::FILE_ATTRIBUTE_REPARSE_POINT)) != 0 &&
        (attributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return WriteInPlace(files, path, bytes);
    }
    std::u16string temporary;
    std::unique_ptr<platform::File> file;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && !file; ++attempt) {
        temporary = TemporaryName(path);
        file = files.CreateFile(temporary, win::GENERIC_WRITE, 0, win::CREATE_NEW, 0);
        const uint32_t error = file ? 0 : platform::GetLastError();
        if (!file && error != win::ERROR_FILE_EXISTS && error != win::ERROR_ALREADY_EXISTS) {
            // Nothing was created: the reason is the target's folder or name.
            return Failed(error);
        }
    }
    if (!file) {
        return Failed(win::ERROR_FILE_EXISTS);
    }
    const bool wrote = WriteAll(*file, bytes);
    const uint32_t writeError = wrote ? 0 : platform::GetLastError();
    file.reset();
    if (!wrote) {
        (void)files.DeleteFile(temporary);
        return Failed(writeError != 0 ? writeError : win::ERROR_DISK_FULL);
    }
    if (!files.MoveFileEx(temporary, path, win::MOVEFILE_REPLACE_EXISTING)) {
        const uint32_t error = platform::GetLastError();
        (void)files.DeleteFile(temporary);
        return Failed(error);
    }
    return FileOutcome{true, 0, {}};
}

}  // namespace tarvex
