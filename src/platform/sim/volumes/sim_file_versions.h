#pragma once
// Version resources of the emulated PC's files. Every program of this build carries a version
// record (platform/version_record.h); the version of a file is the record found in the host
// file behind its Windows path.
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/sim/sim_files.h"

namespace tarvex::sim {

class SimFileVersions : public platform::FileVersions {
public:
    // `programFolder`: the running program's folder, searched first for relative names.
    SimFileVersions(SimFiles& files, std::u16string programFolder);

    // A relative name is looked for in the program's folder, then in the current directory.
    // Nothing, with the last error set, when no file is found (ERROR_FILE_NOT_FOUND) or the
    // file carries no record (ERROR_RESOURCE_TYPE_NOT_FOUND).
    std::optional<platform::FileVersion> GetFileVersionInfo(std::u16string_view fileName) override;

private:
    SimFiles& files_;
    std::u16string programFolder_;
};

}  // namespace tarvex::sim
