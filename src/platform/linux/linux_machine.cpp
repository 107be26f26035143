#include "platform/linux/linux_machine.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "platform/linux/host_facts.h"
#include "platform/linux/host_inventory.h"
#include "platform/linux/host_profile.h"
#include "platform/linux/ioctl_seam.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_locale.h"
#include "platform/linux/linux_services.h"
#include "platform/linux/linux_shell.h"
#include "platform/linux/linux_volumes.h"
#include "platform/sim/registry_defaults.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_dialogs.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_kernel_objects.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_windows.h"
#include "platform/sim/volumes/sim_file_versions.h"
#include "platform/sim/wmi/sim_wmi.h"
#include "platform/text.h"

namespace tarvex::linuxhost {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> Env(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') {
        return std::nullopt;
    }
    return std::string(v);
}

fs::path SelfExecutable() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path("/proc/self/exe") : p;
}

uint64_t UptimeMs() {
    struct sysinfo info {};
    return ::sysinfo(&info) == 0 ? static_cast<uint64_t>(info.uptime) * 1000 : 0;
}

class LinuxMachine : public platform::MachineControl {
public:
    static std::unique_ptr<LinuxMachine> Open(const platform::MachineRequest& request, std::string* error);

    const platform::Platform& Interfaces() const override { return platform_; }
    std::string Name() const override { return "linux"; }
    std::string Source() const override { return "linux:" + hostName_; }
    std::string Description() const override { return "this Linux PC (" + osName_ + ")"; }
    fs::path StateDirectory() const override { return stateDir_; }

    bool PowerCycle(std::string* error) override {
        *error = "a real PC's drives are not switched off and on by this tool";
        return false;
    }
    char16_t MapHostFolder(const fs::path& hostFolder) override {
        const char16_t letter = files_->FreeDriveLetter();
        return letter != 0 && files_->AddMappedDrive(letter, hostFolder) ? letter : 0;
    }
    std::optional<fs::path> HostPath(std::u16string_view windowsPath) override { return files_->HostPath(windowsPath); }
    std::string TakeStateError() override { return devices_->TakeDeviceError(); }

private:
    std::string hostName_;
    std::string osName_;
    fs::path stateDir_;
    sim::MachineProfile profile_;
    std::unique_ptr<sim::SimRegistry> registry_;
    std::unique_ptr<sim::SimSystem> system_;
    std::unique_ptr<sim::SimClock> clock_;
    std::unique_ptr<sim::SimFiles> files_;
    std::unique_ptr<LinuxVolumes> volumes_;
    std::unique_ptr<sim::SimFileVersions> fileVersions_;
    std::unique_ptr<IoctlSeam> seam_;
    std::unique_ptr<LinuxDevices> devices_;
    std::unique_ptr<sim::SimWmi> wmi_;
    std::unique_ptr<LinuxServices> services_;
    std::unique_ptr<LinuxShell> shell_;
    std::unique_ptr<sim::SimWindows> windows_;
    std::unique_ptr<sim::SimKernelObjects> kernelObjects_;
    std::unique_ptr<sim::SimDialogs> dialogs_;
    platform::Platform platform_;
};

