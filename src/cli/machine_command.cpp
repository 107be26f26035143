// tarvexctl machine: what the emulated PC is and how the program classified it.
#include <cstdio>

#include <fmt/format.h>

#include "app/build_info.h"
#include "app/os_version_info.h"
#include "app/trace.h"
#include "app/ui_language.h"
#include "cli/cli_app.h"
#include "cli/exit_codes.h"
#include "platform/text.h"

namespace tarvex::cli {

namespace {

std::string FormatUtc(const platform::FileTime& t) {
    platform::SystemTime st;
    if (!platform::FileTimeToSystemTime(t, &st)) {
        return "";
    }
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", st.wYear, st.wMonth, st.wDay, st.wHour,
                       st.wMinute, st.wSecond);
}
}  // namespace

int RunMachineCommand(CommandContext& context) {
    const bool powerCycle = context.args.size() == 1 && context.args[0] == "--power-cycle";
    if (!context.args.empty() && !powerCycle) {
        std::fprintf(stderr, "tarvexctl: machine takes no arguments but --power-cycle\n");
        return kExitUsage;
    }
    if (powerCycle) {
        // The PC stays on between runs; this switches it off and on: a running self-test or
        // erase is cut short, locked and frozen drives come up as after a boot.
        std::string error;
        if (!context.machine->PowerCycle(&error)) {
            std::fprintf(stderr, "tarvexctl: machine: the power cycle could not be saved: %s\n", error.c_str());
            return kExitMachineError;
        }
        if (!context.options.json) {
            std::fprintf(context.out, "Power-cycled: every drive was switched off and on again.\n\n");
        }
    }
    const OsVersionInfo os;
    const auto& v = os.osvi;
    const std::string servicePack = Utf8(platform::FixedText(v.szCSDVersion));
    const std::string buildNumber = Utf8(platform::FixedText(BuildNumber));
    const std::string buildTime = buildNumber.empty() ? "" : FormatUtc(BuildTimeStamp);
    const std::string tag = Utf8(platform::FixedText(OsLanguageTag));
    const std::string font = Utf8(FontFaceFor(static_cast<uint32_t>(UiLanguageId)));
    const std::u16string tracePath = TraceFilePath();
    auto traceHost = context.machine->HostPath(tracePath);

    if (context.options.json) {
        Json doc = context.NewDocument("machine");
        doc["machine"] = {{"name", context.machine->Name()},
                          {"source", context.machine->Source()},
                          {"stateDirectory", context.machine->StateDirectory().string()},
                          {"description", context.machine->Description()}};
        doc["os"] = {{"major", v.dwMajorVersion},          {"minor", v.dwMinorVersion},
                     {"build", v.dwBuildNumber},           {"platformId", v.dwPlatformId},
                     {"servicePack", servicePack},         {"servicePackMajor", v.wServicePackMajor},
                     {"servicePackMinor", v.wServicePackMinor}, {"productType", v.wProductType}};
        doc["passThroughCapable"] = os.PassThroughCapable != 0;
        doc["isWindows8"] = os.IsWindows8 != 0;
        doc["uiLanguage"] = {{"id", UiLanguageId},
                             {"hex", fmt::format("0x{:04X}", UiLanguageId)},
                             {"tag", tag},
                             {"fontFace", font}};
        doc["powerCycled"] = powerCycle;
        doc["build"] = {{"number", buildNumber}, {"timeStamp", buildTime}, {"banner", BuildBanner}};
        doc["trace"] = {{"path", Utf8(tracePath)}, {"hostPath", traceHost ? traceHost->string() : ""}};
        context.PrintJson(doc);
        return kExitSuccess;
    }

    std::FILE* out = context.out;
    std::fprintf(out, "Machine              %s (%s)\n", context.machine->Name().c_str(),
                 context.machine->Source().c_str());
    std::fprintf(out, "State directory      %s\n", context.machine->StateDirectory().c_str());
    std::fprintf(out, "OS version           %u.%u.%u%s%s\n", v.dwMajorVersion, v.dwMinorVersion,
                 v.dwBuildNumber, servicePack.empty() ? "" : " ", servicePack.c_str());
    std::fprintf(out, "PassThroughCapable   %d\n", os.PassThroughCapable);
    std::fprintf(out, "IsWindows8           %d\n", os.IsWindows8);
    std::fprintf(out, "UI language          %d (0x%04X), tag %s, font %s\n", UiLanguageId, UiLanguageId,
                 tag.c_str(), font.c_str());
    std::fprintf(out, "Build number         %s\n",
                 buildNumber.empty() ? "(none: the program file was not found)" : buildNumber.c_str());
    if (!buildTime.empty()) {
        std::fprintf(out, "Program written      %s\n", buildTime.c_str());
    }
    std::fprintf(out, "Build banner         %s\n", BuildBanner);
    std::fprintf(out, "Trace file           %s\n", Utf8(tracePath).c_str());
    if (traceHost) {
        std::fprintf(out, "  on this host       %s\n", traceHost->c_str());
    }
    return kExitSuccess;
}

}  // namespace tarvex::cli
