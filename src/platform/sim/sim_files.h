#pragma once
// Files of the emulated PC. Windows paths map onto folders of the state directory: drive
// letter X is the folder volumes/X, and every name compares case-insensitively as on NTFS.
// Relative paths resolve against the emulated current directory. A few Windows paths are
// overlays onto host files (the running program's own file, "Tarvex.exe"); they are read-only
// and may carry a pinned last-write time. Text-mode streams translate "\n" to CR LF.
// Sharing modes are enforced between the handles of this process, as Windows does.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace tarvex::sim {

// The free space of the volumes behind the drive letters (kept by the volume inventory).
class VolumeSpace {
public:
    virtual ~VolumeSpace() = default;
    // Takes `bytes` of drive `letter`'s free space; false when there is not that much left.
    virtual bool Consume(char16_t letter, uint64_t bytes) = 0;
    // Gives `bytes` back to drive `letter`.
    virtual void Release(char16_t letter, uint64_t bytes) = 0;
};

class SimFiles : public platform::Files {
public:
    struct Overlay {
        std::filesystem::path host;
        std::optional<int64_t> pinnedLastWriteUnixMs;
    };

    // `volumesRoot` holds one folder per drive letter; `currentDirectory` is a full path.
    SimFiles(std::filesystem::path volumesRoot, std::u16string currentDirectory);
    ~SimFiles() override;

    // Makes drive `letter` exist (its folder is created).
    bool AddDrive(char16_t letter);
    // Makes drive `letter` a mapped drive onto the host folder `hostRoot` (like a network
    // drive); the command-line tool uses it for files the user names on the host. False when
    // the letter is taken or the folder does not exist.
    bool AddMappedDrive(char16_t letter, const std::filesystem::path& hostRoot);
    // The first free letter from Z: downwards, or 0.
    char16_t FreeDriveLetter();
    // Accounts the bytes of the files written to each drive against its free space; without
    // one, files cost nothing.
    void SetVolumeSpace(VolumeSpace* space) { space_ = space; }
    [[nodiscard]] VolumeSpace* Space() const { return space_; }
    // The accounting of drive `letter`: none for a mapped drive.
    VolumeSpace* SpaceFor(char16_t letter);
    // Maps the full Windows path `windowsPath` onto the host file `overlay.host`.
    void AddOverlay(const std::u16string& windowsPath, Overlay overlay);

    // The host path a Windows path lands on, or nothing when it cannot be resolved.
    std::optional<std::filesystem::path> HostPath(std::u16string_view windowsPath);
    // GetFullPathNameW: the absolute, normalised Windows form of a path.
    std::optional<std::u16string> FullPath(std::u16string_view path);

    std::unique_ptr<platform::File> CreateFile(std::u16string_view path, uint32_t access,
                                               uint32_t shareMode, uint32_t disposition,
                                               uint32_t flagsAndAttributes) override;
    std::unique_ptr<platform::File> OpenStream(std::u16string_view path,
                                               std::string_view mode) override;
    std::u16string GetCurrentDirectory() override;
    bool SetCurrentDirectory(std::u16string_view path) override;
    uint32_t GetFileAttributes(std::u16string_view path) override;
    bool SetFileAttributes(std::u16string_view path, uint32_t attributes) override;
    bool CreateDirectory(std::u16string_view path) override;
    bool RemoveDirectory(std::u16string_view path) override;
    bool DeleteFile(std::u16string_view path) override;
    bool MoveFileEx(std::u16string_view from, std::u16string_view to, uint32_t flags) override;
    std::unique_ptr<platform::FindHandle> FindFirstFile(std::u16string_view pattern,
                                                        platform::FindData* first) override;

    // Called by open files when they close.
    void ReleaseShare(uint64_t openId, const std::string& hostKey);

private:
    struct Resolved {
        uint32_t error = 0;             // ERROR_SUCCESS when resolved
        std::u16string full;            // "C:\\dir\\name"
        std::filesystem::path host;     // where it lands
        const Overlay* overlay = nullptr;
        bool isRoot = false;
        // The lstat of `host`, when resolving it found the exact name.
        bool statKnown = false;
        struct stat st {};
    };
    struct OpenShare {
        uint64_t id;
        uint32_t access;
        uint32_t share;
    };

    Resolved Resolve(std::u16string_view path, bool wildcardLast = false);
    // Resolve, setting the last error and returning nothing when the path cannot be resolved.
    std::optional<Resolved> ResolveOrFail(std::u16string_view path, bool wildcardLast = false);
    // The folders this process resolved, by their full Windows path as spelled: a path's
    // folder part is looked up once, not name by name on every call. Forgotten when this
    // process creates, removes or renames anything, and when a remembered folder is gone.
    void RememberFolder(std::u16string windowsPath, const std::filesystem::path& host);
    void ForgetFolders();
    std::optional<std::u16string> Normalize(std::u16string_view path, uint32_t* error,
                                            bool wildcardLast);
    // Checks the new open against the handles already open on `hostKey` and records it.
    bool AcquireShare(const std::string& hostKey, uint32_t access, uint32_t share, uint64_t* id);
    bool IsOpenWithoutDeleteSharing(const std::string& hostKey);
    std::unique_ptr<platform::File> Open(std::u16string_view path, uint32_t access, uint32_t share,
                                         uint32_t disposition, bool text, bool append);

    std::filesystem::path volumesRoot_;
    std::mutex mutex_;
    std::u16string currentDirectory_;
    std::set<char16_t> drives_;
    std::map<char16_t, std::filesystem::path> mappedRoots_;
    struct OverlayEntry {
        std::u16string fullPath;
        Overlay overlay;
    };
    std::map<std::u16string, OverlayEntry> overlays_;  // keyed by folded full path
    std::map<std::string, std::vector<OpenShare>> shares_;
    static constexpr size_t kMaxRememberedFolders = 4096;
    std::unordered_map<std::u16string, std::filesystem::path> folders_;
    uint64_t nextOpenId_ = 1;
    VolumeSpace* space_ = nullptr;
};

}  // namespace tarvex::sim
