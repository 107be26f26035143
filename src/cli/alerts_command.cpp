// tarvexctl alerts: the monitoring service's alert thresholds, shown and set as the
// Diagnostics page's Apply buttons set them.
#include <cstdio>

#include "cli/cli_app.h"
#include "cli/exit_codes.h"
#include "device/ata_command.h"
#include "health/alert_settings.h"
#include "health/diagnostics_page.h"
#include "platform/text.h"

namespace tarvex::cli {

int RunAlertsCommand(CommandContext& context) {
    std::optional<int32_t> temperature, life;
    const auto& a = context.args;
    for (size_t i = 0; i < a.size(); i += 2) {
        if (i + 1 >= a.size() || (a[i] != "--temperature" && a[i] != "--life")) {
            std::fprintf(stderr, "tarvexctl: alerts takes [--temperature N] [--life N]\n");
            return kExitUsage;
        }
        const auto value = ParseAlertInput(platform::Utf8ToUtf16(a[i + 1]));
        if (!value) {
            std::fprintf(stderr, "tarvexctl: alerts: error input: '%s'\n", a[i + 1].c_str());
            return kExitUsage;
        }
        (a[i] == "--temperature" ? temperature : life) = *value;
    }
    if (temperature || life) {
        // The page locks the thresholds while the service may be using them.
        DiagnosticsPageLogic page;
        page.LoadAlertSettings();
        if (!page.AlertControlsEnabled()) {
            std::fprintf(stderr,
                         "tarvexctl: alerts: the thresholds can be changed only while the monitoring service is "
                         "stopped (tarvexctl service off)\n");
            return kExitCommandFailed;
        }
    }
    ATACommand& ata = GlobalAtaCommand();
    if ((temperature && !ata.WriteTemperatureAlert(*temperature)) || (life && !ata.WriteLifeAlert(*life))) {
        std::fprintf(stderr, "tarvexctl: alerts: the registry value could not be written\n");
        return kExitCommandFailed;
    }
    const int shownTemperature = ShownTemperatureAlert();
    const int shownLife = ShownLifeAlert();
    if (context.options.json) {
        Json doc = context.NewDocument("alerts");
        doc["temperatureOver"] = shownTemperature;
        doc["estimatedLifeUnder"] = shownLife;
        context.PrintJson(doc);
        return kExitSuccess;
    }
    std::fprintf(context.out, "Temperature over      %d\nEstimated life under  %d\n", shownTemperature, shownLife);
    return kExitSuccess;
}

}  // namespace tarvex::cli
