// Replacing a whole text file on the emulated PC, on a drive mapped onto a host folder: plain
// files are replaced in one step through a temporary of their own, devices and links are written
// in place, and a user's file is never taken for a temporary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "app/file_output.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;

class FileOutputTest : public ::testing::Test {
protected:
    FileOutputTest() {
        letter_ = machine_->Files().FreeDriveLetter();
        mapped_ = machine_->Files().AddMappedDrive(letter_, host_.Path());
    }
    std::u16string On(const std::u16string& name) const { return std::u16string(1, letter_) + u":\\" + name; }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(host_.Path())) {
            names.insert(e.path().filename().string());
        }
        return names;
    }
    test::TestMachine machine_;
    test::TempDir host_;
    char16_t letter_ = 0;
    bool mapped_ = false;
};

TEST_F(FileOutputTest, APlainFileIsReplacedAndAUsersTmpFileIsKept) {
    ASSERT_TRUE(mapped_);
    std::ofstream(host_.Path() / "notes.txt") << "old";
    std::ofstream(host_.Path() / "notes.txt.tmp") << "precious";
    const FileOutcome outcome = ReplaceFileWithText(On(u"notes.txt"), "one\ntwo\n");
    ASSERT_TRUE(outcome.ok) << platform::Utf16ToUtf8(outcome.reason);
    EXPECT_EQ(test::ReadHostFile(host_.Path() / "notes.txt"), "one\r\ntwo\r\n");
    EXPECT_EQ(test::ReadHostFile(host_.Path() / "notes.txt.tmp"), "precious") << "a user's file, not ours";
    EXPECT_EQ(Names(), (std::set<std::string>{"notes.txt", "notes.txt.tmp"})) << "no temporary left behind";

    // A file that cannot be replaced keeps its content, and its temporary goes away.
    ASSERT_EQ(::chmod((host_.Path() / "notes.txt").c_str(), 0444), 0);
    EXPECT_FALSE(ReplaceFileWithText(On(u"notes.txt"), "three\n").ok);
    EXPECT_EQ(test::ReadHostFile(host_.Path() / "notes.txt"), "one\r\ntwo\r\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"notes.txt", "notes.txt.tmp"}));
}

TEST_F(FileOutputTest, ALinkIsFollowedToItsTargetAndStaysALink) {
    ASSERT_TRUE(mapped_);
    std::ofstream(host_.Path() / "target.txt") << "kept";
    fs::create_symlink("target.txt", host_.Path() / "link.txt");
    fs::create_symlink("new.txt", host_.Path() / "dangling.txt");
    ASSERT_TRUE(ReplaceFileWithText(On(u"link.txt"), "report\n").ok);
    EXPECT_TRUE(fs::is_symlink(host_.Path() / "link.txt"));
    EXPECT_EQ(test::ReadHostFile(host_.Path() / "target.txt"), "report\r\n");

    ASSERT_TRUE(ReplaceFileWithText(On(u"dangling.txt"), "made\n").ok);
    EXPECT_TRUE(fs::is_symlink(host_.Path() / "dangling.txt"));
    EXPECT_EQ(test::ReadHostFile(host_.Path() / "new.txt"), "made\r\n") << "the link's target is created";
    EXPECT_EQ(Names(), (std::set<std::string>{"dangling.txt", "link.txt", "new.txt", "target.txt"}));
}

TEST_F(FileOutputTest, AFifoOrADeviceNodeIsWrittenAndStaysWhatItWas) {
    ASSERT_TRUE(mapped_);
    const fs::path fifo = host_.Path() / "pipe.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    // Hold both ends, with room for the whole text, so the write neither waits nor breaks.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_TRUE(ReplaceFileWithText(On(u"pipe.log"), "through\n").ok);
    char buffer[64] = {};
    const ssize_t n = ::read(reader, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), "through\r\n");
    ::close(writer);
    ::close(reader);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced by a plain file";

    // A null device of our own (making one needs root; the FIFO above covers the rest).
    const fs::path null = host_.Path() / "mynull";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        ASSERT_TRUE(ReplaceFileWithText(On(u"mynull"), "gone\n").ok);
        ASSERT_EQ(::lstat(null.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device node was replaced by a plain file";
    }
    EXPECT_EQ(Names().count("pipe.log"), 1u);
    for (const std::string& name : Names()) {
        EXPECT_TRUE(name == "pipe.log" || name == "mynull") << "left behind: " << name;
    }
}

}  // namespace
}  // namespace tarvex
