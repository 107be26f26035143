#include "health/smart_attributes.h"

#include <cstring>
#include <string_view>

#include "platform/byte_span.h"
#include "platform/text.h"

namespace tarvex {

namespace {

constexpr size_t kSlotsOffset = 2;
constexpr uint8_t kAttrAirflowTemperature = 0xBE;  // 190
constexpr uint8_t kAttrTemperature = 0xC2;         // 194

// Slot s of a SMART page (attributes or thresholds), read through a bounds check: a slot past
// the page reads as empty.
template <typename Entry>
Entry Slot(std::span<const uint8_t> page, int s) {
    static_assert(sizeof(Entry) == 12);
    return platform::ByteReader(page).ReadRecord<Entry>(kSlotsOffset + sizeof(Entry) * static_cast<size_t>(s))
        .value_or(Entry{});
}

// Some Samsung models report attribute 194 in tenths of a degree over two raw bytes.
bool ReportsTenthsOfDegree(const PhysicalDriveInfo& record) {
    return platform::FixedText(record.modelNumber).substr(0, 10) == u"SAMSUNG SV";
}

void UpdateTemperature(PhysicalDriveInfo& record, const SmartAttributeEntry& e) {
    const uint8_t r0 = e.raw[0];
    const uint8_t r1 = e.raw[1];
    if (e.id == kAttrAirflowTemperature) {
        if (r0 > 0 && r0 < 100) {
            record.temperature = r0;
        }
    } else if (e.id == kAttrTemperature) {
        if (ReportsTenthsOfDegree(record) && (r1 != 0 || r0 > 70)) {
            record.temperature = (r1 * 256 + r0) / 10;
        } else if (r0 != 0) {
            record.temperature = r0;
        }
        if (record.temperature >= 100) {
            record.temperature = 0;
        }
    }
}

}  // namespace

bool ParseSmartAttributes(PhysicalDriveInfo& record) {
    uint32_t p = 0;
    for (int s = 0; s < kSmartSlotCount; ++s) {
        const auto slot = Slot<SmartAttributeEntry>(record.smartData, s);
        if (slot.id == 0) {
            continue;
        }
        record.attributes[p] = slot;
        UpdateTemperature(record, record.attributes[p]);
        ++p;
    }
    record.attributeCount = p;
    for (uint32_t i = p; i < static_cast<uint32_t>(kSmartSlotCount); ++i) {
        std::memset(&record.attributes[i], 0, sizeof(SmartAttributeEntry));
    }
    return p > 0;
}

bool ParseSmartThresholds(PhysicalDriveInfo& record) {
    uint32_t p = 0;
    bool anyThreshold = false;
    for (int s = 0; s < kSmartSlotCount; ++s) {
        const auto thresholdSlot = Slot<SmartThresholdEntry>(record.smartThresholds, s);
        anyThreshold = anyThreshold || thresholdSlot.id != 0;
        if (Slot<SmartAttributeEntry>(record.smartData, s).id != 0) {
            record.thresholdEntries[p++] = thresholdSlot;
        }
    }
    for (; p < static_cast<uint32_t>(kSmartSlotCount); ++p) {
        std::memset(&record.thresholdEntries[p], 0, sizeof(SmartThresholdEntry));
    }
    return anyThreshold;
}

uint32_t RawValue32(const SmartAttributeEntry& e) {
    return static_cast<uint32_t>(e.raw[0]) | (static_cast<uint32_t>(e.raw[1]) << 8) |
           (static_cast<uint32_t>(e.raw[2]) << 16) | (static_cast<uint32_t>(e.raw[3]) << 24);
}

uint64_t RawValue48(const SmartAttributeEntry& e) {
    return RawValue32(e) | (static_cast<uint64_t>(e.raw[4]) << 32) | (static_cast<uint64_t>(e.raw[5]) << 40);
}

}  // namespace tarvex
