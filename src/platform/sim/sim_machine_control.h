#pragma once
// The emulated PC behind the front ends' machine control (platform/machine_control.h).
#include <memory>

#include "platform/machine_control.h"
#include "platform/sim/sim_machine.h"

namespace tarvex::sim {

// Control over `machine`, which the result owns; `selection` names it.
std::unique_ptr<platform::MachineControl> MakeMachineControl(std::unique_ptr<SimMachine> machine,
                                                             MachineSelection selection);

}  // namespace tarvex::sim
