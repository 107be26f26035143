// The clean-up of an interrupted TRIM run: delete notifications back on, and the temporary
// folders of the volumes removed with everything in them.
#include "maintenance/trim_cleanup.h"

#include <vector>

#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {

std::u16string TrimTempFolderOf(std::u16string_view deviceId) {
    return std::u16string(deviceId) + u"\\tmpxxxvarno";
}

void ATACommand::DeleteTrimTempFolder() {
    Trace("Enter %s()", "ATACommand::DeleteTrimTempFolder");
    (void)SetDeleteNotificationRegistry();
    platform::Files* files = platform::Current().files;
    for (const PhysicalDriveInfo& drive : PhysicalDriveTable()) {
        UnderlyingUtil util;
        std::vector<LogicalDriveInfo> volumes;
        (void)util.GetLogicalDriveInfo(drive.driveIndex, volumes);
        for (const LogicalDriveInfo& volume : volumes) {
            if (files == nullptr || platform::FixedText(volume.FileSystem) != u"NTFS") {
                continue;
            }
            const std::u16string folder = TrimTempFolderOf(platform::FixedText(volume.DeviceID));
            // Only a plain folder is ours: anything with other attributes is left alone.
            if (files->GetFileAttributes(folder) == win::FILE_ATTRIBUTE_DIRECTORY) {
                (void)DeleteDirectory(folder, true);
            }
        }
    }
    Trace("Exit %s()", "ATACommand::DeleteTrimTempFolder");
}

uint32_t ATACommand::SetDeleteNotificationRegistry() {
    platform::Registry* reg = platform::Current().registry;
    if (reg == nullptr) {
        Trace("SetDeleteNotificationRegistry::RegOpenKeyEx fail.\n");
        return win::ERROR_NOT_SUPPORTED;
    }
    platform::RegKey key = platform::kNullRegKey;
    uint32_t status = reg->RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, kFileSystemKey, 0, win::KEY_ALL_ACCESS, &key);
    if (status != win::ERROR_SUCCESS) {
        Trace("SetDeleteNotificationRegistry::RegOpenKeyEx fail.\n");
        return status;
    }
    platform::UniqueRegKey owned(*reg, key);
    const uint32_t enabled = 0;
    status = reg->RegSetValueEx(key, kDisableDeleteNotificationValue, win::REG_DWORD,
                                reinterpret_cast<const uint8_t*>(&enabled), sizeof enabled);
    Trace("SetDeleteNotificationRegistry::RegSetValueEx():%X .\n", status);
    return status;
}

uint32_t ATACommand::DeleteDirectory(std::u16string_view path, bool recursive) {
    platform::Files* files = platform::Current().files;
    if (files == nullptr) {
        return 0;  // no file system: nothing to delete
    }
    const std::u16string folder(path);
    // Every error is taken before the trace line that reports it: writing the trace is a file
    // operation of its own and sets the last error too.
    const auto removeFolder = [&]() -> uint32_t {
        if (!files->RemoveDirectory(folder)) {
            const uint32_t error = platform::GetLastError();
            Trace("DeleteDirectory::RemoveDirectory fail. Error code = 0x%X\n", error);
            return error;
        }
        return 0;
    };
    // A link to a folder (a junction or symbolic link) goes as a link; walking into it would
    // delete files that live elsewhere.
    const uint32_t own = files->GetFileAttributes(folder);
    if (own != win::INVALID_FILE_ATTRIBUTES && (own & win::FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (own & win::FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return removeFolder();
    }

    platform::FindData entry;
    std::unique_ptr<platform::FindHandle> find = files->FindFirstFile(folder + u"\\*.*", &entry);
    if (!find) {
        return 0;  // nothing there to delete
    }
    bool subfolderStays = false;
    uint32_t endError = 0;
    while (true) {
        if (entry.fileName.empty() || entry.fileName[0] != u'.') {
            const std::u16string full = folder + u"\\" + entry.fileName;
            if ((entry.attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (recursive) {
                    const uint32_t result = DeleteDirectory(full, true);
                    if (result != 0) {
                        Trace("DeleteDirectory::DeleteDirectory fail. Error code = 0x%X\n", result);
                        return result;
                    }
                } else {
                    subfolderStays = true;
                }
            } else {
                if (!files->SetFileAttributes(full, win::FILE_ATTRIBUTE_NORMAL)) {
                    Trace("DeleteDirectory::SetFileAttributes fail. Error code = 0x%X\n", platform::GetLastError());
                }
                if (!files->DeleteFile(full)) {
                    Trace("DeleteDirectory::DeleteFile fail. Error code = 0x%X\n", platform::GetLastError());
                }
            }
        }
        if (!find->FindNext(&entry)) {
            endError = platform::GetLastError();
            break;
        }
    }
    find.reset();
    if (endError != win::ERROR_NO_MORE_FILES) {
        Trace("DeleteDirectory:: (!ERROR_NO_MORE_FILES). Error code = 0x%X\n", endError);
        return endError;
    }
    if (subfolderStays) {
        return 0;
    }
    if (!files->SetFileAttributes(folder, win::FILE_ATTRIBUTE_NORMAL)) {
        const uint32_t error = platform::GetLastError();
        Trace("DeleteDirectory:: SetFileAttributes() fail\n");
        return error;
    }
    return removeFolder();
}

}  // namespace tarvex
