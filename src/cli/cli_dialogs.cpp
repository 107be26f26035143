#include "cli/cli_dialogs.h"

#include <cstdio>

#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::cli {

int CliDialogs::MessageBox(std::u16string_view text, std::u16string_view, uint32_t type) {
    const std::string line = platform::Utf16ToUtf8(text);
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(line);
    }
    if (print_) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    switch (type & 0x0F) {
        case win::MB_OKCANCEL: return win::IDCANCEL;
        case win::MB_YESNO:
        case win::MB_YESNOCANCEL: return win::IDNO;
        default: return win::IDOK;
    }
}

std::optional<std::u16string> CliDialogs::GetOpenFileName(std::u16string_view, std::u16string_view,
                                                          std::u16string_view) {
    std::lock_guard lock(mutex_);
    if (fileAnswers_.empty()) {
        return std::nullopt;
    }
    std::u16string path = std::move(fileAnswers_.front());
    fileAnswers_.erase(fileAnswers_.begin());
    return path;
}

void CliDialogs::QueueOpenFileAnswer(std::u16string path) {
    std::lock_guard lock(mutex_);
    fileAnswers_.push_back(std::move(path));
}

std::vector<std::string> CliDialogs::Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

}  // namespace tarvex::cli
