#pragma once
// The main window's row of three drive tabs over the drive table, without its widgets: which
// table entries the tabs show, which tabs and arrows are available, the tab captions, and the
// selection that a tab, an arrow or a rescan makes.
#include <array>
#include <string>

#include "drives/physical_drive_info.h"

namespace tarvex {

inline constexpr int kDriveTabCount = 3;

// The partition the Drive Info page shows, an index into the selected drive's partition list;
// 0 again on every drive change.
extern int SelectedPartition;

class DriveTabs {
public:
    // After a rescan that found `driveCount` drives: the tabs show entries 0, 1, 2, both arrows
    // are disabled but the next-arrow when there are more than three drives, and the tabs
    // beyond the count are hidden. The caller then selects tab 0.
    void Reset(int driveCount);

    // The arrows: false (and nothing changes) when the arrow does nothing here. After a move
    // the caller rewrites the captions and selects tab 0 (previous) or tab 2 (next).
    bool Previous(int driveCount);
    bool Next(int driveCount);

    // The table entry tab `k` shows, and whether the tab can be selected with this count.
    [[nodiscard]] int DriveOfTab(int k) const { return firstVisible_ + k; }
    [[nodiscard]] bool TabSelectable(int k, int driveCount) const { return k >= 0 && k < kDriveTabCount && driveCount > k; }
    [[nodiscard]] bool TabVisible(int k) const { return visible_[static_cast<size_t>(k)]; }
    [[nodiscard]] int FirstVisible() const { return firstVisible_; }
    [[nodiscard]] int LastVisible() const { return lastVisible_; }
    [[nodiscard]] bool PreviousEnabled() const { return previousEnabled_; }
    [[nodiscard]] bool NextEnabled() const { return nextEnabled_; }

    // Tab visibility as a page activation sets it (1005 always, 1006 from two drives, 1007
    // from three).
    void ShowForPage(int driveCount);

private:
    int firstVisible_ = 0;
    int lastVisible_ = 0;
    std::array<bool, kDriveTabCount> visible_{};
    bool previousEnabled_ = false;
    bool nextEnabled_ = false;
};

// "Disk%d\n%dGB" from the record's driveIndex and capacityGB.
std::u16string DriveTabCaption(const PhysicalDriveInfo& drive);

}  // namespace tarvex
