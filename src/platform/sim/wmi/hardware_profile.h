#pragma once
// The parts of the machine profile that the PC's management view shows: storage controllers
// and the disks on them, memory modules, main board, BIOS, processors, the operating system's
// WMI name, and the faults a test wants WMI to show (see docs/machine-profile.md).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/sim/devices/drive_profile.h"

namespace tarvex::sim {

// Which WMI class lists a controller: Win32_IDEController (IDE and AHCI controllers) or
// Win32_SCSIController (NVMe, RAID and SCSI adapters).
enum class ControllerClass { Ide, Scsi };

struct ControllerProfile {
    std::u16string name;         // "Standard AHCI 1.0 Serial ATA Controller"
    std::u16string pnpDeviceId;  // "PCI\\VEN_8086&DEV_A102&SUBSYS_86941043&REV_31\\3&11583659&0&B8"
    std::u16string classCode;    // six hex digits, "010601"
    std::vector<std::u16string> hardwareIds;  // defaulted from the PNP id and class code
    std::u16string manufacturer;
    std::u16string driverProvider;  // Win32_PnPSignedDriver DriverProviderName
    std::u16string driverVersion;
    ControllerClass wmiClass = ControllerClass::Ide;
    std::vector<uint32_t> disks;  // numbers of the disks attached, in this order
};

struct MemoryModuleProfile {
    std::u16string deviceLocator;  // "DIMM0"
    std::u16string bankLabel;      // "BANK 0"
    std::u16string manufacturer;
    std::u16string partNumber;
    uint32_t memoryType = 24;  // SMBIOS memory type code (24 DDR3, 26 DDR4)
    uint32_t speed = 1600;     // MHz
    uint64_t capacity = 4294967296;
};

struct ProcessorProfile {
    std::u16string name = u"Quasar Q5-4590 CPU @ 3.30GHz";
    std::u16string manufacturer = u"QuasarSilicon";
    uint32_t addressWidth = 64;
    uint32_t cores = 4;
    uint32_t maxClockSpeed = 3300;
};

struct WmiFaultProfile {
    enum class On { CoInitialize, CreateLocator, ConnectServer, SetProxyBlanket, ExecQuery, NullEnumerator };
    On on = On::ExecQuery;
    std::u16string className;   // ExecQuery and NullEnumerator: the class it strikes (any when empty)
    int32_t error = 0;          // the HRESULT returned (defaults per step)
    std::optional<uint32_t> times;  // strike only the first N times; absent: always
};

struct HardwareProfile {
    std::u16string osName;  // Win32_OperatingSystem Name, with its "|" tail; defaulted from the OS
    std::u16string osArchitecture = u"64-bit";
    std::u16string boardManufacturer = u"Holvar Technik";
    std::u16string boardProduct = u"HT-B85M";
    std::u16string biosVersion = u"2.10";
    std::u16string biosManufacturer = u"Holvar Technik";
    std::u16string systemManufacturer = u"Holvar Technik";
    std::u16string systemModel = u"HT-B85M";
    std::vector<ProcessorProfile> processors;     // at least one
    std::optional<uint64_t> totalPhysicalMemory;  // defaulted from the modules
    std::vector<MemoryModuleProfile> memory;      // defaulted to one 8 GiB module
    std::optional<std::vector<ControllerProfile>> controllers;  // defaulted from the disks
    std::vector<WmiFaultProfile> wmiFaults;
};

// The hardware ids Windows gives a PCI function: the full id, the id without its revision,
// then the two class-code forms. The full class code comes first, so a reader that takes the
// first "CC_" element sees all six digits.
std::vector<std::u16string> DefaultHardwareIds(const std::u16string& pnpId, const std::u16string& classCode);

// Parses the profile's "hardware" object (at `path`) and the "wmi" object. Throws JsonError.
void ParseHardwareProfile(const nlohmann::json& node, const std::string& path, HardwareProfile* out);
void ParseWmiProfile(const nlohmann::json& node, const std::string& path, HardwareProfile* out);

// Fills what the profile left out (controllers from the disks, memory, processors) and checks
// that every controller's disks exist, hang on one controller only, and are not USB disks.
// `controllersPath` names the array in errors. Throws JsonError.
void CompleteHardwareProfile(HardwareProfile* hardware, const std::vector<DiskProfile>& disks,
                             const std::string& controllersPath);

}  // namespace tarvex::sim
