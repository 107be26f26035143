// The drive scan's view of the PC: the disk device interfaces, the Win32_DiskDrive rows with
// drive numbers and sizes, and the controller class of a disk.
#include <cstring>

#include <fmt/format.h>

#include "app/trace.h"
#include "drives/drive_table.h"
#include "platform/byte_span.h"
#include "platform/platform.h"
#include "sysinfo/wmi_rows.h"

namespace tarvex {

namespace {

// GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B} in its in-memory byte order.
constexpr uint8_t kDiskInterfaceGuid[16] = {0x07, 0x63, 0xF5, 0x53, 0xBF, 0xB6, 0xD0, 0x11,
                                            0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B};
constexpr uint32_t kDigcfPresentInterfaces = 0x12;
constexpr size_t kDetailBufferSize = 1024;
constexpr uint32_t kDetailCbSize = 6;
constexpr size_t kPathCapacity = 256;

std::vector<WmiDiskEntry> wmiDisks;


}  // namespace

std::vector<WmiDiskEntry>& WmiDiskList() { return wmiDisks; }

int UnderlyingUtil::ListDiskInterfaces(std::vector<std::u16string>& paths) {
    paths.clear();
    platform::Devices* devices = platform::Current().devices;
    auto set = devices != nullptr ? devices->SetupDiGetClassDevs(kDiskInterfaceGuid, kDigcfPresentInterfaces) : nullptr;
    if (!set) {
        return 0;
    }
    std::vector<uint8_t> detail(kDetailBufferSize, 0);
    for (uint32_t index = 0; paths.size() < static_cast<size_t>(kMaxListedDrives); ++index) {
        platform::DeviceInterfaceData data;
        if (!set->EnumDeviceInterfaces(index, &data)) {
            break;
        }
        std::fill(detail.begin(), detail.end(), 0);
        if (!platform::ByteWriter(detail).U32(0, kDetailCbSize) ||
            !set->GetDeviceInterfaceDetail(data, detail, nullptr)) {
            break;
        }
        // The path follows the 4-byte size, NUL-terminated; the buffer always ends in NULs.
        const platform::ByteReader reply(detail);
        std::u16string path;
        for (size_t i = 4; reply.Has(i, 2); i += 2) {
            const char16_t c = static_cast<char16_t>(*reply.U16(i));
            if (c == 0) {
                break;
            }
            path += c;
        }
        path = platform::FoldCase(path).substr(0, kPathCapacity - 1);
        Trace("SetupDiGetInterfaceDeviceDetail-DevicePath:%s", path);
        paths.push_back(path);
    }
    return static_cast<int>(paths.size());
}

int CountDiskInterfaces() {
    platform::Devices* devices = platform::Current().devices;
    auto set = devices != nullptr ? devices->SetupDiGetClassDevs(kDiskInterfaceGuid, kDigcfPresentInterfaces) : nullptr;
    int count = 0;
    platform::DeviceInterfaceData data;
    while (set && set->EnumDeviceInterfaces(static_cast<uint32_t>(count), &data)) {
        ++count;
    }
    return count;
}

bool UnderlyingUtil::GetPhysicalDriveSpace() {
    Trace("Enter GetPhysicalDriveSpace()");
    wmiDisks.clear();
    WmiConnection wmi;
    std::unique_ptr<platform::WmiEnumerator> rows;
    if (!ConnectWmiService(wmi)) {
        Trace("ConnectWmiService fail 1");
        return false;
    }
    if (!ConnectWmiClass(u"Win32_DiskDrive", u"", wmi, &rows)) {
        Trace("ConnectWmiClass fail 1");
        return false;
    }
    if (!rows) {
        Trace("ConnectWmiClass fail 2");
        return false;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        WmiDiskEntry e{};
        platform::Variant v;
        if (GetVariable(u"Index", win::VT_I4, row, &v)) {
            e.Index = static_cast<int32_t>(v.intValue);
        }
        Trace("Win32_DiskDrive-Index:%d", e.Index);
        (void)ReadWmiText(*this, u"InterfaceType", row, e.InterfaceType);
        Trace("Win32_DiskDrive-InterfaceType:%s", platform::FixedText(e.InterfaceType));
        (void)ReadWmiText(*this, u"Model", row, e.Model);
        Trace("Win32_DiskDrive-Model:%s", platform::FixedText(e.Model));
        if (GetVariable(u"Size", win::VT_BSTR, row, &v)) {
            e.sizeGB = ParseWmiUInt64(v.bstrValue) / 1000 / 1000 / 1000;
        }
        Trace("GetPhysicalDriveSpace()--physical size:%s", fmt::format("{} GB", e.sizeGB));
        (void)ReadWmiText(*this, u"PNPDeviceID", row, e.PNPDeviceID);
        Trace("Win32_DiskDrive-PNPDeviceID:%s", platform::FixedText(e.PNPDeviceID));
        wmiDisks.push_back(e);
    });
    Trace("Exit GetPhysicalDriveSpace()");
    return true;
}

