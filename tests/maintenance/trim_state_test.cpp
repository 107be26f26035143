// The TRIM run state in the registry: the product's registry helpers, the one-hour
// in-progress test on either key, and the start-up recovery with its clean-up of the
// temporary folders of an interrupted run.
#include <gtest/gtest.h>

#include <cstring>

#include "app/startup.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "maintenance/trim_cleanup.h"
#include "maintenance/trim_state.h"
#include "maintenance/maintenance_test_helpers.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

using test::HasInOrder;
using test::TraceLines;

TEST(TrimInProgress, ARunCountsAsUnderWayForOneHourFromItsStartOnEitherKey) {
    test::TestMachine m;
    ATACommand ata;
    const int64_t now = CurrentTime();
    for (const char16_t* key : {kTrimStateKey, kStartupTrimStateKey}) {
        SCOPED_TRACE(platform::Utf16ToUtf8(key));
        EXPECT_FALSE(TrimRunUnderWay(ata, key, now)) << "nothing stored: no run";
        test::SetDword(key, kTrimInProgressValue, 1);
        EXPECT_FALSE(TrimRunUnderWay(ata, key, now)) << "a missing start reads as 1970";
        test::SetQword(key, kTrimStartAtValue, static_cast<uint64_t>(now - 3599));
        EXPECT_TRUE(TrimRunUnderWay(ata, key, now)) << "3599 s ago";
        test::SetQword(key, kTrimStartAtValue, static_cast<uint64_t>(now - 3600));
        EXPECT_FALSE(TrimRunUnderWay(ata, key, now)) << "3600 s ago";
        test::SetQword(key, kTrimStartAtValue, static_cast<uint64_t>(now + 600));
        EXPECT_TRUE(TrimRunUnderWay(ata, key, now)) << "a start in the future (clock turned back)";
        test::SetDword(key, kTrimInProgressValue, 2);
        EXPECT_FALSE(TrimRunUnderWay(ata, key, now)) << "only 1 means under way";
        test::SetDword(key, kTrimInProgressValue, 0);
        EXPECT_FALSE(TrimRunUnderWay(ata, key, now));
    }
    test::SetDword(kTrimStateKey, kTrimInProgressValue, 1);
    test::SetQword(kTrimStateKey, kTrimStartAtValue, static_cast<uint64_t>(now));
    EXPECT_TRUE(TrimRunUnderWay(ata, kTrimStateKey, now));
    EXPECT_FALSE(TrimRunUnderWay(ata, kStartupTrimStateKey, now)) << "the two keys are separate";
}

TEST(TrimInProgress, StartTimesFarFromNowNeitherOverflowNorWrapAround) {
    EXPECT_FALSE(TrimStartIsRecent(INT64_MAX, INT64_MIN)) << "a start long past is dead, not wrapped to the future";
    EXPECT_TRUE(TrimStartIsRecent(INT64_MIN, INT64_MAX));
    EXPECT_TRUE(TrimStartIsRecent(1000, 1000));
    EXPECT_FALSE(TrimStartIsRecent(1000, INT64_MIN + 5));

    // The stored QWORD is read as signed seconds: its top bit set is a start before 1970.
    test::TestMachine m;
    ATACommand ata;
    test::SetDword(kTrimStateKey, kTrimInProgressValue, 1);
    test::SetQword(kTrimStateKey, kTrimStartAtValue, 0x8000000000000000ull);
    EXPECT_FALSE(TrimRunUnderWay(ata, kTrimStateKey, CurrentTime()));
}

