#pragma once
// Scripted dialogs: every message box and file dialog is recorded, and answered from a queue
// of prepared answers. With the queue empty a message box gets the cautious answer (No for a
// yes/no question, Cancel where there is one, else OK) and a file dialog is cancelled.
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace tarvex::sim {

class SimDialogs : public platform::Dialogs {
public:
    struct Shown {
        enum class Kind { MessageBox, OpenFile } kind;
        std::u16string text;     // message text, or the file dialog's title
        std::u16string caption;  // message caption, or the file dialog's filter
        uint32_t type = 0;       // message box flags
        int answer = 0;          // IDOK, IDYES, ...; for a file dialog 1 when a file was chosen
    };

    int MessageBox(std::u16string_view text, std::u16string_view caption, uint32_t type) override;
    std::optional<std::u16string> GetOpenFileName(std::u16string_view title,
                                                  std::u16string_view filter,
                                                  std::u16string_view initialDirectory) override;

    void QueueMessageBoxAnswer(int answer);
    void QueueOpenFileAnswer(std::optional<std::u16string> path);
    std::vector<Shown> ShownDialogs();

private:
    std::mutex mutex_;
    std::deque<int> messageAnswers_;
    std::deque<std::optional<std::u16string>> fileAnswers_;
    std::vector<Shown> shown_;
};

}  // namespace tarvex::sim
