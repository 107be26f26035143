#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/sim/registry_defaults.h"
#include "platform/sim/sim_registry.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::sim {
namespace {

using platform::RegKey;
namespace fs = std::filesystem;

constexpr char16_t kKey[] = u"SOFTWARE\\QUELK\\SSDVelmora";

RegKey CreateKey(platform::Registry& reg, std::u16string_view path, uint32_t access = win::KEY_ALL_ACCESS) {
    RegKey key = platform::kNullRegKey;
    EXPECT_EQ(reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, path, 0, access, &key, nullptr), win::ERROR_SUCCESS);
    return key;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> v) { return std::vector<uint8_t>(v.begin(), v.end()); }

TEST(SimRegistry, EveryTypeRoundTripsAsStoredBytes) {
    test::TestMachine m;
    auto& reg = m->Registry();
    RegKey key = CreateKey(reg, kKey);
    const struct {
        const char16_t* name;
        uint32_t type;
        std::vector<uint8_t> data;
    } values[] = {
        {u"TrimInProgress", win::REG_DWORD, Bytes({1, 0, 0, 0})},
        {u"TrimStartAt", win::REG_QWORD, Bytes({0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80})},
        {u"Name", win::REG_SZ, Bytes({'A', 0, 'b', 0, 0, 0})},
        {u"Path", win::REG_EXPAND_SZ, Bytes({'%', 0, 'X', 0, '%', 0, 0, 0})},
        {u"Blob", win::REG_BINARY, Bytes({0, 0xFF, 0x7F, 0x80})},
        {u"Empty", win::REG_BINARY, {}},
        {u"List", win::REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 0, 0})},
        {u"", win::REG_SZ, Bytes({'d', 0, 0, 0})},  // the key's default value
    };
    for (const auto& v : values) {
        ASSERT_EQ(reg.RegSetValueEx(key, v.name, v.type, v.data.data(), static_cast<uint32_t>(v.data.size())),
                  win::ERROR_SUCCESS);
    }
    for (const auto& v : values) {
        uint8_t buffer[64];
        std::memset(buffer, 0xCC, sizeof buffer);
        uint32_t type = 0, size = sizeof buffer;
        ASSERT_EQ(reg.RegQueryValueEx(key, v.name, &type, buffer, &size), win::ERROR_SUCCESS);
        EXPECT_EQ(type, v.type);
        ASSERT_EQ(size, v.data.size());
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + size), v.data);
    }
    EXPECT_EQ(reg.RegCloseKey(key), win::ERROR_SUCCESS);
    EXPECT_EQ(m->Registry().OpenHandleCount(), 0u);
}

TEST(SimRegistry, MissingKeyOrValueLeavesCallerUntouched) {
    test::TestMachine m;
    auto& reg = m->Registry();
    RegKey missing = 0x1234;
    EXPECT_EQ(reg.RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nobody", 0, win::KEY_READ, &missing),
              win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, 0x1234u);

    RegKey key = CreateKey(reg, kKey);
    uint32_t type = 77, size = 4;
    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(reg.RegQueryValueEx(key, u"TrimInProgress", &type, buffer, &size), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 77u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buffer[0], 9);
    (void)reg.RegCloseKey(key);
}

