#pragma once
// The emulated PC's top-level windows. Each process keeps its own windows in a table by title;
// posted messages go to the window's sink, or wait in its queue when it has none; every post
// is also kept in a log so tests can check what a worker reported and in which order.
//
// Windows of the machine scope are also listed in a folder of the state directory, one entry
// per window with its title (SharedEntries): an entry goes with its process, however it ends.
// Adding, claiming and looking up shared windows happen under the folder's lock file.
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/shared_entries.h"
#include "platform/windowing.h"

namespace tarvex::sim {

class SimWindows : public platform::Windows {
public:
    // Windows of this process only (machine-scope windows are then seen in it alone).
    SimWindows() = default;
    // Windows shared by every process whose table uses `sharedDir`.
    explicit SimWindows(std::filesystem::path sharedDir);
    ~SimWindows() override;
    SimWindows(const SimWindows&) = delete;
    SimWindows& operator=(const SimWindows&) = delete;

    platform::Hwnd RegisterWindow(std::u16string_view title,
                                  std::function<void(const platform::WindowMessage&)> sink,
                                  platform::WindowScope scope = platform::WindowScope::Process) override;
    platform::Hwnd ClaimWindow(std::u16string_view title,
                               std::function<void(const platform::WindowMessage&)> sink) override;
    void UnregisterWindow(platform::Hwnd hwnd) override;
    bool SetWindowText(platform::Hwnd hwnd, std::u16string_view title) override;
    platform::Hwnd FindWindow(std::u16string_view title) override;
    bool PostMessage(platform::Hwnd hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // The queued messages of a window without a sink, oldest first; the queue is emptied.
    std::vector<platform::WindowMessage> TakeMessages(platform::Hwnd hwnd);
    // The messages posted so far, to any window (the most recent 2048 to 4096 of them).
    std::vector<platform::WindowMessage> PostedMessages();

private:
    struct Window {
        std::u16string title;
        std::function<void(const platform::WindowMessage&)> sink;
        std::deque<platform::WindowMessage> queue;
        platform::WindowScope scope = platform::WindowScope::Process;
    };
    // The live windows of other processes in the shared folder, by handle (dead entries are
    // removed on the way). The caller holds mutex_ and the folder lock.
    std::map<platform::Hwnd, std::u16string> OtherWindows();
    // Adds a window; `claim`: only when no window has the title. The caller holds mutex_.
    platform::Hwnd Add(std::u16string_view title, std::function<void(const platform::WindowMessage&)> sink,
                       platform::WindowScope scope, bool claim);

    std::mutex mutex_;
    std::optional<SharedEntries> shared_;  // the shared folder's entries of this process
    std::map<platform::Hwnd, Window> windows_;
    std::vector<platform::WindowMessage> log_;
    platform::Hwnd next_ = 0x10010;
};

}  // namespace tarvex::sim
