#include "health/drive_info_partitions.h"

#include <fmt/format.h>

#include "app/string_table.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {

namespace {

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

constexpr int kNoPartitionString = 260;

}  // namespace

std::u16string PartitionTotalText(uint64_t sizeMb) {
    return Ascii(fmt::format("Total: {:.1f} GB", static_cast<double>(sizeMb) / 1024.0));
}

std::u16string PartitionFreeText(uint64_t freeMb) {
    return Ascii(fmt::format("Free: {:.1f} GB", static_cast<double>(freeMb) / 1024.0));
}

std::u16string PartitionFreePercentText(uint64_t freeMb, uint64_t sizeMb) {
    if (sizeMb == 0) {
        return u"Free: N/A";
    }
    return Ascii(fmt::format("Free: {:.1f} %", static_cast<double>(freeMb) * 100.0 / static_cast<double>(sizeMb)));
}

int PartitionUsageGauge(uint64_t freeMb, uint64_t sizeMb) {
    if (sizeMb == 0) {
        return 0;
    }
    // A volume that reports more free space than its size counts as empty rather than
    // wrapping the unsigned difference to a huge used share.
    const uint64_t used = freeMb >= sizeMb ? 0 : sizeMb - freeMb;
    // used <= size, so used * 100 overflows only for sizes beyond 2^57 MiB; divide first there.
    const uint64_t share = used <= UINT64_MAX / 100 ? used * 100 / sizeMb : used / (sizeMb / 100);
    return static_cast<int>(share > 100 ? 100 : share);
}

void DriveInfoPartitions::Load(int driveNumber) {
    std::vector<LogicalDriveInfo> list;
    UnderlyingUtil util;
    (void)util.GetLogicalDriveInfo(driveNumber, list);
    SetList(std::move(list));
}

void DriveInfoPartitions::SetList(std::vector<LogicalDriveInfo> list) {
    list_ = std::move(list);
    // An index left over from a longer list would point past the end.
    if (selected_ < 0 || selected_ >= Count()) {
        selected_ = 0;
    }
}

PartitionControls DriveInfoPartitions::Controls() const {
    PartitionControls c;
    if (list_.empty()) {
        c.name = std::u16string(LoadResourceString(kNoPartitionString));
        return c;
    }
    const int index = selected_ >= 0 && selected_ < Count() ? selected_ : 0;
    const LogicalDriveInfo& p = list_[static_cast<size_t>(index)];
    c.sizesVisible = true;
    c.name = std::u16string(p.DeviceID, std::char_traits<char16_t>::length(p.DeviceID) < std::size(p.DeviceID)
                                            ? std::char_traits<char16_t>::length(p.DeviceID)
                                            : std::size(p.DeviceID));
    c.total = PartitionTotalText(p.SizeMb);
    c.free = PartitionFreeText(p.FreeSpaceMb);
    c.freePercent = PartitionFreePercentText(p.FreeSpaceMb, p.SizeMb);
    c.gauge = PartitionUsageGauge(p.FreeSpaceMb, p.SizeMb);
    if (Count() >= 2) {
        c.previousEnabled = index > 0;
        c.nextEnabled = index < Count() - 1;
    }
    return c;
}

bool DriveInfoPartitions::Previous() {
    if (Count() < 2 || selected_ <= 0) {
        return false;
    }
    --selected_;
    return true;
}

bool DriveInfoPartitions::Next() {
    if (Count() < 2 || selected_ >= Count() - 1) {
        return false;
    }
    ++selected_;
    return true;
}

}  // namespace tarvex
