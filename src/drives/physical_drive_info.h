#pragma once
// The record of one drive that every part of the system reads: raw IDENTIFY and SMART pages,
// the compacted attribute and threshold entries, the NVMe identify data, the drive number,
// capacity, interface kind and the identity texts. A plain fixed-size value, zeroed before
// it is filled and copied by value into worker data and page locals.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tarvex {

inline constexpr int kSmartSlotCount = 30;

// One 12-byte slot of the SMART attribute page, as the drive returns it.
struct SmartAttributeEntry {
    uint8_t id;        // 0: empty slot
    uint8_t flags[2];  // little-endian status flags
    uint8_t current;
    uint8_t worst;
    uint8_t raw[6];    // raw byte 0 first
    uint8_t reserved;
};
static_assert(sizeof(SmartAttributeEntry) == 12);

// One 12-byte slot of the SMART threshold page.
struct SmartThresholdEntry {
    uint8_t id;
    uint8_t threshold;  // 0: the attribute has no threshold
    uint8_t reserved[10];
};
static_assert(sizeof(SmartThresholdEntry) == 12);

enum DiskInterface : int32_t {
    ScsiInterface = 0,
    IdeSataInterface = 1,
    UsbInterface = 2,
    NvmeInterface = 3,
};

struct PhysicalDriveInfo {
    uint8_t identify[512];         // IDENTIFY DEVICE; model, serial, firmware in reading order
    uint8_t smartData[512];        // SMART READ DATA, or the NVMe SMART / Health log
    uint8_t smartThresholds[512];  // SMART READ THRESHOLDS
    SmartAttributeEntry attributes[kSmartSlotCount];
    SmartThresholdEntry thresholdEntries[kSmartSlotCount];
    uint8_t nvmeIdentify[4096];  // NVMe Identify Controller data
    int32_t driveIndex;          // N of \\.\PhysicalDriveN
    uint64_t capacityGB;         // decimal gigabytes
    uint32_t attributeCount;
    int32_t temperature;    // degrees Celsius, as derived while the attribute page is parsed
    int32_t interfaceKind;  // DiskInterface
    char16_t serialNumber[21];
    char16_t firmwareRevision[9];
    char16_t modelNumber[41];
    char16_t devicePath[256];
    char16_t controllerSolution[8];
};
static_assert(std::is_trivially_copyable_v<PhysicalDriveInfo>);
static_assert(std::is_standard_layout_v<PhysicalDriveInfo>);
static_assert(offsetof(PhysicalDriveInfo, smartData) == 512);
static_assert(offsetof(PhysicalDriveInfo, smartThresholds) == 1024);
static_assert(offsetof(PhysicalDriveInfo, attributes) == 1536);
static_assert(offsetof(PhysicalDriveInfo, thresholdEntries) == 1896);
static_assert(offsetof(PhysicalDriveInfo, nvmeIdentify) == 2256);
static_assert(offsetof(PhysicalDriveInfo, driveIndex) == 6352);
static_assert(offsetof(PhysicalDriveInfo, capacityGB) == 6360);
static_assert(offsetof(PhysicalDriveInfo, serialNumber) == 6380);
static_assert(offsetof(PhysicalDriveInfo, devicePath) == 6522);
static_assert(sizeof(PhysicalDriveInfo) == 7056);

// A zeroed record.
inline PhysicalDriveInfo EmptyDriveRecord() {
    PhysicalDriveInfo r;
    std::memset(&r, 0, sizeof r);
    return r;
}

}  // namespace tarvex
