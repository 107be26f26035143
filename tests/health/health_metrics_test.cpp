#include <gtest/gtest.h>

#include <cstring>

#include "device/ata_command.h"
#include "health/drive_info_figures.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

struct Attr {
    uint8_t id;
    uint8_t current;
    uint8_t threshold;
    uint64_t raw;
};

PhysicalDriveInfo Drive(const char16_t* model, std::initializer_list<Attr> attrs, const char16_t* firmware = u"1.0") {
    PhysicalDriveInfo r = EmptyDriveRecord();
    platform::CopyToFixed(r.modelNumber, model);
    platform::CopyToFixed(r.firmwareRevision, firmware);
    for (const Attr& a : attrs) {
        SmartAttributeEntry& e = r.attributes[r.attributeCount];
        e.id = a.id;
        e.current = a.current;
        e.worst = a.current;
        for (int b = 0; b < 6; ++b) {
            e.raw[b] = static_cast<uint8_t>(a.raw >> (8 * b));
        }
        r.thresholdEntries[r.attributeCount].id = a.id;
        r.thresholdEntries[r.attributeCount].threshold = a.threshold;
        ++r.attributeCount;
    }
    return r;
}

PhysicalDriveInfo Nvme(uint16_t kelvin, uint8_t percentageUsed, uint64_t unitsWritten) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.interfaceKind = NvmeInterface;
    r.smartData[1] = static_cast<uint8_t>(kelvin);
    r.smartData[2] = static_cast<uint8_t>(kelvin >> 8);
    r.smartData[5] = percentageUsed;
    std::memcpy(r.smartData + 48, &unitsWritten, 8);
    return r;
}

class HealthTest : public ::testing::Test {
protected:
    test::TestMachine machine_;
    ATACommand ata_;
};

TEST_F(HealthTest, StatusCountsFailuresWithItsExemptions) {
    EXPECT_EQ(ata_.CheckDiskStatus(Drive(u"X", {{5, 100, 10, 0}, {194, 30, 50, 0}})), 1)
        << "a temperature below its threshold never fails the drive";
    EXPECT_EQ(ata_.CheckDiskStatus(Drive(u"X", {{1, 0, 6, 0}, {5, 100, 10, 0}})), 1)
        << "an all-zero read error rate is exempt";
    EXPECT_EQ(ata_.CheckDiskStatus(Drive(u"X", {{1, 0, 6, 1}, {5, 100, 10, 0}})), 3);
    EXPECT_EQ(ata_.CheckDiskStatus(Drive(u"X", {{5, 100, 0, 0}, {9, 100, 0, 0}})), 2) << "no thresholds at all";
    EXPECT_EQ(ata_.CheckDiskStatus(Drive(u"X", {{9, 100, 0, 0}, {5, 1, 10, 0}, {9, 100, 0, 0}})), 2)
        << "a duplicate ID ends the check at once";
    EXPECT_EQ(ata_.CheckDiskStatus(Drive(u"X", {{194, 30, 50, 0}})), 1)
        << "an exempt attribute's threshold still counts as a threshold";
    EXPECT_EQ(ata_.CheckDiskStatus(Nvme(310, 0, 0)), 2);
}

TEST_F(HealthTest, TemperatureAndRemainingLife) {
    EXPECT_EQ(ata_.GetDriveTemperature(Drive(u"X", {{190, 100, 0, 0}, {194, 100, 0, 41}})), 41);
    EXPECT_EQ(ata_.GetDriveTemperature(Drive(u"X", {{190, 100, 0, 100}, {194, 100, 0, 100}})), TemperatureUnavailable);
    EXPECT_EQ(ata_.GetDriveTemperature(Drive(u"X", {{194, 100, 0, 0x2D003C0023ull}})), 0x23) << "only raw byte 0";
    EXPECT_EQ(ata_.GetDriveTemperature(Nvme(310, 0, 0)), 37);

    EXPECT_EQ(ata_.GetRemainingLife(Drive(u"VARNO TL40A", {{231, 95, 0, 0}, {202, 88, 0, 0}})), 88);
    EXPECT_EQ(ata_.GetRemainingLife(Drive(u"VARNO TL30A", {{231, 95, 0, 0}, {202, 88, 0, 0}})), 95);
    EXPECT_EQ(ata_.GetRemainingLife(Drive(u"VARNO TL30A", {{9, 95, 0, 0}})), 100);
    EXPECT_EQ(ata_.GetRemainingLife(Nvme(300, 3, 0)), 97);
    EXPECT_EQ(ata_.GetRemainingLife(Nvme(300, 120, 0)), 0) << "no wrap past 100 % used";
}

