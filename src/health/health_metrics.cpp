// The health figures the user sees, reduced from a drive's SMART data: status, temperature,
// remaining life and total host writes.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "app/trace.h"
#include "device/ata_command.h"
#include "health/nvme_health_log.h"
#include "health/smart_attributes.h"
#include "platform/text.h"

namespace tarvex {

namespace {

constexpr uint8_t kAttrReadErrorRate = 1;
constexpr uint8_t kAttrAirflowTemperature = 190;
constexpr uint8_t kAttrTemperature = 194;
constexpr uint8_t kAttrLifeTL40 = 202;
constexpr uint8_t kAttrLifeDefault = 231;
constexpr uint64_t kGiB = 1ull << 30;

bool ModelContains(const PhysicalDriveInfo& r, std::u16string_view text) {
    return platform::FixedText(r.modelNumber).find(text) != std::u16string_view::npos;
}
bool FirmwareContains(const PhysicalDriveInfo& r, std::u16string_view text) {
    return platform::FixedText(r.firmwareRevision).find(text) != std::u16string_view::npos;
}
bool HasJmf608Signature(const PhysicalDriveInfo& r) { return std::memcmp(r.smartData + 396, "JMF608", 6) == 0; }

// How the host-write attribute of a drive family turns into GiB.
enum class WriteFormula {
    Sectors48,        // RawValue48 x 512 / 2^30
    MiB32,            // RawValue32 / 1024
    GB32,             // RawValue32 / 1000
    GiB32,            // RawValue32
    Units32MiB48,     // RawValue48 x 32 / 1024
};

struct WriteRule {
    const char16_t* models[9];  // any of them in the model (all null: any drive)
    bool orJmf608Signature;
    int firmwareMU;  // 1: the firmware must contain "MU", -1: must not, 0: either
    bool afterProgramEraseLatch;
    uint8_t attribute;
    WriteFormula formula;
};

// In this order; the first rule whose condition holds is the drive's rule.
const WriteRule kWriteRules[] = {
    {{u"TL40A"}, false, 1, true, 246, WriteFormula::Sectors48},
    {{u"TL40A"}, false, -1, false, 233, WriteFormula::MiB32},
    {{u"RB77", u"MK13", u"MK60", u"MK60N4", u"NZ55", u"HJ12C", u"WPD4410", u"WPD4438", u"MK31"}, true, 0, false, 241,
     WriteFormula::Sectors48},
    {{u"TL30", u"MK22"}, false, 0, false, 241, WriteFormula::GB32},
    {{u"TL20", u"TL20N8", u"NZ80E", u"NZ50", u"NZ53"}, false, 0, false, 241, WriteFormula::GiB32},
    {{}, false, 0, false, 241, WriteFormula::Units32MiB48},
};

const WriteRule& WriteRuleFor(const PhysicalDriveInfo& r) {
    for (const WriteRule& rule : kWriteRules) {
        bool model = rule.models[0] == nullptr;
        for (const char16_t* m : rule.models) {
            model = model || (m != nullptr && ModelContains(r, m));
        }
        model = model || (rule.orJmf608Signature && HasJmf608Signature(r));
        const bool mu = FirmwareContains(r, u"MU");
        if (model && (rule.firmwareMU == 0 || (rule.firmwareMU > 0) == mu)) {
            return rule;
        }
    }
    return kWriteRules[std::size(kWriteRules) - 1];
}

uint64_t Apply(WriteFormula f, const SmartAttributeEntry& e) {
    switch (f) {
        case WriteFormula::Sectors48: return RawValue48(e) * 512 / kGiB;
        case WriteFormula::MiB32: return RawValue32(e) / 1024;
        case WriteFormula::GB32: return RawValue32(e) / 1000;
        case WriteFormula::GiB32: return RawValue32(e);
        case WriteFormula::Units32MiB48: return RawValue48(e) * 32 / 1024;
    }
    return 0;
}

}  // namespace

int ATACommand::CheckDiskStatus(PhysicalDriveInfo record) {
    int failures = 0;
    bool noThreshold = true;
    const uint32_t count = std::min<uint32_t>(record.attributeCount, kSmartSlotCount);
    for (uint32_t i = 0; i < count; ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        for (uint32_t j = 0; j < i; ++j) {
            if (record.attributes[j].id == e.id) {
                Trace("CheckDiskStatus::SMART attributes overlaped, %d %d\n", static_cast<int>(i), static_cast<int>(j));
                return 2;
            }
        }
        const uint8_t threshold = record.thresholdEntries[i].threshold;
        const bool exempt = e.id == kAttrTemperature ||
                            (e.id == kAttrReadErrorRate && e.current == 0 && e.raw[0] == 0 && e.raw[1] == 0);
        if (!exempt && threshold != 0 && e.current < threshold) {
            ++failures;
        }
        if (threshold != 0) {
            noThreshold = false;
        }
    }
    if (failures > 0) {
        return 3;
    }
    return noThreshold ? 2 : 1;
}

uint16_t ATACommand::GetDriveTemperature(PhysicalDriveInfo record) {
    if (record.interfaceKind == NvmeInterface) {
        return static_cast<uint16_t>(DecodeNvmeHealthLog(record.smartData).compositeTemperatureKelvin - 273);
    }
    const uint32_t count = std::min<uint32_t>(record.attributeCount, kSmartSlotCount);
    for (uint32_t i = 0; i < count; ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        if ((e.id == kAttrAirflowTemperature || e.id == kAttrTemperature) && e.raw[0] >= 1 && e.raw[0] <= 99) {
            Trace("Temperature:%d", static_cast<int>(e.raw[0]));
            return e.raw[0];
        }
    }
    Trace("no support temperature\n");
    return TemperatureUnavailable;
}

uint8_t ATACommand::GetRemainingLife(PhysicalDriveInfo record) {
    if (record.interfaceKind == NvmeInterface) {
        // A percentage used beyond 100 would wrap the 8-bit result to a large "remaining"
        // value; such a drive has no life left.
        const uint8_t used = DecodeNvmeHealthLog(record.smartData).percentageUsed;
        return used >= 100 ? 0 : static_cast<uint8_t>(100 - used);
    }
    const uint8_t id = ModelContains(record, u"TL40") ? kAttrLifeTL40 : kAttrLifeDefault;
    const uint32_t count = std::min<uint32_t>(record.attributeCount, kSmartSlotCount);
    for (uint32_t i = 0; i < count; ++i) {
        if (record.attributes[i].id == id) {
            Trace("Remaining life:%d", static_cast<int>(record.attributes[i].current));
            return record.attributes[i].current;
        }
    }
    Trace("no support disk remaining life\n");
    return 100;
}

int64_t ATACommand::GetTotalBytesWritten(PhysicalDriveInfo record) {
    if (record.interfaceKind == NvmeInterface) {
        Trace("NVMe Total Byte Write\n");
        return static_cast<int64_t>(DecodeNvmeHealthLog(record.smartData).dataUnitsWritten * 1000 * 512 / kGiB);
    }
    const WriteRule& rule = WriteRuleFor(record);
    // Rule 1a takes its attribute only after 171, 172 and 173 were passed in this order.
    int latch = 0;
    const uint32_t count = std::min<uint32_t>(record.attributeCount, kSmartSlotCount);
    for (uint32_t i = 0; i < count; ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        if (rule.afterProgramEraseLatch && e.id == 171 + latch && latch < 3) {
            ++latch;
        }
        if (e.id != rule.attribute || (rule.afterProgramEraseLatch && latch < 3)) {
            continue;
        }
        return static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(Apply(rule.formula, e))));
    }
    Trace("no support Total Byte Write\n");
    return -1;
}

}  // namespace tarvex
