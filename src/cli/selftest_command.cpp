// tarvexctl selftest: the Diagnostics page's quick and full scans from a terminal. The test
// runs through the page's own logic and worker; tarvexctl stands in for the main window, so
// the worker's progress reaches it as it reaches the window.
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "app/progress_message.h"
#include "app/string_table.h"
#include "cli/cli_app.h"
#include "cli/cli_dialogs.h"
#include "cli/drive_selection.h"
#include "cli/exit_codes.h"
#include "cli/message_loop.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/diagnostics_page.h"
#include "platform/text.h"

namespace tarvex::cli {

namespace {

constexpr int kExitSelfTestFailed = 6;
constexpr int kExitSelfTestAborted = 7;

volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }

// Ctrl-C while a test runs aborts the test on the drive; a second Ctrl-C ends tarvexctl.
class InterruptGuard {
public:
    InterruptGuard() {
        interrupted = 0;
        previous_ = std::signal(SIGINT, OnInterrupt);
    }
    ~InterruptGuard() { std::signal(SIGINT, previous_); }
    void Restore() { std::signal(SIGINT, previous_); }

private:
    void (*previous_)(int) = SIG_DFL;
};


Json DriveJson(const PhysicalDriveInfo& r) {
    return {{"diskNumber", r.driveIndex}, {"model", Utf8(platform::FixedText(r.modelNumber))}};
}

// The drive's self-test state, read now.
struct DriveStatus {
    bool read = false;
    uint8_t status = 0;
};
DriveStatus ReadStatus(const PhysicalDriveInfo& r) {
    DriveStatus s;
    s.status = static_cast<uint8_t>(GlobalAtaCommand().GetSelfTestStatus(r.driveIndex, &s.read) & 0xFF);
    return s;
}

Json StatusJson(const DriveStatus& s) {
    if (!s.read) {
        return nullptr;
    }
    const bool running = (s.status >> 4) == 15;
    return {{"statusByte", s.status},
            {"value", s.status >> 4},
            {"running", running},
            {"remainingPercent", running ? Json(10 * (s.status & 0x0F)) : Json(nullptr)},
            {"text", SelfTestStatusSentence(s.status)}};
}

int ReportStatus(CommandContext& context, const char* command, const PhysicalDriveInfo& r) {
    const DriveStatus s = ReadStatus(r);
    if (context.options.json) {
        Json doc = context.NewDocument(command);
        doc["drive"] = DriveJson(r);
        doc["selfTest"] = StatusJson(s);
        doc["messages"] = context.dialogs->Messages();
        context.PrintJson(doc);
    } else if (s.read) {
        std::fprintf(context.out, "%s (disk %d): %s\n", Utf8(platform::FixedText(r.modelNumber)).c_str(),
                     r.driveIndex, SelfTestStatusSentence(s.status).c_str());
    }
    if (!s.read) {
        std::fprintf(stderr, "tarvexctl: %s: the drive's self-test status cannot be read%s\n", command,
                     r.interfaceKind == NvmeInterface ? " (an NVMe drive has no ATA self-test)" : "");
        return kExitCommandFailed;
    }
    return kExitSuccess;
}

void DrawBar(std::FILE* out, const std::u16string& label, int percent) {
    const int filled = percent / 5;
    std::fprintf(out, "\r%s [%.*s%.*s] %3d %%", Utf8(label).c_str(), filled, "####################", 20 - filled,
                 "....................", percent);
    std::fflush(out);
}

// One line per step of the bar when the output is not a terminal (a log, a pipe).
void PrintStep(std::FILE* out, const std::u16string& label, int percent, int* shown) {
    if (percent != *shown) {
        std::fprintf(out, "%s %d %%\n", Utf8(label).c_str(), percent);
        std::fflush(out);
        *shown = percent;
    }
}

// Runs a scan to its END through the page, drawing its bar on a terminal, else printing a
// line per step.
int RunToEnd(CommandContext& context, DiagnosticsPageLogic& page, MainWindowQueue& window,
             DiagnosticsPageLogic::Scan scan, const PhysicalDriveInfo& r) {
    const bool bar = !context.options.json && isatty(fileno(context.out)) != 0;
    const bool steps = !context.options.json && !bar;
    int shownStep = -1;
    const std::u16string label(LoadResourceString(scan == DiagnosticsPageLogic::kQuick ? 261 : 262));
    const int kind = scan == DiagnosticsPageLogic::kQuick ? kOperationQuickScan : kOperationFullScan;
    InterruptGuard guard;
    bool cancelled = false;
    bool ended = false;
    while (!ended) {
        if (interrupted != 0 && !cancelled) {
            cancelled = true;
            guard.Restore();
            if (bar) {
                std::fputs("\n", context.out);
            }
            std::fprintf(stderr, "tarvexctl: aborting the self-test on disk %d\n", r.driveIndex);
            page.Cancel(scan);
        }
        const auto message = window.Wait(std::chrono::milliseconds(100));
        if (!message) {
            continue;
        }
        ended = ProgressCode(message->wParam) == KORVANEMSG_WPARAM_PROGRESSEND;
        if (ended && bar) {
            if (LoadThreadResult(page.ThreadData(kind)) == kSelfTestSucceeded) {
                DrawBar(context.out, label, 100);
            }
            std::fputs("\n", context.out);  // the result goes on a line of its own
        }
        if (ended && steps && LoadThreadResult(page.ThreadData(kind)) == kSelfTestSucceeded) {
            PrintStep(context.out, label, 100, &shownStep);
        }
        DeliverToDiagnosticsPage(page, kPageDiagnostics, *message);
        if (!ended && bar && page.Controls(scan).barVisible) {
            DrawBar(context.out, label, page.Controls(scan).barPosition);
        }
        if (!ended && steps && page.Controls(scan).barVisible) {
            PrintStep(context.out, label, page.Controls(scan).barPosition, &shownStep);
        }
    }
    page.JoinWorkers();
    const int result = LoadThreadResult(page.ThreadData(kind));
    if (context.options.json) {
        Json doc = context.NewDocument("selftest");
        doc["drive"] = DriveJson(r);
        doc["test"] = scan == DiagnosticsPageLogic::kQuick ? "short" : "extended";
        doc["result"] = result;
        doc["selfTest"] = StatusJson(ReadStatus(r));
        doc["messages"] = context.dialogs->Messages();
        context.PrintJson(doc);
    }
    if (result == kSelfTestSucceeded) {
        return kExitSuccess;
    }
    return result == kSelfTestAborted ? kExitSelfTestAborted : kExitSelfTestFailed;
}

// Starts a scan and leaves it running on the drive: the worker is let go once it has sent
// the start command, without the END it then posts reaching the page.
int StartOnly(CommandContext& context, DiagnosticsPageLogic& page, MainWindowQueue& window,
              DiagnosticsPageLogic::Scan scan, const PhysicalDriveInfo& r) {
    for (;;) {
        const auto message = window.Wait(std::chrono::milliseconds(100));
        if (message && ProgressCode(message->wParam) == KORVANEMSG_WPARAM_PROGRESSSTART) {
            break;
        }
    }
    SelfTestAbortRequested = 1;  // the worker leaves at its next step, after the start command
    page.JoinWorkers();
    SelfTestAbortRequested = 0;
    // The END that would give the page's claim back is not handled: give it back here.
    ReleaseBusyOperation(scan == DiagnosticsPageLogic::kQuick ? kOperationQuickScan : kOperationFullScan);
    return ReportStatus(context, "selftest", r);
}

// A request whose change to the drive could not be saved (a full disk, a state file another
// program left unreadable) failed at the drive; the command fails with what went wrong, even
// when the flow went on to show the drive's earlier state.
int CheckSaved(CommandContext& context, int exitCode) {
    const std::string problem = context.machine->TakeStateError();
    if (problem.empty()) {
        return exitCode;
    }
    std::fprintf(stderr, "tarvexctl: selftest: %s\n", problem.c_str());
    return kExitCommandFailed;
}

const char* kUsage =
    "tarvexctl: selftest takes --drive I|--disk N short|extended|abort|status [--wait]\n";

}  // namespace

