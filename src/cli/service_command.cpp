// tarvexctl service: the Diagnostics page's service box. "on" and "off" click it as the user
// would (with its messages); "status" asks the service control manager.
#include <cstdio>

#include "app/progress_message.h"
#include "cli/cli_app.h"
#include "cli/cli_dialogs.h"
#include "cli/drive_selection.h"
#include "cli/exit_codes.h"
#include "cli/message_loop.h"
#include "device/ata_command.h"
#include "health/diagnostics_page.h"
#include "health/service_control.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::cli {

namespace {

const char* StateName(uint32_t state) {
    switch (state) {
        case win::SERVICE_STOPPED: return "stopped";
        case win::SERVICE_START_PENDING: return "start pending";
        case win::SERVICE_STOP_PENDING: return "stop pending";
        case win::SERVICE_RUNNING: return "running";
        case 5: return "continue pending";
        case 6: return "pause pending";
        case 7: return "paused";
        default: return "unknown";
    }
}

// Handles the posts of the service-stop worker until its END.
void RunServiceStop(DiagnosticsPageLogic& page, MainWindowQueue& window) {
    for (;;) {
        const auto message = window.Wait(std::chrono::milliseconds(100));
        if (!message) {
            continue;
        }
        DeliverToDiagnosticsPage(page, kPageDiagnostics, *message);
        if (ProgressCode(message->wParam) == KORVANEMSG_WPARAM_PROGRESSEND) {
            break;
        }
    }
    page.JoinWorkers();
}

}  // namespace

int RunServiceCommand(CommandContext& context) {
    const auto& a = context.args;
    if (a.size() != 1 || (a[0] != "on" && a[0] != "off" && a[0] != "status")) {
        std::fprintf(stderr, "tarvexctl: service takes on, off or status\n");
        return kExitUsage;
    }
    ScanDrives();
    bool stopFailed = false;
    if (a[0] != "status") {
        MainWindowQueue window;
        DiagnosticsPageLogic page;
        page.Initialize();
        const bool on = a[0] == "on";
        page.ServiceBoxClicked(on);
        if (!on) {
            RunServiceStop(page, window);
            stopFailed = LoadThreadResult(page.ThreadData(kOperationServiceStop)) != kServiceStopSucceeded;
        }
    }
    platform::ServiceStatus status;
    const bool known = GlobalAtaCommand().QueryServiceState(kMonitoringServiceName, &status);
    const std::string name = platform::Utf16ToUtf8(kMonitoringServiceName);
    if (context.options.json) {
        Json doc = context.NewDocument("service");
        doc["service"] = name;
        doc["installed"] = known;
        doc["state"] = known ? Json(StateName(status.currentState)) : Json(nullptr);
        doc["alertsEditable"] = known && status.currentState == win::SERVICE_STOPPED;
        doc["messages"] = context.dialogs->Messages();
        context.PrintJson(doc);
    } else if (known) {
        std::fprintf(context.out, "%s: %s\n", name.c_str(), StateName(status.currentState));
    }
    if (!known) {
        std::fprintf(stderr, "tarvexctl: service: \"%s\" cannot be queried (not installed?)\n", name.c_str());
        return kExitCommandFailed;
    }
    return stopFailed ? kExitCommandFailed : kExitSuccess;
}

}  // namespace tarvex::cli
