// The storage controllers of the PC (Win32_IDEController) with their drivers, class codes
// and the devices attached to them.
#include <fmt/format.h>

#include "app/trace.h"
#include "platform/platform.h"
#include "sysinfo/wmi_rows.h"

namespace tarvex {

namespace {

// The text after the first "=" of an object path ("...Win32_PnPEntity.DeviceID=\"X\"").
std::u16string AfterFirstEquals(std::u16string_view text) {
    const size_t eq = text.find(u'=');
    return eq == std::u16string_view::npos ? std::u16string() : std::u16string(text.substr(eq + 1));
}

bool ContainsIgnoreCase(std::u16string_view haystack, std::u16string_view needle) {
    return platform::FoldCase(haystack).find(platform::FoldCase(needle)) != std::u16string::npos;
}

}  // namespace

int UnderlyingUtil::GetHbaInfo() {
    SystemInfo& info = GlobalSystemInfo();
    info.HbaList.clear();
    WmiConnection wmi;
    if (!ConnectWmiService(wmi)) {
        Trace("GetHbaInfo() Connect to WMI service fail 1");
        return 0;
    }
    std::unique_ptr<platform::WmiEnumerator> controllers;
    if (!ConnectWmiClass(u"Win32_IDEController", u"", wmi, &controllers)) {
        Trace("GetHbaInfo() Connect to WMI Class Win32_IDEController fail 2");
        return 0;
    }
    if (!controllers) {
        Trace("GetHbaInfo() Connect to WMI Win32_IDEController fail 3");
        return 0;
    }
    // Each sub-query has its own connection, so a failing one does not end the walk of the
    // controllers.
    auto subQuery = [&](std::u16string_view cls, const std::u16string& condition, WmiConnection& conn,
                        std::unique_ptr<platform::WmiEnumerator>* rows) {
        return ConnectWmiService(conn) && ConnectWmiClass(cls, condition, conn, rows) && *rows;
    };
    bool ok = true;
    ForEachWmiRow(*controllers, [&](platform::WmiObject& controller) {
        if (!ok) {
            return;
        }
        HbaInfo hba{};
        for (HbaAttachedDevice& d : hba.AttachedDevices) {
            d.PhysicalDriveIndex = -1;
        }
        int slots = 0;
        if (ReadWmiText(*this, u"Name", controller, hba.Name)) {
            Trace("Get Win32_IDEController-Name:%s", platform::FixedText(hba.Name));
        } else {
            Trace("Get Name: Variable Type not match: VT_BSTR-vtProp.vt");
        }
        char16_t deviceIdField[128] = {};
        if (ReadWmiText(*this, u"DeviceID", controller, deviceIdField)) {
            Trace("Get Win32_IDEController-DeviceID:%s", platform::FixedText(deviceIdField));
        } else {
            Trace("Get DeviceID: Variable Type not match: VT_BSTR-vtProp.vt");
        }
        const std::u16string deviceId = DoubleBackslashes(platform::FixedText(deviceIdField));
        Trace("*.* Win32_IDEController-DeviceID:%s", deviceId);

        {
            WmiConnection conn;
            std::unique_ptr<platform::WmiEnumerator> drivers;
            if (!subQuery(u"Win32_PnPSignedDriver", u"WHERE DeviceId = \"" + deviceId + u"\"", conn, &drivers)) {
                Trace("Connect to WMI Class Win32_PnPSignedDriver fail");
            } else {
                ForEachWmiRow(*drivers, [&](platform::WmiObject& driver) {
                    platform::Variant v;
                    if (GetVariable(u"DriverProviderName", win::VT_BSTR, driver, &v)) {
                        platform::CopyToFixed(hba.DriverProvider, v.bstrValue);
                        Trace("Win32_PnPSignedDriver-DriverProviderName:%s", v.bstrValue);
                    } else {
                        platform::CopyToFixed(hba.DriverProvider, u"N/A");
                        Trace("Win32_PnPSignedDriver:DriverProviderName: %s, type:%d", platform::FixedText(hba.DriverProvider),
                              static_cast<int>(v.vt));
                    }
                    if (GetVariable(u"DriverVersion", win::VT_BSTR, driver, &v)) {
                        platform::CopyToFixed(hba.DriverVersion, v.bstrValue);
                    } else {
                        platform::CopyToFixed(hba.DriverVersion, u"N/A");
                    }
                    Trace("Win32_PnPSignedDriver-DriverVersion:%s", platform::FixedText(hba.DriverVersion));
                });
            }
        }

        WmiConnection assocConn;
        std::unique_ptr<platform::WmiEnumerator> associations;
        if (!ConnectWmiService(assocConn) || !ConnectWmiClass(u"Win32_IDEControllerDevice", u"", assocConn, &associations)) {
            Trace("Win32_IDEControllerDevice fail 1");
            ok = false;
            return;
        }
        if (!associations) {
            Trace("Win32_IDEControllerDevice fail 2");
            ok = false;
            return;
        }
        ForEachWmiRow(*associations, [&](platform::WmiObject& assoc) {
            char16_t antecedent[1024] = {};
            if (!ReadWmiText(*this, u"Antecedent", assoc, antecedent)) {
                return;
            }
            Trace("GetHbaInfo()::wcAntecedent:%s", platform::FixedText(antecedent));
            Trace("GetHbaInfo()::Win32_IDEControllerDevice-Antecedent:%s", platform::FixedText(antecedent));
            const std::u16string_view ante = platform::FixedText(antecedent);
            if (deviceId.empty() || ante.find(deviceId) == std::u16string_view::npos) {
                return;
            }
            // The class code of the controller, from its hardware ids.
            if (ante.find(u'=') != std::u16string_view::npos) {
                WmiConnection conn;
                std::unique_ptr<platform::WmiEnumerator> entities;
                if (!ConnectWmiService(conn) ||
                    !ConnectWmiClass(u"Win32_PnPEntity", u"Where DeviceID = " + AfterFirstEquals(ante), conn, &entities)) {
                    Trace("GetHbaInfo() ConnectWmiClass Win32_PnPEntity fail 1");
                } else if (!entities) {
                    Trace("GetHbaInfo() ConnectWmiClass Win32_PnPEntity fail 2");
                } else {
                    ForEachWmiRow(*entities, [&](platform::WmiObject& entity) {
                        platform::Variant ids;
                        if (!GetVariable(u"HardwareID", win::VT_ARRAY | win::VT_BSTR, entity, &ids)) {
                            Trace("GetHbaInfo()::Win32_DiskDrive-InterfaceType--get WMI model/ Variant type:%d",
                                  static_cast<int>(ids.vt));
                            return;
                        }
                        for (const std::u16string& id : ids.bstrArray) {
                            const size_t cc = id.find(u"CC_");
                            if (cc != std::u16string::npos) {
                                platform::CopyToFixed(hba.ClassCode, id.substr(cc + 3));
                                break;
                            }
                            Trace("GetHbaInfo()::Win32_PnPEntity-HardwareID:%s", id);
                        }
                    });
                    Trace("GetHbaInfo()::Win32_PnPEntity break");
                }
            }
            // The attached device.
            Trace("Win32_IDEControllerDevice-Antecedent:%s", ante);
            char16_t dependent[1024] = {};
            if (!ReadWmiText(*this, u"Dependent", assoc, dependent)) {
                return;
            }
            Trace("Win32_IDEControllerDevice-Dependent:%s", platform::FixedText(dependent));
            const std::u16string revised = AfterFirstEquals(platform::FixedText(dependent));
            Trace("Revised Dependent:%s", revised);
            if (slots >= kHbaDeviceSlots) {
                // The record holds 16 devices; further ones are left out rather than written
                // past the slots.
                Trace("GetHbaInfo() more than %d devices on %s, the rest is not listed", kHbaDeviceSlots,
                      platform::FixedText(hba.Name));
                return;
            }
            WmiConnection conn;
            std::unique_ptr<platform::WmiEnumerator> entities;
            if (!ConnectWmiService(conn) ||
                !ConnectWmiClass(u"Win32_PnPEntity", u"WHERE DeviceId = " + revised, conn, &entities)) {
                Trace("Connect to Wmi class: Win32_PnPEntity fail 1");
                return;
            }
            if (!entities) {
                Trace("Connect to Wmi class: Win32_PnPEntity fail 2");
                return;
            }
            HbaAttachedDevice& slot = hba.AttachedDevices[slots];
            ForEachWmiRow(*entities, [&](platform::WmiObject& entity) {
                char16_t name[1024] = {};
                (void)ReadWmiText(*this, u"Name", entity, name);
                platform::CopyToFixed(slot.Name, std::u16string(platform::FixedText(name)) + deviceId);
                Trace("Win32_PnPEntity-Name:%s", platform::FixedText(slot.Name));
                char16_t pnp[1024] = {};
                if (ReadWmiText(*this, u"PNPDeviceID", entity, pnp)) {
                    Trace("Win32_PnPEntity-PNPDeviceID:%s", platform::FixedText(pnp));
                    for (const WmiDiskEntry& disk : WmiDiskList()) {
                        const std::u16string_view diskPnp = platform::FixedText(disk.PNPDeviceID);
                        if (!diskPnp.empty() && ContainsIgnoreCase(platform::FixedText(pnp), diskPnp)) {
                            slot.PhysicalDriveIndex = disk.Index;
                            Trace("vWmi_DiskDrives.size():%s", fmt::format("{}", WmiDiskList().size()));
                        }
                    }
                }
            });
            ++slots;
        });
        hba.AttachedDeviceCount = slots;
        Trace("HbaInfo\n    HBA Name:%s    Driver Provider:%s    Driver Version:%s    Attached Device Number:%d",
              platform::FixedText(hba.Name), platform::FixedText(hba.DriverProvider),
              platform::FixedText(hba.DriverVersion), hba.AttachedDeviceCount);
        for (int i = 0; i < 10; ++i) {
            Trace("    Attached device name:%s    Physical drive index:%d", platform::FixedText(hba.AttachedDevices[i].Name),
                  hba.AttachedDevices[i].PhysicalDriveIndex);
        }
        info.HbaList.push_back(hba);
    });
    if (!ok) {
        return 0;
    }
    Trace("Total HBA number:%d", static_cast<int>(info.HbaList.size()));
    return 1;
}

}  // namespace tarvex
