#include "platform/sim/volumes/sim_file_versions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// The longest record: the marker, four numbers of up to five digits, three dots and the NUL.
constexpr size_t kLongestRecord = platform::kVersionRecordMarker.size() + 4 * 5 + 3 + 1;
constexpr size_t kChunk = size_t{1} << 20;

// The record of a host file, read in chunks: a large program costs no more than one chunk
// of memory, and a file that changes size while it is read ends the scan where its bytes
// end (a mapping would fault on the pages a shrinking file no longer has). Each chunk is
// searched together with the last bytes of the one before, so that a record across a
// chunk boundary is found too.
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
    std::vector<uint8_t> window(kLongestRecord + kChunk);
    size_t carried = 0;  // bytes kept from the previous chunk at the start of the window
    for (;;) {
        ssize_t n;
        do {
            n = ::read(fd, window.data() + carried, kChunk);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            break;
        }
        const size_t filled = carried + static_cast<size_t>(n);
        record = platform::FindVersionRecord(std::span<const uint8_t>(window).first(filled));
        if (record) {
            break;
        }
        carried = std::min(filled, kLongestRecord - 1);
        std::copy(window.begin() + static_cast<std::ptrdiff_t>(filled - carried),
                  window.begin() + static_cast<std::ptrdiff_t>(filled), window.begin());
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
