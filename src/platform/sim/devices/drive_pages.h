#pragma once
// A SATA disk that replays the pages of a real drive: reading the "pages" part of "sata"
// (inline pages and a dump file), and taking from the pages what the drive's behaviour needs,
// so that what the drive does agrees with what its pages say.
#include <filesystem>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/sim/devices/drive_profile.h"
#include "platform/sim/json_reader.h"

namespace tarvex::sim {

// Reads "pages". A relative dumpFile lies in `folder`; with an empty folder it is refused.
// Inline pages win over the same parts of the dump. Throws JsonError.
SataPagesProfile ParseSataPages(JsonObject o, const std::filesystem::path& folder);

// Takes the fields the disk's profile (the JSON object `node` at `path`) leaves out from its
// pages, and refuses a field it gives that disagrees with them:
// "<path of the field>: disagrees with the IDENTIFY page (<what the page says>)". With an
// IDENTIFY page: identity, capacity, WWN, TRIM, SATA revision and link speed, security,
// DOWNLOAD MICROCODE. With a SMART data page: the attribute list (thresholds from the same
// slot of the threshold page), the data revision, the controller signature and the self-test
// durations. Throws JsonError.
void ApplySataPages(const nlohmann::json& node, const std::string& path, DiskProfile* disk);

}  // namespace tarvex::sim
