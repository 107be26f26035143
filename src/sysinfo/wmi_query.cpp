// The WMI layer every WMI user of the program shares.
#include <fmt/format.h>

#include "app/trace.h"
#include "platform/platform.h"
#include "platform/win32_values.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {

namespace {
constexpr uint32_t kCoInitMultithreaded = 0;
constexpr size_t kQueryCapacity = 1024;
}  // namespace

void WmiConnection::Release() {
    services.reset();
    locator.reset();
    if (comInitialized) {
        comInitialized = false;
        if (platform::Wmi* wmi = platform::Current().wmi) {
            wmi->CoUninitialize();
        }
    }
}

UnderlyingUtil::UnderlyingUtil() = default;

int UnderlyingUtil::ConnectWmiService(WmiConnection& c) {
    Trace("Enter %s()", "UnderlyingUtil::ConnectWmiService");
    c.Release();
    platform::Wmi* wmi = platform::Current().wmi;
    const int32_t init = wmi != nullptr ? wmi->CoInitializeEx(kCoInitMultithreaded) : win::E_FAIL;
    if (init < 0) {
        Trace("Fail to CoInitializeEx(0, COINIT_MULTITHREADED).. Error code = 0x%X\n", static_cast<uint32_t>(init));
        return 0;
    }
    c.comInitialized = true;
    const int32_t located = wmi->CreateLocator(&c.locator);
    if (located < 0 || !c.locator) {
        Trace("Fail to obtain the initial locator to Windows Management\n on a particular host computer.. Error "
              "code = 0x%X\n",
              static_cast<uint32_t>(located));
        c.Release();
        return 0;
    }
    const int32_t connected = c.locator->ConnectServer(u"ROOT\\CIMV2", &c.services);
    if (connected < 0 || !c.services) {
        Trace("Fail to connect root\\cimv2 namespace with the current user\n and obtain pointer pSvc to make "
              "IWbemServices calls.. Error code = 0x%X\n",
              static_cast<uint32_t>(connected));
        c.Release();
        return 0;
    }
    const int32_t blanket = c.services->SetProxyBlanket();
    if (blanket < 0) {
        Trace("Fail to set proxy blanket. Error code = 0x%X\n", static_cast<uint32_t>(blanket));
        c.Release();
        return 0;
    }
    Trace("Exit %s()", "UnderlyingUtil::ConnectWmiService");
    return 1;
}

int UnderlyingUtil::ConnectWmiClass(std::u16string_view className, std::u16string_view condition,
                                    WmiConnection& c, std::unique_ptr<platform::WmiEnumerator>* enumerator) {
    Trace("Enter %s()", "UnderlyingUtil::ConnectWmiClass");
    Trace("WMI Class: %s, Condition: %s", className, condition);
    enumerator->reset();
    std::u16string query = u"SELECT * FROM " + std::u16string(className) + u" " + std::u16string(condition);
    // The query is built in a 1024-character buffer.
    if (query.size() >= kQueryCapacity) {
        query.resize(kQueryCapacity - 1);
    }
    const int32_t hr = c.services ? c.services->ExecQuery(u"WQL", query,
                                                          platform::WBEM_FLAG_FORWARD_ONLY |
                                                              platform::WBEM_FLAG_RETURN_IMMEDIATELY,
                                                          enumerator)
                                  : win::E_FAIL;
    if (hr < 0) {
        c.Release();
        Trace("Fail to ExecQuery(%s) . Error code = 0x%X\n", className, static_cast<uint32_t>(hr));
        return 0;
    }
    Trace("Exit %s()", "UnderlyingUtil::ConnectWmiClass");
    return 1;
}

int UnderlyingUtil::GetVariable(std::u16string_view name, uint16_t expectedType, platform::WmiObject& object,
                                platform::Variant* value) {
    Trace("Enter %s()", "UnderlyingUtil::GetVariable");
    Trace("Get Variable: %s", name);
    *value = platform::Variant{};
    (void)object.Get(name, value);
    const bool match = value->vt == expectedType ||
                       (expectedType == win::VT_ARRAY && (value->vt & win::VT_ARRAY) != 0);
    if (!match) {
        Trace("Variable Type not Match: (input)0x%X-0x%X(real)", expectedType, value->vt);
        return 0;
    }
    Trace("Exit %s()", "UnderlyingUtil::GetVariable");
    return 1;
}

}  // namespace tarvex
