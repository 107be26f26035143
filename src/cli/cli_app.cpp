#include "cli/cli_app.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/console.h"
#include "app/startup.h"
#include "cli/cli_dialogs.h"
#include "cli/exit_codes.h"
#include "platform/platform.h"

namespace tarvex::cli {

namespace {

constexpr int kJsonFormatVersion = 1;

void PrintUsage(std::FILE* to) {
    std::fputs(
        "Usage: tarvexctl [--machine PROFILE] [--state DIR] [--json] COMMAND [ARGS]\n"
        "\n"
        "The command-line companion of Tarvex. It runs on an emulated PC described by a\n"
        "machine profile (default: the embedded demo PC).\n"
        "\n"
        "Options:\n"
        "  --machine PROFILE  a profile file (*.json) or an embedded profile's name\n"
        "                     (default: $TARVEX_MACHINE, else \"demo\")\n"
        "  --state DIR        the machine's state directory (default: $TARVEX_STATE, else\n"
        "                     $XDG_STATE_HOME/tarvex/<profile name>)\n"
        "  --json             print one JSON document {\"formatVersion\": 1, ...} on stdout\n"
        "  -h, --help         show this help\n"
        "\n"
        "Commands:\n",
        to);
    for (const Command& c : Commands()) {
        // A long usage gets a line of its own, with the summary under it.
        if (std::strlen(c.usage) > 24) {
            std::fprintf(to, "  %s\n  %-24s %s\n", c.usage, "", c.summary);
        } else {
            std::fprintf(to, "  %-24s %s\n", c.usage, c.summary);
        }
    }
    std::fputs(
        "\n"
        "DRIVE is --disk N (\\\\.\\PhysicalDriveN) or --path P (a device path), as a SATA drive;\n"
        "add --nvme for an NVMe drive, reached through its SCSI port. Numbers are plain decimal\n"
        "digits. FILE is written in place when it is a device or FIFO, through a link to its file.\n"
        "\n"
        "Exit codes: 0 success, 1 start-up classification ended the program (Windows XP\n"
        "without a service-pack number), 2 machine or profile error, 3 device or command\n"
        "failure, 64 command-line error; health: 4 caution, 5 an attribute below its threshold;\n"
        "selftest --wait: 6 the self-test failed, 7 it was aborted. A disk the PC does not have\n"
        "is 3. Message boxes print on standard output, tarvexctl's own messages on standard error.\n"
        "\n"
        "Waits run on the emulated PC's clock: TARVEX_SPEED=60 makes a 2-minute self-test take 2 s.\n"
        "\n"
        "TARVEX_PLATFORM=linux runs on this Linux PC's real disks instead (as root: ATA commands\n"
        "need CAP_SYS_RAWIO, NVMe admin commands CAP_SYS_ADMIN); --machine does not apply there,\n"
        "the state directory is $TARVEX_STATE, else /var/lib/tarvex. Only commands that read reach\n"
        "a real drive unless TARVEX_ALLOW_WRITES=1.\n",
        to);
}

int Fail(const GlobalOptions& options, int code, const std::string& message) {
    std::fprintf(stderr, "tarvexctl: %s\n", message.c_str());
    if (options.json) {
        Json doc;
        doc["formatVersion"] = kJsonFormatVersion;
        doc["error"] = {{"exitCode", code}, {"message", message}};
        std::printf("%s\n", doc.dump(2).c_str());
    }
    return code;
}

}  // namespace

Json CommandContext::NewDocument(const std::string& command) const {
    Json doc;
    doc["formatVersion"] = kJsonFormatVersion;
    doc["command"] = command;
    return doc;
}

void CommandContext::PrintJson(const Json& document) const {
    std::fprintf(out, "%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"machine", "machine [--power-cycle]",
         "the emulated PC: OS version and classification, UI language, build number (--power-cycle: "
         "switch it off and on first)",
         RunMachineCommand},
        {"identify", "identify DRIVE [--raw]",
         "a drive's identity, capacity, TRIM, SATA transport, security and checksum (--raw: the page itself)",
         RunIdentifyCommand},
        {"smart", "smart DRIVE [--raw]",
         "a drive's SMART status, attributes, self-test figures and log (SATA) or SMART / Health log (NVMe)",
         RunSmartCommand},
        {"scan", "scan", "the drive table: every listed drive in table order", RunScanCommand},
        {"sysinfo", "sysinfo", "OS, processor, memory, board, BIOS, memory modules, storage controllers",
         RunSysinfoCommand},
        {"volumes", "volumes --disk N", "the volumes of physical drive N", RunVolumesCommand},
        {"health", "health --drive I|--disk N",
         "status, temperature, remaining life, bytes written and attributes (exit 4 caution, 5 bad)",
         RunHealthCommand},
        {"alerts", "alerts [--temperature N] [--life N]",
         "the monitoring service's alert thresholds (degrees Celsius, percent of life); set only while the service "
         "is stopped",
         RunAlertsCommand},
        {"selftest", "selftest --drive I|--disk N short|extended|abort|status [--wait]",
         "SMART self-test: start (--wait: to its end, with progress; Ctrl-C aborts), abort, or show its state",
         RunSelftestCommand},
        {"ata-summary", "ata-summary --drive I|--disk N [--seconds N]",
         "the ATA command statistics of a JMF608 drive: totals after N readings, one a second (default 1)",
         RunAtaSummaryCommand},
        {"service", "service on|off|status", "switch the monitoring service on or off, or show its state",
         RunServiceCommand},
        {"report", "report FILE", "write the support report (Export Log) to FILE on this computer",
         RunReportCommand},
        {"unscramble", "unscramble FILE", "turn a scrambled log back into text: Decrypted.log in this folder",
         RunUnscrambleCommand},
    };
    return commands;
}

