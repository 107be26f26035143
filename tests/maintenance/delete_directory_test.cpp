// DeleteDirectory over the emulated PC's files: what it deletes, what it keeps, and the error
// it returns when a removal fails.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/ata_command.h"
#include "maintenance/maintenance_test_helpers.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

class DeleteDirectoryTest : public ::testing::Test {
protected:
    DeleteDirectoryTest() : trace_(machine_), files_(machine_->Files()) {
        EXPECT_TRUE(files_.CreateDirectory(u"C:\\tmpxxxvarno"));
        EXPECT_TRUE(files_.CreateDirectory(u"C:\\tmpxxxvarno\\sub"));
        test::MakeFile(files_, u"C:\\tmpxxxvarno\\a.tmp");
        test::MakeFile(files_, u"C:\\tmpxxxvarno\\z.tmp");
        test::MakeFile(files_, u"C:\\tmpxxxvarno\\sub\\inner.tmp");
        test::MakeFile(files_, u"C:\\tmpxxxvarno\\readonly.tmp");
        EXPECT_TRUE(files_.SetFileAttributes(u"C:\\tmpxxxvarno\\readonly.tmp", win::FILE_ATTRIBUTE_READONLY));
    }
    bool Exists(const std::u16string& path) { return files_.GetFileAttributes(path) != win::INVALID_FILE_ATTRIBUTES; }

    test::TestMachine machine_;
    test::TraceCapture trace_;
    sim::SimFiles& files_;
    ATACommand ata_;
};

TEST_F(DeleteDirectoryTest, AMissingFolderIsNothingToDelete) {
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\nowhere", true), 0u);
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\nowhere\\deeper", false), 0u) << "its parent is missing too";
    EXPECT_EQ(ata_.DeleteDirectory(u"Q:\\tmpxxxvarno", true), 0u) << "no such drive";
}

TEST_F(DeleteDirectoryTest, WithoutRecursionTheFilesGoAndAFolderWithASubfolderStays) {
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\tmpxxxvarno", false), 0u);
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno\\a.tmp"));
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno\\z.tmp"));
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno\\readonly.tmp")) << "made writable first";
    EXPECT_TRUE(Exists(u"C:\\tmpxxxvarno\\sub\\inner.tmp"));
    EXPECT_TRUE(Exists(u"C:\\tmpxxxvarno"));

    // Once the subfolder is gone, the same call removes the folder.
    ASSERT_TRUE(files_.DeleteFile(u"C:\\tmpxxxvarno\\sub\\inner.tmp"));
    ASSERT_TRUE(files_.RemoveDirectory(u"C:\\tmpxxxvarno\\sub"));
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\tmpxxxvarno", false), 0u);
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno"));
}

TEST_F(DeleteDirectoryTest, RecursionRemovesNestedFoldersAndTheFolderItself) {
    ASSERT_TRUE(files_.CreateDirectory(u"C:\\tmpxxxvarno\\sub\\deeper"));
    test::MakeFile(files_, u"C:\\tmpxxxvarno\\sub\\deeper\\x.tmp");
    ASSERT_TRUE(files_.SetFileAttributes(u"C:\\tmpxxxvarno\\sub\\deeper\\x.tmp", win::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\tmpxxxvarno", true), 0u);
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno"));
    EXPECT_TRUE(Exists(u"C:\\Tools")) << "the folder beside it stays";
    EXPECT_FALSE(test::HasInOrder(trace_.Lines(), {"DeleteDirectory::DeleteFile fail. Error code = 0x5"}));
}

TEST_F(DeleteDirectoryTest, AFailingRemovalReturnsItsErrorAndStopsTheWalk) {
    // A file held open without delete sharing cannot go, so its folder stays non-empty.
    auto held = files_.CreateFile(u"C:\\tmpxxxvarno\\sub\\inner.tmp", win::GENERIC_READ, win::FILE_SHARE_READ,
                                  win::OPEN_EXISTING, 0);
    ASSERT_TRUE(held);
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\tmpxxxvarno", true), win::ERROR_DIR_NOT_EMPTY)
        << "the error of the removal, not one left by writing the trace";
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno\\a.tmp")) << "files before the subfolder went";
    EXPECT_TRUE(Exists(u"C:\\tmpxxxvarno\\z.tmp")) << "the walk ended at the failing subfolder";
    EXPECT_TRUE(test::HasInOrder(trace_.Lines(), {"DeleteDirectory::DeleteFile fail. Error code = 0x20", "",
                                                  "DeleteDirectory::RemoveDirectory fail. Error code = 0x91", "",
                                                  "DeleteDirectory::DeleteDirectory fail. Error code = 0x91", ""}))
        << trace_.Text();

    held.reset();
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\tmpxxxvarno", true), 0u) << "released, everything goes";
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno"));
}

TEST_F(DeleteDirectoryTest, ALinkToAFolderIsRemovedWithoutEnteringIt) {
    ASSERT_TRUE(files_.CreateDirectory(u"C:\\Users"));
    test::MakeFile(files_, u"C:\\Users\\keep.doc", "the user's own");
    std::filesystem::create_directory_symlink(machine_.Host(u"C:\\Users"),
                                              machine_.Host(u"C:\\tmpxxxvarno\\sub") / "users");
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\tmpxxxvarno", true), 0u);
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno"));
    EXPECT_EQ(test::ReadHostFile(machine_.Host(u"C:\\Users\\keep.doc")), "the user's own");

    // The same when the folder given is itself a link.
    std::filesystem::create_directory_symlink(machine_.Host(u"C:\\Users"),
                                              machine_.Host(u"C:\\Users").parent_path() / "tmpxxxvarno");
    EXPECT_EQ(ata_.DeleteDirectory(u"C:\\tmpxxxvarno", true), 0u);
    EXPECT_FALSE(Exists(u"C:\\tmpxxxvarno"));
    EXPECT_TRUE(Exists(u"C:\\Users\\keep.doc"));
}

}  // namespace
}  // namespace tarvex
