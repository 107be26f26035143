#pragma once
// The emulated PC's top-level windows: a process-wide table by title. Posted messages go to
// the window's sink, or wait in its queue when it has none; every post is also kept in a log
// so tests can check what a worker reported and in which order.
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/windowing.h"

namespace tarvex::sim {

class SimWindows : public platform::Windows {
public:
    platform::Hwnd RegisterWindow(std::u16string_view title,
                                  std::function<void(const platform::WindowMessage&)> sink) override;
    void UnregisterWindow(platform::Hwnd hwnd) override;
    bool SetWindowText(platform::Hwnd hwnd, std::u16string_view title) override;
    platform::Hwnd FindWindow(std::u16string_view title) override;
    bool PostMessage(platform::Hwnd hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // The queued messages of a window without a sink, oldest first; the queue is emptied.
    std::vector<platform::WindowMessage> TakeMessages(platform::Hwnd hwnd);
    // Every message posted so far, to any window.
    std::vector<platform::WindowMessage> PostedMessages();

private:
    struct Window {
        std::u16string title;
        std::function<void(const platform::WindowMessage&)> sink;
        std::deque<platform::WindowMessage> queue;
    };
    std::mutex mutex_;
    std::map<platform::Hwnd, Window> windows_;
    std::vector<platform::WindowMessage> log_;
    platform::Hwnd next_ = 0x10010;
};

}  // namespace tarvex::sim
