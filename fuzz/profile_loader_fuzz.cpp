// Feeds any text to the machine-profile loader: JSON or not, any nesting, any field values.
// It must never crash, hang or leak; a refusal must say why, and the same text must get the
// same answer every time.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sim/machine_profile.h"

using namespace tarvex;

// No profile folder is passed: a relative dump file of a disk's pages is refused unread.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const sim::ProfileLoadResult first = sim::LoadMachineProfile(text, "fuzz", "fuzz.json");
    if (!first.profile && first.error.empty()) {
        __builtin_trap();
    }
    const sim::ProfileLoadResult again = sim::LoadMachineProfile(text, "fuzz", "fuzz.json");
    if (first.profile.has_value() != again.profile.has_value() || first.error != again.error) {
        __builtin_trap();
    }
    return 0;
}
