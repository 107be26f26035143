#pragma once
// Raw pages a real SATA drive sent, as a profile names them: a dump file (a bare 512-byte
// IDENTIFY page, or a sequence of tagged parts) and pages written out in hexadecimal.
//
// A tagged dump is a sequence of parts, each a 4-byte ASCII tag, a 4-byte big-endian size and
// the data: "IDFY" IDENTIFY DEVICE (512 bytes), "SMST" SMART RETURN STATUS (4 bytes, big-endian,
// 1 good, 0 threshold exceeded), "SMDT" SMART READ DATA (512), "SMTH" SMART READ THRESHOLDS (512).
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tarvex::sim {

using RawPage = std::array<uint8_t, 512>;

struct PageDump {
    std::optional<RawPage> identify;
    std::optional<RawPage> smartData;
    std::optional<RawPage> smartThresholds;
    std::optional<bool> thresholdExceeded;  // the SMART RETURN STATUS the drive gave
};

// The largest dump file read; anything bigger is refused before it is read whole.
inline constexpr size_t kMaxPageDumpBytes = 64u << 10;

// Splits the bytes of a dump. Nothing, with the reason in `why`, for an empty or oversized
// dump, an unknown or repeated tag, a part of the wrong size or one cut short.
std::optional<PageDump> ParsePageDump(std::span<const uint8_t> bytes, std::string* why);

// Reads and splits the dump file at `file`. Nothing, with "<file>: <reason>" in `error`, when
// it cannot be opened, is not a regular file, or its content is refused.
std::optional<PageDump> ReadPageDump(const std::filesystem::path& file, std::string* error);

// 512 bytes written as hexadecimal digit pairs; blanks, tabs and line breaks may stand
// between the pairs. Nothing, with the reason in `why`, for anything else.
std::optional<RawPage> ParsePageHex(const std::string& text, std::string* why);

}  // namespace tarvex::sim
