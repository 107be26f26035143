#pragma once
// The temporary folder a TRIM run fills on a volume, and the names of the registry value
// that switches the file system's delete notifications (TRIM) on.
#include <string>
#include <string_view>

namespace tarvex {

inline constexpr char16_t kFileSystemKey[] = u"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
inline constexpr char16_t kDisableDeleteNotificationValue[] = u"DisableDeleteNotification";

// "%s\\tmpxxxvarno" of a volume's device id: "C:" gives "C:\\tmpxxxvarno".
std::u16string TrimTempFolderOf(std::u16string_view deviceId);

}  // namespace tarvex
