#include "platform/sim/sim_open_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/sim/sim_files.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::FileTime;
using platform::SetLastError;

namespace file_detail {

bool WantsRead(uint32_t access) {
    return (access & (win::GENERIC_READ | FILE_READ_DATA | win::GENERIC_ALL)) != 0;
}
bool WantsWrite(uint32_t access) {
    return (access & (win::GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA | win::GENERIC_ALL)) != 0;
}

uint32_t ErrorFromErrno(int e) {
    switch (e) {
        case ENOENT: return win::ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return win::ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR: return win::ERROR_ACCESS_DENIED;
        case EEXIST: return win::ERROR_FILE_EXISTS;
        case ENOTEMPTY: return win::ERROR_DIR_NOT_EMPTY;
        case ENOSPC: return win::ERROR_DISK_FULL;
        case ENAMETOOLONG: return win::ERROR_INVALID_NAME;
        case EBUSY: return win::ERROR_SHARING_VIOLATION;
        default: return win::ERROR_GEN_FAILURE;
    }
}

FileTime FromTimespec(const timespec& ts) {
    return platform::FileTimeFromUnixMs(static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

uint32_t MissingError(const fs::path& host) {
    struct stat parent {};
    const bool parentIsDir = ::stat(host.parent_path().c_str(), &parent) == 0 && S_ISDIR(parent.st_mode);
    return parentIsDir ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
}

bool IsHostSpecial(const struct stat& st) {
    return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode);
}

uint32_t AttributesOf(const struct stat& st) {
    uint32_t a = S_ISDIR(st.st_mode) ? win::FILE_ATTRIBUTE_DIRECTORY : win::FILE_ATTRIBUTE_ARCHIVE;
    if (IsHostSpecial(st)) {
        a |= win::FILE_ATTRIBUTE_DEVICE;
    }
    if ((st.st_mode & S_IWUSR) == 0) {
        a |= win::FILE_ATTRIBUTE_READONLY;
    }
    return a;
}

}  // namespace file_detail

namespace {

using namespace file_detail;

// An open file: a host descriptor, with the text-mode translation and append rule of the C
// runtime when it was opened as a stream.
class SimFile : public platform::File {
public:
    SimFile(SimFiles* owner, std::string hostKey, uint64_t openId, int fd, bool canRead,
            bool canWrite, bool text, bool append, std::optional<int64_t> pinnedWriteMs, char16_t drive)
        : owner_(owner), hostKey_(std::move(hostKey)), openId_(openId), fd_(fd), canRead_(canRead),
          canWrite_(canWrite), text_(text), append_(append), pinnedWriteMs_(pinnedWriteMs), drive_(drive) {}
    ~SimFile() override {
        ::close(fd_);
        owner_->ReleaseShare(openId_, hostKey_);
    }

    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
        if (bytesRead != nullptr) {
            *bytesRead = 0;
        }
        if (!canRead_) {
            SetLastError(win::ERROR_ACCESS_DENIED);
            return false;
        }
        auto* out = static_cast<uint8_t*>(buffer);
        uint32_t done = 0;
        while (done < size) {
            ssize_t n = ::read(fd_, out + done, size - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                SetLastError(ErrorFromErrno(errno));
                return false;
            }
            if (n == 0) {
                break;
            }
            uint32_t got = static_cast<uint32_t>(n);
            if (text_) {
                got = DropCarriageReturns(out + done, got);
            }
            done += got;
        }
        if (bytesRead != nullptr) {
            *bytesRead = done;
        }
        return true;
    }

    bool Write(const void* data, uint32_t size, uint32_t* bytesWritten) override {
        if (bytesWritten != nullptr) {
            *bytesWritten = 0;
        }
        if (!canWrite_) {
            SetLastError(win::ERROR_ACCESS_DENIED);
            return false;
        }
        const auto* in = static_cast<const uint8_t*>(data);
        std::vector<uint8_t> translated;
        if (text_) {
            translated.reserve(size + size / 16);
            for (uint32_t i = 0; i < size; ++i) {
                if (in[i] == '\n') {
                    translated.push_back('\r');
                }
                translated.push_back(in[i]);
            }
        }
        const uint8_t* p = text_ ? translated.data() : in;
        size_t left = text_ ? translated.size() : size;
        // The bytes that grow the file come out of the volume's free space first; a write
        // that does not fit writes nothing.
        VolumeSpace* space = owner_->SpaceFor(drive_);
        uint64_t oldSize = 0;
        uint64_t growth = 0;
        if (space != nullptr && left > 0) {
            struct stat st {};
            if (::fstat(fd_, &st) != 0) {
                SetLastError(ErrorFromErrno(errno));
                return false;
            }
            oldSize = static_cast<uint64_t>(st.st_size);
            const off_t at = append_ ? st.st_size : ::lseek(fd_, 0, SEEK_CUR);
            const uint64_t end = static_cast<uint64_t>(at < 0 ? 0 : at) + left;
            growth = end > oldSize ? end - oldSize : 0;
            if (growth > 0 && !space->Consume(drive_, growth)) {
                SetLastError(win::ERROR_DISK_FULL);
                return false;
            }
        }
        const bool ok = WriteAll(p, left);
        if (growth > 0 && !ok) {
            // Give back what a failed write did not use (a complete one used all of it).
            struct stat st {};
            const uint64_t newSize = ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : oldSize;
            const uint64_t used = newSize > oldSize ? newSize - oldSize : 0;
            if (used < growth) {
                space->Release(drive_, growth - used);
            }
        }
        if (!ok) {
            return false;
        }
        if (bytesWritten != nullptr) {
            *bytesWritten = size;
        }
        return true;
    }

