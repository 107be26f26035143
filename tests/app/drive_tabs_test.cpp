// The drive tabs over tables of 1, 2, 3 and 5 drives: what they show, the arrows at both
// ends, and the captions.
#include <gtest/gtest.h>

#include "app/drive_tabs.h"

namespace tarvex {
namespace {

TEST(DriveTabsTest, TabsAndArrowsFollowTheDriveCount) {
    DriveTabs tabs;
    tabs.Reset(1);
    EXPECT_TRUE(tabs.TabVisible(0));
    EXPECT_FALSE(tabs.TabVisible(1));
    EXPECT_FALSE(tabs.TabVisible(2));
    EXPECT_FALSE(tabs.PreviousEnabled());
    EXPECT_FALSE(tabs.NextEnabled());
    EXPECT_EQ(tabs.LastVisible(), 0);
    EXPECT_FALSE(tabs.TabSelectable(1, 1));
    EXPECT_FALSE(tabs.Next(1));
    EXPECT_FALSE(tabs.Previous(1));

    tabs.Reset(2);
    EXPECT_TRUE(tabs.TabVisible(1));
    EXPECT_FALSE(tabs.TabVisible(2));
    EXPECT_EQ(tabs.LastVisible(), 1);
    EXPECT_FALSE(tabs.NextEnabled());

    tabs.Reset(3);
    EXPECT_TRUE(tabs.TabVisible(2));
    EXPECT_EQ(tabs.LastVisible(), 2);
    EXPECT_FALSE(tabs.NextEnabled());  // three drives fit: nothing to scroll
    EXPECT_FALSE(tabs.Next(3));
}

TEST(DriveTabsTest, FiveDrivesScrollToTheEndAndBack) {
    DriveTabs tabs;
    tabs.Reset(5);
    EXPECT_EQ(tabs.DriveOfTab(0), 0);
    EXPECT_EQ(tabs.DriveOfTab(2), 2);
    EXPECT_FALSE(tabs.PreviousEnabled());
    EXPECT_TRUE(tabs.NextEnabled());
    EXPECT_FALSE(tabs.Previous(5));  // already at the start

    ASSERT_TRUE(tabs.Next(5));
    // Between the ends the arrows keep their states.
    EXPECT_FALSE(tabs.PreviousEnabled());
    EXPECT_TRUE(tabs.NextEnabled());
    ASSERT_TRUE(tabs.Next(5));
    EXPECT_EQ(tabs.FirstVisible(), 2);
    EXPECT_EQ(tabs.DriveOfTab(2), 4);
    EXPECT_FALSE(tabs.NextEnabled());
    EXPECT_TRUE(tabs.PreviousEnabled());
    EXPECT_FALSE(tabs.Next(5));  // at the end

    ASSERT_TRUE(tabs.Previous(5));
    ASSERT_TRUE(tabs.Previous(5));
    EXPECT_EQ(tabs.FirstVisible(), 0);
    EXPECT_FALSE(tabs.PreviousEnabled());
    EXPECT_TRUE(tabs.NextEnabled());

    // A rescan starts over at the first drive.
    tabs.Next(5);
    tabs.Reset(5);
    EXPECT_EQ(tabs.FirstVisible(), 0);
}

TEST(DriveTabsTest, PageActivationShowsTabsByCount) {
    DriveTabs tabs;
    tabs.ShowForPage(2);
    EXPECT_TRUE(tabs.TabVisible(0));
    EXPECT_TRUE(tabs.TabVisible(1));
    EXPECT_FALSE(tabs.TabVisible(2));
    tabs.ShowForPage(4);
    EXPECT_TRUE(tabs.TabVisible(2));
}

TEST(DriveTabsTest, CaptionHasNumberAndSizeOnTwoLines) {
    PhysicalDriveInfo drive{};
    drive.driveIndex = 2;
    drive.capacityGB = 256;
    EXPECT_EQ(DriveTabCaption(drive), u"Disk2\n256GB");
    drive.capacityGB = 0x100000000ull + 7;  // "%d" takes the low 32 bits
    EXPECT_EQ(DriveTabCaption(drive), u"Disk2\n7GB");
}

}  // namespace
}  // namespace tarvex
