// tarvex-sim-diskpart: the emulated PC's "C:\Windows\System32\diskpart.exe". The PC's shell
// starts it as a child process; its environment names the machine (TARVEX_MACHINE,
// TARVEX_STATE) and the parent's current directory on it (TARVEX_CURRENT_DIRECTORY).
//
// It only reads the machine: the profile, and the script through the PC's files. It builds no
// drives, registry or services (which would save their state) and writes no trace, so running
// it leaves the state directory as it was.
//
//   tarvex-sim-diskpart [/s <script>]      without /s the commands come from standard input
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/sim/shell/diskpart.h"
#include "platform/sim/shell/sim_shell.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_system.h"
#include "platform/text.h"

namespace {

using namespace tarvex;

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool IsSwitch(const std::string& a, char name) {
    return a.size() == 2 && (a[0] == '/' || a[0] == '-') && (a[1] == name || a[1] == name - 'a' + 'A');
}

// A script longer than this is refused rather than read on: a script path that names an
// endless file (or standard input that never ends) must not grow the process without bound.
constexpr size_t kMaxScriptBytes = size_t{1} << 20;

enum class ScriptRead { Ok, Unreadable, TooLarge };

// The script's bytes through the PC's files (text mode: CR LF reads as "\n").
ScriptRead ReadScript(sim::SimFiles& files, const std::u16string& path, std::string* text) {
    auto file = files.OpenStream(path, "r");
    if (!file) {
        return ScriptRead::Unreadable;
    }
    char buffer[4096];
    for (;;) {
        uint32_t n = 0;
        if (!file->Read(buffer, sizeof buffer, &n)) {
            return ScriptRead::Unreadable;
        }
        if (n == 0) {
            return ScriptRead::Ok;
        }
        if (n > kMaxScriptBytes - text->size()) {
            return ScriptRead::TooLarge;
        }
        text->append(buffer, n);
    }
}

// Standard input up to its end, within the same bound.
ScriptRead ReadStandardInput(std::string* text) {
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        if (n > kMaxScriptBytes - text->size()) {
            return ScriptRead::TooLarge;
        }
        text->append(buffer, n);
    }
    return std::ferror(stdin) != 0 ? ScriptRead::Unreadable : ScriptRead::Ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> scriptPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (IsSwitch(a, 's') && i + 1 < argc) {
            scriptPath = argv[++i];
        } else {
            Write("\r\nThe arguments given to DiskPart are not valid: " + a + "\r\n");
            return 3;
        }
    }

    std::string error;
    auto selection = sim::SelectMachine(std::nullopt, std::nullopt, &error);
    if (!selection) {
        Write("\r\nDiskPart cannot reach the emulated PC: " + error + "\r\n");
        return 4;
    }
    sim::ProfileLoadResult loaded = sim::LoadMachineProfile(selection->profileText, selection->name, selection->source,
                                                       selection->profileFolder);
    if (!loaded.profile) {
        Write("\r\nDiskPart cannot reach the emulated PC: " + loaded.error + "\r\n");
        return 4;
    }
    const sim::MachineProfile& profile = *loaded.profile;

    sim::SimSystem system(profile, u"C:\\Windows\\System32\\diskpart.exe");
    Write(sim::DiskpartBanner(profile, system.GetEnvironmentVariable(u"COMPUTERNAME").value_or(u"TARVEX-PC")));

    std::string script;
    if (scriptPath) {
        const char* cwd = std::getenv(sim::kEnvCurrentDirectory);
        sim::SimFiles files(selection->stateDir / "volumes",
                            cwd != nullptr && *cwd != '\0' ? platform::Utf8ToUtf16(cwd) : profile.currentDirectory);
        // Only the drives whose folders exist: making a missing one would change the state
        // directory, and a missing folder holds no script anyway.
        for (const sim::VolumeProfile& v : profile.volumes) {
            std::error_code ec;
            if (std::filesystem::is_directory(selection->stateDir / "volumes" / std::string(1, static_cast<char>(v.letter)),
                                              ec)) {
                (void)files.AddDrive(v.letter);
            }
        }
        const std::u16string path = platform::Utf8ToUtf16(*scriptPath);
        const ScriptRead read = ReadScript(files, path, &script);
        if (read == ScriptRead::TooLarge) {
            Write("The script file \"" + *scriptPath + "\" is too large (more than 1 MB).\r\n\r\n");
            return 2;
        }
        if (read != ScriptRead::Ok) {
            Write("The script file \"" + *scriptPath + "\" could not be found or read.\r\n\r\n");
            return 2;
        }
    } else if (ReadStandardInput(&script) == ScriptRead::TooLarge) {
        Write("\r\nThe commands given to DiskPart are too long (more than 1 MB).\r\n");
        return 2;
    }

    sim::DiskpartRun run = sim::RunDiskpartScript(profile, script);
    Write(run.output);
    return run.exitCode;
}