    bool WriteAll(const uint8_t* p, size_t left) {
        while (left > 0) {
            ssize_t n = ::write(fd_, p, left);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                SetLastError(ErrorFromErrno(errno));
                return false;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        return true;
    }

    bool Seek(int64_t distance, int origin, uint64_t* newPosition) override {
        static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
        if (origin < 0 || origin > 2) {
            SetLastError(win::ERROR_INVALID_PARAMETER);
            return false;
        }
        off_t pos = ::lseek(fd_, distance, kWhence[origin]);
        if (pos < 0) {
            SetLastError(win::ERROR_INVALID_PARAMETER);  // a negative position, as on Windows
            return false;
        }
        if (newPosition != nullptr) {
            *newPosition = static_cast<uint64_t>(pos);
        }
        return true;
    }

    bool GetSize(uint64_t* size) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            SetLastError(ErrorFromErrno(errno));
            return false;
        }
        *size = static_cast<uint64_t>(st.st_size);
        return true;
    }

    bool GetFileTime(FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            SetLastError(ErrorFromErrno(errno));
            return false;
        }
        FileTime write = pinnedWriteMs_ ? platform::FileTimeFromUnixMs(*pinnedWriteMs_)
                                        : FromTimespec(st.st_mtim);
        if (creation != nullptr) {
            *creation = pinnedWriteMs_ ? write : FromTimespec(st.st_ctim);
        }
        if (lastAccess != nullptr) {
            *lastAccess = pinnedWriteMs_ ? write : FromTimespec(st.st_atim);
        }
        if (lastWrite != nullptr) {
            *lastWrite = write;
        }
        return true;
    }

    bool Flush() override { return true; }  // writes go straight to the host file

private:
    // CR LF -> LF in place; a CR at the very end waits for the next byte to decide.
    uint32_t DropCarriageReturns(uint8_t* p, uint32_t n) {
        uint32_t w = 0;
        for (uint32_t r = 0; r < n; ++r) {
            if (p[r] == '\r') {
                if (r + 1 < n) {
                    if (p[r + 1] == '\n') {
                        continue;
                    }
                } else {
                    uint8_t next = 0;
                    ssize_t k = ::read(fd_, &next, 1);
                    if (k == 1) {
                        if (next == '\n') {
                            p[w++] = '\n';
                            continue;
                        }
                        ::lseek(fd_, -1, SEEK_CUR);
                    }
                }
            }
            p[w++] = p[r];
        }
        return w;
    }

    SimFiles* owner_;
    std::string hostKey_;
    uint64_t openId_;
    int fd_;
    bool canRead_;
    bool canWrite_;
    bool text_;
    bool append_;
    std::optional<int64_t> pinnedWriteMs_;
    char16_t drive_;
};

class SimFindHandle : public platform::FindHandle {
public:
    explicit SimFindHandle(std::vector<platform::FindData> entries) : entries_(std::move(entries)) {}
    bool FindNext(platform::FindData* data) override {
        if (next_ >= entries_.size()) {
            SetLastError(win::ERROR_NO_MORE_FILES);
            return false;
        }
        *data = entries_[next_++];
        return true;
    }

private:
    std::vector<platform::FindData> entries_;
    size_t next_ = 1;  // entry 0 went out with FindFirstFile
};

}  // namespace

std::unique_ptr<platform::File> MakeOpenFile(SimFiles* owner, std::string hostKey, uint64_t openId, int fd,
                                             bool canRead, bool canWrite, bool text, bool append,
                                             std::optional<int64_t> pinnedWriteMs, char16_t drive) {
    return std::make_unique<SimFile>(owner, std::move(hostKey), openId, fd, canRead, canWrite, text, append,
                                     pinnedWriteMs, drive);
}

std::unique_ptr<platform::FindHandle> MakeFindHandle(std::vector<platform::FindData> entries) {
    return std::make_unique<SimFindHandle>(std::move(entries));
}

}  // namespace tarvex::sim
