#include "platform/sim/sim_machine.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/sim/embedded_profiles.h"
#include "platform/sim/registry_defaults.h"
#include "platform/text.h"

namespace tarvex::sim {

namespace fs = std::filesystem;

namespace {

// The virtual clock's default start, so that tests see the same dates on every run.
constexpr int64_t kDefaultVirtualStartUnixMs = 1767225600000;  // 2026-01-01T00:00:00Z

fs::path SelfExecutable() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path("/proc/self/exe") : p;
}

std::optional<std::string> Env(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') {
        return std::nullopt;
    }
    return std::string(v);
}

}  // namespace

std::unique_ptr<SimMachine> SimMachine::Create(const MachineProfile& profile, const SimOptions& options,
                                               std::string* error) {
    std::unique_ptr<SimMachine> m(new SimMachine());
    m->profile_ = profile;
    m->stateDir_ = options.stateDir;
    std::error_code ec;
    fs::create_directories(m->stateDir_, ec);
    if (ec || !fs::is_directory(m->stateDir_)) {
        *error = "cannot use the state directory " + m->stateDir_.string() + ": " +
                 (ec ? ec.message() : "not a directory");
        return nullptr;
    }

    m->registry_ = SimRegistry::Open(m->stateDir_ / "registry.db", InitialRegistry(profile), error);
    if (!m->registry_) {
        return nullptr;
    }

    if (options.virtualClock) {
        m->clock_ = std::make_unique<SimClock>(SimClock::Kind::Virtual, 1.0,
                                               profile.clockStartUnixMs.value_or(kDefaultVirtualStartUnixMs),
                                               profile.bootTickMs);
    } else {
        const double speed = options.speed.value_or(profile.clockSpeed);
        const int64_t hostNow = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
        // One time base for every program on the PC: they all run at the speed it runs at.
        if (!JoinClockSpeed(m->stateDir_ / "clock.json", speed, options.speedChangeAllowed, error)) {
            return nullptr;
        }
        const bool real = speed == 1.0 && !profile.clockStartUnixMs;
        m->clock_ = std::make_unique<SimClock>(real ? SimClock::Kind::Real : SimClock::Kind::Scaled, speed,
                                               profile.clockStartUnixMs.value_or(hostNow), profile.bootTickMs);
    }

    m->programFolder_ = WindowsDirName(profile.programPath);
    const std::u16string moduleName =
        options.moduleName.empty() ? WindowsBaseName(profile.programPath) : options.moduleName;
    const std::u16string moduleFile = m->programFolder_ + u"\\" + moduleName;

    m->files_ = std::make_unique<SimFiles>(m->stateDir_ / "volumes", profile.currentDirectory);
    m->system_ = std::make_unique<SimSystem>(profile, moduleFile);
    if (!options.arguments.empty()) {
        m->system_->SetCommandLine(u"\"" + moduleFile + u"\" " + options.arguments);
    }
    // The drive letters are the volumes of the profile (which include the system drive and
    // the drives of the program and the current directory); their free space is accounted.
    for (const VolumeProfile& v : m->profile_.volumes) {
        if (!m->files_->AddDrive(v.letter)) {
            *error = "cannot create the volume " + platform::Utf16ToUtf8(std::u16string(1, v.letter)) + ": in " +
                     m->stateDir_.string();
            return nullptr;
        }
    }
    m->volumes_ = std::make_unique<SimVolumes>(m->profile_.volumes, m->stateDir_ / "volumes", *m->files_);
    m->files_->SetVolumeSpace(m->volumes_.get());
    const std::u16string* folders[] = {&m->programFolder_, &m->profile_.currentDirectory};
    for (const std::u16string* folder : folders) {
        auto host = m->files_->HostPath(*folder);
        if (!host || (fs::create_directories(*host, ec), ec)) {
            *error = "cannot create the folder " + platform::Utf16ToUtf8(*folder) + " in " +
                     m->stateDir_.string();
            return nullptr;
        }
    }
    // The program's own file, and the running module, are the host program.
    const fs::path self = options.hostProgramFile.empty() ? SelfExecutable() : options.hostProgramFile;
    m->files_->AddOverlay(profile.programPath, SimFiles::Overlay{self, profile.programLastWriteUnixMs});
    if (!platform::EqualsIgnoreCase(moduleFile, profile.programPath)) {
        m->files_->AddOverlay(moduleFile, SimFiles::Overlay{self, profile.programLastWriteUnixMs});
    }
    // The maker's main program beside it, whose version the tool reports.
    const std::u16string velmora = m->programFolder_ + u"\\SSDVelmora.exe";
    if (!options.velmoraHostFile.empty() && !platform::EqualsIgnoreCase(velmora, profile.programPath) &&
        !platform::EqualsIgnoreCase(velmora, moduleFile)) {
        m->files_->AddOverlay(velmora, SimFiles::Overlay{options.velmoraHostFile, std::nullopt});
    }
    m->fileVersions_ = std::make_unique<SimFileVersions>(*m->files_, m->programFolder_);

    // The disks, each with its state file under <state>/disks/.
    m->devices_ = SimDevices::Create(m->profile_.disks, *m->clock_, m->stateDir_ / "disks", error);
    if (!m->devices_) {
        return nullptr;
    }
    if (!options.virtualClock) {
        m->devices_->SetSpeedFile(m->stateDir_ / "clock.json", m->clock_->Speed());
    }
    m->devices_->AttachVolumes(&m->volumes_->List(), SystemDriveLetter(m->profile_));
    m->devices_->SetDeviceTree(m->profile_.deviceTree);
    m->wmi_ = std::make_unique<SimWmi>(m->profile_, *m->volumes_,
                                       m->system_->GetEnvironmentVariable(u"COMPUTERNAME").value_or(u"TARVEX-PC"));

    // The services, with their state in <state>/services.json.
    m->services_ = SimServices::Open(m->profile_.services, *m->clock_, m->stateDir_ / "services.json", error);
    if (!m->services_) {
        return nullptr;
    }

    // Child programs run on this same PC: they learn its profile, state directory and speed.
    m->shell_ = std::make_unique<SimShell>(
        m->profile_.shell, SimShell::Machine{options.machine, m->profile_.text, m->stateDir_, options.speed},
        *m->files_, *m->system_);

    // Windows of the machine scope are seen by every program on this PC.
    m->windows_ = std::make_unique<SimWindows>(m->stateDir_ / "windows");
    // So are its named mutexes.
    m->kernelObjects_ = std::make_unique<SimKernelObjects>(m->stateDir_ / "mutexes");
    m->dialogs_ = std::make_unique<SimDialogs>();

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

std::optional<MachineSelection> SelectMachine(const std::optional<std::string>& machine,
                                              const std::optional<std::string>& state,
                                              std::string* error) {
    MachineSelection s;
    s.machine = machine.value_or(Env("TARVEX_MACHINE").value_or(kDefaultMachine));
    const EmbeddedProfile* embedded = nullptr;
    const bool looksLikeFile = s.machine.find('/') != std::string::npos ||
                               (s.machine.size() > 5 && s.machine.ends_with(".json"));
    if (!looksLikeFile) {
        embedded = FindEmbeddedProfile(s.machine);
    }
    if (embedded != nullptr) {
        s.profileText = embedded->text;
        s.name = embedded->name;
        s.source = "embedded:" + s.name;
    } else {
        auto text = ReadMachineProfileFile(s.machine, error);
        if (!text) {
            return std::nullopt;
        }
        s.profileText = std::move(*text);
        s.name = fs::path(s.machine).stem().string();
        s.source = s.machine;
        std::error_code ec;
        fs::path absolute = fs::absolute(s.machine, ec);
        if (!ec) {
            s.machine = absolute.string();
        }
        s.profileFolder = fs::path(s.machine).parent_path();
    }

    if (state) {
        s.stateDir = *state;
    } else if (auto envState = Env("TARVEX_STATE")) {
        s.stateDir = *envState;
    } else if (auto xdg = Env("XDG_STATE_HOME")) {
        s.stateDir = fs::path(*xdg) / "tarvex" / s.name;
    } else {
        s.stateDir = fs::path(Env("HOME").value_or("/tmp")) / ".local" / "state" / "tarvex" / s.name;
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(s.stateDir, ec);
    if (!ec) {
        s.stateDir = absolute;
    }

    if (auto speed = Env("TARVEX_SPEED")) {
        char* end = nullptr;
        errno = 0;
        double v = std::strtod(speed->c_str(), &end);
        if (errno != 0 || end == speed->c_str() || *end != '\0' || !(v >= 0.001 && v <= 1000000.0)) {
            *error = "TARVEX_SPEED: expected a number from 0.001 to 1000000, found \"" + *speed + "\"";
            return std::nullopt;
        }
        s.speed = v;
    }
    return s;
}

void ExportMachineEnvironment(const MachineSelection& selection) {
    ::setenv("TARVEX_MACHINE", selection.machine.c_str(), 1);
    ::setenv("TARVEX_STATE", selection.stateDir.c_str(), 1);
    if (selection.speed) {
        std::ostringstream v;
        v << *selection.speed;
        ::setenv("TARVEX_SPEED", v.str().c_str(), 1);
    }
}

std::unique_ptr<SimMachine> OpenMachine(const MachineSelection& selection, SimOptions options,
                                        std::string* error) {
    ProfileLoadResult loaded = LoadMachineProfile(selection.profileText, selection.name, selection.source,
                                                  selection.profileFolder);
    if (!loaded.profile) {
        *error = loaded.error;
        return nullptr;
    }
    options.stateDir = selection.stateDir;
    if (options.velmoraHostFile.empty()) {
        // The build copies the main program beside the running executable as "SSDVelmora".
        const fs::path velmora = SelfExecutable().parent_path() / "SSDVelmora";
        std::error_code ec;
        if (fs::is_regular_file(velmora, ec)) {
            options.velmoraHostFile = velmora;
        }
    }
    if (!options.speed) {
        options.speed = selection.speed;
    }
    if (options.machine.empty()) {
        options.machine = selection.machine;
    }
    return SimMachine::Create(*loaded.profile, options, error);
}

}  // namespace tarvex::sim
