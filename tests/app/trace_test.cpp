#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "app/trace.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { ResetTraceForTesting(); }
    void TearDown() override {
        SetTraceLevel(0);
        ResetTraceForTesting();
    }
    std::vector<std::string> Lines() {
        std::string text = test::ReadHostFile(m_.Host(u"C:\\Tools\\Tarvex.log"));
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
            if (end == std::string::npos) {
                break;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }
    test::TestMachine m_;
};

TEST_F(TraceTest, LevelZeroAndLevelsAboveTwoWriteNothing) {
    Trace("not written %d", 1);
    SetTraceLevel(3);
    EXPECT_EQ(TraceLevel(), 0u);
    Trace("not written either");
    EXPECT_FALSE(std::filesystem::exists(m_.Host(u"C:\\Tools\\Tarvex.log")));
    SetTraceLevel(2);
    EXPECT_EQ(TraceLevel(), 2u);
}

TEST_F(TraceTest, FirstCallDeletesTheOldFileAndLinesCountFromIt) {
    std::ofstream(m_.Host(u"C:\\Tools\\Tarvex.log")) << "left by the previous run\r\n";
    SetTraceLevel(1);
    m_->Clock().Advance(777);
    Trace("Enter %s()", "CVARNO_KorvaneDlg::OnInitDialog");
    m_->Clock().Sleep(1234);
    Trace("Disk %d is mounted on %s interface.", 2, std::u16string(u"IDE/SATA"));
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u) << "the old file is gone";
    EXPECT_EQ(lines[0], "00000000 Enter CVARNO_KorvaneDlg::OnInitDialog()");
    EXPECT_EQ(lines[1], "00001234 Disk 2 is mounted on IDE/SATA interface.");

    ResetTraceForTesting();  // the next run of the program
    m_->Clock().Sleep(50);
    Trace("second run");
    lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "00000000 second run");
}

TEST_F(TraceTest, TextIsBoundedAndWideTextIsConverted) {
    SetTraceLevel(1);
    Trace("%s", std::string(3000, 'x'));
    Trace("Win32_DiskDrive-Model:%s", std::u16string(u"\u4e2d\u6587 SSD"));
    Trace("bad format %d");  // a wrong format never throws
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 9u + 1024u) << "at most 1024 characters of text";
    EXPECT_EQ(lines[1], "00000000 Win32_DiskDrive-Model:\xe4\xb8\xad\xe6\x96\x87 SSD");
    EXPECT_EQ(lines[2], "00000000 bad format %d");
}

TEST_F(TraceTest, ConcurrentLinesNeverInterleave) {
    SetTraceLevel(1);
    constexpr int kThreads = 6;
    constexpr int kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                Trace("worker %d line %d %s", t, i, std::string(100, static_cast<char>('a' + t)));
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    auto lines = Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex whole(R"(\d{8} worker (\d) line (\d+) ([a-f])\3{99})");
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
        const int t = std::stoi(match[1]);
        EXPECT_EQ(match[3].str()[0], 'a' + t);
        EXPECT_EQ(std::stoi(match[2]), next[t]++) << "each worker's lines keep their order";
    }
}

TEST(TraceFile, NamedAfterTheRunningModule) {
    sim::SimOptions options;
    options.moduleName = u"tarvexctl.exe";
    test::TestMachine m(test::BaseProfile(), options);
    ResetTraceForTesting();
    SetTraceLevel(1);
    Trace("hello");
    EXPECT_EQ(TraceFilePath(), u"C:\\Tools\\tarvexctl.log");
    SetTraceLevel(0);
    ResetTraceForTesting();
    EXPECT_EQ(test::ReadHostFile(m.Host(u"C:\\Tools\\tarvexctl.log")), "00000000 hello\r\n");
}

TEST_F(TraceTest, PointersPrintAsEightHexDigitsAsThe32BitProgramPrintsThem) {
    SetTraceLevel(1);
    int object = 0;
    const void* address = &object;
    Trace("KORVANEMSG_WPARAM_PROGRESSEND, %p", 0xF5);
    Trace("(%4d)\tThe self-test routine was aborted by the host.(%p)", 0x19, address);
    Trace("100%% of %p", 0x1);
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(9), "KORVANEMSG_WPARAM_PROGRESSEND, 000000F5");
    const std::string low = fmt::sprintf("%08X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)));
    EXPECT_EQ(lines[1].substr(9), "(  25)\tThe self-test routine was aborted by the host.(" + low + ")");
    EXPECT_EQ(lines[2].substr(9), "100% of 00000001");
}

}  // namespace
}  // namespace tarvex
