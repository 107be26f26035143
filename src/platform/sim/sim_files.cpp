#include "platform/sim/sim_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/last_error.h"
#include "platform/sim/sim_open_file.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::FoldCase;
using platform::SetLastError;
using platform::Utf8ToUtf16;
using namespace file_detail;

namespace {

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
    folders_.clear();
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
    folders_.clear();
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
    // What resolving the path saw is the file itself unless it is a symbolic link.
    struct stat st = r.st;
    const bool exists = (r.statKnown && !S_ISLNK(st.st_mode)) || ::stat(r.host.c_str(), &st) == 0;
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
    return MakeOpenFile(this, hostKey, openId, fd, read, write, text, append, pinned, r.full[0]);
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
    // What was resolved before may name what this changed.
    ForgetFolders();
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
    struct stat own {};
    const bool link = !r.isRoot && ::lstat(r.host.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
    if (r.isRoot || (!link && (st.st_mode & S_IWUSR) == 0)) {
        SetLastError(win::ERROR_ACCESS_DENIED);
        return false;
    }
    // A symbolic link to a folder goes as a link, as a junction does on Windows: what it
    // points to stays.
    if (link ? ::unlink(r.host.c_str()) != 0 : ::rmdir(r.host.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    // What was resolved before may name what this changed.
    ForgetFolders();
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
    // A link to a folder is a folder to DeleteFileW: RemoveDirectoryW removes it.
    struct stat target {};
    const bool linkToFolder = S_ISLNK(st.st_mode) && ::stat(r.host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    if (S_ISDIR(st.st_mode) || linkToFolder || IsHostSpecial(st) || (st.st_mode & S_IWUSR) == 0) {
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
    // What was resolved before may name what this changed.
    ForgetFolders();
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
    // What was resolved before may name what this changed.
    ForgetFolders();
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
    struct Found {
        std::u16string name;
        struct stat st;
        bool link;
    };
    std::vector<Found> found;
    if (DIR* d = ::opendir(dir.host.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const fs::path entry = dir.host / name;
            struct stat st {};
            struct stat own {};
            if (::stat(entry.c_str(), &st) == 0) {
                const bool link = ::lstat(entry.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
                found.push_back(Found{Utf8ToUtf16(name), st, link});
            }
        }
        ::closedir(d);
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return FoldCase(a.name) < FoldCase(b.name); });
    // Folders other than a root list "." and ".." first, as NTFS does.
    if (!dir.isRoot) {
        add(u".", dst, false, std::nullopt);
        add(u"..", dst, false, std::nullopt);
    }
    for (const Found& f : found) {
        add(f.name, f.st, false, std::nullopt);
        // A symbolic link is listed with what it points to, marked as a reparse point.
        if (f.link && !entries.empty() && entries.back().fileName == f.name) {
            entries.back().attributes |= win::FILE_ATTRIBUTE_REPARSE_POINT;
        }
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
    return MakeFindHandle(std::move(entries));
}

}  // namespace tarvex::sim
