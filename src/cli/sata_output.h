#pragma once
// tarvexctl identify and smart for a SATA drive: the decoded pages as aligned text or as the
// fields of the --json document, and the pages themselves with --raw.
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "cli/cli_app.h"
#include "drives/physical_drive_info.h"

namespace tarvex::cli {

// The IDENTIFY page as the drive sent it: the record's page with its strings swapped back.
std::array<uint8_t, 512> SentIdentifyPage(const PhysicalDriveInfo& record);
// Lower-case hex digits of the bytes, two per byte, nothing between them.
std::string LowerHex(std::span<const uint8_t> bytes);
// A 512-byte page as 32 lines of 8 four-digit lower-case hex words (little-endian), single
// blanks between them: the form `hdparm --Istdin` reads.
void PrintHexWords(std::FILE* out, std::span<const uint8_t> page512);
// One "Label   value" line, the value in the column the drive commands align to.
void PrintRow(std::FILE* out, const std::string& label, const std::string& value);

// `record` holds the drive's IDENTIFY page; `disk` is the --disk number when one was given.
int ShowSataIdentify(CommandContext& context, const PhysicalDriveInfo& record, std::optional<int> disk, bool raw);
// `record` holds the IDENTIFY page and the SMART data and threshold pages; the return status
// and the self-test log are read here from the drive at `path`.
int ShowSataSmart(CommandContext& context, const PhysicalDriveInfo& record, const std::u16string& path, bool raw);

}  // namespace tarvex::cli
