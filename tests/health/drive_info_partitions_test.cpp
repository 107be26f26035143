// The partition part of the Drive Info page: label texts, the usage gauge, the shown and
// hidden controls and the previous / next buttons over a partition list.
#include <gtest/gtest.h>

#include "app/string_table.h"
#include "health/drive_info_partitions.h"

namespace tarvex {
namespace {

LogicalDriveInfo Partition(const char16_t* id, uint64_t freeMb, uint64_t sizeMb) {
    LogicalDriveInfo p{};
    std::char_traits<char16_t>::copy(p.DeviceID, id, std::char_traits<char16_t>::length(id) + 1);
    p.FreeSpaceMb = freeMb;
    p.SizeMb = sizeMb;
    return p;
}

TEST(DriveInfoPartitions, FiguresAndGaugeOfOnePartition) {
    int selected = 0;
    DriveInfoPartitions page(selected);
    page.SetList({Partition(u"C:", 25600, 102400)});
    const PartitionControls c = page.Controls();
    EXPECT_TRUE(c.sizesVisible);
    EXPECT_EQ(c.name, u"C:");
    EXPECT_EQ(c.total, u"Total: 100.0 GB");
    EXPECT_EQ(c.free, u"Free: 25.0 GB");
    EXPECT_EQ(c.freePercent, u"Free: 25.0 %");
    EXPECT_EQ(c.gauge, 75);
    EXPECT_FALSE(c.previousEnabled);
    EXPECT_FALSE(c.nextEnabled);
    EXPECT_FALSE(page.Next()) << "one partition: the buttons do nothing";
    EXPECT_FALSE(page.Previous());
    EXPECT_EQ(selected, 0);

    // Gauge in integer arithmetic; a size of 0 gives N/A and 0; more free than size is empty.
    EXPECT_EQ(PartitionUsageGauge(1, 3), 66);
    EXPECT_EQ(PartitionUsageGauge(0, 0), 0);
    EXPECT_EQ(PartitionFreePercentText(0, 0), u"Free: N/A");
    EXPECT_EQ(PartitionUsageGauge(500, 100), 0);
    EXPECT_EQ(PartitionUsageGauge(0, UINT64_MAX), 100);
    EXPECT_EQ(PartitionTotalText(1023), u"Total: 1.0 GB") << "divided by 1024.0, not truncated";
}

TEST(DriveInfoPartitions, ThreePartitionsSteppedToBothEnds) {
    int selected = 0;
    DriveInfoPartitions page(selected);
    page.SetList({Partition(u"C:", 1, 2), Partition(u"D:", 1, 4), Partition(u"E:", 0, 8)});
    EXPECT_FALSE(page.Controls().previousEnabled);
    EXPECT_TRUE(page.Controls().nextEnabled);
    EXPECT_FALSE(page.Previous()) << "at index 0";
    ASSERT_TRUE(page.Next());
    EXPECT_EQ(page.Controls().name, u"D:");
    EXPECT_TRUE(page.Controls().previousEnabled);
    EXPECT_TRUE(page.Controls().nextEnabled);
    ASSERT_TRUE(page.Next());
    EXPECT_EQ(page.Controls().name, u"E:");
    EXPECT_EQ(page.Controls().gauge, 100);
    EXPECT_TRUE(page.Controls().previousEnabled);
    EXPECT_FALSE(page.Controls().nextEnabled);
    EXPECT_FALSE(page.Next()) << "at the last index";
    EXPECT_EQ(selected, 2);
    ASSERT_TRUE(page.Previous());
    EXPECT_EQ(selected, 1);

    // A reload with a shorter list does not leave the index past its end.
    selected = 2;
    page.SetList({Partition(u"F:", 0, 1)});
    EXPECT_EQ(selected, 0);
    EXPECT_EQ(page.Controls().name, u"F:");
}

TEST(DriveInfoPartitions, NoPartitionShowsTheNoticeAndHidesTheSizes) {
    int selected = 0;
    DriveInfoPartitions page(selected);
    page.SetList({});
    const PartitionControls c = page.Controls();
    EXPECT_EQ(c.name, std::u16string(LoadResourceString(260)));
    EXPECT_FALSE(c.name.empty());
    EXPECT_FALSE(c.sizesVisible);
    EXPECT_FALSE(c.previousEnabled);
    EXPECT_FALSE(c.nextEnabled);
    EXPECT_FALSE(page.Next());
}

}  // namespace
}  // namespace tarvex
