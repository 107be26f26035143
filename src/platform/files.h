#pragma once
// Files and folders by Windows path ("C:\\Tools\\Tarvex.log", ".//tmpxxxvarno.bat"), the
// current directory, and (sketched here, implemented with the volume inventory) volumes and
// version resources. Failing calls set the thread's last error (platform/last_error.h).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/filetime.h"

namespace tarvex::platform {

// An open file (CreateFileW handle or C runtime stream). Closed when destroyed.
class File {
public:
    virtual ~File() = default;
    virtual bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
    virtual bool Write(const void* data, uint32_t size, uint32_t* bytesWritten) = 0;
    // SetFilePointerEx with FILE_BEGIN (0), FILE_CURRENT (1) or FILE_END (2).
    virtual bool Seek(int64_t distance, int origin, uint64_t* newPosition) = 0;
    virtual bool GetSize(uint64_t* size) = 0;
    // GetFileTime: any of the three may be null.
    virtual bool GetFileTime(FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) = 0;
    // Writes buffered data through to the file (fflush on a stream opened with "c").
    virtual bool Flush() = 0;
};

struct FindData {
    uint32_t attributes = 0;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    uint64_t size = 0;
    std::u16string fileName;
};

// A FindFirstFileW search in progress; FindClose when destroyed.
class FindHandle {
public:
    virtual ~FindHandle() = default;
    // FindNextFileW: false with ERROR_NO_MORE_FILES after the last entry.
    virtual bool FindNext(FindData* data) = 0;
};

class Files {
public:
    virtual ~Files() = default;

    // CreateFileW on a file (device paths such as \\.\PhysicalDrive0 belong to Devices).
    // Returns null and sets the last error on failure.
    virtual std::unique_ptr<File> CreateFile(std::u16string_view path, uint32_t access,
                                             uint32_t shareMode, uint32_t disposition,
                                             uint32_t flagsAndAttributes) = 0;
    // _wfopen with a C runtime mode ("r", "w", "a", "+", "b", "t", "c"). Text mode (the
    // default) writes "\n" as CR LF and reads CR LF as "\n".
    virtual std::unique_ptr<File> OpenStream(std::u16string_view path, std::string_view mode) = 0;

    virtual std::u16string GetCurrentDirectory() = 0;
    virtual bool SetCurrentDirectory(std::u16string_view path) = 0;

    // INVALID_FILE_ATTRIBUTES with the last error (ERROR_FILE_NOT_FOUND, ...) when absent.
    virtual uint32_t GetFileAttributes(std::u16string_view path) = 0;
    virtual bool SetFileAttributes(std::u16string_view path, uint32_t attributes) = 0;
    virtual bool CreateDirectory(std::u16string_view path) = 0;
    virtual bool RemoveDirectory(std::u16string_view path) = 0;
    virtual bool DeleteFile(std::u16string_view path) = 0;
    // MoveFileExW: renames `from` to `to`; with MOVEFILE_REPLACE_EXISTING an existing `to` is
    // replaced in one step (a reader sees the old file or the new one, never a part).
    virtual bool MoveFileEx(std::u16string_view from, std::u16string_view to, uint32_t flags) = 0;
    // FindFirstFileW with a pattern such as "C:\\tmpxxxvarno\\*.*" ("*" and "?" wildcards).
    // Null with ERROR_FILE_NOT_FOUND when nothing matches.
    virtual std::unique_ptr<FindHandle> FindFirstFile(std::u16string_view pattern,
                                                      FindData* first) = 0;
};

struct DiskFreeSpace {
    uint64_t freeBytesAvailable = 0;
    uint64_t totalBytes = 0;
    uint64_t totalFreeBytes = 0;
};

struct DiskGeometry {
    uint32_t sectorsPerCluster = 0;
    uint32_t bytesPerSector = 0;
    uint32_t numberOfFreeClusters = 0;
    uint32_t totalNumberOfClusters = 0;
};

// Volumes: drive letters, their roots, sizes and cluster geometry.
class Volumes {
public:
    virtual ~Volumes() = default;
    // GetLogicalDriveStringsW: "C:\\", "D:\\", ... in letter order.
    virtual std::vector<std::u16string> GetLogicalDriveStrings() = 0;
    // GetVolumePathNameW: the root of the volume that holds `path`.
    virtual std::optional<std::u16string> GetVolumePathName(std::u16string_view path) = 0;
    virtual bool GetDiskFreeSpaceEx(std::u16string_view path, DiskFreeSpace* space) = 0;
    virtual bool GetDiskFreeSpace(std::u16string_view root, DiskGeometry* geometry) = 0;
};

// VS_FIXEDFILEINFO's version words.
struct FileVersion {
    uint32_t fileVersionMS = 0;
    uint32_t fileVersionLS = 0;
    uint32_t productVersionMS = 0;
    uint32_t productVersionLS = 0;
};

// GetFileVersionInfoSizeW / GetFileVersionInfoW / VerQueryValueW("\\").
class FileVersions {
public:
    virtual ~FileVersions() = default;
    // `fileName` may be relative; it is resolved from the program's own folder first.
    virtual std::optional<FileVersion> GetFileVersionInfo(std::u16string_view fileName) = 0;
};

}  // namespace tarvex::platform