TEST_F(HealthTest, BytesWrittenFollowTheModelRules) {
    const struct {
        const char16_t* model;
        const char16_t* firmware;
        std::initializer_list<Attr> attrs;
        int64_t expected;
    } cases[] = {
        {u"Other SSD", u"1.0", {{241, 100, 0, 0x2000}}, 256},
        {u"VARNO TL30A 256GB", u"1.0", {{241, 100, 0, 150000}}, 150},
        {u"VARNO VQRB77 128GB", u"1.0", {{241, 100, 0, 2097152 * 4}}, 4},
        {u"VARNO TL20N8", u"1.0", {{241, 100, 0, 77}}, 77},
        {u"VARNO TL40A", u"R1", {{233, 100, 0, 10240}}, 10},
        {u"VARNO TL40A", u"MU02", {{171, 100, 0, 0}, {172, 100, 0, 0}, {173, 100, 0, 0}, {246, 100, 0, 2097152 * 3}}, 3},
        // The latch needs 171, 172, 173 in that order before 246.
        {u"VARNO TL40A", u"MU02", {{172, 100, 0, 0}, {171, 100, 0, 0}, {173, 100, 0, 0}, {246, 100, 0, 2097152}}, -1},
        {u"VARNO TL40A", u"MU02", {{246, 100, 0, 2097152}, {171, 100, 0, 0}, {172, 100, 0, 0}, {173, 100, 0, 0}}, -1},
        {u"Other SSD", u"1.0", {{9, 100, 0, 5}}, -1},
        // The result is cut to a signed 32-bit value.
        {u"VARNO TL20", u"1.0", {{241, 100, 0, 0xFFFFFFFFull}}, -1},
        {u"VARNO TL20", u"1.0", {{241, 100, 0, 0x80000000ull}}, -2147483648ll},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ata_.GetTotalBytesWritten(Drive(c.model, c.attrs, c.firmware)), c.expected)
            << platform::Utf16ToUtf8(c.model) << " " << platform::Utf16ToUtf8(c.firmware);
    }
    PhysicalDriveInfo jmf = Drive(u"Some JM drive", {{241, 100, 0, 2097152 * 2}});
    std::memcpy(jmf.smartData + 396, "JMF608", 6);
    EXPECT_EQ(ata_.GetTotalBytesWritten(jmf), 2) << "the JMF608 signature takes the sector formula";
    EXPECT_EQ(ata_.GetTotalBytesWritten(Nvme(300, 0, 2097152)), 1000);
}

}  // namespace
}  // namespace tarvex

namespace tarvex {
namespace {

TEST_F(HealthTest, DriveInfoFiguresFollowThePageRules) {
    DriveInfoFigures maker = ComputeDriveInfoFigures(Drive(u"VARNO TL30A 256GB", {{241, 100, 0, 262144}, {194, 100, 0, 75},
                                                                                  {231, 97, 10, 0}}));
    EXPECT_EQ(maker.totalWrittenText, u"0.26TB") << "262 GiB";
    EXPECT_EQ(maker.temperatureText, u"75 \u00B0C");
    EXPECT_EQ(maker.temperatureState, 2);
    EXPECT_EQ(maker.remainingLife, 97);
    EXPECT_EQ(maker.healthIconState, 0);

    DriveInfoFigures other = ComputeDriveInfoFigures(Drive(u"Kestrel KS500", {{241, 100, 0, 0x2000}, {231, 40, 0, 0}}));
    EXPECT_EQ(other.totalWrittenText, u"N/A") << "only the maker's drives show their writes";
    EXPECT_EQ(other.remainingLife, 100) << "and their life";
    EXPECT_EQ(other.temperatureText, u"N/A");
    EXPECT_EQ(other.temperatureState, 2) << "the unknown temperature counts as hot";
    EXPECT_EQ(other.healthIconState, 1) << "no thresholds: caution";

    DriveInfoFigures rb54 = ComputeDriveInfoFigures(Drive(u"VARNO RB54", {{231, 40, 0, 0}, {194, 100, 0, 30}}));
    EXPECT_EQ(rb54.remainingLife, 100);
    EXPECT_EQ(rb54.temperatureState, 0);
    DriveInfoFigures tl40 = ComputeDriveInfoFigures(Drive(u"VARNO TL40A", {{5, 1, 10, 0}}));
    EXPECT_EQ(tl40.status, 3);
    EXPECT_EQ(tl40.healthIconState, 0) << "TL40 drives always show a good icon";
}

}  // namespace
}  // namespace tarvex
