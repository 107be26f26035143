#pragma once
// The partition part of the Drive Info page without its widgets: the partition list of the
// selected drive, the texts of its labels, the usage gauge, which controls are shown, and the
// previous / next buttons that step SelectedPartition through the list.
#include <cstdint>
#include <string>
#include <vector>

#include "sysinfo/system_info.h"

namespace tarvex {

struct PartitionControls {
    std::u16string name;         // 1021: device id, or string 260 without partitions
    std::u16string total;        // 1022 "Total: %.1f GB"
    std::u16string free;         // 1023 "Free: %.1f GB"
    std::u16string freePercent;  // 1026 "Free: %.1f %%" or "Free: N/A"
    int gauge = 0;               // 1027, 0..100 used share
    bool sizesVisible = false;   // 1022, 1023, 1026 and 1027
    bool previousEnabled = false;
    bool nextEnabled = false;
};

class DriveInfoPartitions {
public:
    // Reloads the list of physical drive `driveNumber` (UnderlyingUtil::GetLogicalDriveInfo).
    void Load(int driveNumber);
    // Takes a list as given (the same as Load, without the WMI query).
    void SetList(std::vector<LogicalDriveInfo> list);

    // The partition index the page shows: the caller's SelectedPartition (app/drive_tabs.h).
    // A reload moves an index beyond the new list back to 0.
    explicit DriveInfoPartitions(int& selected) : selected_(selected) {}

    [[nodiscard]] int Count() const { return static_cast<int>(list_.size()); }
    [[nodiscard]] const std::vector<LogicalDriveInfo>& List() const { return list_; }

    // UpdatePartitionControlInfo together with the button states, for the selected index.
    [[nodiscard]] PartitionControls Controls() const;

    // The buttons; false (and nothing changes) when the press does nothing.
    bool Previous();
    bool Next();

private:
    int& selected_;
    std::vector<LogicalDriveInfo> list_;
};

// The label figures of one partition (sizes in MiB).
std::u16string PartitionTotalText(uint64_t sizeMb);
std::u16string PartitionFreeText(uint64_t freeMb);
std::u16string PartitionFreePercentText(uint64_t freeMb, uint64_t sizeMb);
int PartitionUsageGauge(uint64_t freeMb, uint64_t sizeMb);

}  // namespace tarvex
