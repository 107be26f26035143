#include "sysinfo/log_flows.h"

#include <fmt/format.h>

#include "app/messages.h"
#include "app/trace.h"
#include "drives/drive_table.h"
#include "platform/last_error.h"
#include "platform/byte_span.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"
#include "sysinfo/report.h"

namespace tarvex {

namespace {

constexpr int kStringExportDone = 316;
constexpr int kStringDecryptDone = 320;
constexpr uint32_t kMaxScrambledBytes = 64u * 1024 * 1024;  // far beyond any log; refuses a runaway file

FileOutcome ReadFailure() {
    const uint32_t error = platform::GetLastError();
    return FileOutcome{false, error, Win32ErrorText(error)};
}

// The whole file, read in binary: a text-mode read would fold CR LF byte pairs of the
// scrambled units and lose bytes.
FileOutcome ReadWholeFile(std::u16string_view path, std::vector<uint8_t>* bytes) {
    auto file = platform::Current().files->OpenStream(path, "rb");
    if (!file) {
        return ReadFailure();
    }
    uint64_t length = 0;
    if (!file->Seek(0, 2, &length) || !file->Seek(0, 0, nullptr)) {
        return ReadFailure();
    }
    if (length > kMaxScrambledBytes) {
        return FileOutcome{false, win::ERROR_DISK_FULL, u"The file is too large for a log."};
    }
    bytes->assign(static_cast<size_t>(length), 0);
    uint32_t got = 0;
    if (length > 0 && (!file->Read(bytes->data(), static_cast<uint32_t>(length), &got) || got != length)) {
        return ReadFailure();
    }
    return FileOutcome{true, 0, {}};
}

std::optional<std::u16string> ChooseLogFile() {
    return platform::Current().dialogs->GetOpenFileName(u"", kLogFileFilter, u"");
}

void ShowFailure(const char* what, std::u16string_view file, const FileOutcome& outcome) {
    (void)ShowMessage(platform::Utf8ToUtf16(fmt::format("{} \"{}\": {}", what, platform::Utf16ToUtf8(file),
                                                        platform::Utf16ToUtf8(outcome.reason))),
                      win::MB_ICONERROR);
}

}  // namespace

std::vector<uint8_t> UnscrambleBytes(std::vector<uint8_t> bytes) {
    const platform::ByteWriter writer(bytes);
    const platform::ByteReader reader(bytes);
    // Whole 16-bit units only; an odd last byte stays as it is.
    for (size_t i = 0; reader.Has(i, 2); i += 2) {
        (void)writer.U16(i, static_cast<uint16_t>(*reader.U16(i) - 5));
    }
    return bytes;
}

FileOutcome UnscrambleLog(std::u16string_view path, std::u16string* failedFile, bool* whileReading) {
    *failedFile = std::u16string(path);
    *whileReading = true;
    std::vector<uint8_t> bytes;
    if (FileOutcome read = ReadWholeFile(path, &bytes); !read.ok) {
        return read;
    }
    {
        std::string raw(bytes.begin(), bytes.end());
        Trace("read from log:%d\n%s", static_cast<int>(bytes.size()), raw.c_str());
    }
    const std::vector<uint8_t> plain = UnscrambleBytes(std::move(bytes));
    // The units as wide text; a NUL unit ends it, as printing it through "%s" does. An odd
    // last byte is part of the buffer but of no unit, and so of no text.
    std::u16string text;
    const platform::ByteReader units(plain);
    for (size_t i = 0; units.Has(i, 2); i += 2) {
        const char16_t unit = static_cast<char16_t>(*units.U16(i));
        if (unit == u'\0') {
            break;
        }
        text += unit;
    }
    Trace("Decrypted Log:\n%s", text);
    *failedFile = kDecryptedLogName;
    *whileReading = false;
    FileOutcome written = ReplaceFileWithText(kDecryptedLogName, platform::Utf16ToUtf8(text));
    if (!written.ok) {
        Trace("Decrypted Log fail, can't open file");
    }
    return written;
}

bool DecryptLogOffered() {
    const std::u16string line = platform::Current().system->GetCommandLine();
    // The program's own path comes first, quoted or up to the first blank.
    size_t arguments = 0;
    if (!line.empty() && line[0] == u'"') {
        const size_t close = line.find(u'"', 1);
        arguments = close == std::u16string::npos ? line.size() : close + 1;
    } else {
        arguments = std::min(line.find_first_of(u" \t"), line.size());
    }
    return line.find(u"-a", arguments) != std::u16string::npos;
}

FlowEnd ExportLogFlow(ReportModel* model) {
    if (BusyOperation != 0) {
        ShowBusyRefusal();
        return FlowEnd::Refused;
    }
    const std::optional<std::u16string> path = ChooseLogFile();
    if (!path) {
        return FlowEnd::Cancelled;
    }
    const FileOutcome outcome = WriteReport(*path, model);
    if (!outcome.ok) {
        ShowFailure("Export log file failed: cannot write", *path, outcome);
        return FlowEnd::Failed;
    }
    (void)ShowResourceMessage(kStringExportDone);
    return FlowEnd::Done;
}

FlowEnd DecryptLogFlow() {
    if (BusyOperation != 0) {
        ShowBusyRefusal();
        return FlowEnd::Refused;
    }
    const std::optional<std::u16string> path = ChooseLogFile();
    if (!path) {
        return FlowEnd::Cancelled;
    }
    std::u16string failedFile;
    bool whileReading = false;
    const FileOutcome outcome = UnscrambleLog(*path, &failedFile, &whileReading);
    if (!outcome.ok) {
        ShowFailure(whileReading ? "Decrypt log failed: cannot read" : "Decrypt log failed: cannot write", failedFile,
                    outcome);
        return FlowEnd::Failed;
    }
    (void)ShowResourceMessage(kStringDecryptDone);
    return FlowEnd::Done;
}

}  // namespace tarvex
