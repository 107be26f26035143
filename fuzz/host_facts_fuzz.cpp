// Feeds arbitrary bytes to the Linux backend's readers of the PC's own files: the SMBIOS table
// (memory modules), /proc/cpuinfo, /proc/meminfo and os-release. The first byte chooses the
// reader; a module never claims more bytes than the table could describe.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/linux/host_facts.h"
#include "platform/linux/smbios_memory.h"

using namespace tarvex::linuxhost;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const uint8_t> rest(data + 1, size - 1);
    const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
    switch (data[0] % 4) {
        case 0: {
            // Each type 17 structure is at least its 4-byte header and two terminating NULs.
            if (ParseSmbiosMemory(rest).size() > rest.size() / 6) {
                __builtin_trap();
            }
            break;
        }
        case 1: (void)ParseCpuInfo(text, size > 1 ? std::optional<uint64_t>(data[1] * 1000u) : std::nullopt); break;
        case 2: (void)ParseMemTotal(text); break;
        default:
            (void)OsReleaseValue(text, "PRETTY_NAME");
            (void)OsReleaseValue(text, "NAME");
            break;
    }
    return 0;
}
