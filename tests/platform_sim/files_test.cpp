#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/last_error.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::sim {
namespace {

using platform::GetLastError;

std::string ReadAll(platform::File& f) {
    std::string out;
    char buf[7];  // small, so CR LF pairs fall across reads
    uint32_t n = 0;
    while (f.Read(buf, sizeof buf, &n) && n > 0) {
        out.append(buf, n);
    }
    return out;
}

void WriteText(platform::Files& files, std::u16string_view path, const char* mode, const std::string& text) {
    auto f = files.OpenStream(path, mode);
    ASSERT_TRUE(f) << "error " << GetLastError();
    uint32_t n = 0;
    ASSERT_TRUE(f->Write(text.data(), static_cast<uint32_t>(text.size()), &n));
    EXPECT_EQ(n, text.size());
}

TEST(SimFiles, ProgramFileResolvesFromCurrentDirectoryWithPinnedTime) {
    test::TestMachine m;
    auto& files = m->Files();
    EXPECT_EQ(files.GetCurrentDirectory(), u"C:\\Tools");
    auto exe = files.CreateFile(u"Tarvex.exe", win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING, 0);
    ASSERT_TRUE(exe) << "error " << GetLastError();
    platform::FileTime write;
    ASSERT_TRUE(exe->GetFileTime(nullptr, nullptr, &write));
    EXPECT_EQ(platform::UnixMsFromFileTime(write), 1489438140000) << "the profile pins the write time";
    char magic[4] = {};
    uint32_t n = 0;
    ASSERT_TRUE(exe->Read(magic, 4, &n));
    EXPECT_EQ(std::string(magic + 1, 3), "ELF") << "the program file is the host program";
    EXPECT_FALSE(files.CreateFile(u"C:\\TOOLS\\TARVEX.EXE", win::GENERIC_WRITE, 0, win::OPEN_EXISTING, 0));
    EXPECT_EQ(GetLastError(), win::ERROR_SHARING_VIOLATION) << "a running program cannot be written";
    EXPECT_FALSE(files.DeleteFile(u"C:\\Tools\\Tarvex.exe"));

    ASSERT_TRUE(files.CreateDirectory(u"C:\\Other"));
    ASSERT_TRUE(files.SetCurrentDirectory(u"C:\\Other"));
    EXPECT_FALSE(files.CreateFile(u"Tarvex.exe", win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING, 0));
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND) << "started from another folder, the name finds nothing";
}

