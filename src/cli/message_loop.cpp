#include "cli/message_loop.h"

#include "app/progress_message.h"
#include "platform/platform.h"

namespace tarvex::cli {

MainWindowQueue::MainWindowQueue() {
    hwnd_ = platform::Current().windows->RegisterWindow(kMainWindowTitle, [this](const platform::WindowMessage& m) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(m);
        }
        posted_.notify_one();
    });
}

MainWindowQueue::~MainWindowQueue() { platform::Current().windows->UnregisterWindow(hwnd_); }

std::optional<platform::WindowMessage> MainWindowQueue::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) {
        return std::nullopt;
    }
    platform::WindowMessage m = queue_.front();
    queue_.pop_front();
    return m;
}

}  // namespace tarvex::cli
