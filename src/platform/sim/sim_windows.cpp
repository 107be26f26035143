#include "platform/sim/sim_windows.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
constexpr size_t kMaxTitleBytes = 4096;

// A handle of a shared window: the process id above, a number of that process below, so two
// processes never hand out the same handle.
Hwnd SharedHandle(uint64_t local) { return static_cast<Hwnd>(static_cast<uint64_t>(::getpid()) << 32 | local); }

std::optional<Hwnd> HandleOfEntry(const std::string& name) {
    const std::string suffix = kEntrySuffix;
    if (name.size() != 16 + suffix.size() || !name.ends_with(suffix)) {
        return std::nullopt;
    }
    Hwnd h = 0;
    for (size_t i = 0; i < 16; ++i) {
        const char c = name[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) {
            return std::nullopt;
        }
        h = h << 4 | static_cast<Hwnd>(d);
    }
    return h;
}

bool WriteTitle(int fd, const std::u16string& title) {
    const std::string text = platform::Utf16ToUtf8(title);
    if (::ftruncate(fd, 0) != 0) {
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

SimWindows::SimWindows(fs::path sharedDir) : sharedDir_(std::move(sharedDir)) {
    std::error_code ec;
    fs::create_directories(*sharedDir_, ec);
}

SimWindows::~SimWindows() {
    std::lock_guard lock(mutex_);
    for (auto& [h, w] : windows_) {
        if (w.entryFd >= 0) {
            ::unlink(EntryOf(h).c_str());
            ::close(w.entryFd);
        }
    }
}

fs::path SimWindows::EntryOf(Hwnd hwnd) const {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hwnd));
    return *sharedDir_ / (std::string(name) + kEntrySuffix);
}

std::map<Hwnd, std::u16string> SimWindows::OtherWindows() {
    std::map<Hwnd, std::u16string> out;
    std::error_code ec;
    for (fs::directory_iterator it(*sharedDir_, ec), end; !ec && it != end; it.increment(ec)) {
        const auto h = HandleOfEntry(it->path().filename().string());
        if (!h || windows_.count(*h) != 0) {
            continue;
        }
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // The owner holds the entry locked for as long as it lives.
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            ::unlink(it->path().c_str());  // its process has ended
            ::close(fd);
            continue;
        }
        std::string text(kMaxTitleBytes, '\0');
        const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
        ::close(fd);
        if (n >= 0) {
            text.resize(static_cast<size_t>(n));
            out[*h] = platform::Utf8ToUtf16(text);
        }
    }
    return out;
}

bool SimWindows::WriteEntry(Hwnd hwnd, Window& w) {
    if (w.entryFd >= 0) {
        return WriteTitle(w.entryFd, w.title);
    }
    // Written and locked under a temporary name, then renamed: a reader never meets an entry
    // that nobody holds yet.
    const fs::path entry = EntryOf(hwnd);
    const fs::path temp = entry.string() + ".new";
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX) != 0 || !WriteTitle(fd, w.title) || ::rename(temp.c_str(), entry.c_str()) != 0) {
        ::unlink(temp.c_str());
        ::close(fd);
        return false;
    }
    w.entryFd = fd;
    return true;
}

Hwnd SimWindows::Add(std::u16string_view title, std::function<void(const WindowMessage&)> sink, WindowScope scope,
                     bool claim) {
    std::optional<StateLock> folderLock;
    if (sharedDir_ && (scope == WindowScope::Machine || claim)) {
        folderLock.emplace(*sharedDir_ / ".lock");
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
        if (!taken && sharedDir_) {
            for (const auto& [h, t] : OtherWindows()) {
                taken = taken || t == title;
            }
        }
        if (taken) {
            platform::SetLastError(win::ERROR_ALREADY_EXISTS);
            return platform::kNullHwnd;
        }
    }
    const bool shared = sharedDir_ && scope == WindowScope::Machine;
    const Hwnd h = shared ? SharedHandle(next_) : next_;
    next_ += 2;
    Window w{std::u16string(title), std::move(sink), {}, scope, -1};
    if (shared && !WriteEntry(h, w)) {
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
    if (it->second.entryFd >= 0) {
        StateLock folderLock(*sharedDir_ / ".lock");
        ::unlink(EntryOf(hwnd).c_str());
        ::close(it->second.entryFd);
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
    if (it->second.entryFd >= 0) {
        StateLock folderLock(*sharedDir_ / ".lock");
        (void)WriteEntry(hwnd, it->second);
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
    if (sharedDir_) {
        StateLock folderLock(*sharedDir_ / ".lock");
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
            if (sharedDir_) {
                StateLock folderLock(*sharedDir_ / ".lock");
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