int RunSelftestCommand(CommandContext& context) {
    DriveChoice choice;
    std::string error;
    if (!TakeDriveChoice(context.args, &choice, &error)) {
        std::fprintf(stderr, "tarvexctl: selftest: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    bool wait = false;
    std::string action;
    for (const std::string& a : context.args) {
        if (a == "--wait") {
            wait = true;
        } else if (action.empty() && (a == "short" || a == "extended" || a == "abort" || a == "status")) {
            action = a;
        } else {
            std::fprintf(stderr, "tarvexctl: selftest: unexpected '%s'\n%s", a.c_str(), kUsage);
            return kExitUsage;
        }
    }
    if (action.empty() || (wait && (action == "abort" || action == "status"))) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const PhysicalDriveInfo* record = ScanAndSelect(choice);
    if (record == nullptr) {
        std::fprintf(stderr, "tarvexctl: selftest: no such drive in the drive table (see tarvexctl scan)\n");
        return kExitCommandFailed;
    }
    if (action == "status") {
        return ReportStatus(context, "selftest", *record);
    }

    MainWindowQueue window;  // before the page: the page's workers post to it until joined
    DiagnosticsPageLogic page;
    page.Initialize();
    if (action == "abort") {
        page.Cancel(DiagnosticsPageLogic::kQuick);
        return CheckSaved(context, ReportStatus(context, "selftest", *record));
    }
    const auto scan = action == "short" ? DiagnosticsPageLogic::kQuick : DiagnosticsPageLogic::kFull;
    if (record->interfaceKind == NvmeInterface) {
        std::fprintf(stderr, "tarvexctl: note: disk %d is an NVMe drive, which has no ATA self-test\n",
                     record->driveIndex);
    }
    page.Run(scan);
    return CheckSaved(context, wait ? RunToEnd(context, page, window, scan, *record)
                                    : StartOnly(context, page, window, scan, *record));
}

}  // namespace tarvex::cli
