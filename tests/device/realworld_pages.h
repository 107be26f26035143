#pragma once
// The pages of real SATA drives kept outside the repository: the folder is
// <source dir>/../shared/realworld-drives, or the one TARVEX_REALWORLD_DRIVES names. A
// missing folder skips the test, except under CI (CI=true), where it fails it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tarvex::test {

inline std::filesystem::path RealworldDrivesFolder() {
    if (const char* env = std::getenv("TARVEX_REALWORLD_DRIVES"); env != nullptr && *env != '\0') {
        return env;
    }
    return std::filesystem::path(TARVEX_TESTS_DIR) / ".." / ".." / "shared" / "realworld-drives";
}

using tarvex::test::UnderCi;

// The parts of one dump by tag ("IDFY", "SMST", "SMDT", "SMTH"); a bare .bin file is the
// IDENTIFY page alone. A part that runs past the end of the file ends the reading.
inline std::map<std::string, std::vector<uint8_t>> ReadRealworldDump(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, std::vector<uint8_t>> parts;
    if (file.extension() == ".bin") {
        parts["IDFY"] = bytes;
        return parts;
    }
    size_t at = 0;
    while (at + 8 <= bytes.size()) {
        const std::string tag(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4);
        const size_t size = (size_t{bytes[at + 4]} << 24) | (size_t{bytes[at + 5]} << 16) |
                            (size_t{bytes[at + 6]} << 8) | size_t{bytes[at + 7]};
        if (at + 8 + size > bytes.size()) {
            break;
        }
        parts[tag].assign(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(at + 8 + size));
        at += 8 + size;
    }
    return parts;
}

}  // namespace tarvex::test

// Declares `folder` as the dumps' folder, or skips (fails under CI) the test without it.
#define TARVEX_REQUIRE_REALWORLD_DRIVES(folder)                                                        \
    const std::filesystem::path folder = ::tarvex::test::RealworldDrivesFolder();                      \
    if (!std::filesystem::is_directory(folder)) {                                                      \
        if (::tarvex::test::UnderCi()) {                                                               \
            FAIL() << "the real drives' pages are missing: " << folder;                                \
        }                                                                                              \
        GTEST_SKIP() << "no real drives' pages at " << folder << " (set TARVEX_REALWORLD_DRIVES)";     \
    }
