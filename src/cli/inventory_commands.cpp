// tarvexctl scan, sysinfo and volumes: the drive table, the PC facts and a drive's volumes.
#include <cstdio>
#include <cstring>

#include <fmt/format.h>

#include "cli/cli_app.h"
#include "cli/drive_selection.h"
#include "cli/exit_codes.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/text.h"
#include "sysinfo/underlying_util.h"

namespace tarvex::cli {

namespace {

template <size_t N>
std::string Utf8(const char16_t (&field)[N]) {
    return platform::Utf16ToUtf8(platform::FixedText(field));
}

const char* InterfaceName(int32_t kind) {
    switch (kind) {
        case IdeSataInterface: return "IDE/SATA";
        case UsbInterface: return "USB";
        case NvmeInterface: return "NVMe";
        default: return "SCSI";
    }
}


}  // namespace

int RunScanCommand(CommandContext& context) {
    if (!context.args.empty()) {
        std::fprintf(stderr, "tarvexctl: scan takes no arguments\n");
        return kExitUsage;
    }
    ScanDrives();
    const auto& table = PhysicalDriveTable();
    // The listing stops at 80 device interfaces: say so when the PC has more.
    const int present = CountDiskInterfaces();
    const int notListed = present > kMaxListedDrives ? present - kMaxListedDrives : 0;
    if (notListed > 0) {
        std::fprintf(stderr,
                     "tarvexctl: scan: the drive table lists at most %d disks; %d more on this PC are not listed\n",
                     kMaxListedDrives, notListed);
    }
    if (context.options.json) {
        Json doc = context.NewDocument("scan");
        Json drives = Json::array();
        for (size_t i = 0; i < table.size(); ++i) {
            const PhysicalDriveInfo& r = table[i];
            drives.push_back({{"index", i},
                              {"diskNumber", r.driveIndex},
                              {"capacityGB", r.capacityGB},
                              {"interface", InterfaceName(r.interfaceKind)},
                              {"interfaceKind", r.interfaceKind},
                              {"model", Utf8(r.modelNumber)},
                              {"serial", Utf8(r.serialNumber)},
                              {"firmware", Utf8(r.firmwareRevision)},
                              {"temperature", r.temperature},
                              {"attributeCount", r.attributeCount},
                              {"devicePath", Utf8(r.devicePath)}});
        }
        doc["driveCount"] = DriveCount;
        doc["disksNotListed"] = notListed;
        doc["drives"] = drives;
        context.PrintJson(doc);
        return kExitSuccess;
    }
    std::fprintf(context.out, "%d drive(s)\n", DriveCount);
    std::fprintf(context.out, "Idx Disk   Size GB  Interface  Model                                     Serial                "
                              "Firmware  Device path\n");
    for (size_t i = 0; i < table.size(); ++i) {
        const PhysicalDriveInfo& r = table[i];
        std::fprintf(context.out, "%3zu %4d %9llu  %-9s  %-40s  %-20s  %-8s  %s\n", i, r.driveIndex,
                     static_cast<unsigned long long>(r.capacityGB), InterfaceName(r.interfaceKind),
                     Utf8(r.modelNumber).c_str(), Utf8(r.serialNumber).c_str(), Utf8(r.firmwareRevision).c_str(),
                     Utf8(r.devicePath).c_str());
    }
    return kExitSuccess;
}

int RunSysinfoCommand(CommandContext& context) {
    if (!context.args.empty()) {
        std::fprintf(stderr, "tarvexctl: sysinfo takes no arguments\n");
        return kExitUsage;
    }
    // The scan first, so the controllers' devices carry their drive numbers.
    ScanDrives();
    UnderlyingUtil util;
    const bool complete = util.GetSystemInfo() != 0;
    const SystemInfo& s = GlobalSystemInfo();
    if (context.options.json) {
        Json doc = context.NewDocument("sysinfo");
        doc["complete"] = complete;
        doc["os"] = Utf8(s.OsName);
        doc["cpu"] = Utf8(s.CpuName);
        doc["processorAddressWidth"] = s.ProcessorAddressWidth;
        doc["totalMemoryMb"] = Utf8(s.TotalMemoryMb);
        doc["baseBoard"] = {{"vendor", Utf8(s.BaseBoardVendor)}, {"model", Utf8(s.BaseBoardModel)}};
        doc["biosVersion"] = Utf8(s.BiosVersion);
        doc["toolVersion"] = Utf8(s.ToolVersion);
        Json modules = Json::array();
        for (const MemoryModuleInfo& m : s.MemoryModules) {
            modules.push_back({{"deviceLocator", Utf8(m.DeviceLocator)},
                               {"bankLabel", Utf8(m.BankLabel)},
                               {"manufacturer", Utf8(m.Manufacturer)},
                               {"memoryType", m.MemoryType},
                               {"capacity", Utf8(m.Capacity)},
                               {"speed", m.Speed}});
        }
        doc["memoryModules"] = modules;
        Json hbas = Json::array();
        for (const HbaInfo& h : s.HbaList) {
            Json devices = Json::array();
            for (int i = 0; i < h.AttachedDeviceCount && i < kHbaDeviceSlots; ++i) {
                devices.push_back({{"name", Utf8(h.AttachedDevices[i].Name)},
                                   {"physicalDriveIndex", h.AttachedDevices[i].PhysicalDriveIndex}});
            }
            hbas.push_back({{"name", Utf8(h.Name)},
                            {"driverProvider", Utf8(h.DriverProvider)},
                            {"driverVersion", Utf8(h.DriverVersion)},
                            {"classCode", Utf8(h.ClassCode)},
                            {"attachedDeviceCount", h.AttachedDeviceCount},
                            {"attachedDevices", devices}});
        }
        doc["controllers"] = hbas;
        context.PrintJson(doc);
        return complete ? kExitSuccess : kExitCommandFailed;
    }
    FILE* out = context.out;
    std::string os = Utf8(s.OsName);
    for (char& c : os) {
        if (c == '\n') {
            c = ' ';
        }
    }
    std::fprintf(out, "Operating system     %s\n", os.c_str());
    std::fprintf(out, "Processor            %s (%d-bit addresses)\n", Utf8(s.CpuName).c_str(), s.ProcessorAddressWidth);
    std::fprintf(out, "Memory               %s MB\n", Utf8(s.TotalMemoryMb).c_str());
    std::fprintf(out, "Main board           %s %s\n", Utf8(s.BaseBoardVendor).c_str(), Utf8(s.BaseBoardModel).c_str());
    std::fprintf(out, "BIOS                 %s\n", Utf8(s.BiosVersion).c_str());
    std::fprintf(out, "Tool version         %s\n", s.ToolVersion[0] ? Utf8(s.ToolVersion).c_str() : "(none)");
    for (const MemoryModuleInfo& m : s.MemoryModules) {
        std::fprintf(out, "Memory module        %s, %s, %s, type %u, %s bytes, %d MHz\n", Utf8(m.DeviceLocator).c_str(),
                     Utf8(m.BankLabel).c_str(), Utf8(m.Manufacturer).c_str(), m.MemoryType, Utf8(m.Capacity).c_str(),
                     m.Speed);
    }
    for (const HbaInfo& h : s.HbaList) {
        std::fprintf(out, "Controller           %s (class %s, driver %s %s)\n", Utf8(h.Name).c_str(),
                     Utf8(h.ClassCode).c_str(), Utf8(h.DriverProvider).c_str(), Utf8(h.DriverVersion).c_str());
        for (int i = 0; i < h.AttachedDeviceCount && i < kHbaDeviceSlots; ++i) {
            std::fprintf(out, "  device             %s -> disk %d\n", Utf8(h.AttachedDevices[i].Name).c_str(),
                         h.AttachedDevices[i].PhysicalDriveIndex);
        }
    }
    if (!complete) {
        std::fprintf(stderr, "tarvexctl: sysinfo: the system information could not all be read (see the trace)\n");
        return kExitCommandFailed;
    }
    return kExitSuccess;
}

int RunVolumesCommand(CommandContext& context) {
    if (context.args.size() != 2 || context.args[0] != "--disk") {
        std::fprintf(stderr, "tarvexctl: volumes takes --disk N\n");
        return kExitUsage;
    }
    const std::optional<long> number = ParseCliNumber(context.args[1], 0, 255);
    if (!number) {
        std::fprintf(stderr, "tarvexctl: --disk takes a drive number from 0 to 255, found '%s'\n",
                     context.args[1].c_str());
        return kExitUsage;
    }
    const long disk = *number;
    if (!DiskExists(disk)) {
        const std::string why = fmt::format("no disk {}", disk);
        std::fprintf(stderr, "tarvexctl: volumes: %s\n", why.c_str());
        if (context.options.json) {
            Json doc = context.NewDocument("volumes");
            doc["error"] = {{"exitCode", kExitCommandFailed}, {"message", why}};
            context.PrintJson(doc);
        }
        return kExitCommandFailed;
    }
    UnderlyingUtil util;
    std::vector<LogicalDriveInfo> volumes;
    util.GetLogicalDriveInfo(static_cast<int>(disk), volumes);
    if (context.options.json) {
        Json doc = context.NewDocument("volumes");
        doc["disk"] = disk;
        Json list = Json::array();
        for (const LogicalDriveInfo& v : volumes) {
            list.push_back({{"deviceId", Utf8(v.DeviceID)},
                            {"fileSystem", Utf8(v.FileSystem)},
                            {"freeSpaceMb", v.FreeSpaceMb},
                            {"sizeMb", v.SizeMb},
                            {"physicalDriveNumber", v.PhysicalDriveNumber}});
        }
        doc["volumes"] = list;
        context.PrintJson(doc);
        return kExitSuccess;
    }
    std::fprintf(context.out, "%zu volume(s) on disk %ld\n", volumes.size(), disk);
    for (const LogicalDriveInfo& v : volumes) {
        std::fprintf(context.out, "%-3s %-6s %12llu MB free of %12llu MB\n", Utf8(v.DeviceID).c_str(),
                     Utf8(v.FileSystem).c_str(), static_cast<unsigned long long>(v.FreeSpaceMb),
                     static_cast<unsigned long long>(v.SizeMb));
    }
    return kExitSuccess;
}

}  // namespace tarvex::cli
