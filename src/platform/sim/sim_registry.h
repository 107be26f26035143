#pragma once
// The emulated PC's registry: keys and typed values kept in SQLite in the state directory.
// Key paths and value names compare case-insensitively and keep the case they were created
// with, as on Windows. Every write is one transaction, so a crash leaves each value either as
// it was or as written, never half written.
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/machine_profile.h"

struct sqlite3;

namespace tarvex::sim {

class SimRegistry : public platform::Registry {
public:
    // Opens (creating when needed) the store at `dbFile`. A new store is filled with `seed`
    // in one transaction and marked as ours (the database's application id); an existing
    // store keeps its content. An empty (0-byte) file, or one that is not our store, is an
    // error naming the file, never taken for a new store. Writes take the write lock when
    // their transaction begins (BEGIN IMMEDIATE), so several processes wait for each other
    // instead of failing. Null with `error` set on failure.
    static std::unique_ptr<SimRegistry> Open(const std::filesystem::path& dbFile,
                                             const std::vector<ProfileRegistryKey>& seed,
                                             std::string* error);
    ~SimRegistry() override;

    uint32_t RegOpenKeyEx(platform::RegKey root, std::u16string_view subKey, uint32_t options,
                          uint32_t samDesired, platform::RegKey* result) override;
    uint32_t RegCreateKeyEx(platform::RegKey root, std::u16string_view subKey, uint32_t options,
                            uint32_t samDesired, platform::RegKey* result,
                            uint32_t* disposition) override;
    uint32_t RegQueryValueEx(platform::RegKey key, std::u16string_view valueName, uint32_t* type,
                             uint8_t* data, uint32_t* dataSize) override;
    uint32_t RegSetValueEx(platform::RegKey key, std::u16string_view valueName, uint32_t type,
                           const uint8_t* data, uint32_t dataSize) override;
    uint32_t RegCloseKey(platform::RegKey key) override;
    bool EnablePrivilege(std::u16string_view privilegeName) override;

    // Direct access for tests and tools: a value by its full path ("HKEY_LOCAL_MACHINE\\...").
    struct Value {
        uint32_t type = 0;
        std::vector<uint8_t> data;
    };
    std::optional<Value> Read(std::u16string_view keyPath, std::u16string_view valueName);
    [[nodiscard]] size_t OpenHandleCount();
    // Privileges enabled so far, in order.
    std::vector<std::u16string> EnabledPrivileges();

private:
    explicit SimRegistry(sqlite3* db) : db_(db) {}
    struct Handle {
        int64_t keyId;
        uint32_t access;
    };
    // Resolves a handle or predefined root to a key id; false for an unknown handle.
    bool KeyOf(platform::RegKey key, Handle* handle);
    // Walks (and with `create` makes) the path below `parentId`. -1 when a part is missing.
    int64_t Walk(int64_t parentId, std::u16string_view subKey, bool create, bool* created);
    platform::RegKey NewHandle(int64_t keyId, uint32_t access);
    bool Seed(const std::vector<ProfileRegistryKey>& seed, std::string* error);

    std::mutex mutex_;
    sqlite3* db_;
    std::map<platform::RegKey, Handle> handles_;
    platform::RegKey nextHandle_ = 0x100;
    std::vector<std::u16string> privileges_;
};

}  // namespace tarvex::sim
