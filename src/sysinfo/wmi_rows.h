#pragma once
// Helpers for walking WMI rows and reading their properties into fixed text fields.
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win32_values.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {

// Calls fn(row) for every object the enumerator yields, one at a time with an infinite wait.
template <typename Fn>
void ForEachWmiRow(platform::WmiEnumerator& rows, Fn&& fn) {
    for (;;) {
        std::unique_ptr<platform::WmiObject> row;
        if (rows.Next(win::WBEM_INFINITE, &row) != win::S_OK || !row) {
            return;
        }
        fn(*row);
    }
}

// Reads a text property; the field is left as it was when the read fails.
template <size_t N>
bool ReadWmiText(UnderlyingUtil& util, std::u16string_view name, platform::WmiObject& row, char16_t (&field)[N]) {
    platform::Variant v;
    if (!util.GetVariable(name, win::VT_BSTR, row, &v)) {
        return false;
    }
    platform::CopyToFixed(field, v.bstrValue);
    return true;
}

// A decimal text such as WMI gives for 64-bit numbers, parsed as "%llu" would (0 when none).
uint64_t ParseWmiUInt64(std::u16string_view text);

// Every "\" doubled: the form a path has inside WMI object paths and WQL strings.
std::u16string DoubleBackslashes(std::u16string_view text);

// A device-interface path with every "#" turned into "\", the form its PNP device id has.
std::u16string HashToBackslash(std::u16string_view path);

// The PCI class code in a device's hardware ids: the text after "CC_" in the first id that
// holds it ("010601" from "PCI\VEN_8086&CC_010601"), or empty text.
std::u16string ClassCodeOf(const std::vector<std::u16string>& hardwareIds);

}  // namespace tarvex
