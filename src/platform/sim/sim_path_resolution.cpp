// Path resolution of the emulated PC's files: the absolute Windows form of a path, and the
// host path it lands on, with NTFS's case-insensitive names.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/last_error.h"
#include "platform/sim/sim_files.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::FoldCase;
using platform::SetLastError;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

namespace {

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

// The entry `name` of the host folder `folder`: the exact name, else one that differs only in
// case, else the exact name that does not exist. `isFolder` tells whether it is a folder;
// `folderMissing` whether `folder` itself is gone. When the exact name exists, `finalStat`
// (optional) receives its lstat and `statKnown` is set.
fs::path StepInto(const fs::path& folder, std::u16string_view name, bool* isFolder, bool* folderMissing,
                  struct stat* finalStat = nullptr, bool* statKnown = nullptr) {
    const std::string exact = Utf16ToUtf8(name);
    fs::path candidate = folder / exact;
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) == 0) {
        *isFolder = S_ISDIR(st.st_mode);
        if (finalStat != nullptr) {
            *finalStat = st;
            *statKnown = true;
        }
        return candidate;
    }
    *isFolder = false;
    // NTFS names ignore case: look for an entry that differs only in case.
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        *folderMissing = errno == ENOENT || errno == ENOTDIR;
        return candidate;
    }
    const std::u16string folded = FoldCase(name);
    while (dirent* e = ::readdir(dir)) {
        if (FoldCase(Utf8ToUtf16(e->d_name)) == folded) {
            candidate = folder / e->d_name;
            *isFolder = e->d_type == DT_DIR ||
                        (e->d_type == DT_UNKNOWN && ::lstat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
            break;
        }
    }
    ::closedir(dir);
    return candidate;
}

}  // namespace

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
    fs::path root = volumesRoot_ / std::string(1, static_cast<char>(drive));
    const size_t cut = r.full.find_last_of(u'\\');
    std::optional<fs::path> folder;
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
        if (auto mapped = mappedRoots_.find(drive); mapped != mappedRoots_.end()) {
            root = mapped->second;
        }
        if (cut > 2) {
            if (auto known = folders_.find(r.full.substr(0, cut)); known != folders_.end()) {
                folder = known->second;
            }
        }
    }
    r.isRoot = r.full.size() == 3;
    if (r.isRoot) {
        r.host = root;
        return r;
    }
    if (folder) {
        // Only the last name is looked up. When the folder is gone (another program on this
        // PC removed or renamed it), the whole path is resolved afresh.
        bool isFolder = false;
        bool folderMissing = false;
        r.host = StepInto(*folder, std::u16string_view(r.full).substr(cut + 1), &isFolder, &folderMissing, &r.st,
                          &r.statKnown);
        if (!folderMissing) {
            return r;
        }
        ForgetFolders();
    }
    fs::path host = root;
    size_t start = 3;
    while (start < r.full.size()) {
        size_t end = r.full.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = r.full.size();
        }
        const bool last = end == r.full.size();
        bool isFolder = false;
        bool folderMissing = false;
        host = StepInto(host, std::u16string_view(r.full).substr(start, end - start), &isFolder, &folderMissing,
                        last ? &r.st : nullptr, last ? &r.statKnown : nullptr);
        start = end + 1;
        if (folderMissing) {
            // Nothing below a missing folder exists: the rest is only spelled out.
            for (; start < r.full.size(); start = end + 1) {
                end = std::min(r.full.find(u'\\', start), r.full.size());
                host /= Utf16ToUtf8(std::u16string_view(r.full).substr(start, end - start));
            }
            break;
        }
        if (!last && isFolder) {
            RememberFolder(r.full.substr(0, end), host);
        }
    }
    r.host = host;
    return r;
}

void SimFiles::RememberFolder(std::u16string windowsPath, const fs::path& host) {
    std::lock_guard lock(mutex_);
    if (folders_.size() >= kMaxRememberedFolders) {
        folders_.clear();
    }
    folders_[std::move(windowsPath)] = host;
}

void SimFiles::ForgetFolders() {
    std::lock_guard lock(mutex_);
    folders_.clear();
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

}  // namespace tarvex::sim
