#include "platform/sim/shared_entries.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>

namespace tarvex::sim {

namespace fs = std::filesystem;

namespace {

std::optional<uint64_t> IdOfEntry(const std::string& name, const std::string& suffix) {
    if (name.size() != 16 + suffix.size() || !name.ends_with(suffix)) {
        return std::nullopt;
    }
    uint64_t id = 0;
    for (size_t i = 0; i < 16; ++i) {
        const char c = name[i];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) {
            return std::nullopt;
        }
        id = id << 4 | static_cast<uint64_t>(d);
    }
    return id;
}

bool WriteContent(int fd, std::string_view text) {
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

SharedEntries::SharedEntries(fs::path folder, std::string suffix)
    : folder_(std::move(folder)), suffix_(std::move(suffix)) {
    std::error_code ec;
    fs::create_directories(folder_, ec);
}

SharedEntries::~SharedEntries() {
    for (const auto& [id, fd] : held_) {
        ::unlink(EntryOf(id).c_str());
        ::close(fd);
    }
}

uint64_t SharedEntries::NewId() {
    static std::atomic<uint32_t> next{0x10010};
    return static_cast<uint64_t>(::getpid()) << 32 | next.fetch_add(4);
}

fs::path SharedEntries::EntryOf(uint64_t id) const {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(id));
    return folder_ / (std::string(name) + suffix_);
}

bool SharedEntries::Add(uint64_t id, std::string_view content) {
    if (held_.count(id) != 0) {
        return false;
    }
    // Written and locked under a temporary name, then renamed: a reader never meets an entry
    // that nobody holds yet.
    const fs::path entry = EntryOf(id);
    const fs::path temp = entry.string() + ".new";
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX) != 0 || !WriteContent(fd, content) || ::rename(temp.c_str(), entry.c_str()) != 0) {
        ::unlink(temp.c_str());
        ::close(fd);
        return false;
    }
    held_[id] = fd;
    return true;
}

bool SharedEntries::Update(uint64_t id, std::string_view content) {
    auto it = held_.find(id);
    return it != held_.end() && WriteContent(it->second, content);
}

void SharedEntries::Remove(uint64_t id) {
    auto it = held_.find(id);
    if (it == held_.end()) {
        return;
    }
    ::unlink(EntryOf(id).c_str());
    ::close(it->second);
    held_.erase(it);
}

std::map<uint64_t, std::string> SharedEntries::Others() {
    std::map<uint64_t, std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const auto id = IdOfEntry(it->path().filename().string(), suffix_);
        if (!id || held_.count(*id) != 0) {
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
        std::string text(kMaxContentBytes, '\0');
        const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
        ::close(fd);
        if (n >= 0) {
            text.resize(static_cast<size_t>(n));
            out[*id] = std::move(text);
        }
    }
    return out;
}

}  // namespace tarvex::sim
