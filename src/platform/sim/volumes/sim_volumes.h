#pragma once
// The volumes of the emulated PC: drive letters, roots, sizes, free space and cluster
// geometry. Sizes come from the profile and are accounted, not stored: the bytes of the files
// written to a volume's folder use up its free space and deleting them gives it back, so a
// 500 GB volume costs no real disk. A write beyond the free space fails with ERROR_DISK_FULL.
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/volumes/volume_profile.h"

namespace tarvex::sim {

// The volumes as the management view lists them (Win32_LogicalDisk), with the free space each
// has at the moment it is asked.
class VolumeListing {
public:
    virtual ~VolumeListing() = default;
    [[nodiscard]] virtual const std::vector<VolumeProfile>& List() const = 0;
    [[nodiscard]] virtual std::optional<uint64_t> FreeBytes(char16_t letter) = 0;
};

class SimVolumes : public platform::Volumes, public VolumeSpace, public VolumeListing {
public:
    // `volumesRoot` is the folder that holds one folder per drive letter (as for SimFiles);
    // the bytes already there count as used. `files` resolves relative paths.
    SimVolumes(const std::vector<VolumeProfile>& volumes, const std::filesystem::path& volumesRoot,
               SimFiles& files);

    std::vector<std::u16string> GetLogicalDriveStrings() override;
    std::optional<std::u16string> GetVolumePathName(std::u16string_view path) override;
    bool GetDiskFreeSpaceEx(std::u16string_view path, platform::DiskFreeSpace* space) override;
    bool GetDiskFreeSpace(std::u16string_view root, platform::DiskGeometry* geometry) override;

    bool Consume(char16_t letter, uint64_t bytes) override;
    void Release(char16_t letter, uint64_t bytes) override;

    // Tests and the management view.
    [[nodiscard]] const VolumeProfile* Find(char16_t letter) const;
    [[nodiscard]] std::optional<uint64_t> FreeBytes(char16_t letter) override;
    [[nodiscard]] const std::vector<VolumeProfile>& List() const override { return volumes_; }

private:
    // The volume that a path lies on (its drive letter after resolving), or null with the
    // last error set.
    const VolumeProfile* VolumeOf(std::u16string_view path, std::u16string* full);

    std::vector<VolumeProfile> volumes_;  // sorted by letter
    SimFiles& files_;
    std::mutex mutex_;
    std::map<char16_t, uint64_t> usedByFiles_;
};

}  // namespace tarvex::sim
