// tarvexctl ata-summary: the ATA Command Summary of a JMF608 drive from a terminal. The
// readings run through the page's own statistics logic and worker; tarvexctl stands in for
// the main window and hands each posted reading to the page's handler.
#include <cstdio>

#include "app/progress_message.h"
#include "cli/cli_app.h"
#include "cli/drive_selection.h"
#include "cli/exit_codes.h"
#include "cli/message_loop.h"
#include "drives/drive_table.h"
#include "health/ata_statistics.h"
#include "platform/text.h"

namespace tarvex::cli {

namespace {

const char* kUsage = "tarvexctl: ata-summary takes --drive I|--disk N [--seconds N]\n";
constexpr const char* kBucketNames[kStatisticsBucketCount] = {"512 Byte", "4 KB", "32 KB", "64 KB"};
constexpr const char* kBucketKeys[kStatisticsBucketCount] = {"512B", "4KB", "32KB", "64KB"};

}  // namespace

int RunAtaSummaryCommand(CommandContext& context) {
    DriveChoice choice;
    std::string error;
    if (!TakeDriveChoice(context.args, &choice, &error)) {
        std::fprintf(stderr, "tarvexctl: ata-summary: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    long seconds = 1;
    for (size_t i = 0; i < context.args.size(); ++i) {
        const std::string& a = context.args[i];
        if (a == "--seconds" && i + 1 < context.args.size()) {
            const auto n = ParseCliNumber(context.args[++i], 1, 3600);
            if (!n) {
                std::fprintf(stderr, "tarvexctl: ata-summary: --seconds takes a number from 1 to 3600\n");
                return kExitUsage;
            }
            seconds = *n;
        } else {
            std::fprintf(stderr, "tarvexctl: ata-summary: unexpected '%s'\n%s", a.c_str(), kUsage);
            return kExitUsage;
        }
    }
    const PhysicalDriveInfo* record = ScanAndSelect(choice);
    if (record == nullptr) {
        std::fprintf(stderr, "tarvexctl: ata-summary: no such drive in the drive table (see tarvexctl scan)\n");
        return kExitCommandFailed;
    }

    MainWindowQueue window;  // before the page: its worker posts to it until stopped
    AtaStatisticsSummary summary;
    const auto started = summary.Start(SelectedDrive);
    if (started == AtaStatisticsSummary::kNotSupported) {
        std::fprintf(stderr, "tarvexctl: ata-summary: Non-supported model\n");
        return kExitCommandFailed;
    }
    if (started != AtaStatisticsSummary::kStarted) {
        std::fprintf(stderr, "tarvexctl: ata-summary: the statistics could not be started\n");
        return kExitCommandFailed;
    }
    int readings = 0;
    while (readings < seconds) {
        const auto message = window.Wait(std::chrono::milliseconds(100));
        if (!message) {
            continue;
        }
        const int code = ProgressCode(message->wParam);
        if (summary.HandleProgress(code, message->lParam) && code == KORVANEMSG_WPARAM_PROGRESSEND) {
            ++readings;
        }
    }
    summary.Stop();

    const AtaStatisticsTotals& t = summary.Totals();
    const auto text = [&](uint32_t v) { return Utf8(StatisticsValueText(t, v)); };
    if (context.options.json) {
        Json doc = context.NewDocument("ata-summary");
        doc["drive"] = {{"diskNumber", record->driveIndex}, {"model", Utf8(platform::FixedText(record->modelNumber))}};
        doc["readings"] = readings;
        doc["readingsAdded"] = summary.ReadingsAdded();
        doc["failedReadings"] = summary.FailedReadings();
        doc["totalReads"] = t.totalReads;
        doc["totalWrites"] = t.totalWrites;
        doc["ratio"] = Utf8(StatisticsRatioText(t));
        Json buckets = Json::object();
        for (size_t b = 0; b < kStatisticsBucketCount; ++b) {
            buckets[kBucketKeys[b]] = {{"reads", t.bucketReads[b]}, {"writes", t.bucketWrites[b]}};
        }
        doc["buckets"] = buckets;
        context.PrintJson(doc);
    } else {
        std::fprintf(context.out, "%s (disk %d), %d readings, %d failed\n",
                     Utf8(platform::FixedText(record->modelNumber)).c_str(), record->driveIndex, readings,
                     summary.FailedReadings());
        std::fprintf(context.out, "R/W Cmd Ratio: %s\n", Utf8(StatisticsRatioText(t)).c_str());
        for (size_t b = 0; b < kStatisticsBucketCount; ++b) {
            std::fprintf(context.out, "%-9s read %s, write %s\n", kBucketNames[b], text(t.bucketReads[b]).c_str(),
                         text(t.bucketWrites[b]).c_str());
        }
    }
    return summary.ReadingsAdded() == 0 ? kExitCommandFailed : kExitSuccess;
}

}  // namespace tarvex::cli
