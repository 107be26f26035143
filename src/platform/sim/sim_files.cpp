#include "platform/sim/sim_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::FileTime;
using platform::FoldCase;
using platform::SetLastError;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

namespace {

constexpr uint32_t kErrorNotSameDevice = 17;  // ERROR_NOT_SAME_DEVICE

constexpr uint32_t FILE_READ_DATA = 0x0001;
constexpr uint32_t FILE_WRITE_DATA = 0x0002;
constexpr uint32_t FILE_APPEND_DATA = 0x0004;
constexpr uint32_t DELETE_ACCESS = 0x00010000;
constexpr uint32_t GENERIC_ALL = 0x10000000;
constexpr uint32_t ERROR_DIRECTORY = 267;

bool WantsRead(uint32_t access) {
    return (access & (win::GENERIC_READ | FILE_READ_DATA | GENERIC_ALL)) != 0;
}
bool WantsWrite(uint32_t access) {
    return (access & (win::GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_ALL)) != 0;
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

bool IsInvalidNameChar(char16_t c, bool allowWildcards) {
    if (c < 32) {
        return true;
    }
    switch (c) {
        case u'<': case u'>': case u':': case u'"': case u'|': case u'/':
            return true;
        case u'*': case u'?':
            return !allowWildcards;
        default:
            return false;
    }
}

// "*" and "?" matching, case-insensitive, with Windows' "*.*" meaning every name.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*.*" || pattern == u"*") {
        return true;
    }
    size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            mark = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

// What Windows reports for a name that does not exist: file not found when its folder is
// there, path not found when the folder is missing too.
uint32_t MissingError(const fs::path& host) {
    struct stat parent {};
    const bool parentIsDir = ::stat(host.parent_path().c_str(), &parent) == 0 && S_ISDIR(parent.st_mode);
    return parentIsDir ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
}

// A host entry that is neither a plain file, a folder nor a link (a device node, a FIFO, a
// socket): it can only be read or written, never replaced, moved or deleted.
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
        if (growth > 0) {
            // Give back what a failed or short write did not use.
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

SimFiles::SimFiles(fs::path volumesRoot, std::u16string currentDirectory)
    : volumesRoot_(std::move(volumesRoot)), currentDirectory_(std::move(currentDirectory)) {}

SimFiles::~SimFiles() = default;

bool SimFiles::AddDrive(char16_t letter) {
    if (letter >= u'a' && letter <= u'z') {
        letter = static_cast<char16_t>(letter - 32);
    }
    if (letter < u'A' || letter > u'Z') {
        return false;
    }
    std::error_code ec;
    fs::create_directories(volumesRoot_ / std::string(1, static_cast<char>(letter)), ec);
    if (ec) {
        return false;
    }
    std::lock_guard lock(mutex_);
    drives_.insert(letter);
    return true;
}

bool SimFiles::AddMappedDrive(char16_t letter, const fs::path& hostRoot) {
    if (letter >= u'a' && letter <= u'z') {
        letter = static_cast<char16_t>(letter - 32);
    }
    std::error_code ec;
    const fs::path root = fs::canonical(hostRoot, ec);
    if (letter < u'A' || letter > u'Z' || ec || !fs::is_directory(root, ec)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (!drives_.insert(letter).second) {
        return false;
    }
    mappedRoots_[letter] = root;
    return true;
}

char16_t SimFiles::FreeDriveLetter() {
    std::lock_guard lock(mutex_);
    for (char16_t letter = u'Z'; letter >= u'D'; --letter) {
        if (drives_.count(letter) == 0) {
            return letter;
        }
    }
    return 0;
}

VolumeSpace* SimFiles::SpaceFor(char16_t letter) {
    std::lock_guard lock(mutex_);
    return mappedRoots_.count(letter) != 0 ? nullptr : space_;
}

void SimFiles::AddOverlay(const std::u16string& windowsPath, Overlay overlay) {
    std::lock_guard lock(mutex_);
    overlays_[FoldCase(windowsPath)] = OverlayEntry{windowsPath, std::move(overlay)};
}

std::optional<std::u16string> SimFiles::Normalize(std::u16string_view input, uint32_t* error,
                                                  bool wildcardLast) {
    std::u16string path(input);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (path.rfind(u"\\\\?\\", 0) == 0) {
        path.erase(0, 4);
    }
    if (path.empty() || path.rfind(u"\\\\", 0) == 0) {
        // Device paths belong to Devices; network shares do not exist on this PC.
        *error = path.empty()                     ? win::ERROR_PATH_NOT_FOUND
                 : path.rfind(u"\\\\.\\", 0) == 0 ? win::ERROR_FILE_NOT_FOUND
                                                    : win::ERROR_BAD_NETPATH;
        return std::nullopt;
    }
    std::u16string cwd;
    {
        std::lock_guard lock(mutex_);
        cwd = currentDirectory_;
    }
    std::u16string full;
    if (path.size() >= 2 && path[1] == u':') {
        char16_t drive = path[0] >= u'a' && path[0] <= u'z' ? static_cast<char16_t>(path[0] - 32) : path[0];
        std::u16string rest = path.substr(2);
        if (rest.empty() || rest[0] != u'\\') {
            // "C:name" is relative to the current directory when it is on that drive.
            std::u16string base = (!cwd.empty() && cwd[0] == drive) ? cwd : std::u16string(1, drive) + u":\\";
            full = base + u"\\" + rest;
        } else {
            full = std::u16string(1, drive) + u":" + rest;
        }
    } else if (path[0] == u'\\') {
        full = cwd.substr(0, 2) + path;
    } else {
        full = cwd + u"\\" + path;
    }
    // Split, then fold "." and ".." the way Windows does (".." at the root stays there).
    std::vector<std::u16string> parts;
    size_t start = 3;
    while (start <= full.size()) {
        size_t end = full.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = full.size();
        }
        std::u16string part = full.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == u".") {
            continue;
        }
        if (part == u"..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::u16string out = full.substr(0, 2) + u"\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        for (char16_t c : parts[i]) {
            if (IsInvalidNameChar(c, wildcardLast && last)) {
                *error = win::ERROR_INVALID_NAME;
                return std::nullopt;
            }
        }
        if (parts[i].size() > 255) {
            *error = win::ERROR_INVALID_NAME;
            return std::nullopt;
        }
        if (i > 0) {
            out += u"\\";
        }
        out += parts[i];
    }
    if (out.size() >= 32767) {
        *error = win::ERROR_INVALID_NAME;
        return std::nullopt;
    }
    return out;
}

SimFiles::Resolved SimFiles::Resolve(std::u16string_view path, bool wildcardLast) {
    Resolved r;
    auto full = Normalize(path, &r.error, wildcardLast);
    if (!full) {
        return r;
    }
    r.full = *full;
    const char16_t drive = r.full[0];
    {
        std::lock_guard lock(mutex_);
        if (drive < u'A' || drive > u'Z' || drives_.count(drive) == 0) {
            r.error = win::ERROR_PATH_NOT_FOUND;
            return r;
        }
        auto it = overlays_.find(FoldCase(r.full));
        if (it != overlays_.end()) {
            r.overlay = &it->second.overlay;
            r.host = it->second.overlay.host;
            return r;
        }
    }
    r.isRoot = r.full.size() == 3;
    fs::path host = volumesRoot_ / std::string(1, static_cast<char>(drive));
    {
        std::lock_guard lock(mutex_);
        if (auto mapped = mappedRoots_.find(drive); mapped != mappedRoots_.end()) {
            host = mapped->second;
        }
    }
    size_t start = 3;
    while (start < r.full.size()) {
        size_t end = r.full.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = r.full.size();
        }
        std::u16string part = r.full.substr(start, end - start);
        start = end + 1;
        const std::string name = Utf16ToUtf8(part);
        fs::path candidate = host / name;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) != 0) {
            // NTFS names ignore case: look for an entry that differs only in case.
            if (DIR* dir = ::opendir(host.c_str())) {
                const std::u16string folded = FoldCase(part);
                while (dirent* e = ::readdir(dir)) {
                    if (FoldCase(Utf8ToUtf16(e->d_name)) == folded) {
                        candidate = host / e->d_name;
                        break;
                    }
                }
                ::closedir(dir);
            }
        }
        host = candidate;
    }
    r.host = host;
    return r;
}

