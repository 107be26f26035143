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

// Who finds a window by its title: only the process that made it (a stand-in for a window
// that a command-line program keeps for its own workers), or every program on the PC.
enum class WindowScope { Process, Machine };

class Windows {
public:
    virtual ~Windows() = default;

    // Adds a top-level window with this title. Posted messages go to `sink`, on the posting
    // thread; a window without a sink keeps them in its queue (TakeMessages). A window of any
    // scope takes messages only from its own process: their lParam is an address in it.
    virtual Hwnd RegisterWindow(std::u16string_view title, std::function<void(const WindowMessage&)> sink,
                                WindowScope scope = WindowScope::Process) = 0;
    // Adds a window that every program on the PC sees, unless a window with this title exists
    // already anywhere on the PC: then kNullHwnd with ERROR_ALREADY_EXISTS. The look and the
    // adding are one step, so of two programs starting at once only one gets the title.
    // The window goes when UnregisterWindow is called or its process ends, however it ends.
    virtual Hwnd ClaimWindow(std::u16string_view title, std::function<void(const WindowMessage&)> sink) = 0;
    virtual void UnregisterWindow(Hwnd hwnd) = 0;
    virtual bool SetWindowText(Hwnd hwnd, std::u16string_view title) = 0;

    // FindWindowW(NULL, title): exact title match; kNullHwnd when there is none.
    virtual Hwnd FindWindow(std::u16string_view title) = 0;
    // PostMessageW: false with ERROR_INVALID_WINDOW_HANDLE for an unknown window, and with
    // ERROR_ACCESS_DENIED for a window of another process.
    virtual bool PostMessage(Hwnd hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace tarvex::platform
