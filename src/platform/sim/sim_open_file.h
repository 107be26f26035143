#pragma once
// The open file and the find handle of the emulated PC's files, and the translation of host
// results (errno, stat) into what Windows reports, shared by the file operations.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace tarvex::sim {

class SimFiles;

namespace file_detail {

inline constexpr uint32_t kErrorNotSameDevice = 17;  // ERROR_NOT_SAME_DEVICE
inline constexpr uint32_t FILE_READ_DATA = 0x0001;
inline constexpr uint32_t FILE_WRITE_DATA = 0x0002;
inline constexpr uint32_t FILE_APPEND_DATA = 0x0004;
inline constexpr uint32_t DELETE_ACCESS = 0x00010000;
inline constexpr uint32_t ERROR_DIRECTORY = 267;

bool WantsRead(uint32_t access);
bool WantsWrite(uint32_t access);
// The Windows error for a failed host call's errno.
uint32_t ErrorFromErrno(int e);
platform::FileTime FromTimespec(const timespec& ts);
// What Windows reports for a name that does not exist: file not found when its folder is
// there, path not found when the folder is missing too.
uint32_t MissingError(const std::filesystem::path& host);
// A host entry that is neither a plain file, a folder nor a link (a device node, a FIFO, a
// socket): it can only be read or written, never replaced, moved or deleted.
bool IsHostSpecial(const struct stat& st);
uint32_t AttributesOf(const struct stat& st);

}  // namespace file_detail

// An open file on host descriptor `fd` (owned from here on). `owner` is told when it closes,
// so it can release the sharing record `openId` of `hostKey`. `text` and `append` give the
// C runtime's stream rules; `drive` is the letter whose free space the writes consume.
std::unique_ptr<platform::File> MakeOpenFile(SimFiles* owner, std::string hostKey, uint64_t openId, int fd,
                                             bool canRead, bool canWrite, bool text, bool append,
                                             std::optional<int64_t> pinnedWriteMs, char16_t drive);
// A find handle over `entries`; entry 0 has gone out with FindFirstFile.
std::unique_ptr<platform::FindHandle> MakeFindHandle(std::vector<platform::FindData> entries);

}  // namespace tarvex::sim