TEST(SimRegistry, SmallBufferGivesMoreDataWithNeededSize) {
    test::TestMachine m;
    auto& reg = m->Registry();
    RegKey key = CreateKey(reg, kKey);
    const uint8_t q[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(reg.RegSetValueEx(key, u"TrimStartAt", win::REG_QWORD, q, 8), win::ERROR_SUCCESS);

    uint8_t small[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t size = sizeof small, type = 0;
    EXPECT_EQ(reg.RegQueryValueEx(key, u"TrimStartAt", &type, small, &size), win::ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, win::REG_QWORD);
    EXPECT_EQ(small[0], 0xAA) << "a too-small buffer is left as it was";

    uint32_t asked = 0;
    EXPECT_EQ(reg.RegQueryValueEx(key, u"TrimStartAt", nullptr, nullptr, &asked), win::ERROR_SUCCESS);
    EXPECT_EQ(asked, 8u) << "a null buffer asks for the size";
    (void)reg.RegCloseKey(key);
}

TEST(SimRegistry, NamesIgnoreCaseAndAccessIsChecked) {
    test::TestMachine m;
    auto& reg = m->Registry();
    uint32_t disposition = 0;
    RegKey created;
    ASSERT_EQ(reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\VARNO\\SSDVelmora", 0,
                                 win::KEY_ALL_ACCESS | win::KEY_WOW64_64KEY, &created, &disposition),
              win::ERROR_SUCCESS);
    EXPECT_EQ(disposition, win::REG_CREATED_NEW_KEY);
    const uint8_t one[4] = {1, 0, 0, 0};
    ASSERT_EQ(reg.RegSetValueEx(created, u"VelmoraSvcTemperature", win::REG_DWORD, one, 4), win::ERROR_SUCCESS);
    (void)reg.RegCloseKey(created);

    RegKey again;
    ASSERT_EQ(reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, u"software\\varno\\ssdvelmora", 0, win::KEY_ALL_ACCESS,
                                 &again, &disposition),
              win::ERROR_SUCCESS);
    EXPECT_EQ(disposition, win::REG_OPENED_EXISTING_KEY);
    (void)reg.RegCloseKey(again);

    RegKey readOnly;
    ASSERT_EQ(reg.RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Varno\\SSDVELMORA", 0,
                               win::KEY_READ | win::KEY_WOW64_64KEY, &readOnly),
              win::ERROR_SUCCESS);
    uint32_t value = 0, size = 4;
    EXPECT_EQ(reg.RegQueryValueEx(readOnly, u"VELMORASVCTEMPERATURE", nullptr, reinterpret_cast<uint8_t*>(&value),
                                  &size),
              win::ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(reg.RegSetValueEx(readOnly, u"X", win::REG_DWORD, one, 4), win::ERROR_ACCESS_DENIED);
    (void)reg.RegCloseKey(readOnly);

    RegKey writeOnly;
    ASSERT_EQ(reg.RegOpenKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\VARNO\\SSDVelmora", 0, win::KEY_SET_VALUE,
                               &writeOnly),
              win::ERROR_SUCCESS);
    EXPECT_EQ(reg.RegQueryValueEx(writeOnly, u"VelmoraSvcTemperature", nullptr, nullptr, &size),
              win::ERROR_ACCESS_DENIED);
    (void)reg.RegCloseKey(writeOnly);

    EXPECT_EQ(reg.RegCloseKey(writeOnly), win::ERROR_INVALID_HANDLE) << "a closed handle is gone";
    EXPECT_EQ(reg.RegQueryValueEx(writeOnly, u"X", nullptr, nullptr, &size), win::ERROR_INVALID_HANDLE);
    EXPECT_TRUE(reg.EnablePrivilege(u"SeRestorePrivilege"));
}

TEST(SimRegistry, ValuesPersistAcrossReopenAndSeedOnlyOnce) {
    test::TempDir dir;
    nlohmann::json profile = test::BaseProfile();
    profile["registry"] = nlohmann::json::parse(R"([{"key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUELK\\SSDVelmora",
        "values": [{"name": "TrimInProgress", "type": "REG_DWORD", "data": 1}]}])");
    {
        test::TestMachine m(profile, dir.Path());
        RegKey key = CreateKey(m->Registry(), kKey);
        const uint8_t zero[4] = {0, 0, 0, 0};
        ASSERT_EQ(m->Registry().RegSetValueEx(key, u"TrimInProgress", win::REG_DWORD, zero, 4), win::ERROR_SUCCESS);
        (void)m->Registry().RegCloseKey(key);
    }
    test::TestMachine reopened(profile, dir.Path());
    auto v = reopened->Registry().Read(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\QUELK\\SSDVelmora", u"TrimInProgress");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->data, Bytes({0, 0, 0, 0})) << "the written value survives; the profile seed is not laid again";
}