std::unique_ptr<LinuxMachine> LinuxMachine::Open(const platform::MachineRequest& request, std::string* error) {
    std::unique_ptr<LinuxMachine> m(new LinuxMachine());
    m->stateDir_ = request.state ? fs::path(*request.state)
                                 : fs::path(Env("TARVEX_STATE").value_or(kDefaultStateDirectory));
    std::error_code ec;
    m->stateDir_ = fs::absolute(m->stateDir_, ec);
    fs::create_directories(m->stateDir_ / "Tarvex", ec);
    if (ec || !fs::is_directory(m->stateDir_ / "Tarvex")) {
        *error = "cannot use the state directory " + m->stateDir_.string() + ": " +
                 (ec ? ec.message() : "not a directory") + " (TARVEX_STATE names another)";
        return nullptr;
    }

    const HostRoots roots;
    HostInventory inventory = ReadHostInventory(roots);
    const HostFacts facts = ReadHostFacts(roots, inventory);
    m->hostName_ = facts.hostName;
    m->osName_ = facts.osPrettyName;
    m->profile_ = BuildHostProfile(inventory, facts);
    sim::MachineProfile& p = m->profile_;
    p.name = "linux";
    p.source = m->Source();
    p.description = m->Description();
    p.uiLanguage = UiLanguageOfLocale(MessagesLocale(Env("LC_ALL"), Env("LC_MESSAGES"), Env("LANG")));
    p.locale = sim::DefaultLocaleOfLanguage(p.uiLanguage);

    // Every Windows path lands on this PC through a drive letter: each volume's letter on its
    // mount point, and the program's own drive, the first free letter from Z: down, on the
    // state directory, so that the trace file and the files the program keeps beside itself
    // stay there.
    m->files_ = std::make_unique<sim::SimFiles>(m->stateDir_ / "volumes", u"C:\\");
    std::map<char16_t, std::string> mountPoints;
    for (const HostVolume& v : inventory.volumes) {
        if (m->files_->AddMappedDrive(v.letter, v.mountPoint)) {
            mountPoints[v.letter] = v.mountPoint;
        }
    }
    const char16_t programDrive = m->files_->FreeDriveLetter();
    if (programDrive == 0 || !m->files_->AddMappedDrive(programDrive, m->stateDir_)) {
        *error = "no drive letter is left for the program's folder";
        return nullptr;
    }
    const std::u16string programFolder = std::u16string(1, programDrive) + u":\\Tarvex";
    p.programPath = programFolder + u"\\Tarvex.exe";
    p.currentDirectory = programFolder;
    p.environment[u"COMPUTERNAME"] = platform::Utf8ToUtf16(facts.hostName);
    m->files_->SetCurrentDirectory(programFolder);

    m->registry_ = sim::SimRegistry::Open(m->stateDir_ / "registry.db", sim::InitialRegistry(p), error);
    if (!m->registry_) {
        return nullptr;
    }
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    m->clock_ = std::make_unique<sim::SimClock>(sim::SimClock::Kind::Real, 1.0, now, UptimeMs());

    const std::u16string moduleName = request.moduleName.empty() ? u"Tarvex.exe" : request.moduleName;
    const std::u16string moduleFile = programFolder + u"\\" + moduleName;
    m->system_ = std::make_unique<sim::SimSystem>(p, moduleFile);
    m->system_->SetCommandLine(request.arguments.empty() ? u"\"" + moduleFile + u"\""
                                                         : u"\"" + moduleFile + u"\" " + request.arguments);
    const fs::path self = SelfExecutable();
    m->files_->AddOverlay(p.programPath, sim::SimFiles::Overlay{self, std::nullopt});
    if (!platform::EqualsIgnoreCase(moduleFile, p.programPath)) {
        m->files_->AddOverlay(moduleFile, sim::SimFiles::Overlay{self, std::nullopt});
    }
    const fs::path velmora = self.parent_path() / "SSDVelmora";
    if (fs::is_regular_file(velmora, ec)) {
        m->files_->AddOverlay(programFolder + u"\\SSDVelmora.exe", sim::SimFiles::Overlay{velmora, std::nullopt});
    }
    m->fileVersions_ = std::make_unique<sim::SimFileVersions>(*m->files_, programFolder);
    m->volumes_ = std::make_unique<LinuxVolumes>(p.volumes, std::move(mountPoints), m->stateDir_ / "volumes",
                                                 *m->files_, SystemStatVfs());

    m->seam_ = MakeKernelIoctlSeam();
    const bool allowWrites = Env("TARVEX_ALLOW_WRITES") == std::optional<std::string>("1");
    m->devices_ = std::make_unique<LinuxDevices>(inventory, *m->seam_, allowWrites,
                                                 [roots] { return ReadHostInventory(roots); });
    m->wmi_ = std::make_unique<sim::SimWmi>(m->profile_, *m->volumes_, platform::Utf8ToUtf16(facts.hostName));
    m->services_ = std::make_unique<LinuxServices>(RunCommand, ::geteuid() == 0);
    m->shell_ = std::make_unique<LinuxShell>();
    m->windows_ = std::make_unique<sim::SimWindows>(m->stateDir_ / "windows");
    m->kernelObjects_ = std::make_unique<sim::SimKernelObjects>(m->stateDir_ / "mutexes");
    m->dialogs_ = std::make_unique<sim::SimDialogs>();

    m->platform_.registry = m->registry_.get();
    m->platform_.system = m->system_.get();
    m->platform_.clock = m->clock_.get();
    m->platform_.files = m->files_.get();
    m->platform_.windows = m->windows_.get();
    m->platform_.dialogs = m->dialogs_.get();
    m->platform_.kernelObjects = m->kernelObjects_.get();
    m->platform_.devices = m->devices_.get();
    m->platform_.volumes = m->volumes_.get();
    m->platform_.wmi = m->wmi_.get();
    m->platform_.fileVersions = m->fileVersions_.get();
    m->platform_.services = m->services_.get();
    m->platform_.shell = m->shell_.get();
    return m;
}

}  // namespace

std::unique_ptr<platform::MachineControl> OpenLinuxMachine(const platform::MachineRequest& request,
                                                           std::string* error) {
    // Programs started from here (a second tarvexctl, the window) run on this PC too.
    ::setenv("TARVEX_PLATFORM", "linux", 1);
    auto machine = LinuxMachine::Open(request, error);
    if (machine) {
        ::setenv("TARVEX_STATE", machine->StateDirectory().c_str(), 1);
    }
    return machine;
}

}  // namespace tarvex::linuxhost
