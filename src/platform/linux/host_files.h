#pragma once
// Small readers for the text files and links of sysfs, procfs and /dev that the host
// inventory and the host facts are built from. A file that is missing, unreadable or larger
// than a sysfs attribute can be reads as nothing; nothing here throws.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace tarvex::linuxhost {

// Where the Linux PC's pseudo file systems are; tests point them at a fake tree.
struct HostRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path proc = "/proc";
    std::filesystem::path dev = "/dev";
    std::filesystem::path etc = "/etc";
};

// The whole file, at most `maxBytes`; nothing when it cannot be read or is bigger.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path,
                                         size_t maxBytes = 1u << 20);

// The file's text without surrounding blanks and line ends; empty when unreadable.
std::string ReadTrimmed(const std::filesystem::path& path);

// A number file: decimal, or hexadecimal with "0x" in front ("0x8086"). Nothing when the
// file is missing or holds no such number.
std::optional<uint64_t> ReadNumber(const std::filesystem::path& path);

std::string Trim(std::string_view text);

// Text fit for a device id or a WMI string: printable ASCII kept, anything else '_'.
std::string PrintableAscii(std::string_view text);

// The canonical path of `path` (links resolved); empty when it does not resolve.
std::filesystem::path Resolve(const std::filesystem::path& path);

// The last component of a link's target ("ahci" for driver -> ../../bus/pci/drivers/ahci).
std::string LinkName(const std::filesystem::path& link);

// The entries of a folder, by name; empty when it cannot be listed.
std::vector<std::string> ListFolder(const std::filesystem::path& folder);

using platform::Fnv1a;

// Kernel names in natural order: digit runs compare by value, letter runs first by length
// and then alphabetically, so sdz < sdaa and nvme0n2 < nvme0n10.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace tarvex::linuxhost
