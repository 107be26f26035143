#pragma once
// tarvexctl: the command-line companion. It opens the emulated PC named by --machine / --state
// (or the environment), runs the same start-up core as the window, then one subcommand.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/machine_control.h"
#include "platform/text.h"

namespace tarvex::cli {

using Json = nlohmann::ordered_json;

class CliDialogs;

// Text of the system (UTF-16) as tarvexctl prints it.
inline std::string Utf8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

struct GlobalOptions {
    std::optional<std::string> machine;
    std::optional<std::string> state;
    bool json = false;
    bool help = false;
};

// What a subcommand gets: the options, its own arguments and the machine.
struct CommandContext {
    GlobalOptions options;
    std::vector<std::string> args;
    platform::MachineControl* machine = nullptr;
    // The message boxes the command's flows showed (printed already unless --json).
    CliDialogs* dialogs = nullptr;
    // Text output goes to `out`; --json output is one document made with NewDocument().
    std::FILE* out = stdout;

    [[nodiscard]] Json NewDocument(const std::string& command) const;
    void PrintJson(const Json& document) const;
};

struct Command {
    const char* name;
    const char* usage;    // "machine"
    const char* summary;  // one line for --help
    std::function<int(CommandContext&)> run;
};

// The command table (defined with the commands).
const std::vector<Command>& Commands();

// Runs tarvexctl with its arguments (without argv[0]) and returns the exit code.
int RunCli(const std::vector<std::string>& args);

// Commands.
int RunMachineCommand(CommandContext& context);
int RunIdentifyCommand(CommandContext& context);
int RunSmartCommand(CommandContext& context);
int RunScanCommand(CommandContext& context);
int RunSysinfoCommand(CommandContext& context);
int RunVolumesCommand(CommandContext& context);
int RunHealthCommand(CommandContext& context);
int RunAlertsCommand(CommandContext& context);
int RunSelftestCommand(CommandContext& context);
int RunServiceCommand(CommandContext& context);
int RunAtaSummaryCommand(CommandContext& context);
int RunReportCommand(CommandContext& context);
int RunUnscrambleCommand(CommandContext& context);

}  // namespace tarvex::cli
