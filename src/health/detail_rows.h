#pragma once
// The contents of the detail popup, independent of any window: the header label, the columns
// and the rows for one drive record, in mode 1 (IDENTIFY data or NVMe Identify Controller)
// and mode 2 (SMART attributes or the NVMe SMART / Health log). The window only shows them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drives/physical_drive_info.h"

namespace tarvex {

inline constexpr int kPopupDriveDetails = 1;  // "Drive Details"
inline constexpr int kPopupSmartDetails = 2;  // "SMART Details"

struct DetailColumn {
    std::u16string text;
    int width = 0;
};

// One line of the list: one cell per column, in column order.
struct DetailRow {
    std::vector<std::u16string> cells;
};

// A storage controller as the header label needs it: its name, PCI class code, driver and
// the numbers of the disks attached to it.
struct PopupController {
    std::u16string name;
    std::u16string classCode;
    std::u16string driverVersion;
    std::u16string driverProvider;
    std::vector<int> diskNumbers;
};

// The name of IDENTIFY DEVICE word 0..255 (the empty text outside that range).
std::u16string_view IdentifyWordNames(int word);

// "IDE", "AHCI", "NVMe" or the empty text for a PCI class code.
std::u16string ControllerKind(std::u16string_view classCode);

// The header label text of the popup in `mode`. In mode 1 the last controller that lists the
// drive's number adds its HBA line.
std::u16string PopupHeaderText(int mode, const PhysicalDriveInfo& record,
                               std::span<const PopupController> controllers);

std::vector<DetailColumn> PopupColumns(int mode, const PhysicalDriveInfo& record);

// The rows of the popup in `mode` for the drive record (NVMe or ATA by its interface kind).
std::vector<DetailRow> PopupRows(int mode, const PhysicalDriveInfo& record);
std::vector<DetailRow> AtaIdentifyRows(const PhysicalDriveInfo& record);
std::vector<DetailRow> NvmeIdentifyRows(const PhysicalDriveInfo& record);
std::vector<DetailRow> AtaSmartRows(const PhysicalDriveInfo& record);
std::vector<DetailRow> NvmeHealthRows(const PhysicalDriveInfo& record);

}  // namespace tarvex
