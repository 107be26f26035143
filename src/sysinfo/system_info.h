#pragma once
// The PC facts the program collects through WMI and the registry: operating system,
// processor, memory, board, BIOS, memory modules, this program's version, and the storage
// controllers with their attached drives; and the volumes of one physical drive.
#include <cstdint>
#include <vector>

namespace tarvex {

inline constexpr int kHbaDeviceSlots = 16;

struct MemoryModuleInfo {
    char16_t DeviceLocator[128];
    char16_t BankLabel[128];
    char16_t Manufacturer[128];  // "N/A" when it equals BankLabel
    uint16_t MemoryType;
    char16_t Capacity[129];  // bytes, as the text WMI gives
    int32_t Speed;           // MHz
};

struct HbaAttachedDevice {
    char16_t Name[1024];
    int32_t PhysicalDriveIndex;  // N of \\.\PhysicalDriveN, -1 when no disk matched
};

struct HbaInfo {
    char16_t Name[256];
    char16_t DriverProvider[256];
    char16_t DriverVersion[128];
    char16_t ClassCode[128];  // "010601" AHCI, "010802" NVMe, "0101.." IDE
    int32_t AttachedDeviceCount;
    HbaAttachedDevice AttachedDevices[kHbaDeviceSlots];
};

struct LogicalDriveInfo {
    char16_t DeviceID[4];  // "C:"
    char16_t FileSystem[16];
    uint64_t FreeSpaceMb;
    uint64_t SizeMb;
    int32_t PhysicalDriveNumber;
};

struct SystemInfo {
    int32_t ProcessorAddressWidth = 0;
    char16_t ToolVersion[64] = {};
    char16_t OsName[128] = {};
    char16_t CpuName[128] = {};
    char16_t TotalMemoryMb[64] = {};
    char16_t BaseBoardVendor[64] = {};
    char16_t BaseBoardModel[64] = {};
    char16_t BiosVersion[64] = {};
    std::vector<MemoryModuleInfo> MemoryModules;  // one per DeviceLocator, kept across runs
    std::vector<HbaInfo> HbaList;                 // rebuilt by every GetHbaInfo
};

// The process-wide record (written on the UI thread by the collectors only).
SystemInfo& GlobalSystemInfo();
// Tests: start from an empty record again.
void ResetSystemInfoForTesting();

}  // namespace tarvex
