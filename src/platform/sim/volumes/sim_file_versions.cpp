#include "platform/sim/volumes/sim_file_versions.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/last_error.h"
#include "platform/version_record.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace {

constexpr uint32_t ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

bool IsRelative(std::u16string_view name) {
    return !(name.size() >= 2 && name[1] == u':') && !(!name.empty() && (name[0] == u'\\' || name[0] == u'/'));
}

// The record of a host file, read through a mapping so that a large program costs no copy.
std::optional<platform::FileVersionNumbers> RecordOf(const std::filesystem::path& host, bool* opened) {
    *opened = false;
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    *opened = true;
    std::optional<platform::FileVersionNumbers> record;
    if (st.st_size > 0) {
        void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            record = platform::FindVersionRecord(
                std::span(static_cast<const uint8_t*>(map), static_cast<size_t>(st.st_size)));
            ::munmap(map, static_cast<size_t>(st.st_size));
        }
    }
    ::close(fd);
    return record;
}

}  // namespace

SimFileVersions::SimFileVersions(SimFiles& files, std::u16string programFolder)
    : files_(files), programFolder_(std::move(programFolder)) {}

std::optional<platform::FileVersion> SimFileVersions::GetFileVersionInfo(std::u16string_view fileName) {
    std::vector<std::u16string> candidates;
    if (fileName.empty()) {
        platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    if (IsRelative(fileName)) {
        candidates.push_back(programFolder_ + u"\\" + std::u16string(fileName));
    }
    candidates.emplace_back(fileName);  // relative names resolve against the current directory
    for (const std::u16string& name : candidates) {
        auto host = files_.HostPath(name);
        bool opened = false;
        std::optional<platform::FileVersionNumbers> record;
        if (host) {
            record = RecordOf(*host, &opened);
        }
        if (!opened) {
            continue;
        }
        if (!record) {
            platform::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return std::nullopt;
        }
        platform::FileVersion v;
        v.fileVersionMS = static_cast<uint32_t>(record->major) << 16 | record->minor;
        v.fileVersionLS = static_cast<uint32_t>(record->build) << 16 | record->revision;
        v.productVersionMS = v.fileVersionMS;
        v.productVersionLS = v.fileVersionLS;
        return v;
    }
    platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
    return std::nullopt;
}

}  // namespace tarvex::sim
