#pragma once
// ATA commands carried to a Linux disk as the SCSI ATA PASS-THROUGH (16) command of the SCSI /
// ATA translation layer (libata, USB bridges), and the drive's registers taken back out of the
// sense data. Pure functions: no I/O, so every byte of the translation can be checked alone.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/ata_requests.h"

namespace tarvex::linuxhost {

inline constexpr uint8_t kAtaPassThrough16 = 0x85;
inline constexpr size_t kCdbSize = 16;
// Room for the sense data of one command: a descriptor header and the ATA status descriptor
// need 22 bytes, fixed format 18; the kernel writes at most what it is given.
inline constexpr size_t kSenseBufferSize = 64;

using AtaDirection = platform::AtaData;

// One ATA command as the translation layer needs it.
struct SatCommand {
    platform::AtaTaskFile current;
    platform::AtaTaskFile previous;  // the high bytes of a 48-bit command
    AtaDirection direction = AtaDirection::None;
    uint32_t length = 0;  // data bytes
    bool dma = false;
    bool extend = false;          // 48-bit: the previous registers travel too
    uint32_t timeoutSeconds = 0;  // what the request asks for; 0 when it states none
};

// True for the commands that are 48-bit whatever the request says.
[[nodiscard]] bool IsAlways48Bit(uint8_t command);

// The command of an ATA_PASS_THROUGH_EX header (direction, DMA and 48-bit from its AtaFlags;
// no data phase when the length is 0).
[[nodiscard]] SatCommand CommandFromPassThrough(const platform::AtaPassThroughEx& header);
// A command whose data phase is inferred from the registers (IDE pass-through, SMART receive).
[[nodiscard]] SatCommand CommandFromRegisters(const platform::AtaTaskFile& regs, AtaDirection direction,
                                              uint32_t length);

// The ATA PASS-THROUGH (16) CDB: protocol, EXTEND, for a non-data command CK_COND (so the
// registers come back), for a data command T_DIR, BYT_BLOK and T_LENGTH (the length in blocks,
// in the count field).
[[nodiscard]] std::array<uint8_t, kCdbSize> BuildAtaPassThrough16(const SatCommand& command);

// The drive's registers after a command: the error register where the features were, the
// status where the command was; with `extend` the high bytes are in `previous`.
struct AtaResult {
    platform::AtaTaskFile current;
    platform::AtaTaskFile previous;
    bool extend = false;
};

// The registers in sense data: the ATA Status Return descriptor of descriptor-format sense
// (72h/73h), or the information field and bytes 8..11 of fixed-format sense (70h/71h)
// that carries ATA information. Nothing when the sense holds no registers.
[[nodiscard]] std::optional<AtaResult> DecodeAtaSense(std::span<const uint8_t> sense);

// How a SCSI command came back through SG_IO.
struct ScsiCompletion {
    uint8_t status = 0;              // SCSI status byte
    uint16_t hostStatus = 0;         // DID_* of the host adapter
    uint16_t driverStatus = 0;       // DRIVER_* of the mid layer (the low nibble)
    std::span<const uint8_t> sense;  // the sense bytes the kernel wrote
};

// What became of an ATA command: the registers (an ATA error is still registers, with ERR set
// in the status), or a failure of the transport with the Win32 error it maps to.
struct AtaOutcome {
    std::optional<AtaResult> registers;
    uint32_t error = 0;  // set when there are no registers
};
[[nodiscard]] AtaOutcome DecodeCompletion(const ScsiCompletion& completion, const SatCommand& command);

// The erase times a drive states in IDENTIFY words 89 (normal) and 90 (enhanced), in minutes;
// 0 when the drive does not say.
struct EraseTimes {
    uint32_t normalMinutes = 0;
    uint32_t enhancedMinutes = 0;
};
[[nodiscard]] EraseTimes EraseTimesFromIdentify(std::span<const uint8_t> identifyPage);

// The shortest wait for every command, so that a sleeping drive can spin up: a timeout on Linux
// sets off the error handler, which resets the link.
inline constexpr uint32_t kMinimumTimeoutSeconds = 10;
// The floor of commands that run long inside the drive (firmware download, security erase).
inline constexpr uint32_t kLongCommandTimeoutSeconds = 600;

// The timeout of one command in seconds: the request's own, at least kMinimumTimeoutSeconds,
// at least kLongCommandTimeoutSeconds for DOWNLOAD MICROCODE and SECURITY ERASE UNIT, and for
// the erase at least the time the drive states (normal or enhanced by bit 1 of the erase
// block's first word) with a margin.
[[nodiscard]] uint32_t CommandTimeoutSeconds(const platform::AtaTaskFile& regs, uint32_t requestedSeconds,
                                             const EraseTimes& eraseTimes, std::span<const uint8_t> dataOut);

}  // namespace tarvex::linuxhost
