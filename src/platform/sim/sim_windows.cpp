#include "platform/sim/sim_windows.h"

#include "platform/last_error.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

using platform::Hwnd;
using platform::WindowMessage;

Hwnd SimWindows::RegisterWindow(std::u16string_view title,
                                std::function<void(const WindowMessage&)> sink) {
    std::lock_guard lock(mutex_);
    Hwnd h = next_;
    next_ += 2;
    windows_[h] = Window{std::u16string(title), std::move(sink), {}};
    return h;
}

void SimWindows::UnregisterWindow(Hwnd hwnd) {
    std::lock_guard lock(mutex_);
    windows_.erase(hwnd);
}

bool SimWindows::SetWindowText(Hwnd hwnd, std::u16string_view title) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) {
        platform::SetLastError(win::ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    it->second.title = title;
    return true;
}

Hwnd SimWindows::FindWindow(std::u16string_view title) {
    std::lock_guard lock(mutex_);
    // The oldest window with the title, as the window manager's z-order would give it.
    for (const auto& [h, w] : windows_) {
        if (w.title == title) {
            return h;
        }
    }
    return platform::kNullHwnd;
}

bool SimWindows::PostMessage(Hwnd hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::function<void(const WindowMessage&)> sink;
    const WindowMessage msg{hwnd, message, wParam, lParam};
    {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(hwnd);
        if (it == windows_.end()) {
            platform::SetLastError(win::ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        log_.push_back(msg);
        if (!it->second.sink) {
            it->second.queue.push_back(msg);
            return true;
        }
        sink = it->second.sink;
    }
    // The sink runs outside the lock: it may post or look up windows itself.
    sink(msg);
    return true;
}

std::vector<WindowMessage> SimWindows::TakeMessages(Hwnd hwnd) {
    std::lock_guard lock(mutex_);
    std::vector<WindowMessage> out;
    auto it = windows_.find(hwnd);
    if (it != windows_.end()) {
        out.assign(it->second.queue.begin(), it->second.queue.end());
        it->second.queue.clear();
    }
    return out;
}

std::vector<WindowMessage> SimWindows::PostedMessages() {
    std::lock_guard lock(mutex_);
    return log_;
}

}  // namespace tarvex::sim
