// The volumes of one physical drive, and the drive number of a volume.
#include <fmt/format.h>

#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/platform.h"
#include "sysinfo/wmi_rows.h"

namespace tarvex {

int GetPhysicalDriveNumber(const char* volumePath) {
    const platform::Platform& p = platform::Current();
    const std::u16string path = p.system->AnsiToWide(volumePath != nullptr ? volumePath : "");
    auto volume = OpenDevice(path, 0, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::FILE_ATTRIBUTE_NORMAL);
    if (!volume) {
        return -1;
    }
    platform::StorageDeviceNumber number{};
    uint32_t returned = 0;
    const bool ok = volume->DeviceIoControl(platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, {},
                                            std::span(reinterpret_cast<uint8_t*>(&number), sizeof number), &returned);
    if (!ok || returned < sizeof number || number.DeviceType != platform::FILE_DEVICE_DISK) {
        return -1;
    }
    return static_cast<int>(number.DeviceNumber);
}

int UnderlyingUtil::GetLogicalDriveInfo(int drive, std::vector<LogicalDriveInfo>& list) {
    Trace("Enter %s()", "UnderlyingUtil::GetLogicalDriveInfo");
    list.clear();
    WmiConnection wmi;
    std::unique_ptr<platform::WmiEnumerator> rows;
    if (!ConnectWmiService(wmi) || !ConnectWmiClass(u"Win32_LogicalDisk", u"", wmi, &rows)) {
        Trace("Win32_LogicalDisk fail 1");
        return 0;
    }
    if (!rows) {
        Trace("Win32_LogicalDisk fail 2");
        return 0;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        LogicalDriveInfo v{};
        (void)ReadWmiText(*this, u"DeviceID", row, v.DeviceID);
        (void)ReadWmiText(*this, u"FileSystem", row, v.FileSystem);
        platform::Variant value;
        if (GetVariable(u"FreeSpace", win::VT_BSTR, row, &value)) {
            v.FreeSpaceMb = ParseWmiUInt64(value.bstrValue) / 1024 / 1024;
            Trace("Win32_LogicalDisk Get FreeSpace Done");
        }
        if (GetVariable(u"Size", win::VT_BSTR, row, &value)) {
            v.SizeMb = ParseWmiUInt64(value.bstrValue) / 1024 / 1024;
            Trace("Win32_LogicalDisk Get Size Done");
        }
        const std::string volume =
            fmt::format("\\\\.\\{}", platform::Utf16ToUtf8(platform::FixedText(v.DeviceID)));
        const int number = GetPhysicalDriveNumber(volume.c_str());
        if (number == drive && number >= 0) {
            v.PhysicalDriveNumber = number;
            list.push_back(v);
        }
    });
    rows.reset();
    wmi.Release();
    Trace("Exit %s()", "UnderlyingUtil::GetLogicalDriveInfo");
    return static_cast<int>(list.size());
}

}  // namespace tarvex
