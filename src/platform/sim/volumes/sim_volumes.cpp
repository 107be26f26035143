#include "platform/sim/volumes/sim_volumes.h"

#include <algorithm>

#include "platform/last_error.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::SetLastError;

namespace {

char16_t UpperLetter(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// The bytes of every file below a volume's folder, so that a state directory reopened later
// keeps the free space its files used.
uint64_t BytesBelow(const fs::path& folder) {
    uint64_t sum = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const uint64_t size = it->file_size(sizeError);
            sum += sizeError ? 0 : size;
        }
    }
    return sum;
}

uint32_t Clamp32(uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

}  // namespace

SimVolumes::SimVolumes(const std::vector<VolumeProfile>& volumes, const fs::path& volumesRoot, SimFiles& files)
    : volumes_(volumes), files_(files) {
    std::sort(volumes_.begin(), volumes_.end(), [](const VolumeProfile& a, const VolumeProfile& b) { return a.letter < b.letter; });
    for (const VolumeProfile& v : volumes_) {
        usedByFiles_[v.letter] = BytesBelow(volumesRoot / std::string(1, static_cast<char>(v.letter)));
    }
}

const VolumeProfile* SimVolumes::Find(char16_t letter) const {
    letter = UpperLetter(letter);
    for (const VolumeProfile& v : volumes_) {
        if (v.letter == letter) {
            return &v;
        }
    }
    return nullptr;
}

std::optional<uint64_t> SimVolumes::FreeBytes(char16_t letter) {
    const VolumeProfile* v = Find(letter);
    if (v == nullptr) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const uint64_t used = usedByFiles_[v->letter];
    return v->freeBytes > used ? v->freeBytes - used : 0;
}

bool SimVolumes::Consume(char16_t letter, uint64_t bytes) {
    const VolumeProfile* v = Find(letter);
    if (v == nullptr) {
        return bytes == 0;
    }
    std::lock_guard lock(mutex_);
    uint64_t& used = usedByFiles_[v->letter];
    const uint64_t free = v->freeBytes > used ? v->freeBytes - used : 0;
    if (bytes > free) {
        return false;
    }
    used += bytes;
    return true;
}

void SimVolumes::Release(char16_t letter, uint64_t bytes) {
    const VolumeProfile* v = Find(letter);
    if (v == nullptr) {
        return;
    }
    std::lock_guard lock(mutex_);
    uint64_t& used = usedByFiles_[v->letter];
    used = used > bytes ? used - bytes : 0;
}

std::vector<std::u16string> SimVolumes::GetLogicalDriveStrings() {
    std::vector<std::u16string> roots;
    for (const VolumeProfile& v : volumes_) {
        roots.push_back(std::u16string(1, v.letter) + u":\\");
    }
    return roots;
}

const VolumeProfile* SimVolumes::VolumeOf(std::u16string_view path, std::u16string* full) {
    auto resolved = files_.FullPath(path);  // sets the last error when the path is malformed
    if (!resolved) {
        return nullptr;
    }
    const VolumeProfile* v = Find((*resolved)[0]);
    if (v == nullptr) {
        SetLastError(win::ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    if (full != nullptr) {
        *full = *resolved;
    }
    return v;
}

std::optional<std::u16string> SimVolumes::GetVolumePathName(std::u16string_view path) {
    const VolumeProfile* v = VolumeOf(path, nullptr);
    if (v == nullptr) {
        return std::nullopt;
    }
    return std::u16string(1, v->letter) + u":\\";
}

bool SimVolumes::GetDiskFreeSpaceEx(std::u16string_view path, platform::DiskFreeSpace* space) {
    std::u16string full;
    const VolumeProfile* v = VolumeOf(path, &full);
    if (v == nullptr) {
        return false;
    }
    // The path names a folder of the volume, which must exist.
    const uint32_t attributes = files_.GetFileAttributes(full);
    if (attributes == win::INVALID_FILE_ATTRIBUTES || (attributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(attributes == win::INVALID_FILE_ATTRIBUTES ? win::ERROR_PATH_NOT_FOUND : 267);  // ERROR_DIRECTORY
        return false;
    }
    const uint64_t free = FreeBytes(v->letter).value_or(0);
    space->freeBytesAvailable = free;
    space->totalFreeBytes = free;
    space->totalBytes = v->sizeBytes;
    return true;
}

bool SimVolumes::GetDiskFreeSpace(std::u16string_view root, platform::DiskGeometry* geometry) {
    const VolumeProfile* v = VolumeOf(root, nullptr);
    if (v == nullptr) {
        return false;
    }
    const uint64_t free = FreeBytes(v->letter).value_or(0);
    geometry->bytesPerSector = v->bytesPerSector;
    geometry->sectorsPerCluster = v->clusterBytes / v->bytesPerSector;
    // The 32-bit counts saturate, as they do on Windows for volumes above 16 TiB of clusters.
    geometry->totalNumberOfClusters = Clamp32(v->sizeBytes / v->clusterBytes);
    geometry->numberOfFreeClusters = Clamp32(free / v->clusterBytes);
    return true;
}

}  // namespace tarvex::sim
