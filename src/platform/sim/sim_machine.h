#pragma once
// One emulated PC: its profile, its state directory and the platform interfaces built from
// them. The same profile with an empty state directory always gives the same machine; what
// the machine changes (registry, files on its volumes) stays in the state directory.
//
// Which machine a program runs on comes from the environment (TARVEX_MACHINE, TARVEX_STATE,
// TARVEX_SPEED), so the GUI needs no switches and child processes inherit the same PC; the
// CLI's --machine and --state override it.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/sim/devices/storage_stack.h"
#include "platform/sim/machine_profile.h"
#include "platform/sim/services/sim_services.h"
#include "platform/sim/shell/sim_shell.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_dialogs.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_kernel_objects.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_windows.h"
#include "platform/sim/volumes/sim_file_versions.h"
#include "platform/sim/volumes/sim_volumes.h"
#include "platform/sim/wmi/sim_wmi.h"

namespace tarvex::sim {

inline constexpr const char* kDefaultMachine = "demo";

struct SimOptions {
    std::filesystem::path stateDir;
    // File name of the running program inside the program folder ("Tarvex.exe" for the GUI,
    // "tarvexctl.exe" for the CLI); it names the trace file. Empty: the profile program's name.
    std::u16string moduleName;
    // The arguments the program was started with on this computer ("-a"). When there are any,
    // the PC's command line is the quoted program path followed by them.
    std::u16string arguments;
    // The host file that the program's own file ("Tarvex.exe") maps onto. Empty: this process.
    std::filesystem::path hostProgramFile;
    // The host file that "<program folder>\SSDVelmora.exe" (the maker's main program, whose
    // version the tool reports) maps onto. Empty: the PC has no such file. OpenMachine sets it
    // to "SSDVelmora" beside the running executable when the build put that file there.
    std::filesystem::path velmoraHostFile;
    // Overrides the profile's clock speed.
    std::optional<double> speed;
    // Tests: a virtual clock that only moves when something sleeps.
    bool virtualClock = false;
    // The program is about to power-cycle the PC: a running PC's other clock speed does not
    // refuse it (the power cycle records this program's speed).
    bool speedChangeAllowed = false;
    // How the programs this PC starts (diskpart) name it in TARVEX_MACHINE: an embedded
    // profile's name or a profile file path. Empty: they get the profile's text itself.
    // OpenMachine sets it from the selection.
    std::string machine;
};

class SimMachine {
public:
    // Builds the machine; null with `error` set when the state directory or the registry
    // store cannot be used, or when the PC runs at another clock speed (<state>/clock.json).
    static std::unique_ptr<SimMachine> Create(const MachineProfile& profile, const SimOptions& options,
                                              std::string* error);

    [[nodiscard]] const platform::Platform& Platform() const { return platform_; }
    [[nodiscard]] const MachineProfile& Profile() const { return profile_; }
    [[nodiscard]] const std::filesystem::path& StateDir() const { return stateDir_; }
    // The running program's folder and full path, as Windows paths.
    [[nodiscard]] const std::u16string& ProgramFolder() const { return programFolder_; }

    SimRegistry& Registry() { return *registry_; }
    SimSystem& System() { return *system_; }
    SimClock& Clock() { return *clock_; }
    SimFiles& Files() { return *files_; }
    SimWindows& Windows() { return *windows_; }
    // The named mutexes, shared by the programs on this PC.
    SimKernelObjects& KernelObjects() { return *kernelObjects_; }
    SimDialogs& Dialogs() { return *dialogs_; }
    // The storage stack and its drives (request log, drive state) for tests and tools.
    SimDevices& Devices() { return *devices_; }
    // The volume inventory (free space accounting) and WMI (query log, COM state).
    SimVolumes& Volumes() { return *volumes_; }
    SimWmi& Wmi() { return *wmi_; }
    SimFileVersions& FileVersions() { return *fileVersions_; }
    // The service control manager (service states, call log).
    SimServices& Services() { return *services_; }
    // Pipes and child processes (the processes started).
    SimShell& Shell() { return *shell_; }

private:
    SimMachine() = default;

    MachineProfile profile_;
    std::filesystem::path stateDir_;
    std::u16string programFolder_;
    std::unique_ptr<SimRegistry> registry_;
    std::unique_ptr<SimSystem> system_;
    std::unique_ptr<SimClock> clock_;
    std::unique_ptr<SimFiles> files_;
    std::unique_ptr<SimWindows> windows_;
    std::unique_ptr<SimKernelObjects> kernelObjects_;
    std::unique_ptr<SimDialogs> dialogs_;
    std::unique_ptr<SimDevices> devices_;
    std::unique_ptr<SimVolumes> volumes_;
    std::unique_ptr<SimWmi> wmi_;
    std::unique_ptr<SimFileVersions> fileVersions_;
    std::unique_ptr<SimServices> services_;
    std::unique_ptr<SimShell> shell_;
    platform::Platform platform_;
};

// The machine a program should run on, resolved from its arguments and the environment.
struct MachineSelection {
    std::string machine;  // as given: an embedded profile's name or a file path
    std::string profileText;
    std::string name;    // the profile's name (file stem or embedded name)
    std::string source;  // for messages: the file path, or "embedded:<name>"
    std::filesystem::path profileFolder;  // the profile file's folder; empty when embedded
    std::filesystem::path stateDir;
    std::optional<double> speed;
};

// `machine` and `state` are the CLI's overrides (empty when not given). Reads the profile
// text; nothing when it cannot (with `error` set).
std::optional<MachineSelection> SelectMachine(const std::optional<std::string>& machine,
                                              const std::optional<std::string>& state,
                                              std::string* error);
// Puts the selection into this process's environment, so child processes run on it too.
void ExportMachineEnvironment(const MachineSelection& selection);
// Loads the selection's profile and builds the machine; null with a one-line `error`.
std::unique_ptr<SimMachine> OpenMachine(const MachineSelection& selection, SimOptions options,
                                        std::string* error);

}  // namespace tarvex::sim
