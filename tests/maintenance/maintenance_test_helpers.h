#pragma once
// Helpers of the maintenance tests: registry values set and read under HKEY_LOCAL_MACHINE,
// files made on the emulated PC, and the trace lines of a test.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "app/trace.h"
#include "platform/last_error.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::test {

inline void SetValue(std::u16string_view key, std::u16string_view name, uint32_t type, const void* data,
                     uint32_t size) {
    platform::Registry& reg = *platform::Current().registry;
    platform::RegKey k = platform::kNullRegKey;
    ASSERT_EQ(reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, key, 0, win::KEY_ALL_ACCESS, &k, nullptr), 0u);
    platform::UniqueRegKey owned(reg, k);
    ASSERT_EQ(reg.RegSetValueEx(k, name, type, static_cast<const uint8_t*>(data), size), 0u);
}
inline void SetDword(std::u16string_view key, std::u16string_view name, uint32_t value) {
    SetValue(key, name, win::REG_DWORD, &value, 4);
}
inline void SetQword(std::u16string_view key, std::u16string_view name, uint64_t value) {
    SetValue(key, name, win::REG_QWORD, &value, 8);
}

// The DWORD stored at HKEY_LOCAL_MACHINE\<key>, read past the program's own helpers.
inline std::optional<uint32_t> ReadDword(TestMachine& m, const std::u16string& key, std::u16string_view name) {
    auto v = m->Registry().Read(u"HKEY_LOCAL_MACHINE\\" + key, name);
    if (!v || v->type != win::REG_DWORD || v->data.size() != 4) {
        return std::nullopt;
    }
    return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (static_cast<uint32_t>(v->data[3]) << 24);
}

inline void MakeFile(platform::Files& files, const std::u16string& path, const std::string& content = "fill") {
    auto f = files.CreateFile(path, win::GENERIC_WRITE, 0, win::CREATE_NEW, 0);
    ASSERT_TRUE(f) << platform::Utf16ToUtf8(path) << ": error " << platform::GetLastError();
    uint32_t written = 0;
    ASSERT_TRUE(f->Write(content.data(), static_cast<uint32_t>(content.size()), &written));
}

// The texts of the trace file's lines, without their time stamps (a text that ended in "\n"
// is followed by an empty line).
inline std::vector<std::string> TraceLines(TestMachine& m) {
    const std::string text = ReadHostFile(m.Host(TraceFilePath()));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        lines.push_back(line.size() >= 9 && line[8] == ' ' ? line.substr(9) : line);
        start = end + 2;
    }
    return lines;
}

// Whether `wanted` appear in `lines` in this order, each right where its predecessor's
// search ended or later.
inline bool HasInOrder(const std::vector<std::string>& lines, std::initializer_list<std::string> wanted) {
    auto at = lines.begin();
    for (const std::string& w : wanted) {
        at = std::find(at, lines.end(), w);
        if (at == lines.end()) {
            return false;
        }
        ++at;
    }
    return true;
}

// Trace level 1 from a fresh trace file for the life of the object.
class TraceCapture {
public:
    explicit TraceCapture(TestMachine& m) : m_(m) {
        ResetTraceForTesting();
        SetTraceLevel(1);
    }
    ~TraceCapture() {
        SetTraceLevel(0);
        ResetTraceForTesting();
    }
    std::vector<std::string> Lines() { return TraceLines(m_); }
    std::string Text() { return ReadHostFile(m_.Host(TraceFilePath())); }

private:
    TestMachine& m_;
};

}  // namespace tarvex::test
