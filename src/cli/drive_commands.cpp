// tarvexctl identify and smart: one drive's identity and SMART attributes. Until the drive
// scan can tell drive kinds apart, --disk N opens \\.\PhysicalDriveN as a SATA drive and
// --nvme reaches an NVMe drive (by --path P or --disk N) through its SCSI port.
#include <cstdio>
#include <cstring>
#include <string>

#include <fmt/format.h>

#include "cli/cli_app.h"
#include "cli/drive_selection.h"
#include "cli/exit_codes.h"
#include "cli/sata_output.h"
#include "device/ata_command.h"
#include "device/identify_decoding.h"
#include "health/nvme_health_log.h"
#include "health/smart_attributes.h"
#include "health/smart_names.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::cli {

namespace {

struct DriveArgs {
    std::optional<int> disk;
    std::optional<std::string> path;
    bool nvme = false;
    bool raw = false;
};


// Parses --disk N | --path P [--nvme] [--raw]; nothing (with a message) when they are wrong.
std::optional<DriveArgs> ParseDriveArgs(const std::vector<std::string>& args, bool allowRaw) {
    DriveArgs d;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--disk" && i + 1 < args.size()) {
            const std::optional<long> n = ParseCliNumber(args[i + 1], 0, 255);
            if (!n) {
                std::fprintf(stderr, "tarvexctl: --disk takes a drive number from 0 to 255, found '%s'\n",
                             args[i + 1].c_str());
                return std::nullopt;
            }
            d.disk = static_cast<int>(*n);
            ++i;
        } else if (a == "--path" && i + 1 < args.size()) {
            d.path = args[++i];
        } else if (a == "--nvme") {
            d.nvme = true;
        } else if (a == "--raw" && allowRaw) {
            d.raw = true;
        } else {
            std::fprintf(stderr, "tarvexctl: unexpected argument '%s'\n", a.c_str());
            return std::nullopt;
        }
    }
    if (d.disk.has_value() == d.path.has_value()) {
        std::fprintf(stderr, "tarvexctl: give the drive with --disk N or --path P\n");
        return std::nullopt;
    }
    return d;
}

std::u16string DrivePath(const DriveArgs& d) {
    return d.path ? platform::Utf8ToUtf16(*d.path)
                  : platform::Utf8ToUtf16(fmt::format("\\\\.\\PhysicalDrive{}", *d.disk));
}

std::string DriveName(const DriveArgs& d) {
    return d.disk ? fmt::format("disk {}", *d.disk) : "'" + *d.path + "'";
}

bool DeviceExists(const std::u16string& path) {
    platform::Devices* devices = platform::Current().devices;
    if (devices != nullptr &&
        devices->CreateFile(path, 0, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0)) {
        return true;
    }
    const uint32_t error = platform::GetLastError();
    return error != win::ERROR_FILE_NOT_FOUND && error != win::ERROR_PATH_NOT_FOUND;
}

// Identifies the drive into a record; false when the drive does not answer. `why` then says
// whether the drive is missing, or answers as the other kind (so --nvme is missing or wrong).
bool IdentifyInto(const DriveArgs& d, PhysicalDriveInfo& record, std::string* why) {
    ATACommand& ata = GlobalAtaCommand();
    const std::u16string path = DrivePath(d);
    if (d.disk ? !DiskExists(*d.disk) : !DeviceExists(path)) {
        *why = d.disk ? fmt::format("no disk {}", *d.disk) : "no device " + DriveName(d);
        return false;
    }
    platform::CopyToFixed(record.devicePath, path);
    record.driveIndex = d.disk.value_or(-1);
    if (d.nvme) {
        record.interfaceKind = NvmeInterface;
        std::vector<uint8_t> buffer(platform::kNvmeIdentifyBufferSize, 0);
        if (!ata.IdentifyCommand_Controller(path, buffer.data())) {
            uint8_t identify[512];
            *why = ata.DoIdentify(path, 0xA0, identify)
                       ? DriveName(d) + " is a SATA drive: leave out --nvme"
                       : "the NVMe drive did not answer Identify Controller through its miniport";
            return false;
        }
        std::memcpy(record.nvmeIdentify, buffer.data() + platform::kNvmeDataOffset, sizeof record.nvmeIdentify);
        StoreNvmeIdentifyStrings(record);
        return true;
    }
    uint8_t identify[512];
    if (!ata.DoIdentify(path, 0xA0, identify)) {
        std::vector<uint8_t> buffer(platform::kNvmeIdentifyBufferSize, 0);
        *why = ata.IdentifyCommand_Controller(path, buffer.data())
                   ? "IDENTIFY DEVICE failed: " + DriveName(d) + " is an NVMe drive: add --nvme"
                   : "IDENTIFY DEVICE failed";
        return false;
    }
    StoreSataIdentify(record, identify);
    return true;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += fmt::format("{:02X}", p[i]);
    }
    return s;
}

int Failed(const CommandContext& context, const std::string& command, const std::string& why) {
    std::fprintf(stderr, "tarvexctl: %s: %s\n", command.c_str(), why.c_str());
    if (context.options.json) {
        Json doc = context.NewDocument(command);
        doc["error"] = {{"exitCode", kExitCommandFailed}, {"message", why}};
        context.PrintJson(doc);
    }
    return kExitCommandFailed;
}

}  // namespace

