#include "health/detail_rows.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/string_table.h"

namespace tarvex {
namespace {

std::u16string S(int id) { return std::u16string(LoadResourceString(id)); }

TEST(DetailRowsTest, AtaIdentifyListsAll256WordsEvenForAnEmptyPage) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.interfaceKind = IdeSataInterface;
    auto rows = PopupRows(kPopupDriveDetails, r);
    ASSERT_EQ(rows.size(), 256u);
    EXPECT_EQ(rows[0].cells, (std::vector<std::u16string>{u"Word 0", u"0x0000", u"General configuration"}));
    EXPECT_EQ(rows[255].cells[0], u"Word 255");
    EXPECT_EQ(rows[255].cells[2], u"Integrity word");
    EXPECT_EQ(rows[53].cells[2], u"Field Validaty");
    EXPECT_EQ(rows[66].cells[2],
              u"Manufacturer\u00A1\u00A6s recommended Multiword DMA transfer cycle time (ns)");
    EXPECT_EQ(rows[108].cells[2], u"World Wild Name");
    EXPECT_EQ(rows[111].cells[2], u"World Wild Name");
    EXPECT_EQ(rows[236].cells[2], u"Reserved");
    for (int n = 0; n < 256; ++n) {
        EXPECT_FALSE(IdentifyWordNames(n).empty()) << "word " << n;
        EXPECT_LE(IdentifyWordNames(n).size(), 79u) << "word " << n;
    }
    EXPECT_TRUE(IdentifyWordNames(256).empty());

    // Values are the stored little-endian words.
    r.identify[2 * 222] = 0x7E;
    r.identify[2 * 222 + 1] = 0x10;
    r.identify[510] = 0xA5;
    rows = AtaIdentifyRows(r);
    EXPECT_EQ(rows[222].cells[1], u"0x107E");
    EXPECT_EQ(rows[255].cells[1], u"0x00A5");
}

TEST(DetailRowsTest, AtaSmartRowForTemperatureAttribute) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.interfaceKind = IdeSataInterface;
    r.attributeCount = 2;
    r.attributes[0] = SmartAttributeEntry{0x09, {0x32, 0}, 100, 100, {1, 2, 3, 4, 5, 6}, 0x7F};
    r.attributes[1] = SmartAttributeEntry{0xC2, {0x22, 0}, 36, 55, {0x24, 0, 0x0E, 0, 0x37, 0}, 0};
    r.thresholdEntries[0] = SmartThresholdEntry{0x09, 10, {}};
    auto rows = PopupRows(kPopupSmartDetails, r);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].cells, (std::vector<std::u16string>{u"194", u"0xC2", u"Temperature", u"36",
                                                         u"55", u"0", u"0x000037000E0024"}));
    // The reserved byte leads the raw column, then raw bytes 5 down to 0.
    EXPECT_EQ(rows[0].cells[6], u"0x7F060504030201");
    EXPECT_EQ(rows[0].cells[5], u"10");

    // A count beyond the slots is held to the slots.
    r.attributeCount = 1000;
    EXPECT_EQ(AtaSmartRows(r).size(), static_cast<size_t>(kSmartSlotCount));
}

