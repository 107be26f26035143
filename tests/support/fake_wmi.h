#pragma once
// A stand-in for WMI answering exact query texts with prepared rows, with each COM step able
// to fail: for the collectors' edge cases and failure traces.
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvex::test {

class FakeWmi : public platform::Wmi {
public:
    using Row = std::map<std::u16string, platform::Variant>;

    int32_t CoInitializeEx(uint32_t) override;
    void CoUninitialize() override { ++uninitializeCount; }
    int32_t CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) override;

    // Rows for "SELECT * FROM <cls> <condition>" (the exact text the program sends).
    void Add(const std::u16string& query, Row row) { results[query].push_back(std::move(row)); }
    static platform::Variant Text(std::u16string s) {
        platform::Variant v;
        v.vt = 8;
        v.bstrValue = std::move(s);
        return v;
    }
    static platform::Variant Int(int64_t i) {
        platform::Variant v;
        v.vt = 3;
        v.intValue = i;
        return v;
    }
    static platform::Variant Texts(std::vector<std::u16string> items) {
        platform::Variant v;
        v.vt = 0x2000 | 8;
        v.bstrArray = std::move(items);
        return v;
    }

    std::map<std::u16string, std::vector<Row>> results;
    std::vector<std::u16string> queries;  // every query sent, in order
    int32_t failInitialize = 0, failLocator = 0, failConnect = 0, failBlanket = 0;
    std::map<std::u16string, int32_t> failingQueries;  // query text -> HRESULT
    std::vector<std::u16string> nullEnumeratorQueries;
    int initializeCount = 0, uninitializeCount = 0;
};

}  // namespace tarvex::test