TEST(SimRegistry, KilledWriterLeavesEveryCommittedValueWhole) {
    test::TempDir dir;
    const fs::path db = dir.Path() / "registry.db";
    {
        std::string error;
        ASSERT_TRUE(SimRegistry::Open(db, {}, &error)) << error;
    }
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The writer: stores 4 KiB values, reports each one after it is committed, and is
        // killed somewhere in the middle of a later write.
        ::close(pipeFds[0]);
        std::string error;
        auto reg = SimRegistry::Open(db, {}, &error);
        RegKey key;
        if (!reg || reg->RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, kKey, 0, win::KEY_ALL_ACCESS, &key, nullptr) != 0) {
            ::_exit(2);
        }
        std::vector<uint8_t> data(4096);
        for (uint32_t i = 0;; ++i) {
            std::fill(data.begin(), data.end(), static_cast<uint8_t>(i));
            std::memcpy(data.data(), &i, 4);
            std::u16string name = u"V";
            for (char c : std::to_string(i % 50)) {
                name += static_cast<char16_t>(c);
            }
            if (reg->RegSetValueEx(key, name, win::REG_BINARY, data.data(), 4096) != 0) {
                ::_exit(3);
            }
            if (::write(pipeFds[1], &i, 4) != 4) {
                ::_exit(4);
            }
        }
    }
    ::close(pipeFds[1]);
    uint32_t lastCommitted = 0;
    for (int n = 0; n < 300; ++n) {
        ASSERT_EQ(::read(pipeFds[0], &lastCommitted, 4), 4);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    // Drain what the writer reported before it died.
    uint32_t more;
    while (::read(pipeFds[0], &more, 4) == 4) {
        lastCommitted = more;
    }
    ::close(pipeFds[0]);

    std::string error;
    auto reg = SimRegistry::Open(db, {}, &error);
    ASSERT_TRUE(reg) << error;
    for (uint32_t slot = 0; slot < 50; ++slot) {
        std::u16string name = u"V";
        for (char c : std::to_string(slot)) {
            name += static_cast<char16_t>(c);
        }
        auto v = reg->Read(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\QUELK\\SSDVelmora", name);
        ASSERT_TRUE(v) << "slot " << slot << " was written at least once";
        ASSERT_EQ(v->data.size(), 4096u);
        uint32_t writeIndex;
        std::memcpy(&writeIndex, v->data.data(), 4);
        EXPECT_EQ(writeIndex % 50, slot);
        for (size_t b = 4; b < v->data.size(); ++b) {
            ASSERT_EQ(v->data[b], static_cast<uint8_t>(writeIndex)) << "a value is never half written";
        }
        // The last committed write of each slot is there (a later, uncommitted one may be too).
        uint32_t lastOfSlot = lastCommitted - ((lastCommitted + 50 - slot) % 50);
        if (lastCommitted >= slot) {
            EXPECT_GE(writeIndex, lastOfSlot) << "slot " << slot;
        }
    }
}

TEST(SimRegistry, ConcurrentWritersAllLand) {
    test::TestMachine m;
    auto& reg = m->Registry();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&reg, t] {
            RegKey key;
            if (reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Threads", 0, win::KEY_ALL_ACCESS, &key,
                                   nullptr) != 0) {
                return;
            }
            for (uint32_t i = 0; i < 100; ++i) {
                std::u16string name = u"T" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u"_" +
                                      std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                      std::u16string(1, static_cast<char16_t>(u'A' + i / 26));
                (void)reg.RegSetValueEx(key, name, win::REG_DWORD, reinterpret_cast<uint8_t*>(&i), 4);
            }
            (void)reg.RegCloseKey(key);
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int t = 0; t < 4; ++t) {
        for (uint32_t i = 0; i < 100; ++i) {
            std::u16string name = u"T" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u"_" +
                                  std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                  std::u16string(1, static_cast<char16_t>(u'A' + i / 26));
            auto v = reg.Read(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Threads", name);
            ASSERT_TRUE(v);
            uint32_t got;
            std::memcpy(&got, v->data.data(), 4);
            EXPECT_EQ(got, i);
        }
    }
    EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace tarvex::sim
