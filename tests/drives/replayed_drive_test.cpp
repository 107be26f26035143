// The program's drive scan over an emulated drive that replays raw pages: the attributes and
// thresholds it reads are the pages' own, paired by slot, and its health rules see them as
// they would on the real drive.
#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/text.h"
#include "platform_sim/devices/sample_pages.h"
#include "support/test_machine.h"
#include "sysinfo/underlying_util.h"

namespace tarvex {
namespace {

using namespace test::sample_pages;

class ReplayedDriveTest : public ::testing::Test {
protected:
    ReplayedDriveTest() : machine_([] {
        nlohmann::json p = test::BaseProfile();
        p["disks"] = nlohmann::json::array({PagedDisk(InlinePages())});
        return p;
    }()) {
        InitGlobalAtaCommand();
        WmiDiskList().clear();
    }
    ~ReplayedDriveTest() override {
        WmiDiskList().clear();
        PhysicalDriveTable().clear();
    }
    test::TestMachine machine_;
};

TEST_F(ReplayedDriveTest, TheScanReadsThePagesAsTheRealDriveGaveThem) {
    std::vector<PhysicalDriveInfo> table;
    ASSERT_EQ(GlobalAtaCommand().UpdatePhysicalDrivesInfo(table), 1);
    const PhysicalDriveInfo& d = table[0];
    EXPECT_EQ(platform::FixedText(d.modelNumber), u"DUMPED DISK");
    ASSERT_EQ(d.attributeCount, 4u) << "the empty slot is skipped, attribute 9 is there twice";
    const uint8_t ids[] = {1, 9, 9, 194};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(d.attributes[i].id, ids[i]) << i;
    }
    EXPECT_EQ(d.thresholdEntries[0].id, 5) << "the threshold of the same slot, though another id";
    EXPECT_EQ(d.thresholdEntries[0].threshold, 10);
    EXPECT_EQ(d.thresholdEntries[1].id, 1) << "slot 2 of the threshold page";
    EXPECT_EQ(d.thresholdEntries[1].threshold, 50);
    EXPECT_EQ(GlobalAtaCommand().GetDriveTemperature(d), 40);
    EXPECT_EQ(GlobalAtaCommand().CheckDiskStatus(d), 2) << "a repeated attribute id means caution";
}

}  // namespace
}  // namespace tarvex
