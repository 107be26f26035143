#pragma once
// Reading a file of this computer that the emulated PC is made from (a machine profile, a
// drive's page dump): a regular file only, and never more than a limit, even when the file
// grows while it is read.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace tarvex::sim {

enum class HostFileProblem { None, CannotRead, Folder, NotRegular, TooBig };

struct HostFileRead {
    std::optional<std::string> bytes;  // the content, when it could be read
    HostFileProblem problem = HostFileProblem::None;
    std::string systemError;  // the system's text for CannotRead
};

// Opens without waiting (a FIFO is refused at once, not read until a writer comes) and
// refuses a folder, a device or a FIFO, and a file larger than `maxBytes`.
HostFileRead ReadRegularHostFile(const std::filesystem::path& path, size_t maxBytes);

}  // namespace tarvex::sim
