#pragma once
// The disks of an emulated PC as the machine profile describes them (the "disks" array, see
// docs/machine-profile.md): identity, geometry, where they hang in the storage stack, what
// each kind of drive reports, and the faults a test wants them to show.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/sim/devices/page_dump.h"

namespace tarvex::sim {

enum class DiskKind { Sata, Nvme, Usb };

// How the disk's first sectors are laid out: a master boot record, a GUID partition table
// behind a protective MBR, or nothing (a disk never initialised: sector 0 reads as zeros).
enum class PartitionStyle { Mbr, Gpt, None };

struct SmartAttributeProfile {
    uint8_t id = 0;
    uint16_t flags = 0;
    uint8_t current = 100;
    uint8_t worst = 100;
    uint64_t raw = 0;  // 48 bits: raw bytes 0..5, little-endian
    uint8_t reserved = 0;
    uint8_t threshold = 0;
};

// Which controller signature the SMART READ DATA page carries in its vendor area.
enum class VendorSignature { None, Jmf608, Sm2246 };

// A self-test that ends in a failure instead of passing.
struct SelfTestFailure {
    uint8_t subcommand = 0;  // 1 short, 2 extended, 0 either
    uint8_t status = 7;      // ATA self-test status value 3..8 (7: read element failed)
    uint8_t atPercent = 50;  // how far the test gets before it fails
    uint64_t failingLba = 0;
};

struct SecurityProfile {
    bool supported = true;
    bool enhancedErase = true;
    uint32_t eraseMinutes = 2;          // IDENTIFY word 89 (in 2-minute units, rounded up)
    uint32_t enhancedEraseMinutes = 2;  // word 90
    uint32_t eraseSeconds = 60;         // how long the erase really takes
    std::string userPassword;           // non-empty: security enabled when first powered
    std::string masterPassword;         // the factory master password
    bool maximumLevel = false;
    bool frozen = false;  // the BIOS freezes the drive at every power-on
    // A replayed IDENTIFY page with security enabled and no userPassword: the drive has a user
    // password nobody here knows, so no password the host sends matches it.
    bool unknownUserPassword = false;
};

struct MicrocodeProfile {
    bool supported = true;
    uint16_t minBlocks = 1;     // IDENTIFY word 234
    uint16_t maxBlocks = 128;   // word 235
    uint32_t maxImageBytes = 8 * 1024 * 1024;
};

struct VendorStatisticsProfile {
    // Initial counters: bucket (512 B, 4 KB, 32 KB, 64 KB), pair, then write and read.
    uint32_t counters[4][3][2] = {};
    // Background commands per minute of power-on time, added to pair 1 of each bucket (pair 0
    // counts the commands the drive serves).
    uint32_t writesPerMinute[4] = {};
    uint32_t readsPerMinute[4] = {};
};

// Pages a real drive sent, replayed as they are (the "pages" part of "sata"): inline pages
// over the same parts of the dump file.
struct SataPagesProfile {
    std::optional<RawPage> identify;
    std::optional<RawPage> smartData;
    std::optional<RawPage> smartThresholds;
    std::optional<bool> thresholdExceeded;  // the SMART RETURN STATUS answer, when given
};

struct SataProfile {
    uint64_t wwn = 0;           // IDENTIFY words 108..111; 0: derived from the serial
    int sataRevision = 6;       // highest bit of word 222 (5 SATA 3.0, 6 SATA 3.1, 7 SATA 3.2)
    int linkSpeed = 3;          // word 77 bits 3..1: 1 1.5 Gb/s, 2 3.0 Gb/s, 3 6.0 Gb/s
    bool trim = true;
    uint16_t smartRevision = 0x0010;
    std::vector<SmartAttributeProfile> attributes;
    VendorSignature signature = VendorSignature::None;
    uint32_t shortSelfTestSeconds = 120;
    uint32_t extendedSelfTestSeconds = 1200;
    std::vector<SelfTestFailure> selfTestFailures;
    SecurityProfile security;
    MicrocodeProfile microcode;
    std::optional<VendorStatisticsProfile> vendorStatistics;  // JMF608 drives
    std::map<int, uint16_t> identifyWords;  // raw overrides, applied before the checksum
    SataPagesProfile pages;
};

struct NvmeProfile {
    bool miniport = true;  // false: the inbox driver, which refuses "NvmeMini"
    uint16_t vendorId = 0x1E4B;
    uint16_t subsystemVendorId = 0x1E4B;
    uint32_t ieeeOui = 0x00A0C8;
    uint32_t version = 0x00010300;  // 1.3.0
    uint16_t controllerId = 1;
    uint8_t criticalWarning = 0;
    uint16_t temperatureKelvin = 310;
    uint8_t availableSpare = 100;
    uint8_t spareThreshold = 10;
    uint8_t percentageUsed = 0;
    uint64_t dataUnitsRead = 0;
    uint64_t dataUnitsWritten = 0;
    uint64_t hostReadCommands = 0;
    uint64_t hostWriteCommands = 0;
    uint64_t controllerBusyMinutes = 0;
    uint64_t powerCycles = 0;
    uint64_t powerOnHours = 0;
    uint64_t unsafeShutdowns = 0;
    uint64_t mediaErrors = 0;
    uint64_t errorLogEntries = 0;
    uint16_t warningTemperatureKelvin = 353;   // WCTEMP
    uint16_t criticalTemperatureKelvin = 358;  // CCTEMP
};

// One scripted fault. `on` chooses what it matches; `times` absent means every time.
struct FaultProfile {
    enum class On { Open, Ata, Ioctl };
    enum class Effect { Abort, Fail, Short };
    On on = On::Ata;
    std::optional<uint8_t> command;  // ATA command byte
    std::optional<uint8_t> feature;  // features register (SMART subcommand)
    std::optional<uint32_t> ioctl;   // control code
    Effect effect = Effect::Fail;
    uint32_t error = 1117;  // ERROR_IO_DEVICE; for an open, the CreateFile error
    uint32_t bytes = 0;     // Short: how many data bytes come back
    std::optional<uint32_t> times;
};

struct DiskProfile {
    uint32_t number = 0;  // N of \\.\PhysicalDriveN
    DiskKind kind = DiskKind::Sata;
    std::string model;
    std::string serial;
    std::string firmware;
    uint64_t capacitySectors = 0;  // 512-byte sectors
    uint8_t port = 0;              // N of \\.\SCSIN:
    uint8_t pathId = 0;
    uint8_t targetId = 0;
    uint8_t lun = 0;
    std::u16string interfacePath;  // lower case; defaulted from the identity when not given
    uint32_t alignmentMask = 3;    // direct transfers need buffers aligned to mask + 1
    bool hasUserData = true;
    PartitionStyle partitionStyle = PartitionStyle::Mbr;
    SataProfile sata;
    NvmeProfile nvme;
    std::vector<FaultProfile> faults;
};

// Parses the profile's "disks" array (at `path`, e.g. "$.disks"). A relative dump file of a
// disk's pages lies in `folder`, the profile file's folder; an empty one (an embedded profile)
// refuses relative dump files. Throws JsonError.
std::vector<DiskProfile> ParseDiskProfiles(const nlohmann::json& node, const std::string& path,
                                           const std::filesystem::path& folder = {});

// The device-interface path a disk gets when the profile gives none, in lower case.
std::u16string DefaultInterfacePath(const DiskProfile& disk);
// The disk's PNP device instance id ("IDE\\DISKVARNO...\\5&1A2B3C4D&0&0.0.0"), as WMI reports
// it: the interface path without "\\?\" and the class GUID, "#" turned into "\", upper case.
std::u16string PnpDeviceId(const DiskProfile& disk);

}  // namespace tarvex::sim
