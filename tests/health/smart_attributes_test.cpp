#include <gtest/gtest.h>

#include <cstring>

#include "health/smart_attributes.h"
#include "health/smart_names.h"
#include "platform/text.h"

namespace tarvex {
namespace {

uint8_t* Slot(uint8_t* page, int s) { return page + 2 + 12 * s; }

void PutAttribute(PhysicalDriveInfo& r, int slot, uint8_t id, std::initializer_list<uint8_t> raw) {
    uint8_t* p = Slot(r.smartData, slot);
    p[0] = id;
    p[3] = 100;
    p[4] = 100;
    int i = 0;
    for (uint8_t b : raw) {
        p[5 + i++] = b;
    }
}

TEST(SmartAttributes, EmptySlotsAreSkippedAndThresholdsPairBySlot) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    for (int s : {0, 1, 2, 4}) {
        PutAttribute(r, s, static_cast<uint8_t>(10 + s), {static_cast<uint8_t>(s)});
        Slot(r.smartThresholds, s)[0] = static_cast<uint8_t>(10 + s);
        Slot(r.smartThresholds, s)[1] = static_cast<uint8_t>(50 + s);
    }
    Slot(r.smartThresholds, 3)[0] = 99;  // a threshold for an empty attribute slot
    Slot(r.smartThresholds, 3)[1] = 99;
    std::memset(&r.thresholdEntries[7], 0xFF, sizeof(SmartThresholdEntry));  // stale content
    ASSERT_TRUE(ParseSmartAttributes(r));
    EXPECT_EQ(r.attributeCount, 4u);
    EXPECT_EQ(r.attributes[3].id, 14) << "slot 4 moves to position 3";
    EXPECT_EQ(r.attributes[4].id, 0);
    ASSERT_TRUE(ParseSmartThresholds(r));
    EXPECT_EQ(r.thresholdEntries[3].id, 14);
    EXPECT_EQ(r.thresholdEntries[3].threshold, 54) << "threshold slot 4 pairs with attribute slot 4";
    EXPECT_EQ(r.thresholdEntries[7].id, 0) << "positions past the list are cleared";

    PhysicalDriveInfo empty = EmptyDriveRecord();
    EXPECT_FALSE(ParseSmartAttributes(empty));
    EXPECT_EQ(empty.attributeCount, 0u);
    EXPECT_FALSE(ParseSmartThresholds(empty));
}

TEST(SmartAttributes, TemperatureAtParseTime) {
    const struct {
        const char16_t* model;
        uint8_t id;
        std::initializer_list<uint8_t> raw;
        int expected;
    } cases[] = {
        {u"VARNO TL30A", 194, {0x2D, 0x00}, 45},
        {u"SAMSUNG SV0802N", 194, {0xC2, 0x01}, 45},
        {u"SAMSUNG SV0802N", 194, {0x2D, 0x00}, 45},  // neither r1 nor r0 > 70: plain degrees
        {u"VARNO TL30A", 194, {120}, 0},
        {u"VARNO TL30A", 190, {38}, 38},
        {u"VARNO TL30A", 190, {0}, 0},
        {u"VARNO TL30A", 190, {100}, 0},
    };
    for (const auto& c : cases) {
        PhysicalDriveInfo r = EmptyDriveRecord();
        platform::CopyToFixed(r.modelNumber, c.model);
        PutAttribute(r, 0, c.id, c.raw);
        ParseSmartAttributes(r);
        EXPECT_EQ(r.temperature, c.expected) << platform::Utf16ToUtf8(c.model) << " id " << int(c.id);
    }
    // Later slots overwrite earlier ones.
    PhysicalDriveInfo r = EmptyDriveRecord();
    PutAttribute(r, 0, 190, {30});
    PutAttribute(r, 1, 194, {40});
    ParseSmartAttributes(r);
    EXPECT_EQ(r.temperature, 40);
}

TEST(SmartAttributes, RawValues) {
    SmartAttributeEntry e{};
    e.raw[5] = 0x01;
    EXPECT_EQ(RawValue48(e), 1ull << 40);
    EXPECT_EQ(RawValue32(e), 0u);
    const uint8_t raw[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    std::memcpy(e.raw, raw, 6);
    EXPECT_EQ(RawValue32(e), 0x04030201u);
    EXPECT_EQ(RawValue48(e), 0x060504030201ull);
}

TEST(SmartNames, TableFollowsSignatureThenModel) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    platform::CopyToFixed(r.modelNumber, u"VARNO TL30A 256GB");
    EXPECT_EQ(&SelectSmartNameTable(r), &SmartNamesTL30A);
    EXPECT_EQ(LookupSmartAttributeName(r, 5), u"Retired Block Count");
    EXPECT_EQ(LookupSmartAttributeName(r, 2), u"Vendor Specified");
    std::memcpy(r.smartData + 396, "JMF608", 6);
    EXPECT_EQ(&SelectSmartNameTable(r), &SmartNamesJmf608) << "the signature wins over the model";
    EXPECT_EQ(LookupSmartAttributeName(r, 250), u"Wear Leveling Factor");

    PhysicalDriveInfo sm = EmptyDriveRecord();
    std::memcpy(sm.smartData + 400, "SM2246", 6);
    EXPECT_EQ(LookupSmartAttributeName(sm, 241), u"Total LBA Written (32MB)");
    EXPECT_EQ(LookupSmartAttributeName(sm, 242), u"Total LBA Read (32MB)");
    EXPECT_EQ(LookupSmartAttributeName(sm, 2), u"Vendor Specified");

    PhysicalDriveInfo jm = EmptyDriveRecord();
    platform::CopyToFixed(jm.modelNumber, u"XYZ VQRB77 128G");
    EXPECT_EQ(&SelectSmartNameTable(jm), &SmartNamesJmf608);
    PhysicalDriveInfo other = EmptyDriveRecord();
    platform::CopyToFixed(other.modelNumber, u"varno tl30a");  // the model test is case-sensitive
    EXPECT_EQ(&SelectSmartNameTable(other), &SmartNamesDefault);
    EXPECT_EQ(LookupSmartAttributeName(other, 231), u"Drive Life %");
    EXPECT_EQ(LookupSmartAttributeName(other, 255), u"Vendor Specified");
}

}  // namespace
}  // namespace tarvex
