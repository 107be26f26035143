// The emulated PC remembers the folders it resolved; what other programs and this one change
// on the volumes must still be seen at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/last_error.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::sim {
namespace {

namespace fs = std::filesystem;
using platform::GetLastError;

void WriteText(platform::Files& files, std::u16string_view path, const std::string& text) {
    auto f = files.OpenStream(path, "wb");
    ASSERT_TRUE(f) << "error " << GetLastError();
    uint32_t n = 0;
    ASSERT_TRUE(f->Write(text.data(), static_cast<uint32_t>(text.size()), &n));
}

std::string ReadText(platform::Files& files, std::u16string_view path) {
    auto f = files.OpenStream(path, "rb");
    if (!f) {
        return "(error " + std::to_string(GetLastError()) + ")";
    }
    std::string out(64, '\0');
    uint32_t n = 0;
    EXPECT_TRUE(f->Read(out.data(), static_cast<uint32_t>(out.size()), &n));
    out.resize(n);
    return out;
}

TEST(SimPathResolution, FoldersThatAnotherProgramChangesAreResolvedAfresh) {
    test::TestMachine m;
    auto& files = m->Files();
    ASSERT_TRUE(files.CreateDirectory(u"C:\\Data"));
    ASSERT_TRUE(files.CreateDirectory(u"C:\\Data\\Logs"));
    WriteText(files, u"C:\\Data\\Logs\\a.log", "first");
    ASSERT_EQ(ReadText(files, u"C:\\Data\\Logs\\a.log"), "first");
    const fs::path data = m.Host(u"C:\\Data");

    // Another program on the PC renames the folder to another case: NTFS still finds it.
    fs::rename(data / "Logs", data / "LOGS");
    EXPECT_EQ(ReadText(files, u"C:\\Data\\Logs\\a.log"), "first") << "a renamed folder is looked up again";
    EXPECT_NE(files.GetFileAttributes(u"C:\\Data\\Logs\\a.log"), win::INVALID_FILE_ATTRIBUTES);

    // ... removes it: the folder is missing, not the file.
    fs::remove_all(data / "LOGS");
    EXPECT_EQ(files.GetFileAttributes(u"C:\\Data\\Logs\\a.log"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND);

    // ... creates it again in yet another case, with another file in it.
    fs::create_directory(data / "logs");
    std::ofstream(data / "logs" / "b.log") << "second";
    EXPECT_EQ(ReadText(files, u"C:\\Data\\Logs\\b.log"), "second");
    EXPECT_EQ(ReadText(files, u"C:\\Data\\Logs\\a.log"), "(error 2)") << "ERROR_FILE_NOT_FOUND in a folder that exists";

    // ... replaces the folder by a file of that name.
    fs::remove_all(data / "logs");
    std::ofstream(data / "Logs") << "not a folder";
    auto f = files.OpenStream(u"C:\\Data\\Logs\\b.log", "rb");
    EXPECT_FALSE(f);
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadText(files, u"C:\\Data\\Logs"), "not a folder");
}

TEST(SimPathResolution, WhatThisProgramRenamesOrRemovesIsSeenAtOnce) {
    test::TestMachine m;
    auto& files = m->Files();
    ASSERT_TRUE(files.CreateDirectory(u"C:\\Old"));
    WriteText(files, u"C:\\Old\\x.txt", "x");
    ASSERT_EQ(ReadText(files, u"C:\\Old\\x.txt"), "x");

    ASSERT_TRUE(files.MoveFileEx(u"C:\\Old", u"C:\\New", 0)) << "error " << GetLastError();
    EXPECT_EQ(ReadText(files, u"C:\\New\\x.txt"), "x");
    EXPECT_EQ(ReadText(files, u"C:\\Old\\x.txt"), "(error 3)") << "ERROR_PATH_NOT_FOUND: the folder moved";

    // A new folder under the old name, spelled differently, gets the new files.
    ASSERT_TRUE(files.CreateDirectory(u"C:\\OLD"));
    WriteText(files, u"C:\\Old\\y.txt", "y");
    EXPECT_EQ(test::ReadHostFile(m.Host(u"C:\\OLD") / "y.txt"), "y");
    EXPECT_EQ(m.Host(u"C:\\old\\y.txt").parent_path().filename(), "OLD");

    ASSERT_TRUE(files.DeleteFile(u"C:\\old\\y.txt"));
    ASSERT_TRUE(files.RemoveDirectory(u"C:\\Old"));
    EXPECT_EQ(files.GetFileAttributes(u"C:\\Old\\y.txt"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(files.CreateFile(u"C:\\Old\\z.txt", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0))
        << "no file is created in a removed folder";
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fs::exists(m.Host(u"C:\\") / "Old"));

    // A file that a stream appends to, line by line, as the trace does.
    ASSERT_TRUE(files.CreateDirectory(u"C:\\Trace"));
    for (int i = 0; i < 3; ++i) {
        auto line = files.OpenStream(u"C:\\Trace\\t.log", "ab");
        ASSERT_TRUE(line);
        uint32_t n = 0;
        ASSERT_TRUE(line->Write("l\n", 2, &n));
    }
    EXPECT_EQ(ReadText(files, u"C:\\trace\\T.LOG"), "l\nl\nl\n");
}

}  // namespace
}  // namespace tarvex::sim
