#include "cli/drive_selection.h"

#include <fmt/format.h>

#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::cli {

std::optional<long> ParseCliNumber(const std::string& text, long min, long max) {
    // Ten digits are more than any range here needs and cannot overflow a long.
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

bool DiskExists(long disk) {
    platform::Devices* devices = platform::Current().devices;
    const std::u16string path = platform::Utf8ToUtf16(fmt::format("\\\\.\\PhysicalDrive{}", disk));
    if (devices == nullptr) {
        return false;
    }
    if (devices->CreateFile(path, 0, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0)) {
        return true;
    }
    // Another failure (a drive that refuses to open) is the command's to report.
    const uint32_t error = platform::GetLastError();
    return error != win::ERROR_FILE_NOT_FOUND && error != win::ERROR_PATH_NOT_FOUND;
}

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
        const std::optional<long> v = ParseCliNumber(text, 0, 255);
        if (!v) {
            *error = a + ": expected a drive number from 0 to 255, found '" + text + "'";
            return false;
        }
        if (slot) {
            *error = a + " given twice";
            return false;
        }
        slot = *v;
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
