#pragma once
// Every program of this build carries its version in a small record embedded in the file:
// the marker text followed by "major.minor.build.revision" as four decimal numbers and a
// NUL, e.g. "TARVEX-FILE-VERSION:0.1.0.0". It stands in for a Windows version resource: a
// backend's version-resource reader finds the marker in the file and reads the numbers.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarvex::platform {

inline constexpr std::string_view kVersionRecordMarker = "TARVEX-FILE-VERSION:";

struct FileVersionNumbers {
    uint16_t major = 0, minor = 0, build = 0, revision = 0;
};

// Finds the first well-formed record in a file's bytes.
std::optional<FileVersionNumbers> FindVersionRecord(std::span<const uint8_t> fileBytes);

// The record of the running program (kept in the binary by being referenced at start-up).
const char* ProgramVersionRecord();

}  // namespace tarvex::platform