TEST(VarnoRegistry, ValuesRoundTripAndAMissingOrOversizedValueKeepsTheDefault) {
    test::TestMachine m;
    test::TraceCapture trace(m);
    ATACommand ata;
    uint32_t value = 7;
    EXPECT_EQ(ata.ReadVarnoRegistry(u"SOFTWARE\\VARNO\\SSDVelmora\\none", u"ScheduledTrimInterval", 4, win::REG_DWORD,
                                    &value),
              win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 7u) << "no key: the default stays";

    const uint64_t start = 0x0000000123456789ull;
    EXPECT_EQ(ata.WriteVarnoRegistry(kTrimStateKey, kTrimStartAtValue, 8, win::REG_QWORD, &start), 0u);
    uint64_t readBack = 0;
    EXPECT_EQ(ata.ReadVarnoRegistry(kTrimStateKey, kTrimStartAtValue, 8, win::REG_QWORD, &readBack), 0u);
    EXPECT_EQ(readBack, start);
    const auto stored = m->Registry().Read(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\VARNO\\SSDVelmora", kTrimStartAtValue);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, win::REG_QWORD);

    value = 7;
    EXPECT_EQ(ata.ReadVarnoRegistry(kTrimStateKey, u"Missing", 4, win::REG_DWORD, &value), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(ata.ReadVarnoRegistry(kTrimStateKey, kTrimStartAtValue, 4, win::REG_DWORD, &value), win::ERROR_MORE_DATA);
    EXPECT_EQ(value, 7u) << "a value that does not fit leaves none of itself behind";
    EXPECT_EQ(m->Registry().OpenHandleCount(), 0u) << "every key is closed";
    ASSERT_FALSE(m->Registry().EnabledPrivileges().empty());
    EXPECT_EQ(m->Registry().EnabledPrivileges()[0], u"SeRestorePrivilege");

    const auto lines = trace.Lines();
    EXPECT_TRUE(HasInOrder(lines, {"Enter ATACommand::ReadVarnoRegistry()", "Exit ATACommand::ReadVarnoRegistry()",
                                   "Enter ATACommand::WriteVarnoRegistry()", "Exit ATACommand::WriteVarnoRegistry()",
                                   "Enter ATACommand::ReadVarnoRegistry()", "Exit ATACommand::ReadVarnoRegistry()",
                                   "Enter ATACommand::ReadVarnoRegistry()",
                                   "ATACommand::ReadVarnoRegistry--RegQueryValueEx() fail: 0x2", "",
                                   "Exit ATACommand::ReadVarnoRegistry()",
                                   "ATACommand::ReadVarnoRegistry--RegQueryValueEx() fail: 0xEA"}))
        << trace.Text();
}

// A PC with two SATA drives and a USB disk: C: (NTFS) and D: (FAT32) on drive 0, E: (NTFS) on
// drive 1, F: (NTFS) on the USB disk, which the drive table leaves out.
nlohmann::json RecoveryPc() {
    nlohmann::json p = test::BaseProfile();
    p["disks"] = nlohmann::json::parse(R"([
      {"number": 0, "kind": "sata", "model": "VARNO TL30A 256GB", "serial": "VR0000000001", "firmware": "1.08",
       "capacityBytes": 256060514304},
      {"number": 1, "kind": "sata", "model": "Kestrel KS500 500GB", "serial": "KS0000000003", "firmware": "KS0230A",
       "capacityBytes": 500107862016},
      {"number": 2, "kind": "usb", "model": "Ardent FlashStick 32GB", "serial": "AR0000000004", "firmware": "1.00",
       "capacityBytes": 32010928128}
    ])");
    p["volumes"] = nlohmann::json::parse(R"([
      {"letter": "C", "disk": 0, "partition": 1, "sizeBytes": 107374182400},
      {"letter": "D", "fileSystem": "FAT32", "disk": 0, "partition": 2, "sizeBytes": 10737418240},
      {"letter": "E", "disk": 1, "partition": 1, "sizeBytes": 107374182400},
      {"letter": "F", "disk": 2, "partition": 1, "sizeBytes": 10737418240}
    ])");
    return p;
}