int RunIdentifyCommand(CommandContext& context) {
    auto args = ParseDriveArgs(context.args, true);
    if (!args) {
        return kExitUsage;
    }
    PhysicalDriveInfo record = EmptyDriveRecord();
    std::string why;
    if (!IdentifyInto(*args, record, &why)) {
        return Failed(context, "identify", why);
    }
    const std::string model = Utf8(platform::FixedText(record.modelNumber));
    const std::string serial = Utf8(platform::FixedText(record.serialNumber));
    const std::string firmware = Utf8(platform::FixedText(record.firmwareRevision));
    FILE* out = context.out;
    if (args->nvme) {
        const uint8_t* id = record.nvmeIdentify;
        const unsigned vid = id[0] | (id[1] << 8);
        const unsigned ssvid = id[2] | (id[3] << 8);
        if (context.options.json) {
            Json doc = context.NewDocument("identify");
            doc["drive"] = {{"path", Utf8(platform::FixedText(record.devicePath))}, {"interface", "NVMe"}};
            doc["identity"] = {{"model", model}, {"serial", serial}, {"firmware", firmware},
                               {"vendorId", fmt::format("{:04X}", vid)}, {"subsystemVendorId", fmt::format("{:04X}", ssvid)}};
            if (args->raw) {
                doc["rawIdentifyController"] = Hex(id, sizeof record.nvmeIdentify);
            }
            context.PrintJson(doc);
            return kExitSuccess;
        }
        std::fprintf(out, "Model                %s\nSerial number        %s\nFirmware revision    %s\n", model.c_str(),
                     serial.c_str(), firmware.c_str());
        std::fprintf(out, "PCI vendor           %04X (subsystem %04X)\nInterface            NVMe\n", vid, ssvid);
        if (args->raw) {
            for (size_t i = 0; i < sizeof record.nvmeIdentify; i += 32) {
                std::fprintf(out, "%04zX  %s\n", i, Hex(id + i, 32).c_str());
            }
        }
        return kExitSuccess;
    }
    return ShowSataIdentify(context, record, args->disk, args->raw);
}

int RunSmartCommand(CommandContext& context) {
    auto args = ParseDriveArgs(context.args, true);
    if (!args) {
        return kExitUsage;
    }
    if (args->nvme && args->raw) {
        std::fprintf(stderr, "tarvexctl: smart: --raw shows the SMART pages of a SATA drive; leave it out with --nvme\n");
        return kExitUsage;
    }
    PhysicalDriveInfo record = EmptyDriveRecord();
    std::string why;
    if (!IdentifyInto(*args, record, &why)) {
        return Failed(context, "smart", why);
    }
    ATACommand& ata = GlobalAtaCommand();
    const std::u16string path = DrivePath(*args);
    FILE* out = context.out;
    if (args->nvme) {
        if (!ata.GetLogPageCommand_SMART_Health(path, record.smartData)) {
            return Failed(context, "smart", "the NVMe drive did not return its SMART / Health log");
        }
        const NvmeHealthLog h = DecodeNvmeHealthLog(record.smartData);
        const int celsius = h.compositeTemperatureKelvin == 0 ? 0 : h.compositeTemperatureKelvin - 273;
        if (context.options.json) {
            Json doc = context.NewDocument("smart");
            doc["drive"] = {{"path", Utf8(path)}, {"interface", "NVMe"},
                            {"model", Utf8(platform::FixedText(record.modelNumber))}};
            doc["healthLog"] = {{"criticalWarning", h.criticalWarning},
                                {"compositeTemperatureKelvin", h.compositeTemperatureKelvin},
                                {"temperatureCelsius", celsius},
                                {"availableSpare", h.availableSpare},
                                {"availableSpareThreshold", h.availableSpareThreshold},
                                {"percentageUsed", h.percentageUsed},
                                {"dataUnitsRead", h.dataUnitsRead},
                                {"dataUnitsWritten", h.dataUnitsWritten},
                                {"hostReadCommands", h.hostReadCommands},
                                {"hostWriteCommands", h.hostWriteCommands},
                                {"powerCycles", h.powerCycles},
                                {"powerOnHours", h.powerOnHours},
                                {"unsafeShutdowns", h.unsafeShutdowns},
                                {"mediaErrors", h.mediaErrors}};
            context.PrintJson(doc);
            return kExitSuccess;
        }
        std::fprintf(out, "Model                %s (NVMe SMART / Health log)\n",
                     Utf8(platform::FixedText(record.modelNumber)).c_str());
        std::fprintf(out, "Critical warning     0x%02X\n", h.criticalWarning);
        std::fprintf(out, "Temperature          %d C (%u K)\n", celsius, h.compositeTemperatureKelvin);
        std::fprintf(out, "Available spare      %u%% (threshold %u%%)\n", h.availableSpare, h.availableSpareThreshold);
        std::fprintf(out, "Percentage used      %u%%\n", h.percentageUsed);
        std::fprintf(out, "Data units read      %llu\nData units written   %llu\n",
                     static_cast<unsigned long long>(h.dataUnitsRead), static_cast<unsigned long long>(h.dataUnitsWritten));
        std::fprintf(out, "Power cycles         %llu\nPower-on hours       %llu\nUnsafe shutdowns     %llu\n",
                     static_cast<unsigned long long>(h.powerCycles), static_cast<unsigned long long>(h.powerOnHours),
                     static_cast<unsigned long long>(h.unsafeShutdowns));
        std::fprintf(out, "Media errors         %llu\n", static_cast<unsigned long long>(h.mediaErrors));
        return kExitSuccess;
    }
    if (!ata.GetSmartAttributePd(path, 0, record)) {
        return Failed(context, "smart", "SMART READ DATA failed or the drive lists no attribute");
    }
    (void)ata.GetSmartThresholdPd(path, 0, record);
    return ShowSataSmart(context, record, path, args->raw);
}

}  // namespace tarvex::cli
