#include "platform/sim/sim_windows.h"

#include "platform/last_error.h"
#include "platform/sim/state_files.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::Hwnd;
using platform::WindowMessage;
using platform::WindowScope;

namespace {

constexpr const char* kEntrySuffix = ".window";

}  // namespace

SimWindows::SimWindows(fs::path sharedDir) { shared_.emplace(std::move(sharedDir), kEntrySuffix); }

// The shared entries go with shared_.
SimWindows::~SimWindows() = default;

std::map<Hwnd, std::u16string> SimWindows::OtherWindows() {
    std::map<Hwnd, std::u16string> out;
    for (const auto& [id, title] : shared_->Others()) {
        out[static_cast<Hwnd>(id)] = platform::Utf8ToUtf16(title);
    }
    return out;
}

Hwnd SimWindows::Add(std::u16string_view title, std::function<void(const WindowMessage&)> sink, WindowScope scope,
                     bool claim) {
    std::optional<StateLock> folderLock;
    if (shared_ && (scope == WindowScope::Machine || claim)) {
        folderLock.emplace(shared_->LockFile());
        if (!folderLock->Held()) {
            platform::SetLastError(win::ERROR_ACCESS_DENIED);
            return platform::kNullHwnd;
        }
    }
    if (claim) {
        bool taken = false;
        for (const auto& [h, w] : windows_) {
            taken = taken || w.title == title;
        }
        if (!taken && shared_) {
            for (const auto& [h, t] : OtherWindows()) {
                taken = taken || t == title;
            }
        }
        if (taken) {
            platform::SetLastError(win::ERROR_ALREADY_EXISTS);
            return platform::kNullHwnd;
        }
    }
    const bool shared = shared_ && scope == WindowScope::Machine;
    // A shared window's handle is unique on the PC; a process's own windows count on their own.
    const Hwnd h = shared ? static_cast<Hwnd>(SharedEntries::NewId()) : next_;
    if (!shared) {
        next_ += 2;
    }
    Window w{std::u16string(title), std::move(sink), {}, scope};
    if (shared && !shared_->Add(h, platform::Utf16ToUtf8(w.title))) {
        platform::SetLastError(win::ERROR_ACCESS_DENIED);
        return platform::kNullHwnd;
    }
    windows_[h] = std::move(w);
    return h;
}

Hwnd SimWindows::RegisterWindow(std::u16string_view title, std::function<void(const WindowMessage&)> sink,
                                WindowScope scope) {
    std::lock_guard lock(mutex_);
    return Add(title, std::move(sink), scope, false);
}

Hwnd SimWindows::ClaimWindow(std::u16string_view title, std::function<void(const WindowMessage&)> sink) {
    std::lock_guard lock(mutex_);
    return Add(title, std::move(sink), WindowScope::Machine, true);
}

void SimWindows::UnregisterWindow(Hwnd hwnd) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) {
        return;
    }
    if (shared_ && shared_->Holds(hwnd)) {
        StateLock folderLock(shared_->LockFile());
        shared_->Remove(hwnd);
    }
    windows_.erase(it);
}

bool SimWindows::SetWindowText(Hwnd hwnd, std::u16string_view title) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) {
        platform::SetLastError(win::ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    it->second.title = title;
    if (shared_ && shared_->Holds(hwnd)) {
        StateLock folderLock(shared_->LockFile());
        (void)shared_->Update(hwnd, platform::Utf16ToUtf8(it->second.title));
    }
    return true;
}

Hwnd SimWindows::FindWindow(std::u16string_view title) {
    std::lock_guard lock(mutex_);
    // The oldest window with the title, as the window manager's z-order would give it; this
    // process's own windows first.
    for (const auto& [h, w] : windows_) {
        if (w.title == title) {
            return h;
        }
    }
    if (shared_) {
        StateLock folderLock(shared_->LockFile());
        if (folderLock.Held()) {
            for (const auto& [h, t] : OtherWindows()) {
                if (t == title) {
                    return h;
                }
            }
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
            // A window of another process cannot take the message: its lParam is an address
            // in this one.
            bool elsewhere = false;
            if (shared_) {
                StateLock folderLock(shared_->LockFile());
                elsewhere = folderLock.Held() && OtherWindows().count(hwnd) != 0;
            }
            platform::SetLastError(elsewhere ? win::ERROR_ACCESS_DENIED : win::ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        // Keep the recent posts only, so a window that runs for hours does not grow.
        if (log_.size() >= 4096) {
            log_.erase(log_.begin(), log_.begin() + 2048);
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
