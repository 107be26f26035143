// The system-information collector: OS, processor, memory, board, BIOS, memory modules,
// storage controllers and this program's version.
#include "sysinfo/system_info.h"

#include <fmt/format.h>

#include "app/trace.h"
#include "app/ui_language.h"
#include "platform/byte_span.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "sysinfo/wmi_rows.h"

namespace tarvex {

namespace {
SystemInfo systemInfo;
}  // namespace

SystemInfo& GlobalSystemInfo() { return systemInfo; }
void ResetSystemInfoForTesting() { systemInfo = SystemInfo{}; }

uint64_t ParseWmiUInt64(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        v = v * 10 + static_cast<uint64_t>(text[i] - u'0');
    }
    return v;
}

std::u16string DoubleBackslashes(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + 8);
    for (char16_t c : text) {
        out += c;
        if (c == u'\\') {
            out += u'\\';
        }
    }
    return out;
}

std::u16string HashToBackslash(std::u16string_view path) {
    std::u16string out(path);
    for (char16_t& c : out) {
        if (c == u'#') {
            c = u'\\';
        }
    }
    return out;
}

std::u16string ClassCodeOf(const std::vector<std::u16string>& hardwareIds) {
    for (const std::u16string& id : hardwareIds) {
        const size_t cc = id.find(u"CC_");
        if (cc != std::u16string::npos) {
            return id.substr(cc + 3);
        }
    }
    return {};
}

