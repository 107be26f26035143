#pragma once
// The SMART attribute and threshold pages turned into the record's compacted lists, paired by
// slot, with the temperature derived while parsing; and the raw-value readers.
#include <cstdint>

#include "drives/physical_drive_info.h"

namespace tarvex {

// Copies the non-empty slots of record.smartData into record.attributes (slot order, packed
// to the front), sets attributeCount and updates temperature. True when any slot was used.
bool ParseSmartAttributes(PhysicalDriveInfo& record);
// Copies, for every slot whose attribute ID is non-zero, the threshold slot of the same
// number into the next thresholdEntries position; zeroes the rest. True when any threshold
// slot has a non-zero ID.
bool ParseSmartThresholds(PhysicalDriveInfo& record);

uint32_t RawValue32(const SmartAttributeEntry& entry);
uint64_t RawValue48(const SmartAttributeEntry& entry);

}  // namespace tarvex
