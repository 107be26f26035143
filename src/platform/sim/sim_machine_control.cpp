#include "platform/sim/sim_machine_control.h"

#include <utility>

namespace tarvex::sim {

namespace {

class SimMachineControl : public platform::MachineControl {
public:
    SimMachineControl(std::unique_ptr<SimMachine> machine, MachineSelection selection)
        : machine_(std::move(machine)), selection_(std::move(selection)) {}

    const platform::Platform& Interfaces() const override { return machine_->Platform(); }
    std::string Name() const override { return selection_.name; }
    std::string Source() const override { return selection_.source; }
    std::string Description() const override { return machine_->Profile().description; }
    std::filesystem::path StateDirectory() const override { return machine_->StateDir(); }

    bool PowerCycle(std::string* error) override { return machine_->Devices().PowerCycle(error); }

    char16_t MapHostFolder(const std::filesystem::path& hostFolder) override {
        SimFiles& files = machine_->Files();
        const char16_t letter = files.FreeDriveLetter();
        return letter != 0 && files.AddMappedDrive(letter, hostFolder) ? letter : 0;
    }

    std::optional<std::filesystem::path> HostPath(std::u16string_view windowsPath) override {
        return machine_->Files().HostPath(windowsPath);
    }

    std::string TakeStateError() override { return machine_->Devices().TakeStateError(); }

private:
    std::unique_ptr<SimMachine> machine_;
    MachineSelection selection_;
};

}  // namespace

std::unique_ptr<platform::MachineControl> MakeMachineControl(std::unique_ptr<SimMachine> machine,
                                                             MachineSelection selection) {
    return std::make_unique<SimMachineControl>(std::move(machine), std::move(selection));
}

}  // namespace tarvex::sim

namespace tarvex::sim {

std::unique_ptr<platform::MachineControl> OpenSimMachine(const platform::MachineRequest& request, std::string* error) {
    auto selection = SelectMachine(request.machine, request.state, error);
    if (!selection) {
        return nullptr;
    }
    sim::ExportMachineEnvironment(*selection);
    sim::SimOptions options;
    options.moduleName = request.moduleName;
    options.arguments = request.arguments;
    options.speedChangeAllowed = request.speedChangeAllowed;
    auto machine = sim::OpenMachine(*selection, options, error);
    if (!machine) {
        return nullptr;
    }
    return sim::MakeMachineControl(std::move(machine), std::move(*selection));
}

}  // namespace tarvex::sim
