#pragma once
// Display names of SMART attributes, one table per drive family, and the rule that picks the
// table for a drive.
#include <cstdint>
#include <span>
#include <string_view>

#include "drives/physical_drive_info.h"

namespace tarvex {

struct SmartNameEntry {
    uint8_t id;
    const char16_t* name;
};

struct SmartNameTable {
    const char* tableName;  // "SmartNamesDefault", ...
    std::span<const SmartNameEntry> entries;

    // The name listed for the ID, or the empty text.
    [[nodiscard]] std::u16string_view Name(uint8_t id) const;
};

extern const SmartNameTable SmartNamesDefault;
extern const SmartNameTable SmartNamesTL30A;
extern const SmartNameTable SmartNamesJmf608;
extern const SmartNameTable SmartNamesSm2246;

// JMF608 or SM2246 signature in the SMART page, else the model's family, else the default.
const SmartNameTable& SelectSmartNameTable(const PhysicalDriveInfo& record);
// The selected table's name for the ID, or "Vendor Specified" when it lists none.
std::u16string_view LookupSmartAttributeName(const PhysicalDriveInfo& record, uint8_t id);

}  // namespace tarvex
