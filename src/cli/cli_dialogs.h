#pragma once
// The system's message boxes in a terminal: each text is printed on its own line (standard
// output, or kept for the --json document), and a question gets its cautious answer, since
// tarvexctl never waits for a keyboard.
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace tarvex::cli {

class CliDialogs : public platform::Dialogs {
public:
    // `print` false: the texts are only kept (for --json).
    explicit CliDialogs(bool print) : print_(print) {}

    int MessageBox(std::u16string_view text, std::u16string_view caption, uint32_t type) override;
    std::optional<std::u16string> GetOpenFileName(std::u16string_view title, std::u16string_view filter,
                                                  std::u16string_view initialDirectory) override;

    // The answer of the next open-file dialog (the command's file argument); without one the
    // dialog is cancelled.
    void QueueOpenFileAnswer(std::u16string path);
    // Every text shown so far, in UTF-8.
    std::vector<std::string> Messages();

private:
    bool print_;
    std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<std::u16string> fileAnswers_;
};

}  // namespace tarvex::cli
