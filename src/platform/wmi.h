#pragma once
// WMI through COM as the system uses it: initialise COM, create the locator, connect to
// ROOT\CIMV2, set the proxy blanket, run a WQL query, walk the rows and read typed
// properties. Each step is its own call, as on Windows, so each failure can be told apart.
// Results are HRESULTs (S_OK, WBEM_S_FALSE, WBEM_E_..., E_FAIL).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::platform {

// A VARIANT as WMI returns properties: VT_BSTR (also for 64-bit numbers, as WMI sends them),
// VT_I4 (for 8-, 16- and 32-bit integers), VT_BOOL, VT_NULL (a property without a value),
// VT_ARRAY | VT_BSTR (8200).
struct Variant {
    uint16_t vt = 0;  // VT_EMPTY
    int64_t intValue = 0;
    std::u16string bstrValue;
    std::vector<std::u16string> bstrArray;
};

class WmiObject {
public:
    virtual ~WmiObject() = default;
    // IWbemClassObject::Get: WBEM_E_NOT_FOUND for an unknown property.
    virtual int32_t Get(std::u16string_view name, Variant* value) = 0;
};

class WmiEnumerator {
public:
    virtual ~WmiEnumerator() = default;
    // IEnumWbemClassObject::Next for one object: S_OK with the row, WBEM_S_FALSE at the end.
    virtual int32_t Next(int32_t timeout, std::unique_ptr<WmiObject>* row) = 0;
};

class WmiServices {
public:
    virtual ~WmiServices() = default;
    // CoSetProxyBlanket on the service (authentication WINNT, level CALL, IMPERSONATE).
    virtual int32_t SetProxyBlanket() = 0;
    // IWbemServices::ExecQuery(language, query, flags). A success may still leave `rows` null.
    virtual int32_t ExecQuery(std::u16string_view language, std::u16string_view query, uint32_t flags,
                              std::unique_ptr<WmiEnumerator>* rows) = 0;
};

class WmiLocator {
public:
    virtual ~WmiLocator() = default;
    // IWbemLocator::ConnectServer with the current user.
    virtual int32_t ConnectServer(std::u16string_view wmiNamespace, std::unique_ptr<WmiServices>* services) = 0;
};

class Wmi {
public:
    virtual ~Wmi() = default;
    // CoInitializeEx for the calling thread (COINIT_MULTITHREADED is 0) and CoUninitialize.
    virtual int32_t CoInitializeEx(uint32_t coInit) = 0;
    virtual void CoUninitialize() = 0;
    // CoCreateInstance of the WbemLocator.
    virtual int32_t CreateLocator(std::unique_ptr<WmiLocator>* locator) = 0;
};

inline constexpr uint32_t WBEM_FLAG_FORWARD_ONLY = 0x20;
inline constexpr uint32_t WBEM_FLAG_RETURN_IMMEDIATELY = 0x10;

}  // namespace tarvex::platform
