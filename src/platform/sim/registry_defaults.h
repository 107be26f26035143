#pragma once
// The Windows registry values a fresh emulated PC carries for its OS version, before the
// profile's own registry content is laid over them.
#include <vector>

#include "platform/sim/machine_profile.h"

namespace tarvex::sim {

// The initial registry of a PC with this OS and these profile entries: the defaults of the
// version, then the profile's keys (a profile value replaces a default of the same name).
std::vector<ProfileRegistryKey> InitialRegistry(const MachineProfile& profile);

}  // namespace tarvex::sim
