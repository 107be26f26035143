// The report's partition rows come only from bytes the disk returned: a short read is never
// padded with zeros that would pass for the disk's own.
#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "support/fake_devices.h"
#include "support/test_machine.h"
#include "sysinfo/report.h"

namespace tarvex {
namespace {

TEST(ReportPartitionRows, OnlyWholeSectorsTheDiskReturnedAreShown) {
    test::TestMachine machine;
    test::FakeDevices fake;
    const test::WithFakeDevices installed(machine->Platform(), fake);
    InitGlobalAtaCommand();
    PhysicalDriveInfo record = EmptyDriveRecord();
    record.driveIndex = 1;

    std::vector<uint8_t> disk(1024, 0x11);
    disk[450] = 0xEE;  // protective MBR: a GPT disk
    disk[600] = 0x22;
    fake.diskBytes = disk;
    ReportDrive d = BuildReportDrive(record);
    EXPECT_TRUE(d.gpt);
    ASSERT_EQ(d.partitionBytes.size(), 1024u);
    EXPECT_EQ(d.partitionBytes[600], 0x22);

    fake.diskBytes.assign(disk.begin(), disk.begin() + 700);
    d = BuildReportDrive(record);
    EXPECT_FALSE(d.gpt) << "without its second sector the GPT header is not shown as zeros";
    ASSERT_EQ(d.partitionBytes.size(), 512u);
    EXPECT_EQ(d.partitionBytes[0], 0x11) << "the MBR that did come back is shown";

    fake.diskBytes.assign(disk.begin(), disk.begin() + 100);
    d = BuildReportDrive(record);
    EXPECT_FALSE(d.gpt);
    ASSERT_EQ(d.partitionBytes.size(), 512u);
    EXPECT_EQ(std::count(d.partitionBytes.begin(), d.partitionBytes.end(), 0), 512)
        << "a part of a sector is no partition table: rows of zeros as for an unreadable disk";
}

}  // namespace
}  // namespace tarvex
