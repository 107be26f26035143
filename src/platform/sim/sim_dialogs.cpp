#include "platform/sim/sim_dialogs.h"

#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {
int CautiousAnswer(uint32_t type) {
    switch (type & win::MB_TYPEMASK) {
        case win::MB_YESNO: return win::IDNO;
        case win::MB_OKCANCEL:
        case win::MB_YESNOCANCEL:
        case win::MB_RETRYCANCEL: return win::IDCANCEL;
        default: return win::IDOK;
    }
}
}  // namespace

int SimDialogs::MessageBox(std::u16string_view text, std::u16string_view caption, uint32_t type) {
    std::lock_guard lock(mutex_);
    int answer = CautiousAnswer(type);
    if (!messageAnswers_.empty()) {
        answer = messageAnswers_.front();
        messageAnswers_.pop_front();
    }
    shown_.push_back(Shown{Shown::Kind::MessageBox, std::u16string(text), std::u16string(caption), type, answer});
    return answer;
}

std::optional<std::u16string> SimDialogs::GetOpenFileName(std::u16string_view title,
                                                          std::u16string_view filter,
                                                          std::u16string_view /*initialDirectory*/) {
    std::lock_guard lock(mutex_);
    std::optional<std::u16string> answer;
    if (!fileAnswers_.empty()) {
        answer = fileAnswers_.front();
        fileAnswers_.pop_front();
    }
    shown_.push_back(Shown{Shown::Kind::OpenFile, std::u16string(title), std::u16string(filter), 0,
                           answer ? 1 : 0});
    return answer;
}

void SimDialogs::QueueMessageBoxAnswer(int answer) {
    std::lock_guard lock(mutex_);
    messageAnswers_.push_back(answer);
}

void SimDialogs::QueueOpenFileAnswer(std::optional<std::u16string> path) {
    std::lock_guard lock(mutex_);
    fileAnswers_.push_back(std::move(path));
}

std::vector<SimDialogs::Shown> SimDialogs::ShownDialogs() {
    std::lock_guard lock(mutex_);
    return shown_;
}

}  // namespace tarvex::sim
