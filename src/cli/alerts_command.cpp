// tarvexctl alerts: the monitoring service's alert thresholds, shown and set as the
// Diagnostics page's Apply buttons set them.
#include <cstdio>

#include "app/file_output.h"
#include "cli/cli_app.h"
#include "cli/cli_dialogs.h"
#include "cli/exit_codes.h"
#include "device/ata_command.h"
#include "health/alert_settings.h"
#include "health/diagnostics_page.h"
#include "health/service_control.h"
#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::cli {

int RunAlertsCommand(CommandContext& context) {
    std::optional<int32_t> temperature, life;
    const auto& a = context.args;
    for (size_t i = 0; i < a.size(); i += 2) {
        if (i + 1 >= a.size() || (a[i] != "--temperature" && a[i] != "--life")) {
            std::fprintf(stderr, "tarvexctl: alerts takes [--temperature N] [--life N]\n");
            return kExitUsage;
        }
        const std::u16string text = platform::Utf8ToUtf16(a[i + 1]);
        const auto value = ParseAlertInput(text);
        if (!value) {
            // The page's Apply shows its message box for the bad text (on standard output, as
            // every message box of a flow); it stores nothing.
            DiagnosticsPageLogic page;
            a[i] == "--temperature" ? page.ApplyTemperature(text) : page.ApplyLife(text);
            const std::string why = a[i] + " takes a whole number, found '" + a[i + 1] + "'";
            std::fprintf(stderr, "tarvexctl: alerts: %s\n", why.c_str());
            if (context.options.json) {
                Json doc = context.NewDocument("alerts");
                doc["error"] = {{"exitCode", kExitUsage}, {"message", why}};
                doc["messages"] = context.dialogs->Messages();
                context.PrintJson(doc);
            }
            return kExitUsage;
        }
        (a[i] == "--temperature" ? temperature : life) = *value;
    }
    if (temperature || life) {
        // The page locks the thresholds while the service may be using them.
        DiagnosticsPageLogic page;
        page.LoadAlertSettings();
        if (!page.AlertControlsEnabled()) {
            platform::ServiceStatus status;
            if (!GlobalAtaCommand().QueryServiceState(kMonitoringServiceName, &status) &&
                platform::GetLastError() == win::ERROR_SERVICE_DOES_NOT_EXIST) {
                // Without the service nothing can tell whether it would use the thresholds: they stay locked.
                std::fprintf(stderr,
                             "tarvexctl: alerts: the monitoring service (%s) is not installed on this PC, so the "
                             "thresholds stay locked\n",
                             Utf8(kMonitoringServiceName).c_str());
            } else {
                std::fprintf(stderr,
                             "tarvexctl: alerts: the thresholds can be changed only while the monitoring service is "
                             "stopped (tarvexctl service off)\n");
            }
            return kExitCommandFailed;
        }
    }
    ATACommand& ata = GlobalAtaCommand();
    if ((temperature && !ata.WriteTemperatureAlert(*temperature)) || (life && !ata.WriteLifeAlert(*life))) {
        std::fprintf(stderr, "tarvexctl: alerts: the registry value could not be written: %s\n",
                     Utf8(Win32ErrorText(platform::GetLastError())).c_str());
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
