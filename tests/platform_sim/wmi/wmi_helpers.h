#pragma once
// Helpers of the WMI tests: a query through every COM step, as the program makes it, and
// typed reads of the rows.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::test {

struct WmiAnswer {
    int32_t hr = 0;
    bool nullEnumerator = false;
    std::vector<std::unique_ptr<platform::WmiObject>> rows;
};

inline WmiAnswer RunWql(const std::u16string& wql) {
    WmiAnswer a;
    platform::Wmi& wmi = *platform::Current().wmi;
    a.hr = wmi.CoInitializeEx(0);
    if (a.hr < 0) {
        return a;
    }
    std::unique_ptr<platform::WmiLocator> locator;
    std::unique_ptr<platform::WmiServices> services;
    std::unique_ptr<platform::WmiEnumerator> rows;
    if ((a.hr = wmi.CreateLocator(&locator)) >= 0 && (a.hr = locator->ConnectServer(u"ROOT\\CIMV2", &services)) >= 0 &&
        (a.hr = services->SetProxyBlanket()) >= 0 &&
        (a.hr = services->ExecQuery(u"WQL", wql, platform::WBEM_FLAG_FORWARD_ONLY | platform::WBEM_FLAG_RETURN_IMMEDIATELY,
                                    &rows)) >= 0) {
        a.nullEnumerator = rows == nullptr;
        for (std::unique_ptr<platform::WmiObject> row; rows && rows->Next(win::WBEM_INFINITE, &row) == win::S_OK;) {
            a.rows.push_back(std::move(row));
        }
    }
    wmi.CoUninitialize();
    return a;
}

inline platform::Variant Prop(platform::WmiObject& row, std::u16string_view name) {
    platform::Variant v;
    EXPECT_EQ(row.Get(name, &v), win::S_OK) << platform::Utf16ToUtf8(name);
    return v;
}

inline std::u16string Text(platform::WmiObject& row, std::u16string_view name) {
    platform::Variant v = Prop(row, name);
    EXPECT_EQ(v.vt, win::VT_BSTR) << platform::Utf16ToUtf8(name);
    return v.bstrValue;
}

inline int64_t Int(platform::WmiObject& row, std::u16string_view name) {
    platform::Variant v = Prop(row, name);
    EXPECT_EQ(v.vt, win::VT_I4) << platform::Utf16ToUtf8(name);
    return v.intValue;
}

// The text after the first '=' of an association end, as the program cuts it.
inline std::u16string AfterEquals(const std::u16string& path) {
    const size_t at = path.find(u'=');
    return at == std::u16string::npos ? std::u16string() : path.substr(at + 1);
}

inline std::string N(const std::u16string& s) { return platform::Utf16ToUtf8(s); }

}  // namespace tarvex::test
