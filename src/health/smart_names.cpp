#include "health/smart_names.h"

#include <cstring>

#include "platform/text.h"

namespace tarvex {

namespace {

constexpr SmartNameEntry kDefault[] = {
    {1, u"Read Error Rate"},
    {5, u"Reallocated Sector Count"},
    {9, u"Power-on Hours"},
    {12, u"Power-on Cycles"},
    {171, u"Program Fail Count"},
    {172, u"Erase Fail Count"},
    {174, u"Unsafe Shutdown Count"},
    {177, u"Wear Range Delta"},
    {181, u"Program Fail Count"},
    {182, u"Erase Fail Count"},
    {187, u"Uncorrectable Errors Count"},
    {194, u"Temperature"},
    {195, u"On-the-Fly ECC Uncorrectable Error Count"},
    {196, u"Reallocation Event Count"},
    {201, u"Uncorrectable Soft Read Error Rate"},
    {204, u"Soft Ecc Correction Rate"},
    {230, u"Life Curve Status"},
    {231, u"Drive Life %"},
    {233, u"Vendor Specific"},
    {234, u"Vendor Specific"},
    {241, u"Total Host Write"},
    {242, u"Total Host Read"},
};

constexpr SmartNameEntry kTL30A[] = {
    {1, u"Read Error Rate"},
    {5, u"Retired Block Count"},
    {9, u"Power-on Hours"},
    {12, u"Power Cycle Count"},
    {171, u"Program Fail Count"},
    {172, u"Erase Fail Count"},
    {174, u"Unexpected Power Loss"},
    {177, u"Wear Range Delta"},
    {181, u"Program Fail Count"},
    {182, u"Erase Fail Count"},
    {187, u"Reported Uncorrectable Errors"},
    {194, u"Temperature"},
    {195, u"ECC On-the-Fly Error Count"},
    {196, u"Reallocation Event Count"},
    {201, u"Uncorrectable Soft Read Error Rate"},
    {204, u"Soft ECC Correction Rate"},
    {230, u"Drive Life Protection Status"},
    {231, u"SSD Life Left"},
    {241, u"Total LBAs Written"},
    {242, u"Total LBAs Read"},
};

constexpr SmartNameEntry kJmf608[] = {
    {1, u"Read Error Rate"},
    {5, u"Reallocated Sector Count"},
    {9, u"Power-on Hours"},
    {12, u"Power-on Cycles"},
    {169, u"Bad Block Count"},
    {173, u"Erase Count"},
    {181, u"Program Fail Count"},
    {182, u"Erase Fail Count"},
    {187, u"Uncorrectable Errors Count"},
    {192, u"Unsafe Shutdown Count"},
    {194, u"Temperature"},
    {231, u"Drive Life %"},
    {241, u"Total Host Write"},
    {242, u"Total Host Read"},
    {248, u"History Temperature"},
    {250, u"Wear Leveling Factor"},
};

constexpr SmartNameEntry kSm2246[] = {
    {1, u"Read Error Rate"},
    {5, u"Reallocated Sector Count"},
    {9, u"Reserved"},
    {12, u"Power Cycle Count"},
    {160, u"Uncorrectable Sector Count"},
    {161, u"Number of Valid Spare Block"},
    {163, u"Number of Initial Invalid Block"},
    {164, u"Total Erase Count"},
    {165, u"Maximum Erase Count"},
    {166, u"Minimum Erase Count"},
    {167, u"Average Erase Count"},
    {192, u"Power-Off Retract Count"},
    {194, u"Controlled Temperature"},
    {195, u"Hardware Ecc Recovered"},
    {196, u"Reallocation Event Count"},
    {199, u"UltraDMA CRC Error Count"},
    {241, u"Total LBA Written (32MB)"},
    {242, u"Total LBA Read (32MB)"},
};

constexpr uint8_t kJmf608Signature[6] = {0x4A, 0x4D, 0x46, 0x36, 0x30, 0x38};  // "JMF608"
constexpr uint8_t kSm2246Signature[6] = {0x53, 0x4D, 0x32, 0x32, 0x34, 0x36};  // "SM2246"
constexpr size_t kJmf608SignatureOffset = 396;
constexpr size_t kSm2246SignatureOffset = 400;

bool ModelContains(const PhysicalDriveInfo& record, std::u16string_view text) {
    return platform::FixedText(record.modelNumber).find(text) != std::u16string_view::npos;
}

}  // namespace

const SmartNameTable SmartNamesDefault{"SmartNamesDefault", kDefault};
const SmartNameTable SmartNamesTL30A{"SmartNamesTL30A", kTL30A};
const SmartNameTable SmartNamesJmf608{"SmartNamesJmf608", kJmf608};
const SmartNameTable SmartNamesSm2246{"SmartNamesSm2246", kSm2246};

std::u16string_view SmartNameTable::Name(uint8_t id) const {
    for (const SmartNameEntry& e : entries) {
        if (e.id == id) {
            return e.name;
        }
    }
    return {};
}

const SmartNameTable& SelectSmartNameTable(const PhysicalDriveInfo& record) {
    if (std::memcmp(record.smartData + kJmf608SignatureOffset, kJmf608Signature, 6) == 0) {
        return SmartNamesJmf608;
    }
    if (std::memcmp(record.smartData + kSm2246SignatureOffset, kSm2246Signature, 6) == 0) {
        return SmartNamesSm2246;
    }
    if (ModelContains(record, u"VARNO TL30A")) {
        return SmartNamesTL30A;
    }
    if (ModelContains(record, u"VQRB77")) {
        return SmartNamesJmf608;
    }
    return SmartNamesDefault;
}

std::u16string_view LookupSmartAttributeName(const PhysicalDriveInfo& record, uint8_t id) {
    std::u16string_view name = SelectSmartNameTable(record).Name(id);
    return name.empty() ? std::u16string_view(u"Vendor Specified") : name;
}

}  // namespace tarvex