TEST(SimFiles, TextStreamsWriteCrLfAndReadItBack) {
    test::TestMachine m;
    auto& files = m->Files();
    WriteText(files, u"C:\\report.txt", "wc", "line one\nline two\n");
    WriteText(files, u"C:\\report.txt", "ac", "three\n");
    EXPECT_EQ(test::ReadHostFile(m.Host(u"C:\\report.txt")), "line one\r\nline two\r\nthree\r\n");
    auto text = files.OpenStream(u"c:\\REPORT.TXT", "r");
    ASSERT_TRUE(text);
    EXPECT_EQ(ReadAll(*text), "line one\nline two\nthree\n");
    text.reset();

    WriteText(files, u"C:\\image.bin", "wb", "a\nb\r\n");
    EXPECT_EQ(test::ReadHostFile(m.Host(u"C:\\image.bin")), "a\nb\r\n") << "binary streams are not translated";
    WriteText(files, u"C:\\image.bin", "wb", "x");
    EXPECT_EQ(test::ReadHostFile(m.Host(u"C:\\image.bin")), "x") << "\"w\" truncates";
    EXPECT_FALSE(files.OpenStream(u"C:\\missing.txt", "r"));
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST(SimFiles, PathsResolveLikeWindows) {
    test::TestMachine m;
    auto& files = m->Files();
    ASSERT_TRUE(files.CreateDirectory(u"C:\\Data"));
    WriteText(files, u"C:\\Data\\Notes.TXT", "w", "x");
    EXPECT_EQ(files.GetFileAttributes(u"c:/data/notes.txt"), win::FILE_ATTRIBUTE_ARCHIVE)
        << "slashes and case do not matter";
    EXPECT_TRUE(files.SetCurrentDirectory(u"C:\\Data"));
    EXPECT_EQ(files.GetFileAttributes(u".//notes.txt"), win::FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(files.GetFileAttributes(u"..\\..\\..\\Data\\NOTES.txt"), win::FILE_ATTRIBUTE_ARCHIVE)
        << "\"..\" stops at the root";
    EXPECT_EQ(*m->Files().FullPath(u"sub\\.\\x.bat"), u"C:\\Data\\sub\\x.bat");
    EXPECT_EQ(m.Host(u"C:\\Data\\notes.txt").filename(), "Notes.TXT") << "the case it was made with stays";

    EXPECT_EQ(files.GetFileAttributes(u"Q:\\x"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND) << "no such drive";
    EXPECT_EQ(files.GetFileAttributes(u"C:\\a<b"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), win::ERROR_INVALID_NAME);
    EXPECT_EQ(files.GetFileAttributes(u"C:\\NoDir\\x"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(files.GetFileAttributes(u"C:\\Data\\nothing"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(files.CreateFile(u"\\\\.\\PhysicalDrive0", win::GENERIC_READ, 3, win::OPEN_EXISTING, 0))
        << "devices are not files";
}

TEST(SimFiles, SharingModesAndReadOnlyAreEnforced) {
    test::TestMachine m;
    auto& files = m->Files();
    auto exclusive = files.CreateFile(u"C:\\lock.tmp", win::GENERIC_WRITE, 0, win::CREATE_ALWAYS, 0);
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(files.CreateFile(u"C:\\LOCK.tmp", win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                  win::OPEN_EXISTING, 0));
    EXPECT_EQ(GetLastError(), win::ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(files.DeleteFile(u"C:\\lock.tmp"));
    EXPECT_EQ(GetLastError(), win::ERROR_SHARING_VIOLATION);
    exclusive.reset();
    EXPECT_TRUE(files.CreateFile(u"C:\\lock.tmp", win::FILE_READ_ATTRIBUTES,
                                 win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE,
                                 win::OPEN_EXISTING, 0));

    EXPECT_FALSE(files.CreateFile(u"C:\\lock.tmp", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0));
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_EXISTS);
    ASSERT_TRUE(files.SetFileAttributes(u"C:\\lock.tmp", win::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(files.GetFileAttributes(u"C:\\lock.tmp"), win::FILE_ATTRIBUTE_ARCHIVE | win::FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(files.DeleteFile(u"C:\\lock.tmp"));
    EXPECT_EQ(GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(files.OpenStream(u"C:\\lock.tmp", "a"));
    ASSERT_TRUE(files.SetFileAttributes(u"C:\\lock.tmp", win::FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(files.DeleteFile(u"C:\\lock.tmp"));
    EXPECT_FALSE(files.DeleteFile(u"C:\\lock.tmp"));
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST(SimFiles, FoldersListDotEntriesAndEndWithNoMoreFiles) {
    test::TestMachine m;
    auto& files = m->Files();
    ASSERT_TRUE(files.CreateDirectory(u"C:\\tmpxxxvarno"));
    EXPECT_FALSE(files.CreateDirectory(u"C:\\tmpxxxvarno"));
    EXPECT_EQ(GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(files.CreateDirectory(u"C:\\missing\\child"));
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(files.GetFileAttributes(u"C:\\tmpxxxvarno"), win::FILE_ATTRIBUTE_DIRECTORY);
    WriteText(files, u"C:\\tmpxxxvarno\\b1.tmp", "wb", "12345");
    WriteText(files, u"C:\\tmpxxxvarno\\A0", "wb", "");

    platform::FindData d;
    auto find = files.FindFirstFile(u"C:\\tmpxxxvarno\\*.*", &d);
    ASSERT_TRUE(find);
    std::vector<std::u16string> names{d.fileName};
    std::vector<uint64_t> sizes{d.size};
    while (find->FindNext(&d)) {
        names.push_back(d.fileName);
        sizes.push_back(d.size);
    }
    EXPECT_EQ(GetLastError(), win::ERROR_NO_MORE_FILES);
    EXPECT_EQ(names, (std::vector<std::u16string>{u".", u"..", u"A0", u"b1.tmp"}))
        << "\"*.*\" matches names without a dot too";
    EXPECT_EQ(sizes[3], 5u);

    EXPECT_FALSE(files.FindFirstFile(u"C:\\tmpxxxvarno\\*.bin", &d));
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(files.FindFirstFile(u"C:\\nowhere\\*.*", &d));
    EXPECT_EQ(GetLastError(), win::ERROR_PATH_NOT_FOUND);
    auto tools = files.FindFirstFile(u"C:\\Tools\\*.exe", &d);
    ASSERT_TRUE(tools);
    EXPECT_EQ(d.fileName, u"Tarvex.exe") << "the program file is listed in its folder";

    EXPECT_FALSE(files.RemoveDirectory(u"C:\\tmpxxxvarno"));
    EXPECT_EQ(GetLastError(), win::ERROR_DIR_NOT_EMPTY);
    EXPECT_TRUE(files.DeleteFile(u"C:\\tmpxxxvarno\\b1.tmp"));
    EXPECT_TRUE(files.DeleteFile(u"C:\\tmpxxxvarno\\a0"));
    EXPECT_FALSE(files.DeleteFile(u"C:\\tmpxxxvarno")) << "DeleteFile does not remove folders";
    EXPECT_TRUE(files.RemoveDirectory(u"C:\\tmpxxxvarno"));
}

TEST(SimFiles, MovesReplaceInOneStepAndRefuseWhatWindowsRefuses) {
    test::TestMachine m;
    auto& files = m->Files();
    WriteText(files, u"C:\\Tools\\new.tmp", "w", "new\n");
    WriteText(files, u"C:\\Tools\\report.log", "w", "old\n");
    EXPECT_FALSE(files.MoveFileEx(u"C:\\Tools\\new.tmp", u"C:\\Tools\\report.log", 0));
    EXPECT_EQ(GetLastError(), win::ERROR_ALREADY_EXISTS);
    {
        auto reader = files.CreateFile(u"C:\\Tools\\report.log", win::GENERIC_READ, win::FILE_SHARE_READ,
                                       win::OPEN_EXISTING, 0);
        ASSERT_TRUE(reader);
        EXPECT_FALSE(files.MoveFileEx(u"C:\\Tools\\new.tmp", u"C:\\Tools\\report.log",
                                      win::MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(GetLastError(), win::ERROR_SHARING_VIOLATION) << "open without delete sharing";
    }
    ASSERT_TRUE(files.MoveFileEx(u"C:\\Tools\\new.tmp", u"c:\\tools\\REPORT.LOG", win::MOVEFILE_REPLACE_EXISTING));
    auto f = files.OpenStream(u"C:\\Tools\\report.log", "r");
    ASSERT_TRUE(f);
    EXPECT_EQ(ReadAll(*f), "new\n");
    EXPECT_EQ(files.GetFileAttributes(u"C:\\Tools\\new.tmp"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(files.MoveFileEx(u"C:\\Tools\\missing", u"C:\\Tools\\x", 0));
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(files.MoveFileEx(u"C:\\Tools\\report.log", u"D:\\report.log", 0)) << "another volume";
}

TEST(SimFiles, AMappedDriveReachesAHostFolderAndCostsNoVolumeSpace) {
    test::TestMachine m;
    test::TempDir host;
    auto& files = m->Files();
    const char16_t letter = files.FreeDriveLetter();
    ASSERT_EQ(letter, u'Z');
    ASSERT_TRUE(files.AddMappedDrive(letter, host.Path()));
    EXPECT_FALSE(files.AddMappedDrive(u'C', host.Path())) << "a letter in use";
    EXPECT_FALSE(files.AddMappedDrive(u'Y', host.Path() / "missing"));
    EXPECT_EQ(files.FreeDriveLetter(), u'Y');
    WriteText(files, u"Z:\\out.log", "w", std::string(4096, 'x'));
    EXPECT_EQ(std::filesystem::file_size(host.Path() / "out.log"), 4096u);
    EXPECT_EQ(*files.HostPath(u"z:\\OUT.LOG"), std::filesystem::canonical(host.Path()) / "out.log");
}

TEST(SimFiles, HostLinksAndSpecialFilesOfAMappedFolderShowAsWhatTheyAre) {
    test::TestMachine m;
    test::TempDir host;
    auto& files = m->Files();
    ASSERT_TRUE(files.AddMappedDrive(u'Z', host.Path()));
    std::ofstream(host.Path() / "plain.txt") << "x";
    std::filesystem::create_symlink("plain.txt", host.Path() / "link.txt");
    std::filesystem::create_symlink("none.txt", host.Path() / "dangling.txt");
    ASSERT_EQ(::mkfifo((host.Path() / "fifo").c_str(), 0666), 0);
    EXPECT_EQ(files.GetFileAttributes(u"Z:\\plain.txt"), win::FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(files.GetFileAttributes(u"Z:\\link.txt"), win::FILE_ATTRIBUTE_ARCHIVE | win::FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(files.GetFileAttributes(u"Z:\\dangling.txt"),
              win::FILE_ATTRIBUTE_ARCHIVE | win::FILE_ATTRIBUTE_REPARSE_POINT)
        << "a dangling link is still there";
    EXPECT_EQ(files.GetFileAttributes(u"Z:\\fifo"), win::FILE_ATTRIBUTE_ARCHIVE | win::FILE_ATTRIBUTE_DEVICE);

    // A special file is never renamed over, moved away or deleted.
    WriteText(files, u"Z:\\new.txt", "w", "new");
    EXPECT_FALSE(files.MoveFileEx(u"Z:\\new.txt", u"Z:\\fifo", win::MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(files.MoveFileEx(u"Z:\\fifo", u"Z:\\moved", 0));
    EXPECT_EQ(GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(files.DeleteFile(u"Z:\\fifo"));
    EXPECT_EQ(GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(std::filesystem::is_fifo(host.Path() / "fifo"));

    // CREATE_NEW never opens a file that is there, a link's target included.
    EXPECT_FALSE(files.CreateFile(u"Z:\\link.txt", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0));
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_EXISTS);
    EXPECT_EQ(test::ReadHostFile(host.Path() / "plain.txt"), "x");
}

TEST(SimFiles, ALinkToAFolderIsListedAsAReparsePointAndRemovedAsALink) {
    test::TestMachine m;
    auto& files = m->Files();
    ASSERT_TRUE(files.CreateDirectory(u"C:\\Data"));
    WriteText(files, u"C:\\Data\\keep.txt", "wb", "kept");
    ASSERT_TRUE(files.CreateDirectory(u"C:\\tmpxxxvarno"));
    std::filesystem::create_directory_symlink(m.Host(u"C:\\Data"), m.Host(u"C:\\tmpxxxvarno") / "data");

    platform::FindData d;
    auto find = files.FindFirstFile(u"C:\\tmpxxxvarno\\d*", &d);
    ASSERT_TRUE(find);
    EXPECT_EQ(d.fileName, u"data");
    EXPECT_EQ(d.attributes, win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(files.GetFileAttributes(u"C:\\tmpxxxvarno\\data"),
              win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT);
    find.reset();

    EXPECT_FALSE(files.DeleteFile(u"C:\\tmpxxxvarno\\data")) << "a folder link is a folder to DeleteFile";
    EXPECT_EQ(GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(files.RemoveDirectory(u"C:\\tmpxxxvarno\\data")) << "removed although what it points to is not empty";
    EXPECT_EQ(files.GetFileAttributes(u"C:\\tmpxxxvarno\\data"), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(test::ReadHostFile(m.Host(u"C:\\Data\\keep.txt")), "kept") << "the folder it pointed to stays whole";
    EXPECT_TRUE(files.RemoveDirectory(u"C:\\tmpxxxvarno"));
}

}  // namespace
}  // namespace tarvex::sim
