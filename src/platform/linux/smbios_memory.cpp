#include "platform/linux/smbios_memory.h"

#include <string>

#include "platform/byte_span.h"
#include "platform/linux/host_files.h"
#include "platform/text.h"

namespace tarvex::linuxhost {

namespace {

constexpr uint8_t kMemoryDevice = 17;
constexpr uint8_t kEndOfTable = 127;
constexpr size_t kHeaderBytes = 4;  // type, length, handle

// Offsets inside a memory device structure.
constexpr size_t kSize = 0x0C;           // WORD: MB, or KB with bit 15; 7FFFh: see kExtendedSize
constexpr size_t kDeviceLocator = 0x10;  // string numbers
constexpr size_t kBankLocator = 0x11;
constexpr size_t kMemoryType = 0x12;
constexpr size_t kSpeed = 0x15;  // WORD, MT/s; FFFFh: see kExtendedSpeed
constexpr size_t kManufacturer = 0x17;
constexpr size_t kPartNumber = 0x1A;
constexpr size_t kExtendedSize = 0x1C;   // DWORD, MB in bits 30..0
constexpr size_t kExtendedSpeed = 0x54;  // DWORD, MT/s

// String `number` (1-based) of the set that follows a structure's formatted part.
std::u16string StructureString(const std::vector<std::string>& strings,
                               std::optional<uint8_t> number) {
    if (!number || *number == 0 || *number > strings.size()) {
        return {};
    }
    return platform::Utf8ToUtf16(PrintableAscii(Trim(strings[*number - 1])));
}

}  // namespace

std::vector<sim::MemoryModuleProfile> ParseSmbiosMemory(std::span<const uint8_t> table) {
    std::vector<sim::MemoryModuleProfile> modules;
    size_t at = 0;
    while (at + kHeaderBytes <= table.size()) {
        const uint8_t type = table[at];
        const uint8_t length = table[at + 1];
        if (length < kHeaderBytes || at + length > table.size()) {
            break;
        }
        const platform::ByteReader formatted(table.subspan(at, length));
        // The string set: NUL-terminated strings, ended by one more NUL (two when empty).
        std::vector<std::string> strings;
        size_t end = at + length;
        std::string current;
        bool closed = false;
        while (end < table.size()) {
            const char c = static_cast<char>(table[end++]);
            if (c != '\0') {
                current.push_back(c);
                continue;
            }
            if (current.empty()) {
                // An empty set is two NULs; a second NUL after a string closes the set.
                if (strings.empty() && end < table.size() && table[end] == 0) {
                    ++end;
                }
                closed = true;
                break;
            }
            strings.push_back(std::move(current));
            current.clear();
        }
        if (!closed) {
            break;
        }
        if (type == kMemoryDevice && formatted.Has(kSize, 2)) {
            uint64_t bytes = 0;
            const uint16_t size = *formatted.U16(kSize);
            if (size == 0x7FFF && formatted.Has(kExtendedSize, 4)) {
                bytes = uint64_t{*formatted.U32(kExtendedSize) & 0x7FFFFFFFu} << 20;
            } else if (size != 0xFFFF) {
                bytes =
                    (size & 0x8000) != 0 ? uint64_t{size & 0x7FFFu} << 10 : uint64_t{size} << 20;
            }
            if (bytes != 0) {
                sim::MemoryModuleProfile m;
                m.deviceLocator = StructureString(strings, formatted.U8(kDeviceLocator));
                m.bankLabel = StructureString(strings, formatted.U8(kBankLocator));
                m.manufacturer = StructureString(strings, formatted.U8(kManufacturer));
                m.partNumber = StructureString(strings, formatted.U8(kPartNumber));
                m.memoryType = formatted.U8(kMemoryType).value_or(0);
                uint32_t speed = formatted.U16(kSpeed).value_or(0);
                if (speed == 0xFFFF) {
                    speed = formatted.U32(kExtendedSpeed).value_or(0);
                }
                m.speed = speed;
                m.capacity = bytes;
                modules.push_back(std::move(m));
            }
        }
        if (type == kEndOfTable) {
            break;
        }
        at = end;
    }
    return modules;
}

}  // namespace tarvex::linuxhost
