#pragma once
// UnderlyingUtil owns the WMI queries of the program: the small WMI layer every WMI user
// shares, the system-information collectors, the volumes of a drive, and the WMI side of the
// drive scan (the disk list, drive numbers and sizes, and the controller class of a disk).
// Each operation opens and releases its own WMI connection.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/os_version_info.h"
#include "drives/physical_drive_info.h"
#include "platform/wmi.h"
#include "sysinfo/system_info.h"

namespace tarvex {

// A connection to ROOT\CIMV2: the locator, the service, and the COM initialisation that
// goes with them. Released (and COM uninitialised) when destroyed or by Release().
class WmiConnection {
public:
    WmiConnection() = default;
    WmiConnection(const WmiConnection&) = delete;
    WmiConnection& operator=(const WmiConnection&) = delete;
    ~WmiConnection() { Release(); }
    void Release();

    std::unique_ptr<platform::WmiLocator> locator;
    std::unique_ptr<platform::WmiServices> services;
    bool comInitialized = false;
};

class UnderlyingUtil {
public:
    UnderlyingUtil();

    OsVersionInfo osVersion;

    // The WMI layer.
    int ConnectWmiService(WmiConnection& connection);
    // "SELECT * FROM <className> <condition>"; on failure the connection is released.
    int ConnectWmiClass(std::u16string_view className, std::u16string_view condition, WmiConnection& connection,
                        std::unique_ptr<platform::WmiEnumerator>* enumerator);
    // Reads a property; 1 when it has the expected variant type (or carries the array flag
    // when 0x2000 alone is expected).
    int GetVariable(std::u16string_view name, uint16_t expectedType, platform::WmiObject& object,
                    platform::Variant* value);

    // The collectors.
    int GetSystemInfo();
    int GetHbaInfo();
    // The volumes of physical drive `drive`; returns how many were listed.
    int GetLogicalDriveInfo(int drive, std::vector<LogicalDriveInfo>& list);
    // "%d.%d.%d" of the version resource of "SSDVelmora.exe"; unchanged when there is none.
    void GetToolFileVersion(char16_t (&version)[64]);

    // The drive scan's WMI side.
    // Lists the disk device interfaces (lower-cased paths, at most 80) into `paths`.
    int ListDiskInterfaces(std::vector<std::u16string>& paths);
    // Rebuilds the process-wide WMI disk list from every Win32_DiskDrive row.
    bool GetPhysicalDriveSpace();
    // Finds the Win32_DiskDrive row of a device path; sets driveIndex and capacityGB.
    bool GetPhysicalDriveSpace(std::u16string_view devicePath, PhysicalDriveInfo& out);
    // The PCI class code of the controller disk N hangs on ("010802" for NVMe), or "".
    std::u16string GetDiskMode(int driveNumber);
};

// One entry of the WMI disk list.
struct WmiDiskEntry {
    int32_t Index;
    uint64_t sizeGB;
    char16_t Model[64];
    char16_t InterfaceType[64];
    char16_t PNPDeviceID[256];
};

// The process-wide WMI disk list: empty before the first scan, rebuilt by each.
std::vector<WmiDiskEntry>& WmiDiskList();

// How many disk device interfaces are present, without the listing's limit of 80, so that a
// caller can tell when the drive table was cut short.
int CountDiskInterfaces();

// The drive number of a volume path such as "\\.\C:" (narrow, ANSI code page): its storage
// device number when it is a disk, else -1.
int GetPhysicalDriveNumber(const char* volumePath);

}  // namespace tarvex