class TrimRecoveryTest : public ::testing::Test {
protected:
    TrimRecoveryTest() : machine_(RecoveryPc()) {
        ResetTraceForTesting();
        (void)RunStartupCore();
        PhysicalDriveTable().clear();
        DriveCount = GlobalAtaCommand().UpdatePhysicalDrivesInfo(PhysicalDriveTable());
        files_ = &machine_->Files();
        // What an interrupted run leaves: fill files, nested folders, a read-only file.
        for (const char16_t* letter : {u"C:", u"D:", u"E:", u"F:"}) {
            const std::u16string folder = TrimTempFolderOf(letter);
            EXPECT_TRUE(files_->CreateDirectory(folder));
            test::MakeFile(*files_, folder + u"\\xxxtmpxxxvarnoxxxwtf0.tmp");
        }
        EXPECT_TRUE(files_->CreateDirectory(u"C:\\tmpxxxvarno\\sub"));
        EXPECT_TRUE(files_->CreateDirectory(u"C:\\tmpxxxvarno\\sub\\deeper"));
        test::MakeFile(*files_, u"C:\\tmpxxxvarno\\sub\\deeper\\xxxtmpxxxvarnoxxxwtf1.tmp");
        test::MakeFile(*files_, u"C:\\tmpxxxvarno\\sub\\locked.tmp");
        EXPECT_TRUE(files_->SetFileAttributes(u"C:\\tmpxxxvarno\\sub\\locked.tmp", win::FILE_ATTRIBUTE_READONLY));
        test::SetDword(u"SYSTEM\\CurrentControlSet\\Control\\FileSystem", u"DisableDeleteNotification", 1);
        test::SetDword(kTrimStateKey, kTrimInProgressValue, 1);
        test::SetQword(kTrimStateKey, kTrimStartAtValue, static_cast<uint64_t>(CurrentTime() - 7200));
    }
    ~TrimRecoveryTest() override {
        SetTraceLevel(0);
        ResetTraceForTesting();
        PhysicalDriveTable().clear();
        DriveCount = 0;
    }
    bool Exists(const std::u16string& path) { return files_->GetFileAttributes(path) != win::INVALID_FILE_ATTRIBUTES; }
    std::optional<uint32_t> Stored(const std::u16string& key, const char16_t* name) {
        return test::ReadDword(machine_, key, name);
    }
    std::vector<std::string> Lines() { return TraceLines(machine_); }

    test::TestMachine machine_;
    platform::Files* files_ = nullptr;
};

TEST_F(TrimRecoveryTest, ARunStarted3599SecondsAgoIsLeftAlone) {
    ASSERT_EQ(DriveCount, 2);
    test::SetDword(kStartupTrimStateKey, kTrimInProgressValue, 1);
    test::SetQword(kStartupTrimStateKey, kTrimStartAtValue, static_cast<uint64_t>(CurrentTime() - 3599));
    RecoverInterruptedTrim();
    EXPECT_EQ(Stored(kStartupTrimStateKey, kTrimInProgressValue), 1u);
    EXPECT_EQ(Stored(u"SYSTEM\\CurrentControlSet\\Control\\FileSystem", u"DisableDeleteNotification"), 1u);
    EXPECT_TRUE(Exists(u"C:\\tmpxxxvarno\\sub\\deeper\\xxxtmpxxxvarnoxxxwtf1.tmp"));
    EXPECT_TRUE(Exists(u"E:\\tmpxxxvarno\\xxxtmpxxxvarnoxxxwtf0.tmp"));
    const auto lines = Lines();
    EXPECT_TRUE(HasInOrder(lines, {"Enter ATACommand::ReadVarnoRegistry()", "Exit ATACommand::ReadVarnoRegistry()",
                                   "Enter ATACommand::ReadVarnoRegistry()", "Exit ATACommand::ReadVarnoRegistry()",
                                   "Check tmp folder done!"}));
    EXPECT_FALSE(HasInOrder(lines, {"Enter ATACommand::WriteVarnoRegistry()"}));
    EXPECT_FALSE(HasInOrder(lines, {"Enter ATACommand::DeleteTrimTempFolder()"}));
}

