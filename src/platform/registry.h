#pragma once
// The registry, as RegOpenKeyExW / RegCreateKeyExW / RegQueryValueExW / RegSetValueExW /
// RegCloseKey see it, and the token-privilege calls that precede registry writes. Results are
// Win32 error numbers (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...).
#include <cstdint>
#include <string_view>

namespace tarvex::platform {

// A registry key handle: a predefined root (HKEY_LOCAL_MACHINE, ...) or an opened key.
using RegKey = uintptr_t;
inline constexpr RegKey kNullRegKey = 0;

class Registry {
public:
    virtual ~Registry() = default;

    // Opens an existing key below `root` with the access mask `samDesired` (KEY_READ, KEY_WRITE,
    // KEY_ALL_ACCESS, optionally with KEY_WOW64_64KEY). ERROR_FILE_NOT_FOUND when it is absent.
    virtual uint32_t RegOpenKeyEx(RegKey root, std::u16string_view subKey, uint32_t options,
                                  uint32_t samDesired, RegKey* result) = 0;
    // Opens the key, creating it and any missing parent on the way. `disposition` (optional)
    // receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
    virtual uint32_t RegCreateKeyEx(RegKey root, std::u16string_view subKey, uint32_t options,
                                    uint32_t samDesired, RegKey* result,
                                    uint32_t* disposition) = 0;
    // RegQueryValueExW: `data` may be null to ask for the size. A missing value gives
    // ERROR_FILE_NOT_FOUND and leaves `type`, `data` and `dataSize` untouched; a buffer too
    // small gives ERROR_MORE_DATA with the needed size in `dataSize` and the buffer untouched.
    virtual uint32_t RegQueryValueEx(RegKey key, std::u16string_view valueName, uint32_t* type,
                                     uint8_t* data, uint32_t* dataSize) = 0;
    // Stores a value; the write is atomic: a crash leaves the old value or the new one.
    virtual uint32_t RegSetValueEx(RegKey key, std::u16string_view valueName, uint32_t type,
                                   const uint8_t* data, uint32_t dataSize) = 0;
    virtual uint32_t RegCloseKey(RegKey key) = 0;

    // OpenProcessToken + LookupPrivilegeValueW + AdjustTokenPrivileges for one privilege
    // ("SeRestorePrivilege", ...). Returns whether it was enabled.
    virtual bool EnablePrivilege(std::u16string_view privilegeName) = 0;
};

// Owns an opened key and closes it on every path.
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    UniqueRegKey(Registry& registry, RegKey key) : registry_(&registry), key_(key) {}
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;
    UniqueRegKey(UniqueRegKey&& other) noexcept : registry_(other.registry_), key_(other.key_) {
        other.key_ = kNullRegKey;
    }
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
        if (this != &other) {
            Reset();
            registry_ = other.registry_;
            key_ = other.key_;
            other.key_ = kNullRegKey;
        }
        return *this;
    }
    ~UniqueRegKey() { Reset(); }

    [[nodiscard]] RegKey Get() const { return key_; }
    [[nodiscard]] explicit operator bool() const { return key_ != kNullRegKey; }
    void Reset() {
        if (registry_ != nullptr && key_ != kNullRegKey) {
            (void)registry_->RegCloseKey(key_);
        }
        key_ = kNullRegKey;
    }

private:
    Registry* registry_ = nullptr;
    RegKey key_ = kNullRegKey;
};

}  // namespace tarvex::platform