bool UnderlyingUtil::GetPhysicalDriveSpace(std::u16string_view devicePath, PhysicalDriveInfo& out) {
    const std::u16string path = HashToBackslash(devicePath);
    WmiConnection wmi;
    std::unique_ptr<platform::WmiEnumerator> rows;
    if (ConnectWmiService(wmi) && ConnectWmiClass(u"Win32_DiskDrive", u"", wmi, &rows) && rows) {
        bool found = false;
        ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
            if (found) {
                return;
            }
            char16_t text[256] = {};
            if (ReadWmiText(*this, u"InterfaceType", row, text)) {
                Trace("Win32_DiskDrive-InterfaceType:%s", platform::FixedText(text));
            }
            // Windows answers Index as VT_I4.
            platform::Variant index;
            const bool haveIndex = GetVariable(u"Index", win::VT_I4, row, &index);
            if (haveIndex) {
                Trace("Win32_DiskDrive-Index:%d", static_cast<int>(index.intValue));
            }
            for (const char16_t* name : {u"Model", u"Name", u"DeviceID"}) {
                if (ReadWmiText(*this, name, row, text)) {
                    Trace("Win32_DiskDrive-%s:%s", std::u16string(name), platform::FixedText(text));
                }
            }
            char16_t pnp[256] = {};
            if (!ReadWmiText(*this, u"PNPDeviceID", row, pnp) || platform::FixedText(pnp).empty() ||
                platform::FoldCase(path).find(platform::FoldCase(platform::FixedText(pnp))) == std::u16string::npos) {
                return;
            }
            platform::Variant size;
            const uint64_t bytes = GetVariable(u"Size", win::VT_BSTR, row, &size) ? ParseWmiUInt64(size.bstrValue) : 0;
            if (haveIndex) {
                out.driveIndex = static_cast<int32_t>(index.intValue);
            }
            out.capacityGB = bytes / 1000 / 1000 / 1000;
            Trace("GetPhysicalDriveSpace()--physical size:%llu ", static_cast<unsigned long long>(bytes));
            found = true;
        });
        if (found) {
            return true;
        }
    }
    Trace("GetPhysicalDriveSpace() Fail");
    return false;
}

std::u16string UnderlyingUtil::GetDiskMode(int driveNumber) {
    WmiConnection wmi;
    if (!ConnectWmiService(wmi)) {
        Trace("GetDiskMode() Connect to WMI service fail 1");
        return {};
    }
    std::unique_ptr<platform::WmiEnumerator> rows;
    if (!ConnectWmiClass(u"Win32_DiskDrive", platform::Utf8ToUtf16(fmt::format("WHERE index={}", driveNumber)), wmi,
                         &rows)) {
        Trace("GetDiskMode() ConnectWmiClass fail 1");
        return {};
    }
    if (!rows) {
        Trace("GetDiskMode() ConnectWmiClass fail 2");
        return {};
    }
    char16_t interfaceType[64] = {};
    char16_t pnp[256] = {};
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        (void)ReadWmiText(*this, u"InterfaceType", row, interfaceType);
        (void)ReadWmiText(*this, u"PNPDeviceID", row, pnp);
    });
    rows.reset();
    std::u16string association;
    const char* fail1 = nullptr;
    const char* fail2 = nullptr;
    if (platform::FixedText(interfaceType) == u"IDE") {
        association = u"Win32_IDEControllerDevice";
        fail1 = "GetDiskMode() Win32_IDEControllerDevice ConnectWmiClass fail 1";
        fail2 = "GetDiskMode() Win32_IDEControllerDevice ConnectWmiClass fail 2";
    } else if (platform::FixedText(interfaceType) == u"SCSI") {
        association = u"Win32_SCSIControllerDevice";
        fail1 = "GetDiskMode() Win32_SCSIControllerDevice ConnectWmiClass fail 1";
        fail2 = "GetDiskMode() Win32_SCSIControllerDevice ConnectWmiClass fail 2";
    } else {
        return {};
    }
    const std::u16string doubled = DoubleBackslashes(platform::FixedText(pnp));
    if (!ConnectWmiClass(association, u"", wmi, &rows)) {
        Trace("%s", fail1);
        return {};
    }
    if (!rows) {
        Trace("%s", fail2);
        return {};
    }
    std::u16string classCode;
    bool done = false;
    ForEachWmiRow(*rows, [&](platform::WmiObject& assoc) {
        if (done) {
            return;
        }
        // Read as variants: every association of the PC is looked at for every disk.
        platform::Variant dependent;
        if (doubled.empty() || !GetVariable(u"Dependent", win::VT_BSTR, assoc, &dependent) ||
            dependent.bstrValue.find(doubled) == std::u16string::npos) {
            return;
        }
        platform::Variant antecedent;
        if (!GetVariable(u"Antecedent", win::VT_BSTR, assoc, &antecedent)) {
            return;
        }
        const std::u16string_view ante = antecedent.bstrValue;
        const size_t eq = ante.find(u'=');
        if (eq == std::u16string_view::npos) {
            return;
        }
        WmiConnection conn;
        std::unique_ptr<platform::WmiEnumerator> entities;
        if (!ConnectWmiService(conn) ||
            !ConnectWmiClass(u"Win32_PnPEntity", u"Where DeviceID = " + std::u16string(ante.substr(eq + 1)), conn,
                             &entities)) {
            Trace("GetDiskMode() ConnectWmiClass Win32_PnPEntity fail 1");
            done = true;
            return;
        }
        if (!entities) {
            Trace("GetDiskMode() ConnectWmiClass Win32_PnPEntity fail 2");
            done = true;
            return;
        }
        ForEachWmiRow(*entities, [&](platform::WmiObject& entity) {
            platform::Variant ids;
            if (!classCode.empty() || !GetVariable(u"HardwareID", win::VT_ARRAY | win::VT_BSTR, entity, &ids)) {
                return;
            }
            classCode = ClassCodeOf(ids.bstrArray);
        });
        done = true;
    });
    return classCode;
}

}  // namespace tarvex
