#pragma once
// WMI through COM as the system uses it: connect to ROOT\CIMV2, run a WQL query, walk the
// rows and read typed properties. Results are HRESULTs (S_OK, WBEM_S_FALSE, WBEM_E_...).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::platform {

// A VARIANT as WMI returns properties: VT_BSTR, VT_I4, VT_UINT, VT_BOOL, VT_ARRAY | VT_BSTR.
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
    // IWbemServices::ExecQuery("WQL", query, forward-only | return-immediately).
    virtual int32_t ExecQuery(std::u16string_view language, std::u16string_view query,
                              std::unique_ptr<WmiEnumerator>* rows) = 0;
};

class Wmi {
public:
    virtual ~Wmi() = default;
    // CoInitializeEx + CoCreateInstance(WbemLocator) + ConnectServer + CoSetProxyBlanket.
    virtual int32_t ConnectServer(std::u16string_view wmiNamespace,
                                  std::unique_ptr<WmiServices>* services) = 0;
};

}  // namespace tarvex::platform