std::optional<SimFiles::Resolved> SimFiles::ResolveOrFail(std::u16string_view path, bool wildcardLast) {
    Resolved r = Resolve(path, wildcardLast);
    if (r.error != 0) {
        SetLastError(r.error);
        return std::nullopt;
    }
    return r;
}

std::optional<fs::path> SimFiles::HostPath(std::u16string_view windowsPath) {
    Resolved r = Resolve(windowsPath);
    if (r.error != 0) {
        return std::nullopt;
    }
    return r.host;
}

std::optional<std::u16string> SimFiles::FullPath(std::u16string_view path) {
    uint32_t error = 0;
    auto full = Normalize(path, &error, false);
    if (!full) {
        SetLastError(error);
    }
    return full;
}

bool SimFiles::AcquireShare(const std::string& hostKey, uint32_t access, uint32_t share, uint64_t* id) {
    std::lock_guard lock(mutex_);
    auto& list = shares_[hostKey];
    for (const OpenShare& o : list) {
        const bool conflict = (WantsRead(access) && !(o.share & win::FILE_SHARE_READ)) ||
                              (WantsWrite(access) && !(o.share & win::FILE_SHARE_WRITE)) ||
                              ((access & DELETE_ACCESS) && !(o.share & win::FILE_SHARE_DELETE)) ||
                              (WantsRead(o.access) && !(share & win::FILE_SHARE_READ)) ||
                              (WantsWrite(o.access) && !(share & win::FILE_SHARE_WRITE)) ||
                              ((o.access & DELETE_ACCESS) && !(share & win::FILE_SHARE_DELETE));
        if (conflict) {
            if (list.empty()) {
                shares_.erase(hostKey);
            }
            return false;
        }
    }
    *id = nextOpenId_++;
    list.push_back(OpenShare{*id, access, share});
    return true;
}

