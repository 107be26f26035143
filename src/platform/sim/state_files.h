#pragma once
// The files of a state directory as several processes share them: an exclusive lock between
// processes (flock on a lock file), a whole-file replace that a crash at any moment leaves
// either old or new (a unique temporary name in the same folder, then rename), a read that
// tells a missing file from one that cannot be read, and a cheap stamp that says whether a
// file changed since it was last seen.
//
// Two environment variables let tests stop or fail a save at a chosen step:
//  - TARVEX_KILL_POINT=<step>[:<file name>]  the process kills itself (SIGKILL) at <step> of
//    a save (of the named file only, when given). Steps: "temp-created", "temp-written",
//    "before-rename", "after-rename".
//  - TARVEX_FAIL_WRITE=<ENOSPC|EIO|EACCES>[:<file name>]  writing the temporary file fails
//    with that error, as on a full disk.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvex::sim {

// Holds an exclusive lock on a lock file while it lives. The lock goes with the process,
// however it ends. Each lock opens its own file description, so two objects in one process
// exclude each other too (callers serialise their threads first).
class StateLock {
public:
    explicit StateLock(const std::filesystem::path& lockFile);
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    [[nodiscard]] bool Held() const { return fd_ >= 0; }
    // Why the lock could not be taken.
    [[nodiscard]] const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

// Identity of a file's current content as the file system sees it: a replaced file has a new
// inode, a changed one a new modification time or size. Missing files compare equal.
struct FileStamp {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t mtimeNs = 0;
    int64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::filesystem::path& file);

enum class ReadResult { Ok, Missing, Unreadable };
// Reads a whole state file of at most `maxBytes`. Unreadable (with `error` the reason:
// "Permission denied", "it is a directory", too large) is not the same as damaged content.
ReadResult ReadStateFile(const std::filesystem::path& file, std::string* text, std::string* error,
                         size_t maxBytes = 16u << 20);

// Replaces `file` by `content`: written to a unique temporary file beside it, then renamed
// over it. On failure the temporary file is removed, `file` is untouched, and `error` says
// what went wrong ("... the disk is full" for ENOSPC); `errnoOut` receives the errno.
bool ReplaceFile(const std::filesystem::path& file, std::string_view content, std::string* error,
                 int* errnoOut = nullptr);

// Test hook: ends the process at once when TARVEX_KILL_POINT names `step` (and `file`).
void KillPoint(std::string_view step, const std::filesystem::path& file);

// The text of an errno for messages: "the disk is full" for ENOSPC, strerror otherwise.
std::string ErrnoText(int error);

}  // namespace tarvex::sim