int RunCli(const std::vector<std::string>& args) {
    GlobalOptions options;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            (void)name;
            return args[++i];
        };
        if (a == "--machine" || a == "--state") {
            auto v = value(a.c_str());
            if (!v) {
                return Fail(options, kExitUsage, a + " needs a value");
            }
            (a == "--machine" ? options.machine : options.state) = *v;
        } else if (a.rfind("--machine=", 0) == 0) {
            options.machine = a.substr(10);
        } else if (a.rfind("--state=", 0) == 0) {
            options.state = a.substr(8);
        } else if (a == "--json") {
            options.json = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else {
            rest.push_back(a);
        }
    }
    if (options.help) {
        PrintUsage(stdout);
        return kExitSuccess;
    }
    if (rest.empty()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const Command* command = nullptr;
    for (const Command& c : Commands()) {
        if (rest[0] == c.name) {
            command = &c;
        }
    }
    if (command == nullptr) {
        return Fail(options, kExitUsage,
                    (rest[0].rfind("-", 0) == 0 ? "unknown option '" : "unknown command '") + rest[0] +
                        "' (see tarvexctl --help)");
    }

    std::string error;
    platform::MachineRequest request;
    request.machine = options.machine;
    request.state = options.state;
    request.moduleName = u"tarvexctl.exe";
    // A power cycle may bring the PC up at another clock speed.
    request.speedChangeAllowed =
        rest[0] == "machine" && std::find(rest.begin(), rest.end(), "--power-cycle") != rest.end();
    auto machine = platform::OpenMachine(request, &error);
    if (!machine) {
        return Fail(options, kExitMachineError, error);
    }
    // Message boxes print in the terminal (or go into the --json document).
    CliDialogs dialogs(!options.json);
    platform::Platform bundle = machine->Interfaces();
    bundle.dialogs = &dialogs;
    platform::ScopedPlatform installed(bundle);
    // The system's own console prints must not mix with the command's output.
    SetConsoleSink([](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); });

    StartupCoreResult startup = RunStartupCore();
    if (startup.fatal) {
        return Fail(options, kExitStartupFatal,
                    "Windows 5.1 without a service-pack number: the program ends here, as it does on "
                    "such a PC");
    }

    CommandContext context;
    context.options = options;
    context.args.assign(rest.begin() + 1, rest.end());
    context.machine = machine.get();
    context.dialogs = &dialogs;
    const int code = command->run(context);
    SetConsoleSink(nullptr);
    // Why a drive refused what the command asked (a missing privilege, a command refused for
    // safety, a drive state that could not be kept), when the command did not say it itself.
    const std::string problems = machine->TakeStateError();
    for (size_t start = 0; start < problems.size();) {
        const size_t end = std::min(problems.find('\n', start), problems.size());
        std::fprintf(stderr, "tarvexctl: %s\n", problems.substr(start, end - start).c_str());
        start = end + 1;
    }
    return code;
}

}  // namespace tarvex::cli
