#include "cli/drive_selection.h"

#include <cerrno>
#include <cstdlib>

#include "device/ata_command.h"
#include "drives/drive_table.h"

namespace tarvex::cli {

bool TakeDriveChoice(std::vector<std::string>& args, DriveChoice* choice, std::string* error) {
    *choice = DriveChoice{};
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a != "--drive" && a != "--disk") {
            rest.push_back(a);
            continue;
        }
        std::optional<long>& slot = a == "--drive" ? choice->index : choice->disk;
        if (i + 1 >= args.size()) {
            *error = a + " needs a number";
            return false;
        }
        const std::string& text = args[++i];
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || v < 0 || text[0] == '+' || text[0] == ' ') {
            *error = a + ": expected a drive number, found '" + text + "'";
            return false;
        }
        if (slot) {
            *error = a + " given twice";
            return false;
        }
        slot = v;
    }
    if (choice->index.has_value() == choice->disk.has_value()) {
        *error = "give either --drive I (index in the drive table) or --disk N";
        return false;
    }
    args = std::move(rest);
    return true;
}

int ScanDrives() {
    std::vector<PhysicalDriveInfo>& table = PhysicalDriveTable();
    table.clear();
    DriveCount = GlobalAtaCommand().UpdatePhysicalDrivesInfo(table);
    SelectedDrive = 0;
    return DriveCount;
}

const PhysicalDriveInfo* ScanAndSelect(const DriveChoice& choice) {
    ScanDrives();
    const std::vector<PhysicalDriveInfo>& table = PhysicalDriveTable();
    for (size_t i = 0; i < table.size(); ++i) {
        if ((choice.index && static_cast<long>(i) == *choice.index) ||
            (choice.disk && table[i].driveIndex == *choice.disk)) {
            SelectedDrive = static_cast<int>(i);
            return &table[i];
        }
    }
    return nullptr;
}

}  // namespace tarvex::cli
