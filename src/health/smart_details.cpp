#include "health/smart_details.h"

#include <fmt/format.h>

#include "platform/byte_span.h"

namespace tarvex {

namespace {

constexpr size_t kOfflineStatusOffset = 362;
constexpr size_t kSelfTestStatusOffset = 363;
constexpr size_t kOfflineSecondsOffset = 364;
constexpr size_t kOfflineCapabilityOffset = 367;
constexpr size_t kSmartCapabilityOffset = 368;
constexpr size_t kErrorLoggingOffset = 370;
constexpr size_t kShortMinutesOffset = 372;
constexpr size_t kExtendedMinutesOffset = 373;
constexpr size_t kConveyanceMinutesOffset = 374;
constexpr size_t kExtendedMinutesWordOffset = 375;

constexpr int kSelfTestLogSlots = 21;
constexpr size_t kSelfTestLogFirstSlot = 2;
constexpr size_t kSelfTestLogSlotSize = 24;
constexpr size_t kSelfTestLogIndexOffset = 508;

}  // namespace

std::string OfflineStatusText(uint8_t status) {
    const uint8_t value = status & 0x7F;
    std::string text;
    switch (value) {
        case 0x00: text = "never started"; break;
        case 0x02: text = "completed without error"; break;
        case 0x03: text = "in progress"; break;
        case 0x04: text = "suspended by an interrupting command"; break;
        case 0x05: text = "aborted by an interrupting command"; break;
        case 0x06: text = "aborted by the drive with a fatal error"; break;
        default: text = value >= 0x40 ? fmt::format("vendor specific ({:02X}h)", value)
                                      : fmt::format("reserved ({:02X}h)", value);
    }
    if (status & 0x80) {
        text += ", automatic collection enabled";
    }
    return text;
}

std::string SelfTestStatusText(uint8_t value) {
    switch (value) {
        case 0: return "completed without error";
        case 1: return "aborted by the host";
        case 2: return "interrupted by a reset";
        case 3: return "fatal error";
        case 4: return "failed: unknown element";
        case 5: return "failed: electrical element";
        case 6: return "failed: servo or seek element";
        case 7: return "failed: read element";
        case 8: return "failed: handling damage";
        case 15: return "in progress";
        default: return fmt::format("reserved ({})", value);
    }
}

SmartDataDetails DecodeSmartDataDetails(std::span<const uint8_t> smartData) {
    const platform::ByteReader page(smartData);
    const auto byte = [&](size_t offset) { return page.U8(offset).value_or(0); };
    SmartDataDetails d;
    d.offline.status = byte(kOfflineStatusOffset);
    d.offline.statusText = OfflineStatusText(d.offline.status);
    d.offline.seconds = page.U16(kOfflineSecondsOffset).value_or(0);

    const uint8_t execution = byte(kSelfTestStatusOffset);
    const uint8_t capability = byte(kOfflineCapabilityOffset);
    SmartSelfTestStatus& t = d.selfTest;
    t.status = execution >> 4;
    t.statusText = SelfTestStatusText(t.status);
    t.remainingPercent = static_cast<uint8_t>((execution & 0x0F) * 10);
    t.shortAndExtendedSupported = (capability & 0x10) != 0;
    t.conveyanceSupported = (capability & 0x20) != 0;
    t.selectiveSupported = (capability & 0x40) != 0;
    t.shortMinutes = byte(kShortMinutesOffset);
    // FFh in the one-byte time says the time is too long for it: the word after holds it.
    t.extendedMinutes = byte(kExtendedMinutesOffset);
    if (t.extendedMinutes == 0xFF) {
        t.extendedMinutes = page.U16(kExtendedMinutesWordOffset).value_or(0);
    }
    t.conveyanceMinutes = byte(kConveyanceMinutesOffset);

    d.capabilities.offlineCapability = capability;
    d.capabilities.smartCapability = page.U16(kSmartCapabilityOffset).value_or(0);
    d.capabilities.errorLogging = (byte(kErrorLoggingOffset) & 0x01) != 0;
    return d;
}

bool ThresholdOfOtherAttribute(const PhysicalDriveInfo& record, uint32_t i) {
    if (i >= record.attributeCount || i >= static_cast<uint32_t>(kSmartSlotCount)) {
        return false;
    }
    const uint8_t thresholdId = record.thresholdEntries[i].id;
    return thresholdId != 0 && thresholdId != record.attributes[i].id;
}

std::optional<uint64_t> PowerOnHours(const PhysicalDriveInfo& record) {
    for (uint32_t i = 0; i < record.attributeCount && i < static_cast<uint32_t>(kSmartSlotCount); ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        if (e.id == 9) {
            uint64_t v = 0;
            for (int b = 5; b >= 0; --b) {
                v = (v << 8) | e.raw[b];
            }
            return v;
        }
    }
    return std::nullopt;
}

std::string SelfTestTypeText(uint8_t subcommand) {
    switch (subcommand) {
        case 0x00: return "off-line data collection";
        case 0x01: return "short off-line";
        case 0x02: return "extended off-line";
        case 0x03: return "conveyance off-line";
        case 0x04: return "selective off-line";
        case 0x81: return "short captive";
        case 0x82: return "extended captive";
        case 0x83: return "conveyance captive";
        case 0x84: return "selective captive";
        default: return subcommand >= 0x40 && subcommand <= 0x7E   ? fmt::format("vendor specific ({:02X}h)", subcommand)
                        : subcommand >= 0x90 ? fmt::format("vendor specific ({:02X}h)", subcommand)
                                             : fmt::format("reserved ({:02X}h)", subcommand);
    }
}

std::vector<SelfTestLogEntry> DecodeSelfTestLog(std::span<const uint8_t> log512) {
    std::vector<SelfTestLogEntry> entries;
    const platform::ByteReader page(log512);
    const int index = page.U8(kSelfTestLogIndexOffset).value_or(0);
    if (index < 1 || index > kSelfTestLogSlots) {
        return entries;
    }
    // The slots form a ring: the newest is at `index`, older ones before it, wrapping round.
    for (int k = 0; k < kSelfTestLogSlots; ++k) {
        const int slot = ((index - 1 - k) % kSelfTestLogSlots + kSelfTestLogSlots) % kSelfTestLogSlots;
        const size_t at = kSelfTestLogFirstSlot + kSelfTestLogSlotSize * static_cast<size_t>(slot);
        const auto d = page.Bytes(at, kSelfTestLogSlotSize);
        if (!d) {
            break;
        }
        bool used = false;
        for (size_t b = 0; b < 9; ++b) {
            used = used || (*d)[b] != 0;
        }
        if (!used) {
            continue;
        }
        SelfTestLogEntry e;
        e.number = static_cast<int>(entries.size()) + 1;
        e.typeCode = (*d)[0];
        e.type = SelfTestTypeText(e.typeCode);
        e.status = (*d)[1] >> 4;
        e.statusText = SelfTestStatusText(e.status);
        e.remainingPercent = static_cast<uint8_t>(((*d)[1] & 0x0F) * 10);
        e.lifeHours = static_cast<uint16_t>((*d)[2] | ((*d)[3] << 8));
        const uint32_t lba = static_cast<uint32_t>((*d)[5]) | (static_cast<uint32_t>((*d)[6]) << 8) |
                             (static_cast<uint32_t>((*d)[7]) << 16) | (static_cast<uint32_t>((*d)[8]) << 24);
        // The failing LBA means something only for a test that found a failure; FFFFFFFFh
        // says the drive could not name one.
        if (e.status >= 3 && e.status <= 8 && lba != 0xFFFFFFFF) {
            e.failingLba = lba;
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace tarvex