TEST(DetailRowsTest, NvmeIdentifyRowsFollowTheControllerLayout) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.interfaceKind = NvmeInterface;
    r.nvmeIdentify[0] = 0x34;
    r.nvmeIdentify[1] = 0x12;
    std::memcpy(r.nvmeIdentify + 4, "SER123", 6);
    std::memcpy(r.nvmeIdentify + 24, "NVME MODEL  ", 12);
    r.nvmeIdentify[73] = 0xAA;
    r.nvmeIdentify[76] = 0xDD;
    r.nvmeIdentify[516] = 0x01;  // one namespace
    r.nvmeIdentify[3072] = 0xEE;
    r.nvmeIdentify[4095] = 0xFF;
    const auto rows = PopupRows(kPopupDriveDetails, r);
    ASSERT_EQ(rows.size(), 502u);
    EXPECT_EQ(rows[0].cells, (std::vector<std::u16string>{u"VID", u"0x1234", u"PCI Vendor ID"}));
    EXPECT_EQ(rows[2].cells[1], u"SER123");
    EXPECT_EQ(rows[3].cells[1], u"NVME MODEL  ");
    EXPECT_EQ(rows[6].cells[1], u"0xAA0000DD");
    EXPECT_EQ(rows[8].cells[0], u"Reserved 1 (0-15)");
    EXPECT_EQ(rows[18].cells[0], u"Reserved 1 (160-175)");
    EXPECT_EQ(rows[19].cells[1], u"0x0000");
    EXPECT_EQ(rows[43].cells[1], u"0x00000000000000");  // bytes 505..511
    EXPECT_EQ(rows[47].cells[0], u"Number of Namespaces");
    EXPECT_EQ(rows[47].cells[1], u"0x0000000000000001");
    EXPECT_EQ(rows[65].cells[2], u"Reserved 4(160-173)");
    EXPECT_EQ(rows[149].cells[0], u"Reserved 5 (1328-1343)");
    EXPECT_EQ(rows[438].cells[0], u"Vendor Specific (0-15)");
    EXPECT_EQ(rows[438].cells[1], u"0xEE000000000000000000000000000000");
    EXPECT_EQ(rows[501].cells[1], u"0x000000000000000000000000000000FF");
    EXPECT_EQ(rows[501].cells[2], u"Vendor Specific (1008-1023)");
}

TEST(DetailRowsTest, NvmePowerStateDescriptors) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.interfaceKind = NvmeInterface;
    // Descriptor 31: max power 0x09C4, entry latency 0x12345678, relative write latency 3.
    uint8_t* d31 = r.nvmeIdentify + 2048 + 32 * 31;
    d31[0] = 0xC4;
    d31[1] = 0x09;
    d31[4] = 0x78;
    d31[5] = 0x56;
    d31[6] = 0x34;
    d31[7] = 0x12;
    d31[15] = 3;
    d31[31] = 0x5A;
    const auto rows = NvmeIdentifyRows(r);
    for (int d = 0; d < 32; ++d) {
        const std::string number = std::to_string(d);
        const std::u16string item = u"Power State x Descriptor (" +
                                    std::u16string(number.begin(), number.end()) + u")";
        for (int i = 0; i < 9; ++i) EXPECT_EQ(rows[150 + 9 * d + i].cells[0], item) << d;
    }
    EXPECT_EQ(rows[150].cells[0], u"Power State x Descriptor (0)");
    const size_t base = 150 + 9 * 31;
    EXPECT_EQ(rows[base].cells[0], u"Power State x Descriptor (31)");
    EXPECT_EQ(rows[base].cells[1], u"0x09C4");
    EXPECT_EQ(rows[base].cells[2], u"Maximum Power");
    EXPECT_EQ(rows[base + 2].cells[1], u"0x0000000012345678");
    EXPECT_EQ(rows[base + 2].cells[2], u"Entry Latency");
    EXPECT_EQ(rows[base + 7].cells[1], u"0x03");
    EXPECT_EQ(rows[base + 7].cells[2], u"Relative Write Latency");
    EXPECT_EQ(rows[base + 8].cells[1], u"0x0000000000000000000000000000005A");
    EXPECT_EQ(rows[base + 8].cells[2], u"Reserved 6 (0-15)");
    EXPECT_EQ(rows[base + 9].cells[0], u"Vendor Specific (0-15)");
}

