#include "platform/linux/sat_translation.h"

#include <algorithm>

#include "platform/byte_span.h"
#include "platform/win32_values.h"

namespace tarvex::linuxhost {

using platform::AtaTaskFile;
using platform::ByteReader;

namespace {

// PROTOCOL field values of ATA PASS-THROUGH.
constexpr uint8_t kProtocolNonData = 3;
constexpr uint8_t kProtocolPioIn = 4;
constexpr uint8_t kProtocolPioOut = 5;
constexpr uint8_t kProtocolDma = 6;
// Byte 2 of the CDB.
constexpr uint8_t kCkCond = 0x20;
constexpr uint8_t kTDirIn = 0x08;
constexpr uint8_t kBytBlok = 0x04;
constexpr uint8_t kTLengthInCount = 0x02;

// Commands with 48-bit registers, whether or not the request marks them so.
constexpr uint8_t kAlways48Bit[] = {
    platform::kAtaCmdDataSetManagement,
    platform::kAtaCmdFlushCacheExt,
    0x24,  // READ SECTORS EXT
    0x25,  // READ DMA EXT
    0x27,  // READ NATIVE MAX ADDRESS EXT
    0x2F,  // READ LOG EXT
    0x34,  // WRITE SECTORS EXT
    0x35,  // WRITE DMA EXT
    0x3F,  // WRITE LOG EXT
    0x47,  // READ LOG DMA EXT
    0x57,  // WRITE LOG DMA EXT
};

// Sense data.
constexpr uint8_t kSenseFixedCurrent = 0x70;
constexpr uint8_t kSenseFixedDeferred = 0x71;
constexpr uint8_t kSenseDescriptorCurrent = 0x72;
constexpr uint8_t kSenseDescriptorDeferred = 0x73;
constexpr uint8_t kSenseValid = 0x80;  // fixed format: the information field is valid
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr uint8_t kAtaStatusReturnLength = 0x0C;
constexpr uint8_t kSenseKeyNoSense = 0x00;
constexpr uint8_t kSenseKeyRecovered = 0x01;
constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
// ASC/ASCQ 00h/1Dh: ATA PASS-THROUGH INFORMATION AVAILABLE.
constexpr uint8_t kAscAtaInformation = 0x00;
constexpr uint8_t kAscqAtaInformation = 0x1D;

// SG_IO completion codes.
constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint8_t kScsiStatusCheckCondition = 0x02;
constexpr uint16_t kDidOk = 0x00;
constexpr uint16_t kDidTimeOut = 0x03;
constexpr uint16_t kDriverMask = 0x0F;
constexpr uint16_t kDriverTimeout = 0x06;
constexpr uint16_t kDriverSense = 0x08;

// A good completion as a drive reports it: DRDY and DSC, no error.
constexpr uint8_t kGoodStatus = platform::kAtaStatusDrdy | platform::kAtaStatusDsc;

// IDENTIFY words with the erase times.
constexpr size_t kNormalEraseWordOffset = 89 * 2;
constexpr size_t kEnhancedEraseWordOffset = 90 * 2;
constexpr uint8_t kEraseEnhancedBit = 0x02;  // word 0 of the erase block

// Bounds of a timeout: SG_IO takes milliseconds in 32 bits.
constexpr uint32_t kMaximumTimeoutSeconds = 0xFFFFFFFFu / 1000;

std::optional<AtaResult> FromDescriptorSense(const ByteReader& sense) {
    const uint32_t additional = sense.U8(7).value_or(0);
    const size_t end = std::min<size_t>(sense.Size(), 8 + additional);
    size_t at = 8;
    while (at + 2 <= end) {
        const uint8_t code = *sense.U8(at);
        const size_t length = size_t{*sense.U8(at + 1)} + 2;
        if (code == kAtaStatusReturnDescriptor && *sense.U8(at + 1) >= kAtaStatusReturnLength && at + 14 <= end) {
            const auto d = *sense.Bytes(at, 14);
            AtaResult r;
            r.extend = (d[2] & 0x01) != 0;
            r.current = AtaTaskFile{d[3], d[5], d[7], d[9], d[11], d[12], d[13], 0};
            if (r.extend) {
                r.previous = AtaTaskFile{0, d[4], d[6], d[8], d[10], 0, 0, 0};
            }
            return r;
        }
        at += length;
    }
    return std::nullopt;
}

std::optional<AtaResult> FromFixedSense(const ByteReader& sense) {
    const auto b = sense.Bytes(0, 12);
    if (!b) {
        return std::nullopt;
    }
    const bool ataInformation = sense.U8(12) == kAscAtaInformation && sense.U8(13) == kAscqAtaInformation;
    if (!ataInformation && ((*b)[0] & kSenseValid) == 0) {
        return std::nullopt;
    }
    const auto& f = *b;
    AtaResult r;
    // Fixed format has no room for the high bytes; only the EXTEND flag comes back.
    r.extend = (f[8] & 0x80) != 0;
    r.current = AtaTaskFile{f[3], f[6], f[9], f[10], f[11], f[5], f[4], 0};
    return r;
}

std::optional<uint8_t> SenseKey(const ByteReader& sense) {
    const auto code = sense.U8(0);
    if (!code) {
        return std::nullopt;
    }
    const uint8_t format = *code & 0x7F;
    const auto key = format >= kSenseDescriptorCurrent ? sense.U8(1) : sense.U8(2);
    if (!key) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(*key & 0x0F);
}

}  // namespace

bool IsAlways48Bit(uint8_t command) {
    return std::find(std::begin(kAlways48Bit), std::end(kAlways48Bit), command) != std::end(kAlways48Bit);
}

SatCommand CommandFromPassThrough(const platform::AtaPassThroughEx& header) {
    SatCommand c;
    c.current = header.CurrentTaskFile;
    c.previous = header.PreviousTaskFile;
    c.length = header.DataTransferLength;
    if (c.length > 0) {
        if ((header.AtaFlags & platform::ATA_FLAGS_DATA_IN) != 0) {
            c.direction = AtaDirection::In;
        } else if ((header.AtaFlags & platform::ATA_FLAGS_DATA_OUT) != 0) {
            c.direction = AtaDirection::Out;
        }
    }
    if (c.direction == AtaDirection::None) {
        c.length = 0;
    }
    c.dma = c.direction != AtaDirection::None && (header.AtaFlags & platform::ATA_FLAGS_USE_DMA) != 0;
    c.extend = (header.AtaFlags & platform::ATA_FLAGS_48BIT_COMMAND) != 0 || IsAlways48Bit(c.current.command);
    return c;
}

SatCommand CommandFromRegisters(const AtaTaskFile& regs, AtaDirection direction, uint32_t length) {
    SatCommand c;
    c.current = regs;
    c.direction = length > 0 ? direction : AtaDirection::None;
    c.length = c.direction == AtaDirection::None ? 0 : length;
    // DATA SET MANAGEMENT is a DMA command; the other inferred ones move their data by PIO.
    c.dma = c.direction != AtaDirection::None && regs.command == platform::kAtaCmdDataSetManagement;
    c.extend = IsAlways48Bit(regs.command);
    return c;
}

std::array<uint8_t, kCdbSize> BuildAtaPassThrough16(const SatCommand& c) {
    uint8_t protocol = kProtocolNonData;
    if (c.direction != AtaDirection::None) {
        protocol = c.dma ? kProtocolDma : c.direction == AtaDirection::In ? kProtocolPioIn : kProtocolPioOut;
    }
    // CK_COND only where the registers are the answer (non-data commands such as SMART RETURN
    // STATUS). With it on a PIO data-in command, libata on AHCI reports a command that moved
    // all its data as ABORTED COMMAND whenever the final status still shows DRQ, as QEMU's AHCI
    // disk does; a data command's outcome is its SCSI status, and an ATA error comes back with
    // its registers in the sense data whether CK_COND is set or not.
    uint8_t flags = c.direction == AtaDirection::None ? kCkCond : 0;
    if (c.direction != AtaDirection::None) {
        flags |= kBytBlok | kTLengthInCount;
        if (c.direction == AtaDirection::In) {
            flags |= kTDirIn;
        }
    }
    const AtaTaskFile& cur = c.current;
    const AtaTaskFile high = c.extend ? c.previous : AtaTaskFile{};
    return {kAtaPassThrough16,
            static_cast<uint8_t>((protocol << 1) | (c.extend ? 1 : 0)),
            flags,
            high.features,
            cur.features,
            high.sectorCount,
            cur.sectorCount,
            high.lbaLow,
            cur.lbaLow,
            high.lbaMid,
            cur.lbaMid,
            high.lbaHigh,
            cur.lbaHigh,
            cur.device,
            cur.command,
            0};
}

std::optional<AtaResult> DecodeAtaSense(std::span<const uint8_t> bytes) {
    const ByteReader sense(bytes);
    const auto code = sense.U8(0);
    if (!code) {
        return std::nullopt;
    }
    switch (*code & 0x7F) {
        case kSenseDescriptorCurrent:
        case kSenseDescriptorDeferred: return FromDescriptorSense(sense);
        case kSenseFixedCurrent:
        case kSenseFixedDeferred: return FromFixedSense(sense);
        default: return std::nullopt;
    }
}

AtaOutcome DecodeCompletion(const ScsiCompletion& done, const SatCommand& command) {
    AtaOutcome out;
    const uint16_t driver = done.driverStatus & kDriverMask;
    if (done.hostStatus == kDidTimeOut || driver == kDriverTimeout) {
        out.error = win::ERROR_SEM_TIMEOUT;
        return out;
    }
    if (done.hostStatus != kDidOk || (driver != 0 && driver != kDriverSense)) {
        out.error = win::ERROR_IO_DEVICE;
        return out;
    }
    if (auto regs = DecodeAtaSense(done.sense)) {
        out.registers = regs;
        return out;
    }
    const ByteReader sense(done.sense);
    const std::optional<uint8_t> key = SenseKey(sense);
    const bool quiet = !key || *key == kSenseKeyNoSense || *key == kSenseKeyRecovered;
    if (done.status == kScsiStatusGood && quiet) {
        // The translation layer gave no registers back: a good completion, with no register
        // contents invented (a RETURN STATUS read this way says neither good nor exceeded).
        AtaResult r;
        r.current = AtaTaskFile{0, 0, 0, 0, 0, command.current.device, kGoodStatus, 0};
        r.extend = command.extend;
        out.registers = r;
        return out;
    }
    // A layer that does not take ATA PASS-THROUGH (or this form of it) refuses the CDB.
    if (done.status == kScsiStatusCheckCondition && key == kSenseKeyIllegalRequest) {
        out.error = win::ERROR_INVALID_FUNCTION;
        return out;
    }
    out.error = win::ERROR_IO_DEVICE;
    return out;
}

EraseTimes EraseTimesFromIdentify(std::span<const uint8_t> page) {
    const ByteReader r(page);
    // Bit 15 set: the time is in bits 14:0 (extended form); else in bits 7:0. Units of 2 minutes.
    auto minutes = [&](size_t offset) -> uint32_t {
        const uint16_t w = r.U16(offset).value_or(0);
        const uint32_t units = (w & 0x8000) != 0 ? (w & 0x7FFFu) : (w & 0xFFu);
        return units * 2;
    };
    return EraseTimes{minutes(kNormalEraseWordOffset), minutes(kEnhancedEraseWordOffset)};
}

uint32_t CommandTimeoutSeconds(const AtaTaskFile& regs, uint32_t requested, const EraseTimes& erase,
                               std::span<const uint8_t> dataOut) {
    uint32_t t = std::max(requested, kMinimumTimeoutSeconds);
    if (regs.command == platform::kAtaCmdDownloadMicrocode || regs.command == platform::kAtaCmdSecurityEraseUnit) {
        t = std::max(t, kLongCommandTimeoutSeconds);
    }
    if (regs.command == platform::kAtaCmdSecurityEraseUnit) {
        const bool enhanced = !dataOut.empty() && (dataOut[0] & kEraseEnhancedBit) != 0;
        const uint64_t stated = uint64_t{enhanced ? erase.enhancedMinutes : erase.normalMinutes} * 60;
        if (stated > 0) {
            // A quarter more, and at least ten minutes more, than the drive says it needs.
            const uint64_t margin = std::max<uint64_t>(stated / 4, kLongCommandTimeoutSeconds);
            t = static_cast<uint32_t>(
                std::max<uint64_t>(t, std::min<uint64_t>(stated + margin, kMaximumTimeoutSeconds)));
        }
    }
    return std::min(t, kMaximumTimeoutSeconds);
}

}  // namespace tarvex::linuxhost
