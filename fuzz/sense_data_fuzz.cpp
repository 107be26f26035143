// Feeds arbitrary bytes to the Linux backend's decoders of what SG_IO returns: the sense data of
// ATA PASS-THROUGH in either format, the completion as a whole, and the erase times of an
// IDENTIFY page. The first three bytes choose the SCSI, host and driver status.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/linux/sat_translation.h"

using namespace tarvex::linuxhost;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const std::span<const uint8_t> sense = size > 3 ? bytes.subspan(3) : std::span<const uint8_t>();
    (void)DecodeAtaSense(sense);
    const SatCommand command = CommandFromRegisters({0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0, 0}, AtaDirection::None, 0);
    const ScsiCompletion done{size > 0 ? data[0] : uint8_t{0}, size > 1 ? data[1] : uint8_t{0},
                              size > 2 ? data[2] : uint8_t{0}, sense};
    const AtaOutcome outcome = DecodeCompletion(done, command);
    // Either registers or an error, never both and never neither.
    if (outcome.registers.has_value() == (outcome.error != 0)) {
        __builtin_trap();
    }
    (void)EraseTimesFromIdentify(bytes);
    return 0;
}
