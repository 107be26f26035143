#include "sysinfo/diskpart.h"

#include <string>

#include <fmt/printf.h>

#include "app/trace.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex {

namespace {

constexpr uint32_t kPipeReadSize = 4096;

void Answer(char16_t (&out)[kDiskpartAnswerChars + 1], std::u16string_view text) {
    text = text.substr(0, text.find(u'\0'));  // copied through "%s"
    const size_t n = std::min<size_t>(text.size(), kDiskpartAnswerChars);
    std::char_traits<char16_t>::copy(out, text.data(), n);
    out[n] = u'\0';
}

// A failed step: its text (with GetLastError) is traced and becomes the answer.
void Fail(char16_t (&out)[kDiskpartAnswerChars + 1], const char* format) {
    const std::string text = fmt::sprintf(format, platform::GetLastError());
    Trace("%s", text);
    Answer(out, platform::Utf8ToUtf16(text));
}

// The bytes of `piece` that end in the middle of a UTF-8 sequence wait for the next piece.
size_t CompleteUtf8Prefix(std::string_view piece) {
    size_t end = piece.size();
    size_t back = 0;
    while (back < 3 && back < end && (static_cast<unsigned char>(piece[end - 1 - back]) & 0xC0) == 0x80) {
        ++back;
    }
    if (back < end) {
        const auto lead = static_cast<unsigned char>(piece[end - 1 - back]);
        const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (need > back + 1) {
            return end - 1 - back;
        }
    }
    return end;
}

}  // namespace

void GetDiskpartMsg(char16_t (&out)[kDiskpartAnswerChars + 1], int driveNumber) {
    const platform::Platform& os = platform::Current();
    out[0] = u'\0';
    {
        auto script = os.files->OpenStream(kDiskpartScript, "wc");
        const std::string lines = fmt::sprintf("select disk %d\n", driveNumber) + "detail disk\n";
        uint32_t written = 0;
        bool ok = script && script->Write(lines.data(), static_cast<uint32_t>(lines.size()), &written);
        if (ok && written != lines.size()) {
            // A script cut short (a full disk) would make diskpart answer about another disk
            // or none: every byte must be written.
            platform::SetLastError(win::ERROR_DISK_FULL);
            ok = false;
        }
        if (!ok || !script->Flush()) {
            // Without its script diskpart would answer about no disk at all.
            Fail(out, "GetDiskpartMsg::script file fail : 0x%X\n");
            return;
        }
    }
    if (os.shell == nullptr) {
        platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
        Fail(out, "GetDiskpartMsg::CreatePipe fail : 0x%X\n");
        return;
    }
    std::unique_ptr<platform::PipeEnd> readEnd;
    std::unique_ptr<platform::PipeEnd> writeEnd;
    if (!os.shell->CreatePipe(&readEnd, &writeEnd, true)) {
        Fail(out, "GetDiskpartMsg::CreatePipe fail : 0x%X\n");
        return;
    }
    if (!readEnd->SetInheritable(false)) {
        Fail(out, "GetDiskpartMsg::SetHandleInformation fail : 0x%X\n");
        return;
    }
    platform::ProcessStart start;
    start.commandLine = platform::Utf8ToUtf16(
        fmt::sprintf("%s /s %s", platform::Utf16ToUtf8(kDiskpartProgram), platform::Utf16ToUtf8(kDiskpartScript)));
    start.inheritHandles = true;
    start.creationFlags = win::CREATE_NO_WINDOW | win::NORMAL_PRIORITY_CLASS;
    start.standardOutput = writeEnd.get();
    start.standardError = writeEnd.get();
    if (!os.shell->CreateProcess(start)) {
        Fail(out, "GetDiskpartMsg::CreateProcess fail : 0x%X\n");
        return;
    }
    writeEnd.reset();  // the child holds the only writer now: its exit ends the reads

    std::u16string text;
    std::string pending;
    char piece[kPipeReadSize];
    uint32_t got = 0;
    while (readEnd->Read(piece, kPipeReadSize, &got) && got > 0) {
        pending.append(piece, got);
        const size_t complete = CompleteUtf8Prefix(pending);
        text += platform::Utf8ToUtf16(std::string_view(pending).substr(0, complete));
        pending.erase(0, complete);
    }
    text += platform::Utf8ToUtf16(pending);
    readEnd.reset();
    (void)os.files->DeleteFile(kDiskpartScript);
    Answer(out, text);
}

}  // namespace tarvex