int UnderlyingUtil::GetSystemInfo() {
    SystemInfo& info = GlobalSystemInfo();
    Trace("Enter %s()", "UnderlyingUtil::GetSystemInfo");
    (void)UserDefaultUILanguage();
    WmiConnection wmi;
    if (!ConnectWmiService(wmi)) {
        Trace("ConnectWmiService fail 1");
        return 0;
    }
    // Runs one class query; false (with the class's failure traces) when it cannot.
    auto query = [&](std::u16string_view cls, const char* fail1, const char* fail2,
                     std::unique_ptr<platform::WmiEnumerator>* rows) {
        if (!ConnectWmiClass(cls, u"", wmi, rows)) {
            Trace("%s", fail1);
            return false;
        }
        if (!*rows) {
            Trace("%s", fail2);
            return false;
        }
        return true;
    };

    std::unique_ptr<platform::WmiEnumerator> rows;
    if (!query(u"Win32_OperatingSystem", "ConnectWmiClass fail 1", "ConnectWmiClass fail 2", &rows)) {
        return 0;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        if (ReadWmiText(*this, u"Name", row, info.OsName)) {
            Trace("OS Name before: %s", platform::FixedText(info.OsName));
            std::u16string name(platform::FixedText(info.OsName));
            const size_t bar = name.find(u'|');
            if (bar != std::u16string::npos) {
                name = name.substr(0, bar) + u"\n";
            }
            platform::CopyToFixed(info.OsName, name);
            Trace("OS Name after: %s", platform::FixedText(info.OsName));
        }
    });

    {
        platform::Registry& reg = *platform::Current().registry;
        platform::RegKey key = platform::kNullRegKey;
        uint32_t rc = reg.RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                                       win::KEY_QUERY_VALUE, &key);
        if (rc != win::ERROR_SUCCESS) {
            Trace("GetSystemInfo::RegOpenKeyEx(HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0) fail: 0x%X\n", rc);
            return 0;
        }
        uint8_t buffer[260] = {};
        uint32_t size = sizeof buffer;
        uint32_t type = 0;
        rc = reg.RegQueryValueEx(key, u"ProcessorNameString", &type, buffer, &size);
        if (rc != win::ERROR_SUCCESS) {
            Trace("GetSystemInfo::RegQueryValueEx(ProcessorNameString) fail: 0x%X\n", rc);
            (void)reg.RegCloseKey(key);
            return 0;
        }
        std::u16string cpu;
        // Only the bytes the value has, and never more than the buffer holds.
        const platform::ByteReader value(std::span<const uint8_t>(buffer, std::min<size_t>(size, sizeof buffer)));
        for (size_t i = 0; value.Has(i, 2); i += 2) {
            const char16_t c = static_cast<char16_t>(*value.U16(i));
            if (c == 0) {
                break;
            }
            cpu += c;
        }
        platform::CopyToFixed(info.CpuName, cpu);
        rc = reg.RegCloseKey(key);
        if (rc != win::ERROR_SUCCESS) {
            Trace("GetSystemInfo::RegCloseKey(HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0) fail: 0x%X\n", rc);
            return 0;
        }
    }

    if (!query(u"Win32_Processor", "ConnectWmiClass fail 1", "ConnectWmiClass fail 2", &rows)) {
        return 0;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        platform::Variant v;
        if (GetVariable(u"AddressWidth", win::VT_I4, row, &v)) {
            info.ProcessorAddressWidth = static_cast<int32_t>(v.intValue);
            std::u16string name(platform::FixedText(info.OsName));
            if (info.ProcessorAddressWidth == 32) {
                name += u" x86";
            } else if (info.ProcessorAddressWidth == 64) {
                name += u" x64";
            }
            platform::CopyToFixed(info.OsName, name);
            Trace("Processor AddressWidth : %d", info.ProcessorAddressWidth);
        }
    });

    if (!query(u"Win32_ComputerSystem", "ConnectWmiClass(Win32_ComputerSystem) fail 1",
               "ConnectWmiClass(Win32_ComputerSystem) fail 2", &rows)) {
        return 0;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        platform::Variant v;
        if (GetVariable(u"TotalPhysicalMemory", win::VT_BSTR, row, &v)) {
            const uint64_t mb = ParseWmiUInt64(v.bstrValue) / 1024 / 1024;
            platform::CopyToFixed(info.TotalMemoryMb, platform::Utf8ToUtf16(fmt::format("{}", static_cast<int>(mb))));
            Trace("Total Physical Memory : %s", platform::FixedText(info.TotalMemoryMb));
        }
    });

    if (!query(u"Win32_BaseBoard", "ConnectWmiClass(Win32_BaseBoard) fail 1",
               "ConnectWmiClass(Win32_BaseBoard) fail 2", &rows)) {
        return 0;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        if (ReadWmiText(*this, u"Manufacturer", row, info.BaseBoardVendor)) {
            Trace("Base Board Manufacturer: %s", platform::FixedText(info.BaseBoardVendor));
        }
        if (ReadWmiText(*this, u"Product", row, info.BaseBoardModel)) {
            Trace("Base Board: %s", platform::FixedText(info.BaseBoardModel));
        }
    });

    if (!query(u"Win32_BIOS", "ConnectWmiClass(Win32_BIOS) fail 1", "ConnectWmiClass(Win32_BIOS) fail 2", &rows)) {
        return 0;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        if (ReadWmiText(*this, u"SMBIOSBIOSVersion", row, info.BiosVersion)) {
            Trace("BIOS Version: %s", platform::FixedText(info.BiosVersion));
        }
    });

    if (!query(u"Win32_PhysicalMemory", "ConnectWmiClass(Win32_PhysicalMemory) fail 1",
               "ConnectWmiClass(Win32_PhysicalMemory) fail 2", &rows)) {
        return 0;
    }
    ForEachWmiRow(*rows, [&](platform::WmiObject& row) {
        MemoryModuleInfo m{};
        if (!ReadWmiText(*this, u"DeviceLocator", row, m.DeviceLocator)) {
            return;
        }
        Trace("DeviceLocator: %s", platform::FixedText(m.DeviceLocator));
        for (const MemoryModuleInfo& known : info.MemoryModules) {
            if (platform::FixedText(known.DeviceLocator) == platform::FixedText(m.DeviceLocator)) {
                return;
            }
        }
        if (ReadWmiText(*this, u"BankLabel", row, m.BankLabel)) {
            Trace("BankLabel: %s", platform::FixedText(m.BankLabel));
        }
        if (ReadWmiText(*this, u"Manufacturer", row, m.Manufacturer)) {
            Trace("Manufacturer: %s", platform::FixedText(m.Manufacturer));
        }
        if (platform::FixedText(m.Manufacturer) == platform::FixedText(m.BankLabel)) {
            platform::CopyToFixed(m.Manufacturer, u"N/A");
        }
        platform::Variant v;
        if (GetVariable(u"MemoryType", win::VT_I4, row, &v)) {
            m.MemoryType = static_cast<uint16_t>(v.intValue);
            Trace("MemoryType: %d", static_cast<int>(m.MemoryType));
        }
        if (GetVariable(u"Speed", win::VT_I4, row, &v)) {
            m.Speed = static_cast<int32_t>(v.intValue);
            Trace("Speed: %d", m.Speed);
        }
        if (ReadWmiText(*this, u"Capacity", row, m.Capacity)) {
            Trace("Capacity: %s", platform::FixedText(m.Capacity));
        }
        info.MemoryModules.push_back(m);
    });
    rows.reset();
    wmi.Release();

    (void)GetHbaInfo();
    GetToolFileVersion(info.ToolVersion);
    Trace("Exit %s()", "UnderlyingUtil::GetSystemInfo");
    return 1;
}

void UnderlyingUtil::GetToolFileVersion(char16_t (&version)[64]) {
    platform::FileVersions* versions = platform::Current().fileVersions;
    if (versions == nullptr) {
        return;
    }
    const auto v = versions->GetFileVersionInfo(u"SSDVelmora.exe");
    if (!v) {
        return;
    }
    Trace("Higher: %x\n", v->fileVersionMS);
    Trace("Lower: %x\n", v->fileVersionLS);
    platform::CopyToFixed(version, platform::Utf8ToUtf16(fmt::format("{}.{}.{}", v->fileVersionMS >> 16,
                                                                     v->fileVersionMS & 0xFFFF, v->fileVersionLS >> 16)));
}

}  // namespace tarvex
