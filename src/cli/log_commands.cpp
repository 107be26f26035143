// tarvexctl report and unscramble: the Utilities page's Export Log and Decrypt Log. The file
// the user names on this computer is reached from the emulated PC through a drive letter
// mapped onto its folder, and the open-file dialog of the flow is answered with it.
#include <cstdio>
#include <filesystem>

#include "cli/cli_app.h"
#include "cli/cli_dialogs.h"
#include "cli/drive_selection.h"
#include "cli/exit_codes.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "sysinfo/log_flows.h"
#include "sysinfo/report.h"

namespace tarvex::cli {

namespace {

namespace fs = std::filesystem;


// The longest file name a folder of the emulated PC holds (NTFS's 255 characters).
constexpr size_t kMaxFileNameLength = 255;

// A symbolic link, followed to the file it names (which need not exist yet).
fs::path FollowLinks(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            break;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

// Maps the folder of `hostFile` onto a free drive letter; the file's Windows path there.
// With `followLink`, a link is followed first, so the file it names is the one replaced and
// the link stays as it is.
std::optional<std::u16string> MapHostFile(CommandContext& context, const std::string& hostFile, std::string* error,
                                          bool followLink = false) {
    std::error_code ec;
    fs::path absolute = fs::absolute(hostFile, ec);
    if (ec || absolute.filename().empty()) {
        *error = "'" + hostFile + "' is not a file name";
        return std::nullopt;
    }
    if (followLink) {
        absolute = FollowLinks(absolute);
    }
    const fs::path folder = absolute.parent_path();
    const bool isFolder = fs::is_directory(folder, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        // Too long a path, a folder that may not be searched: say what is wrong.
        *error = "the folder '" + folder.string() + "' cannot be used: " + ec.message();
        return std::nullopt;
    }
    if (!isFolder) {
        *error = "the folder '" + folder.string() + "' does not exist";
        return std::nullopt;
    }
    const std::u16string name = platform::Utf8ToUtf16(absolute.filename().string());
    if (name.size() > kMaxFileNameLength) {
        *error = "the file name '" + absolute.filename().string() + "' is too long (at most " +
                 std::to_string(kMaxFileNameLength) + " characters)";
        return std::nullopt;
    }
    const char16_t letter = context.machine->MapHostFolder(folder);
    if (letter == 0) {
        *error = "no free drive letter on the emulated PC for '" + folder.string() + "'";
        return std::nullopt;
    }
    return std::u16string(1, letter) + u":\\" + name;
}

int FlowExit(FlowEnd end) {
    switch (end) {
        case FlowEnd::Done: return kExitSuccess;
        case FlowEnd::Refused:
        case FlowEnd::Cancelled:
        case FlowEnd::Failed: return kExitCommandFailed;
    }
    return kExitCommandFailed;
}

Json ReportJson(const ReportModel& m) {
    Json drives = Json::array();
    for (const ReportDrive& d : m.drives) {
        drives.push_back({{"diskChannel", d.diskChannel},
                          {"model", Utf8(d.model)},
                          {"diskSizeGb", d.diskSizeGb},
                          {"maximumLba", d.maxLbaLow},
                          {"attributes", d.attributes.size()},
                          {"partitionTable", d.gpt ? "GPT" : "MBR"},
                          {"diskpart", Utf8(d.diskpart)}});
    }
    return {{"version", Utf8(m.version)},   {"buildNumber", Utf8(m.buildNumber)},
            {"os", Utf8(m.osName)},         {"language", m.language},
            {"hbaCount", m.hbas.size()},    {"dramCount", m.modules.size()},
            {"drives", drives}};
}

}  // namespace

int RunReportCommand(CommandContext& context) {
    if (context.args.size() != 1) {
        std::fprintf(stderr, "tarvexctl: report takes the file to write (a path on this computer)\n");
        return kExitUsage;
    }
    std::string error;
    const auto target = MapHostFile(context, context.args[0], &error, /*followLink=*/true);
    if (!target) {
        std::fprintf(stderr, "tarvexctl: report: %s\n", error.c_str());
        return kExitCommandFailed;
    }
    ScanDrives();
    context.dialogs->QueueOpenFileAnswer(*target);
    ReportModel model;
    const FlowEnd end = ExportLogFlow(&model);
    if (end != FlowEnd::Done) {
        std::fprintf(stderr, "tarvexctl: report: %s was not written (%s is its folder on the emulated PC)\n",
                     context.args[0].c_str(), Utf8(target->substr(0, 2)).c_str());
    }
    if (context.options.json) {
        Json doc = context.NewDocument("report");
        doc["file"] = fs::absolute(context.args[0]).string();
        doc["written"] = end == FlowEnd::Done;
        doc["messages"] = context.dialogs->Messages();
        if (end == FlowEnd::Done) {
            doc["report"] = ReportJson(model);
        }
        context.PrintJson(doc);
    }
    return FlowExit(end);
}

int RunUnscrambleCommand(CommandContext& context) {
    if (context.args.size() != 1) {
        std::fprintf(stderr, "tarvexctl: unscramble takes the scrambled log file (a path on this computer)\n");
        return kExitUsage;
    }
    std::string error;
    const auto source = MapHostFile(context, context.args[0], &error);
    // "Decrypted.log" goes into the current directory: make that this computer's.
    const auto here = source ? MapHostFile(context, (fs::current_path() / "Decrypted.log").string(), &error)
                             : std::nullopt;
    if (!source || !here || !platform::Current().files->SetCurrentDirectory(here->substr(0, 3))) {
        std::fprintf(stderr, "tarvexctl: unscramble: %s\n", error.c_str());
        return kExitCommandFailed;
    }
    context.dialogs->QueueOpenFileAnswer(*source);
    const FlowEnd end = DecryptLogFlow();
    const std::string output = (fs::current_path() / "Decrypted.log").string();
    if (context.options.json) {
        Json doc = context.NewDocument("unscramble");
        doc["file"] = fs::absolute(context.args[0]).string();
        doc["output"] = end == FlowEnd::Done ? Json(output) : Json(nullptr);
        doc["messages"] = context.dialogs->Messages();
        context.PrintJson(doc);
    } else if (end == FlowEnd::Done) {
        std::fprintf(stderr, "tarvexctl: unscramble: wrote %s\n", output.c_str());
    }
    return FlowExit(end);
}

}  // namespace tarvex::cli
