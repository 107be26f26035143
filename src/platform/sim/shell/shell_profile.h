#pragma once
// The failures a test wants the emulated PC's shell to show (the profile's "shell" object, see
// docs/machine-profile.md): each pipe or process call can be made to fail with a Win32 error,
// and the emulated diskpart can be missing from the PC.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace tarvex::sim {

struct ShellProfile {
    std::optional<uint32_t> failCreatePipe;     // CreatePipe fails with this error
    std::optional<uint32_t> failSetInheritable;  // SetHandleInformation on a pipe end fails
    std::optional<uint32_t> failCreateProcess;  // CreateProcessW fails with this error
    bool diskpartMissing = false;               // diskpart.exe is not on the PC
};

// Parses the "shell" object (at `path`). Throws JsonError.
ShellProfile ParseShellProfile(const nlohmann::json& node, const std::string& path);

}  // namespace tarvex::sim
