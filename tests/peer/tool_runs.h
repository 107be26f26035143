#pragma once
// Running the standard disk tools and tarvexctl from a test, and reading what they print:
// `hdparm --Istdin` (an IDENTIFY page as hex words) and `skdump --load=FILE` (a tagged dump).
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tarvex::peer {

using ToolRun = test::ChildRun;

// Runs a shell command line; `input`, when given, is written to a file and fed on stdin.
ToolRun RunShell(const std::string& command, const std::optional<std::string>& input = std::nullopt);
std::string Quote(const std::string& text);
// The full path of a standard tool (hdparm lives in /usr/sbin), or nothing.
std::optional<std::filesystem::path> FindTool(const std::string& name);

// The pages of one drive, as it sends them.
struct DrivePages {
    std::string name;
    std::vector<uint8_t> identify;  // 512 bytes
    std::vector<uint8_t> smartData;
    std::vector<uint8_t> smartThresholds;
    std::optional<bool> smartGood;  // SMART RETURN STATUS
};

// A bare 512-byte IDENTIFY page (.bin) or a tagged dump (.blob); throws std::runtime_error.
DrivePages ReadDumpFile(const std::filesystem::path& file);
// The tagged dump form skdump loads: IDFY, SMST, SMDT, SMTH parts.
std::vector<uint8_t> TaggedDump(const DrivePages& pages);
// 32 lines of 8 four-digit hex words, the form hdparm --Istdin reads.
std::string HexWordLines(const std::vector<uint8_t>& page);
std::string HexBytes(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> FromHex(const std::string& hex);

// What hdparm --Istdin prints about an IDENTIFY page.
struct HdparmView {
    std::string model;
    std::string serial;
    std::string firmware;
    std::vector<std::string> transport;  // the items after "Serial," in the Transport line
    std::set<int> majorVersions;
    std::optional<uint64_t> lba28Sectors;
    std::optional<uint64_t> lba48Sectors;
    std::optional<uint32_t> logicalSectorBytes;
    std::optional<uint32_t> physicalSectorBytes;
    std::optional<uint64_t> megabytes;  // "device size with M = 1000*1000"
    std::optional<std::string> wwn;
    bool trim = false;
    bool trimZeroes = false;
    bool trimDeterministicData = false;
    std::set<std::string> speeds;            // "1.5", "3.0", "6.0"
    std::map<std::string, bool> security;    // "supported", "enabled", "locked", "frozen", ...
    std::optional<std::string> securityLevel;
    std::optional<std::string> eraseTime;          // "2min", ">508min"
    std::optional<std::string> enhancedEraseTime;
    std::optional<unsigned> masterPasswordRevision;
    std::optional<bool> checksumCorrect;  // nothing when the integrity word is not set
};
HdparmView ParseHdparm(const std::string& text);

// What skdump --load prints about a tagged dump.
struct SkdumpRow {
    int id = 0;
    std::optional<int> value;  // "n/a" for nothing
    std::optional<int> worst;
    int threshold = 0;
    std::string rawHex;  // raw bytes 0..5 in order, lower case, no 0x
    std::string type;    // "prefail" or "old-age"
    std::string updates; // "online" or "offline"
};
struct SkdumpView {
    std::map<std::string, std::string> fields;  // "Model" -> "INTEL ...", brackets removed
    std::vector<SkdumpRow> rows;
};
SkdumpView ParseSkdump(const std::string& text);

}  // namespace tarvex::peer
