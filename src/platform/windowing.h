#pragma once
// Top-level windows as other threads reach them: FindWindowW by title and PostMessageW. The
// workers of the system find the main window by its title and post their progress to it.
#include <cstdint>
#include <functional>
#include <string_view>

namespace tarvex::platform {

using Hwnd = uintptr_t;
inline constexpr Hwnd kNullHwnd = 0;

struct WindowMessage {
    Hwnd hwnd = kNullHwnd;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

class Windows {
public:
    virtual ~Windows() = default;

    // Adds a top-level window with this title. Posted messages go to `sink`, on the posting
    // thread; a window without a sink keeps them in its queue (TakeMessages).
    virtual Hwnd RegisterWindow(std::u16string_view title,
                                std::function<void(const WindowMessage&)> sink) = 0;
    virtual void UnregisterWindow(Hwnd hwnd) = 0;
    virtual bool SetWindowText(Hwnd hwnd, std::u16string_view title) = 0;

    // FindWindowW(NULL, title): exact title match; kNullHwnd when there is none.
    virtual Hwnd FindWindow(std::u16string_view title) = 0;
    // PostMessageW: false with ERROR_INVALID_WINDOW_HANDLE for an unknown window.
    virtual bool PostMessage(Hwnd hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace tarvex::platform