TEST(DetailRowsTest, NvmeHealthRowsShowWholeCountersInHex) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.interfaceKind = NvmeInterface;
    r.smartData[0] = 0x25;  // spare below threshold, read only, and bit 5
    r.smartData[1] = 0x3B;  // 315 K
    r.smartData[2] = 0x01;
    r.smartData[3] = 100;
    r.smartData[48] = 0x34;  // data units written 0x1234
    r.smartData[49] = 0x12;
    // Power-on hours above 2^64: high half 0x1, low half 0xAB.
    r.smartData[128] = 0xAB;
    r.smartData[136] = 0x01;
    r.smartData[511] = 0x77;
    const auto rows = PopupRows(kPopupSmartDetails, r);
    ASSERT_EQ(rows.size(), 42u);
    EXPECT_EQ(rows[0].cells[0], u"1");
    EXPECT_EQ(rows[1].cells[0], u"0");
    EXPECT_EQ(rows[2].cells[0], u"1");
    EXPECT_EQ(rows[5].cells[0], u"1");
    EXPECT_EQ(rows[6].cells, (std::vector<std::u16string>{u"315", u"Temperature"}));
    EXPECT_EQ(rows[7].cells[0], u"100");
    EXPECT_EQ(rows[11].cells[0], u"0x00000000000000000000");
    EXPECT_EQ(rows[12].cells[0], u"0x0");
    EXPECT_EQ(rows[13].cells[0], u"0x1234");
    EXPECT_EQ(rows[18].cells[0], u"0x100000000000000AB");
    EXPECT_EQ(rows[18].cells[1], u"The number of power-on hours.");
    EXPECT_EQ(rows[41].cells[0], u"0x00000000000000000000000000000077");
    EXPECT_EQ(rows[41].cells[1], u"Reserved 2 (304-319).");
}

TEST(DetailRowsTest, HeaderTextNamesTheLastControllerOfTheDrive) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.driveIndex = 1;
    std::memcpy(r.modelNumber, u"SSD 9", sizeof(u"SSD 9"));
    const std::vector<PopupController> hbas = {
        {u"Standard SATA AHCI Controller", u"010601", u"10.0.1", u"Microsoft", {0, 1}},
        {u"Other", u"010802", u"2.1", u"Vendor", {3}},
        {u"Intel IDE", u"010180", u"9.9", u"Intel", {1}},
    };
    EXPECT_EQ(PopupHeaderText(kPopupDriveDetails, r, hbas),
              S(299) + u" SSD 9\nHBA: Intel IDE / IDE\n" + S(265) + u" 9.9 (Intel)");
    EXPECT_EQ(PopupHeaderText(kPopupDriveDetails, r, std::span(hbas).first(1)),
              S(299) + u" SSD 9\nHBA: Standard SATA AHCI Controller / AHCI\n" + S(265) +
                  u" 10.0.1 (Microsoft)");
    r.driveIndex = 2;
    EXPECT_EQ(PopupHeaderText(kPopupDriveDetails, r, hbas), S(299) + u" SSD 9\n");
    EXPECT_EQ(PopupHeaderText(kPopupSmartDetails, r, hbas), S(300) + u" SSD 9");
    EXPECT_EQ(ControllerKind(u"010802"), u"NVMe");
    EXPECT_EQ(ControllerKind(u"0104"), u"");
    EXPECT_EQ(S(299), u"Drive Detail Information:");
}

TEST(DetailRowsTest, ColumnsPerModeAndInterface) {
    PhysicalDriveInfo r = EmptyDriveRecord();
    r.interfaceKind = IdeSataInterface;
    EXPECT_EQ(PopupColumns(kPopupSmartDetails, r).size(), 7u);
    EXPECT_EQ(PopupColumns(kPopupDriveDetails, r)[2].width, 440);
    r.interfaceKind = NvmeInterface;
    const auto nvme2 = PopupColumns(kPopupSmartDetails, r);
    ASSERT_EQ(nvme2.size(), 2u);
    EXPECT_EQ(nvme2[0].text, u"Value");
    EXPECT_EQ(nvme2[1].width, 620);
}

}  // namespace
}  // namespace tarvex
