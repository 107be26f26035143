#pragma once
// The machine a program runs on, as a front end such as the command-line tool controls it:
// which machine it is, where it keeps its state, and the few operations on the machine itself
// (switching its drives off and on, making a folder of this computer reachable from it). The
// program's own work goes through the Platform interfaces; this is only for the front end.
//
// OpenMachine is implemented by the backend the program links (the emulated PC in
// src/platform/sim).
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tarvex::platform {

class MachineControl {
public:
    virtual ~MachineControl() = default;

    // The interfaces of this machine, to install with ScopedPlatform.
    [[nodiscard]] virtual const Platform& Interfaces() const = 0;
    // The machine's name (profile name) and where it came from, for messages ("embedded:demo"
    // or a file path).
    [[nodiscard]] virtual std::string Name() const = 0;
    [[nodiscard]] virtual std::string Source() const = 0;
    // The one-line description of the machine, empty when it has none.
    [[nodiscard]] virtual std::string Description() const = 0;
    // The folder of this computer that holds what the machine changes while it runs.
    [[nodiscard]] virtual std::filesystem::path StateDirectory() const = 0;

    // Switches every drive off and on again and saves their state; false with `error` set
    // when that state cannot be saved.
    virtual bool PowerCycle(std::string* error) = 0;
    // Makes the folder `hostFolder` of this computer a drive of the machine, on the first free
    // letter from Z: down; the letter, or 0 when none is free or the folder does not exist.
    virtual char16_t MapHostFolder(const std::filesystem::path& hostFolder) = 0;
    // Where the machine's path `windowsPath` lands on this computer; nothing when it does not
    // resolve.
    [[nodiscard]] virtual std::optional<std::filesystem::path> HostPath(std::u16string_view windowsPath) = 0;
    // Why the last change a drive made could not be kept (its state could not be saved), and
    // forgets it; empty when every change was kept. A drive command that fails this way has
    // already failed at the drive; the front end says why.
    [[nodiscard]] virtual std::string TakeStateError() = 0;
};

struct MachineRequest {
    // The front end's overrides of the machine and the state directory (unset: from the
    // environment, then the defaults).
    std::optional<std::string> machine;
    std::optional<std::string> state;
    // File name of the running program inside the program folder ("tarvexctl.exe").
    std::u16string moduleName;
    // The arguments the program was started with ("-a"), for the PC's command line; empty:
    // the profile's command line.
    std::u16string arguments;
    // Whether the machine may come up at another clock speed than the one it runs at (only a
    // power cycle may change it).
    bool speedChangeAllowed = false;
};

// Selects the machine from `request` and the environment, exports the selection to this
// process's environment (so the programs it starts run on the same machine) and opens it.
// Null with a one-line `error` when the machine cannot be selected or opened.
std::unique_ptr<MachineControl> OpenMachine(const MachineRequest& request, std::string* error);

}  // namespace tarvex::platform
