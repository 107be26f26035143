#include "platform/sim/state_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace tarvex::sim {

namespace fs = std::filesystem;

namespace {

// "<value>" or "<value>:<file name>" from an environment variable: the value when the variable
// applies to `file`.
std::string EnvFor(const char* name, const fs::path& file) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') {
        return {};
    }
    std::string_view text(v);
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        if (text.substr(colon + 1) != file.filename().string()) {
            return {};
        }
        text = text.substr(0, colon);
    }
    return std::string(text);
}

// The injected write error for `file`, 0 for none.
int InjectedWriteError(const fs::path& file) {
    const std::string e = EnvFor("TARVEX_FAIL_WRITE", file);
    if (e == "ENOSPC") {
        return ENOSPC;
    }
    if (e == "EIO") {
        return EIO;
    }
    if (e == "EACCES") {
        return EACCES;
    }
    return 0;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::atomic<uint64_t> tempCounter{0};

}  // namespace

std::string ErrnoText(int error) {
    if (error == ENOSPC || error == EDQUOT) {
        return "the disk is full";
    }
    return std::strerror(error);
}

StateLock::StateLock(const fs::path& lockFile) {
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = "cannot open the lock file " + lockFile.string() + ": " + ErrnoText(errno);
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error_ = "cannot lock " + lockFile.string() + ": " + ErrnoText(errno);
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

StateLock::~StateLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing the only descriptor releases the lock
    }
}

FileStamp StampOf(const fs::path& file) {
    struct stat st {};
    FileStamp s;
    if (::stat(file.c_str(), &st) != 0) {
        return s;
    }
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.size = st.st_size;
    return s;
}

ReadResult ReadStateFile(const fs::path& file, std::string* text, std::string* error, size_t maxBytes) {
    text->clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return ReadResult::Missing;
        }
        *error = ErrnoText(errno);
        return ReadResult::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool dir = S_ISDIR(st.st_mode);
        ::close(fd);
        *error = dir ? "it is a directory" : "it is not a regular file";
        return ReadResult::Unreadable;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        *error = "larger than " + std::to_string(maxBytes) + " bytes";
        return ReadResult::Unreadable;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = ErrnoText(errno);
            ::close(fd);
            return ReadResult::Unreadable;
        }
        if (n == 0) {
            break;
        }
        if (text->size() + static_cast<size_t>(n) > maxBytes) {
            *error = "larger than " + std::to_string(maxBytes) + " bytes";
            ::close(fd);
            return ReadResult::Unreadable;
        }
        text->append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

void KillPoint(std::string_view step, const fs::path& file) {
    if (EnvFor("TARVEX_KILL_POINT", file) == step) {
        ::kill(::getpid(), SIGKILL);
        ::_exit(137);  // not reached
    }
}

bool ReplaceFile(const fs::path& file, std::string_view content, std::string* error, int* errnoOut) {
    int dummy = 0;
    int& err = errnoOut != nullptr ? *errnoOut : dummy;
    err = 0;
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    // Unique per process and per save: two writers never share a temporary file, and a
    // user's file of a similar name is never taken (O_EXCL).
    const fs::path temp = file.parent_path() /
                          ("." + file.filename().string() + "." + std::to_string(::getpid()) + "." +
                           std::to_string(tempCounter.fetch_add(1)) + ".tmp");
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        err = errno;
        *error = "cannot write " + file.string() + ": " + ErrnoText(err);
        return false;
    }
    KillPoint("temp-created", file);
    const int injected = InjectedWriteError(file);
    bool ok = injected == 0 && WriteAll(fd, content);
    if (!ok) {
        err = injected != 0 ? injected : errno;
    } else {
        KillPoint("temp-written", file);  // content written, file still open
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        *error = "cannot write " + file.string() + ": " + ErrnoText(err);
        return false;
    }
    KillPoint("before-rename", file);
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        err = errno;
        ::unlink(temp.c_str());
        *error = "cannot replace " + file.string() + ": " + ErrnoText(err);
        return false;
    }
    KillPoint("after-rename", file);
    return true;
}

}  // namespace tarvex::sim
