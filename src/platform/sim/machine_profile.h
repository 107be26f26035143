#pragma once
// The machine profile: a JSON description of one emulated PC (its OS, language, program
// location, environment, clock, initial registry, disks and services). docs/machine-profile.md
// describes the format. Loading is all or nothing: a malformed profile gives one error naming
// the file, the JSON path and the problem.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/devices/device_tree.h"
#include "platform/sim/devices/drive_profile.h"
#include "platform/sim/services/service_profile.h"
#include "platform/sim/shell/shell_profile.h"
#include "platform/sim/volumes/volume_profile.h"
#include "platform/sim/wmi/hardware_profile.h"

namespace tarvex::sim {

inline constexpr int kProfileFormatVersion = 1;

struct ProfileOs {
    uint32_t major = 6;
    uint32_t minor = 1;
    uint32_t build = 7601;
    uint32_t platformId = 2;
    std::u16string servicePack;  // szCSDVersion, e.g. "Service Pack 1"
    uint16_t servicePackMajor = 0;
    uint16_t servicePackMinor = 0;
    uint16_t suiteMask = 0x100;
    uint8_t productType = 1;
    // False models a system whose GetVersionExW refuses the extended record (284 bytes).
    bool versionInfoEx = true;
};

struct ProfileRegistryValue {
    std::u16string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;  // stored bytes, as RegQueryValueExW returns them
};

struct ProfileRegistryKey {
    std::u16string path;  // with its root, e.g. "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUELK"
    std::vector<ProfileRegistryValue> values;
};

struct MachineProfile {
    std::string name;         // the profile's name: the file's stem, or the embedded name
    std::string source;       // where it came from, for messages ("demo.json", "embedded:demo")
    std::string description;  // free text for people
    ProfileOs os;
    uint16_t uiLanguage = 1033;
    // The user's locale as the C runtime names it ("Korean_Korea.949"); by default the one of
    // the UI language.
    std::optional<std::string> locale;
    std::u16string programPath;       // the GUI program's full Windows path
    std::u16string currentDirectory;  // defaults to the program's folder
    std::optional<std::u16string> commandLine;
    std::optional<int64_t> programLastWriteUnixMs;  // pins the program file's write time
    std::map<std::u16string, std::u16string> environment;  // merged over the defaults
    std::optional<int64_t> clockStartUnixMs;
    double clockSpeed = 1.0;
    uint64_t bootTickMs = 600000;
    std::vector<ProfileRegistryKey> registry;
    std::vector<DiskProfile> disks;  // the disks, in the order the device listing returns them
    // The volumes, in profile order; at least the system drive and the drives of the program
    // and the current directory.
    std::vector<VolumeProfile> volumes;
    HardwareProfile hardware;  // controllers, memory, board, BIOS, processors, WMI faults
    std::vector<ServiceProfile> services;  // the services the service control manager knows
    ShellProfile shell;                    // scripted failures of pipes and child processes
    DeviceTreeProfile deviceTree;          // the configuration manager's library and its failures
    // The JSON text the profile was read from, so that a program the PC starts (diskpart) can
    // read the very same machine.
    std::string text;
};

// The system drive's letter ("SystemDrive" of the profile's environment, C by default).
char16_t SystemDriveLetter(const MachineProfile& profile);

struct ProfileLoadResult {
    std::optional<MachineProfile> profile;
    std::string error;  // "<source>: <json path>: <problem>" when profile is empty
};

// Parses and validates a profile. `name` and `source` are copied into the profile and
// `source` starts every error message. `folder` is the folder of the profile file, where the
// relative paths in it (the dump files of disks' pages) lie; empty for a profile that is no
// file (embedded), which then refuses relative paths.
ProfileLoadResult LoadMachineProfile(const std::string& text, const std::string& name,
                                     const std::string& source, const std::filesystem::path& folder = {});

// The largest profile file read; anything bigger is refused before it is parsed.
inline constexpr size_t kMaxProfileFileBytes = 16u << 20;

// Reads the profile file at `path`: a regular file of at most kMaxProfileFileBytes. Nothing,
// with "<path>: cannot read the machine profile: <why>" in `error`, for anything else (a
// device, a FIFO, a folder, a file too big or that cannot be opened).
std::optional<std::string> ReadMachineProfileFile(const std::string& path, std::string* error);

// The folder part of a Windows path ("C:\\A\\B.exe" -> "C:\\A") and its file name ("B.exe").
std::u16string WindowsDirName(const std::u16string& path);
std::u16string WindowsBaseName(const std::u16string& path);

}  // namespace tarvex::sim
