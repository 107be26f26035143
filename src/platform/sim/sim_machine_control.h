#pragma once
// The emulated PC behind the front ends' machine control (platform/machine_control.h).
#include <memory>

#include "platform/machine_control.h"
#include "platform/sim/sim_machine.h"

namespace tarvex::sim {

// Control over `machine`, which the result owns; `selection` names it.
std::unique_ptr<platform::MachineControl> MakeMachineControl(std::unique_ptr<SimMachine> machine,
                                                             MachineSelection selection);

// The emulated PC that `request` and the environment select (TARVEX_MACHINE, TARVEX_STATE,
// TARVEX_SPEED), exported to this process's environment and opened; null with a one-line
// `error`.
std::unique_ptr<platform::MachineControl> OpenSimMachine(const platform::MachineRequest& request, std::string* error);

}  // namespace tarvex::sim
