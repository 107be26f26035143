// tarvexctl health: a drive's health as the Drive Info page shows it, with its attributes.
#include <cstdio>
#include <cstdlib>

#include "cli/cli_app.h"
#include "cli/drive_selection.h"
#include "cli/exit_codes.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/drive_info_figures.h"
#include "health/smart_attributes.h"
#include "health/smart_names.h"
#include "platform/text.h"

namespace tarvex::cli {

namespace {

constexpr int kExitCaution = 4;
constexpr int kExitBelowThreshold = 5;

const char* StatusWords(int status) {
    switch (status) {
        case 1: return "good (no problem found)";
        case 2: return "caution";
        default: return "bad (an attribute is below its threshold)";
    }
}


}  // namespace

int RunHealthCommand(CommandContext& context) {
    DriveChoice choice;
    std::string error;
    if (!TakeDriveChoice(context.args, &choice, &error) || !context.args.empty()) {
        std::fprintf(stderr, "tarvexctl: health takes --drive I (index in the drive table) or --disk N\n");
        return kExitUsage;
    }
    const PhysicalDriveInfo* record = ScanAndSelect(choice);
    if (record == nullptr) {
        std::fprintf(stderr, "tarvexctl: health: no such drive in the drive table (see tarvexctl scan)\n");
        return kExitCommandFailed;
    }
    const DriveInfoFigures f = ComputeDriveInfoFigures(*record);
    const int code = f.status == 1 ? kExitSuccess : f.status == 2 ? kExitCaution : kExitBelowThreshold;
    if (context.options.json) {
        Json doc = context.NewDocument("health");
        doc["drive"] = {{"diskNumber", record->driveIndex}, {"model", Utf8(platform::FixedText(record->modelNumber))}};
        doc["status"] = f.status;
        doc["statusText"] = StatusWords(f.status);
        doc["temperature"] = f.temperature == TemperatureUnavailable ? Json(nullptr) : Json(f.temperature);
        doc["temperatureText"] = Utf8(f.temperatureText);
        doc["remainingLife"] = f.remainingLife;
        doc["totalWrittenGiB"] = f.totalWrittenGiB < 0 ? Json(nullptr) : Json(f.totalWrittenGiB);
        doc["totalWrittenText"] = Utf8(f.totalWrittenText);
        Json rows = Json::array();
        for (uint32_t i = 0; i < record->attributeCount; ++i) {
            const SmartAttributeEntry& e = record->attributes[i];
            rows.push_back({{"id", e.id},
                            {"name", Utf8(LookupSmartAttributeName(*record, e.id))},
                            {"current", e.current},
                            {"worst", e.worst},
                            {"threshold", record->thresholdEntries[i].threshold},
                            {"raw", RawValue48(e)}});
        }
        doc["attributes"] = rows;
        context.PrintJson(doc);
        return code;
    }
    FILE* out = context.out;
    std::fprintf(out, "Drive                %s (disk %d)\n", Utf8(platform::FixedText(record->modelNumber)).c_str(),
                 record->driveIndex);
    std::fprintf(out, "Status               %d, %s\n", f.status, StatusWords(f.status));
    std::fprintf(out, "Temperature          %s\n", Utf8(f.temperatureText).c_str());
    std::fprintf(out, "Remaining life       %d %%\n", f.remainingLife);
    std::fprintf(out, "Total bytes written  %s\n", Utf8(f.totalWrittenText).c_str());
    if (record->attributeCount > 0) {
        std::fprintf(out, "\n ID  Name                                      Cur  Wst  Thr  Raw\n");
    }
    for (uint32_t i = 0; i < record->attributeCount; ++i) {
        const SmartAttributeEntry& e = record->attributes[i];
        std::fprintf(out, "%3u  %-40s  %3u  %3u  %3u  %llu\n", e.id, Utf8(LookupSmartAttributeName(*record, e.id)).c_str(),
                     e.current, e.worst, record->thresholdEntries[i].threshold,
                     static_cast<unsigned long long>(RawValue48(e)));
    }
    return code;
}

}  // namespace tarvex::cli
