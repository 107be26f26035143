#pragma once
// tarvexctl's stand-in for the main window: a top-level window under the main window's title,
// so the workers find it and post their progress to it, and a message loop that hands the
// posts to the command's thread in order, as the window's own thread would get them.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/windowing.h"

namespace tarvex::cli {

class MainWindowQueue {
public:
    MainWindowQueue();
    ~MainWindowQueue();
    MainWindowQueue(const MainWindowQueue&) = delete;
    MainWindowQueue& operator=(const MainWindowQueue&) = delete;

    // The next posted message, or nothing when none came within `timeout` (real time: the
    // loop also watches the keyboard's Ctrl-C).
    std::optional<platform::WindowMessage> Wait(std::chrono::milliseconds timeout);

private:
    platform::Hwnd hwnd_ = platform::kNullHwnd;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<platform::WindowMessage> queue_;
};

}  // namespace tarvex::cli