TEST_F(TrimRecoveryTest, ARunStartedAnHourAgoIsResetAndItsNtfsFoldersOnTableDrivesRemoved) {
    ASSERT_EQ(DriveCount, 2);
    test::SetDword(kStartupTrimStateKey, kTrimInProgressValue, 1);
    test::SetQword(kStartupTrimStateKey, kTrimStartAtValue, static_cast<uint64_t>(CurrentTime() - 3600));
    RecoverInterruptedTrim();
    EXPECT_EQ(Stored(kStartupTrimStateKey, kTrimInProgressValue), 0u);
    EXPECT_EQ(Stored(kTrimStateKey, kTrimInProgressValue), 1u) << "the product key is not the start-up key";
    EXPECT_EQ(Stored(u"SYSTEM\\CurrentControlSet\\Control\\FileSystem", u"DisableDeleteNotification"), 0u);
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno")) << "nested folders and a read-only file go too";
    EXPECT_FALSE(Exists(u"E:\\tmpxxxvarno")) << "the second drive of the table";
    EXPECT_TRUE(Exists(u"D:\\tmpxxxvarno\\xxxtmpxxxvarnoxxxwtf0.tmp")) << "FAT32 takes no part";
    EXPECT_TRUE(Exists(u"F:\\tmpxxxvarno\\xxxtmpxxxvarnoxxxwtf0.tmp")) << "the USB disk is not in the table";
    EXPECT_TRUE(Exists(u"C:\\Tools")) << "nothing else on the volume";

    EXPECT_TRUE(HasInOrder(Lines(), {"Enter ATACommand::ReadVarnoRegistry()", "Exit ATACommand::ReadVarnoRegistry()",
                                     "Enter ATACommand::ReadVarnoRegistry()", "Exit ATACommand::ReadVarnoRegistry()",
                                     "Enter ATACommand::WriteVarnoRegistry()", "Exit ATACommand::WriteVarnoRegistry()",
                                     "Enter ATACommand::DeleteTrimTempFolder()",
                                     "SetDeleteNotificationRegistry::RegSetValueEx():0 .", "",
                                     "Enter UnderlyingUtil::GetLogicalDriveInfo()",
                                     "Exit UnderlyingUtil::GetLogicalDriveInfo()",
                                     "Enter UnderlyingUtil::GetLogicalDriveInfo()",
                                     "Exit UnderlyingUtil::GetLogicalDriveInfo()",
                                     "Exit ATACommand::DeleteTrimTempFolder()", "Check tmp folder done!"}))
        << test::ReadHostFile(machine_.Host(u"C:\\Tools\\Tarvex.log"));
    EXPECT_FALSE(HasInOrder(Lines(), {"DeleteDirectory::DeleteFile fail. Error code = 0x5"}));
}

TEST_F(TrimRecoveryTest, AFirstStartWithNoStateCleansUpAndRecordsNoRun) {
    RecoverInterruptedTrim();
    EXPECT_EQ(Stored(kStartupTrimStateKey, kTrimInProgressValue), 0u) << "the key is made with the value";
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno"));
    EXPECT_TRUE(HasInOrder(Lines(), {"Exit ATACommand::DeleteTrimTempFolder()", "Check tmp folder done!"}));
}

TEST_F(TrimRecoveryTest, OnlyAPlainFolderIsTakenForALeftover) {
    // A read-only folder is not what a run made: it is left as it is.
    ASSERT_TRUE(files_->SetFileAttributes(u"E:\\tmpxxxvarno", win::FILE_ATTRIBUTE_READONLY));
    GlobalAtaCommand().DeleteTrimTempFolder();
    EXPECT_TRUE(Exists(u"E:\\tmpxxxvarno\\xxxtmpxxxvarnoxxxwtf0.tmp"));
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno"));
}

}  // namespace
}  // namespace tarvex