void SimFiles::ReleaseShare(uint64_t openId, const std::string& hostKey) {
    std::lock_guard lock(mutex_);
    auto it = shares_.find(hostKey);
    if (it == shares_.end()) {
        return;
    }
    auto& list = it->second;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const OpenShare& o) { return o.id == openId; }),
               list.end());
    if (list.empty()) {
        shares_.erase(it);
    }
}

bool SimFiles::IsOpenWithoutDeleteSharing(const std::string& hostKey) {
    std::lock_guard lock(mutex_);
    auto it = shares_.find(hostKey);
    if (it == shares_.end()) {
        return false;
    }
    return std::any_of(it->second.begin(), it->second.end(),
                       [](const OpenShare& o) { return (o.share & win::FILE_SHARE_DELETE) == 0; });
}

std::unique_ptr<platform::File> SimFiles::Open(std::u16string_view path, uint32_t access,
                                               uint32_t share, uint32_t disposition, bool text,
                                               bool append) {
    auto resolved = ResolveOrFail(path);
    if (!resolved) {
        return nullptr;
    }
    Resolved& r = *resolved;
    const bool read = WantsRead(access);
    const bool write = WantsWrite(access);
    if (disposition < win::CREATE_NEW || disposition > win::TRUNCATE_EXISTING ||
        (disposition == win::TRUNCATE_EXISTING && !write)) {
        SetLastError(win::ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (r.overlay != nullptr) {
        // The running program's own file: readable, never writable.
        if (write || disposition == win::CREATE_NEW || disposition == win::CREATE_ALWAYS ||
            disposition == win::TRUNCATE_EXISTING) {
            SetLastError(win::ERROR_SHARING_VIOLATION);
            return nullptr;
        }
    }
    struct stat st {};
    const bool exists = ::stat(r.host.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!exists) {
        struct stat parent {};
        if (r.isRoot || ::stat(r.host.parent_path().c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode)) {
            SetLastError(win::ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        if (disposition == win::OPEN_EXISTING || disposition == win::TRUNCATE_EXISTING) {
            SetLastError(win::ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
    } else {
        if (disposition == win::CREATE_NEW) {
            SetLastError(win::ERROR_FILE_EXISTS);
            return nullptr;
        }
        const bool readOnly = (st.st_mode & S_IWUSR) == 0;
        if (readOnly && (write || disposition == win::CREATE_ALWAYS || disposition == win::TRUNCATE_EXISTING)) {
            SetLastError(win::ERROR_ACCESS_DENIED);
            return nullptr;
        }
    }
    const std::string hostKey = r.host.string();
    uint64_t openId = 0;
    if (!AcquireShare(hostKey, access, share, &openId)) {
        SetLastError(win::ERROR_SHARING_VIOLATION);
        return nullptr;
    }
    int flags = O_CLOEXEC;
    flags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    if (disposition != win::OPEN_EXISTING && disposition != win::TRUNCATE_EXISTING) {
        flags |= O_CREAT;
    }
    if (disposition == win::CREATE_ALWAYS || disposition == win::TRUNCATE_EXISTING) {
        flags |= O_TRUNC;
    }
    if (disposition == win::CREATE_NEW) {
        flags |= O_EXCL;  // a file another process created meanwhile is never taken over
    }
    if (append) {
        flags |= O_APPEND;
    }
    int fd = ::open(r.host.c_str(), flags, 0644);
    if (fd < 0) {
        uint32_t err = ErrorFromErrno(errno);
        ReleaseShare(openId, hostKey);
        SetLastError(err);
        return nullptr;
    }
    if (VolumeSpace* space = SpaceFor(r.full[0]);
        exists && (flags & O_TRUNC) != 0 && space != nullptr && r.overlay == nullptr) {
        space->Release(r.full[0], static_cast<uint64_t>(st.st_size));
    }
    // CREATE_ALWAYS and OPEN_ALWAYS report an existing file through the last error.
    SetLastError(exists && (disposition == win::CREATE_ALWAYS || disposition == win::OPEN_ALWAYS)
                     ? win::ERROR_ALREADY_EXISTS
                     : win::ERROR_SUCCESS);
    std::optional<int64_t> pinned = r.overlay != nullptr ? r.overlay->pinnedLastWriteUnixMs : std::nullopt;
    return std::make_unique<SimFile>(this, hostKey, openId, fd, read, write, text, append, pinned, r.full[0]);
}

std::unique_ptr<platform::File> SimFiles::CreateFile(std::u16string_view path, uint32_t access,
                                                     uint32_t shareMode, uint32_t disposition,
                                                     uint32_t /*flagsAndAttributes*/) {
    return Open(path, access, shareMode, disposition, false, false);
}

std::unique_ptr<platform::File> SimFiles::OpenStream(std::u16string_view path, std::string_view mode) {
    if (mode.empty() || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) {
        SetLastError(win::ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool plus = mode.find('+') != std::string_view::npos;
    const bool text = mode.find('b') == std::string_view::npos;
    uint32_t access = 0;
    uint32_t disposition = 0;
    switch (mode[0]) {
        case 'r':
            access = win::GENERIC_READ | (plus ? win::GENERIC_WRITE : 0);
            disposition = win::OPEN_EXISTING;
            break;
        case 'w':
            access = win::GENERIC_WRITE | (plus ? win::GENERIC_READ : 0);
            disposition = win::CREATE_ALWAYS;
            break;
        default:
            access = win::GENERIC_WRITE | (plus ? win::GENERIC_READ : 0);
            disposition = win::OPEN_ALWAYS;
            break;
    }
    // The C runtime opens streams shared for reading and writing.
    return Open(path, access, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, disposition, text,
                mode[0] == 'a');
}

std::u16string SimFiles::GetCurrentDirectory() {
    std::lock_guard lock(mutex_);
    return currentDirectory_;
}

bool SimFiles::SetCurrentDirectory(std::u16string_view path) {
    auto resolved = ResolveOrFail(path);
    if (!resolved) {
        return false;
    }
    Resolved& r = *resolved;
    struct stat st {};
    if (::stat(r.host.c_str(), &st) != 0) {
        SetLastError(win::ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    std::lock_guard lock(mutex_);
    currentDirectory_ = r.full;
    return true;
}

uint32_t SimFiles::GetFileAttributes(std::u16string_view path) {
    auto resolved = ResolveOrFail(path);
    if (!resolved) {
        return win::INVALID_FILE_ATTRIBUTES;
    }
    Resolved& r = *resolved;
    struct stat st {};
    if (::lstat(r.host.c_str(), &st) != 0) {
        SetLastError(MissingError(r.host));
        return win::INVALID_FILE_ATTRIBUTES;
    }
    // A symbolic link is a reparse point with the attributes of what it points to (a dangling
    // one: a file).
    const bool link = S_ISLNK(st.st_mode);
    uint32_t a = link && ::stat(r.host.c_str(), &st) != 0 ? win::FILE_ATTRIBUTE_ARCHIVE : AttributesOf(st);
    if (link) {
        a |= win::FILE_ATTRIBUTE_REPARSE_POINT;
    }
    if (r.overlay != nullptr) {
        a &= ~win::FILE_ATTRIBUTE_READONLY;
    }
    return a;
}

bool SimFiles::SetFileAttributes(std::u16string_view path, uint32_t attributes) {
    auto resolved = ResolveOrFail(path);
    if (!resolved) {
        return false;
    }
    Resolved& r = *resolved;
    struct stat st {};
    if (::stat(r.host.c_str(), &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    if (r.overlay != nullptr) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return false;
    }
    // Only the read-only bit has a host counterpart (the owner's write permission); the
    // other bits are accepted as Windows accepts them.
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & win::FILE_ATTRIBUTE_READONLY) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
    if (::chmod(r.host.c_str(), mode) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool SimFiles::CreateDirectory(std::u16string_view path) {
    auto resolved = ResolveOrFail(path);
    if (!resolved) {
        return false;
    }
    Resolved& r = *resolved;
    if (r.overlay != nullptr || r.isRoot) {
        SetLastError(win::ERROR_ALREADY_EXISTS);
        return false;
    }
    if (::mkdir(r.host.c_str(), 0755) != 0) {
        SetLastError(errno == EEXIST ? win::ERROR_ALREADY_EXISTS
                     : errno == ENOENT ? win::ERROR_PATH_NOT_FOUND
                                       : ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool SimFiles::RemoveDirectory(std::u16string_view path) {
    auto resolved = ResolveOrFail(path);
    if (!resolved) {
        return false;
    }
    Resolved& r = *resolved;
    struct stat st {};
    if (r.overlay != nullptr || ::stat(r.host.c_str(), &st) != 0) {
        SetLastError(r.overlay != nullptr ? ERROR_DIRECTORY : win::ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    if (r.isRoot || (st.st_mode & S_IWUSR) == 0) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return false;
    }
    if (::rmdir(r.host.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool SimFiles::DeleteFile(std::u16string_view path) {
    auto resolved = ResolveOrFail(path);
    if (!resolved) {
        return false;
    }
    Resolved& r = *resolved;
    if (r.overlay != nullptr) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return false;
    }
    struct stat st {};
    if (::lstat(r.host.c_str(), &st) != 0) {
        SetLastError(MissingError(r.host));
        return false;
    }
    if (S_ISDIR(st.st_mode) || IsHostSpecial(st) || (st.st_mode & S_IWUSR) == 0) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return false;
    }
    if (IsOpenWithoutDeleteSharing(r.host.string())) {
        SetLastError(win::ERROR_SHARING_VIOLATION);
        return false;
    }
    if (::unlink(r.host.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    if (VolumeSpace* space = SpaceFor(r.full[0]); space != nullptr) {
        space->Release(r.full[0], static_cast<uint64_t>(st.st_size));
    }
    return true;
}

bool SimFiles::MoveFileEx(std::u16string_view from, std::u16string_view to, uint32_t flags) {
    auto source = ResolveOrFail(from);
    if (!source) {
        return false;
    }
    auto target = ResolveOrFail(to);
    if (!target) {
        return false;
    }
    if (source->overlay != nullptr || target->overlay != nullptr || source->isRoot || target->isRoot) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return false;
    }
    struct stat st {};
    if (::lstat(source->host.c_str(), &st) != 0) {
        SetLastError(MissingError(source->host));
        return false;
    }
    if (IsHostSpecial(st)) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return false;
    }
    if (source->full[0] != target->full[0]) {
        SetLastError(kErrorNotSameDevice);  // a move to another volume needs a copy
        return false;
    }
    struct stat old {};
    const bool replacing = ::lstat(target->host.c_str(), &old) == 0;
    if (replacing && FoldCase(source->full) != FoldCase(target->full)) {
        if ((flags & win::MOVEFILE_REPLACE_EXISTING) == 0) {
            SetLastError(win::ERROR_ALREADY_EXISTS);
            return false;
        }
        if (S_ISDIR(old.st_mode) || IsHostSpecial(old) || (old.st_mode & S_IWUSR) == 0) {
            SetLastError(win::ERROR_ACCESS_DENIED);
            return false;
        }
        if (IsOpenWithoutDeleteSharing(target->host.string())) {
            SetLastError(win::ERROR_SHARING_VIOLATION);
            return false;
        }
    }
    if (IsOpenWithoutDeleteSharing(source->host.string())) {
        SetLastError(win::ERROR_SHARING_VIOLATION);
        return false;
    }
    if (::rename(source->host.c_str(), target->host.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    if (VolumeSpace* space = SpaceFor(target->full[0]);
        space != nullptr && replacing && FoldCase(source->full) != FoldCase(target->full)) {
        space->Release(target->full[0], static_cast<uint64_t>(old.st_size));
    }
    return true;
}

std::unique_ptr<platform::FindHandle> SimFiles::FindFirstFile(std::u16string_view pattern,
                                                              platform::FindData* first) {
    auto resolved = ResolveOrFail(pattern, true);
    if (!resolved) {
        return nullptr;
    }
    Resolved& r = *resolved;
    if (r.isRoot) {
        // "C:\\" alone names no file to find.
        SetLastError(win::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const size_t cut = r.full.find_last_of(u'\\');
    const std::u16string dirPath = r.full.substr(0, cut == 2 ? 3 : cut);
    const std::u16string namePattern = r.full.substr(cut + 1);
    Resolved dir = Resolve(dirPath);
    struct stat dst {};
    if (dir.error != 0 || ::stat(dir.host.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) {
        SetLastError(win::ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    std::vector<platform::FindData> entries;
    auto add = [&](const std::u16string& name, const struct stat& st, bool overlay,
                   const std::optional<int64_t>& pinned) {
        if (!WildcardMatch(namePattern, name)) {
            return;
        }
        platform::FindData d;
        d.fileName = name;
        d.attributes = AttributesOf(st) & (overlay ? ~win::FILE_ATTRIBUTE_READONLY : ~0u);
        d.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
        d.lastWriteTime = pinned ? platform::FileTimeFromUnixMs(*pinned) : FromTimespec(st.st_mtim);
        d.creationTime = pinned ? d.lastWriteTime : FromTimespec(st.st_ctim);
        d.lastAccessTime = pinned ? d.lastWriteTime : FromTimespec(st.st_atim);
        entries.push_back(std::move(d));
    };
    std::vector<std::pair<std::u16string, struct stat>> found;
    if (DIR* d = ::opendir(dir.host.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            struct stat st {};
            if (::stat((dir.host / name).c_str(), &st) == 0) {
                found.emplace_back(Utf8ToUtf16(name), st);
            }
        }
        ::closedir(d);
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return FoldCase(a.first) < FoldCase(b.first); });
    // Folders other than a root list "." and ".." first, as NTFS does.
    if (!dir.isRoot) {
        add(u".", dst, false, std::nullopt);
        add(u"..", dst, false, std::nullopt);
    }
    for (const auto& [name, st] : found) {
        add(name, st, false, std::nullopt);
    }
    {
        std::vector<std::pair<std::u16string, Overlay>> overlays;
        {
            std::lock_guard lock(mutex_);
            const std::u16string prefix = FoldCase(dir.full) + (dir.isRoot ? u"" : u"\\");
            for (const auto& [key, entry] : overlays_) {
                if (key.rfind(prefix, 0) == 0 && key.find(u'\\', prefix.size()) == std::u16string::npos) {
                    overlays.emplace_back(entry.fullPath.substr(prefix.size()), entry.overlay);
                }
            }
        }
        for (const auto& [name, ov] : overlays) {
            struct stat st {};
            if (::stat(ov.host.c_str(), &st) == 0) {
                add(name, st, true, ov.pinnedLastWriteUnixMs);
            }
        }
    }
    if (entries.empty()) {
        SetLastError(win::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    *first = entries.front();
    return std::make_unique<SimFindHandle>(std::move(entries));
}

}  // namespace tarvex::sim
