#include "app/drive_tabs.h"

#include <fmt/format.h>

#include "platform/text.h"

namespace tarvex {

int SelectedPartition = 0;

void DriveTabs::Reset(int driveCount) {
    firstVisible_ = 0;
    previousEnabled_ = false;
    nextEnabled_ = false;
    if (driveCount >= 3) {
        visible_ = {true, true, true};
        lastVisible_ = 2;
        nextEnabled_ = driveCount > 3;
    } else if (driveCount == 2) {
        visible_ = {true, true, false};
        lastVisible_ = 1;
    } else {
        visible_ = {true, false, false};
        lastVisible_ = 0;
    }
}

bool DriveTabs::Previous(int driveCount) {
    if (driveCount <= 3 || firstVisible_ <= 0) {
        return false;
    }
    --firstVisible_;
    --lastVisible_;
    // The enabled states change only at the two ends of the list.
    if (firstVisible_ == 0) {
        previousEnabled_ = false;
        nextEnabled_ = true;
    }
    return true;
}

bool DriveTabs::Next(int driveCount) {
    if (driveCount <= 3 || lastVisible_ >= driveCount - 1) {
        return false;
    }
    ++firstVisible_;
    ++lastVisible_;
    if (lastVisible_ == driveCount - 1) {
        nextEnabled_ = false;
        previousEnabled_ = true;
    }
    return true;
}

void DriveTabs::ShowForPage(int driveCount) {
    visible_ = {true, driveCount >= 2, driveCount >= 3};
}

std::u16string DriveTabCaption(const PhysicalDriveInfo& drive) {
    // The capacity goes through "%d": its low 32 bits, as a signed number.
    const auto capacity = static_cast<int32_t>(static_cast<uint32_t>(drive.capacityGB & 0xFFFFFFFFu));
    return platform::Utf8ToUtf16(fmt::format("Disk{}\n{}GB", drive.driveIndex, capacity));
}

}  // namespace tarvex
