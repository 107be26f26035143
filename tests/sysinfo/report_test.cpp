// The report's text from a model, diskpart's answer through a scripted shell, the
// unscrambler, and the Export Log / Decrypt Log flows with their failure paths.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "app/string_table.h"
#include "drives/drive_table.h"
#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"
#include "sysinfo/diskpart.h"
#include "sysinfo/log_flows.h"
#include "sysinfo/report.h"

namespace tarvex {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i] == line) {
            return i;
        }
    }
    return std::string::npos;
}

ReportDrive SmallDrive() {
    ReportDrive d;
    d.diskChannel = 1;
    d.model = u"VARNO TL30A 256GB";
    d.diskSizeGb = 256;
    d.maxLbaLow = 1953525168u;
    d.wwnWords = {0x5002, 0x5380, 0x1234, 0x5678};
    d.serial = u"VR1";
    d.firmware = u"1.08";
    d.connectionSpeed = u"SATA 6.0 Gb/s";
    d.temperature = 36;
    d.identifyWords[0] = 0x0040;
    d.identifyWords[255] = 0xA5A5;
    ReportAttributeRow row;
    row.id = 0x09;
    row.current = 0x64;
    row.worst = 0x63;
    row.threshold = 0x00;
    row.raw7 = {0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8};
    row.flags = {0x32, 0x00};
    d.attributes = {row};
    d.smartData[0x1F0] = 0xAB;
    d.partitionBytes.assign(512, 0);
    d.partitionBytes[510] = 0x55;
    d.partitionBytes[511] = 0xAA;
    d.diskpart = u"Disk 1 is now the selected disk.\r\n";
    return d;
}

TEST(ReportText, LayoutOfTheHeadAndOfOneDrive) {
    ReportModel m;
    m.version = u"1.3.2";
    m.buildNumber = u"Q30D1431";
    m.osName = u"Microsoft Windows 7 Professional  x64";
    m.language = 0x0409;
    m.drives = {SmallDrive()};
    const std::vector<std::string> lines = Lines(RenderReport(m));
    const std::string s60(60, '='), d83(83, '-');
    ASSERT_GE(lines.size(), 20u);
    EXPECT_EQ(lines[0], "VARNO Velmora Version: 1.3.2");
    EXPECT_EQ(lines[1], "Build Number:Q30D1431");
    EXPECT_EQ(lines[2], s60);
    EXPECT_EQ(lines[4], "Language: 0x0409");
    EXPECT_EQ(lines[6], "Available RAM:  MB") << "a missing value leaves the line empty";
    // No controllers and no modules: each count is followed by its closing line.
    const size_t hba = IndexOf(lines, "HBA Number: 0");
    ASSERT_NE(hba, std::string::npos);
    EXPECT_EQ(lines[hba + 1], s60);
    EXPECT_EQ(lines[hba + 2], "");
    const size_t dram = IndexOf(lines, "DRAM Number: 0");
    ASSERT_NE(dram, std::string::npos);
    EXPECT_EQ(lines[dram + 1], s60);

    const size_t disks = IndexOf(lines, "There are 1 disk drives attached.");
    ASSERT_NE(disks, std::string::npos);
    EXPECT_EQ(lines[disks + 1], d83);
    EXPECT_EQ(lines[disks + 2], "Disk Channel: 1");
    EXPECT_EQ(lines[disks + 4], "Disk Size: 256 GB");
    EXPECT_EQ(lines[disks + 5], "Maximum LBA: 74706DB0 (1953525168)");
    EXPECT_EQ(lines[disks + 6], "World Wide Name: 5002538012345678");
    EXPECT_EQ(lines[disks + 10], "Temperature: 36 degree C");
    const size_t raw = IndexOf(lines, "Drive Detail RAW data");
    EXPECT_EQ(lines[raw + 2].substr(0, 14), "00  0040 0000 ");
    EXPECT_EQ(lines[raw + 17].substr(0, 4), "F0  ");
    EXPECT_EQ(lines[raw + 17].substr(lines[raw + 17].size() - 4), "A5A5");
    const size_t attrs = IndexOf(lines, "SMART Attributes");
    EXPECT_EQ(lines[attrs + 1], "ID Current Worst Threshold RAW_value      Flags");
    EXPECT_EQ(lines[attrs + 2], "09      64    63        00 000000000003E8 3200");
    EXPECT_EQ(lines[attrs + 3], d83);
    const size_t data = IndexOf(lines, "SMART Read Data");
    EXPECT_EQ(lines[data + 1], "     0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F");
    EXPECT_EQ(lines[data + 33].substr(0, 7), "1F0 AB ");
    const size_t mbr = IndexOf(lines, "MBR Table");
    ASSERT_NE(mbr, std::string::npos);
    EXPECT_EQ(lines[mbr + 33].substr(0, 4), "1F0 ") << "32 rows for an MBR";
    EXPECT_EQ(lines[mbr + 33].substr(lines[mbr + 33].size() - 5), "55 AA");
    EXPECT_EQ(lines[mbr + 34], d83);
    EXPECT_EQ(lines[mbr + 35], "diskpart -- detail disk");
    EXPECT_EQ(lines[mbr + 36], "Disk 1 is now the selected disk.") << "diskpart's CR LF becomes one line end";
    EXPECT_EQ(lines.back(), s60);
}

TEST(ReportText, GptDisksHave64RowsLargeLbasPrintSignedAndEmptyAttributeLists) {
    ReportModel m;
    ReportDrive d = SmallDrive();
    d.maxLbaLow = 3907029168u;
    d.attributes.clear();
    d.gpt = true;
    d.partitionBytes.assign(1024, 0);
    d.partitionBytes[450] = 0xEE;
    m.drives = {d};
    const std::vector<std::string> lines = Lines(RenderReport(m));
    EXPECT_NE(IndexOf(lines, "Maximum LBA: E8E088B0 (-387938128)"), std::string::npos);
    const size_t attrs = IndexOf(lines, "SMART Attributes");
    EXPECT_EQ(lines[attrs + 2], std::string(83, '-')) << "the header and no rows";
    const size_t gpt = IndexOf(lines, "GPT Table");
    ASSERT_NE(gpt, std::string::npos);
    EXPECT_EQ(lines[gpt + 65].substr(0, 4), "3F0 ");
    EXPECT_EQ(lines[gpt + 66], std::string(83, '-'));
}

TEST(Unscramble, UnitsGoBackByFiveAndAnOddByteStays) {
    const std::u16string scrambled = u"fgh";
    std::vector<uint8_t> bytes(scrambled.size() * 2);
    std::memcpy(bytes.data(), scrambled.data(), bytes.size());
    const std::vector<uint8_t> plain = UnscrambleBytes(bytes);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(plain.data()), 3), u"abc");
    const std::vector<uint8_t> seven = UnscrambleBytes({0x05, 0x00, 0x66, 0x00, 0x00, 0x00, 0x7A});
    EXPECT_EQ(seven, (std::vector<uint8_t>{0x00, 0x00, 0x61, 0x00, 0xFB, 0xFF, 0x7A})) << "mod 65536";
}

// A shell whose pipe answers from a script of pieces, or whose steps fail.
class ScriptedShell : public platform::Shell {
public:
    struct End : platform::PipeEnd {
        ScriptedShell* shell;
        bool reader;
        explicit End(ScriptedShell* s, bool r) : shell(s), reader(r) {}
        bool SetInheritable(bool inheritable) override {
            shell->readInheritable = inheritable;
            if (shell->failInherit != 0) {
                platform::SetLastError(shell->failInherit);
                return false;
            }
            return true;
        }
        bool Read(void* buffer, uint32_t size, uint32_t* got) override {
            EXPECT_TRUE(reader);
            EXPECT_TRUE(shell->writerClosed) << "the parent closes its write end before reading";
            *got = 0;
            if (shell->pieces.empty()) {
                return true;
            }
            std::string piece = shell->pieces.front();
            shell->pieces.pop_front();
            EXPECT_LE(piece.size(), size);
            std::memcpy(buffer, piece.data(), piece.size());
            *got = static_cast<uint32_t>(piece.size());
            return true;
        }
        ~End() override {
            if (!reader) {
                shell->writerClosed = true;
            }
        }
    };
    uint32_t WinExec(std::string_view, uint32_t) override { return 2; }
    bool CreatePipe(std::unique_ptr<platform::PipeEnd>* r, std::unique_ptr<platform::PipeEnd>* w,
                    bool inheritable) override {
        pipeInheritable = inheritable;
        if (failPipe != 0) {
            platform::SetLastError(failPipe);
            return false;
        }
        *r = std::make_unique<End>(this, true);
        *w = std::make_unique<End>(this, false);
        return true;
    }
    bool CreateProcess(const platform::ProcessStart& start) override {
        started = start;
        if (failProcess != 0) {
            platform::SetLastError(failProcess);
            return false;
        }
        return true;
    }
    int System(std::u16string_view) override { return -1; }

    std::deque<std::string> pieces;
    uint32_t failPipe = 0, failInherit = 0, failProcess = 0;
    bool pipeInheritable = false, readInheritable = true, writerClosed = false;
    platform::ProcessStart started;
};

class DiskpartTest : public ::testing::Test {
protected:
    DiskpartTest() {
        platform::Platform p = machine_->Platform();
        p.shell = &shell_;
        bundle_ = p;
        installed_ = std::make_unique<platform::ScopedPlatform>(bundle_);
    }
    bool ScriptExists() { return std::filesystem::exists(machine_.Host(u"C:\\Tools\\tmpxxxvarno.bat")); }
    std::u16string Ask(int disk) {
        char16_t out[kDiskpartAnswerChars + 1];
        GetDiskpartMsg(out, disk);
        return out;
    }

    test::TestMachine machine_;
    ScriptedShell shell_;
    platform::Platform bundle_;
    std::unique_ptr<platform::ScopedPlatform> installed_;
};

TEST_F(DiskpartTest, TheChildAnswersThroughThePipeAndTheScriptGoesAway) {
    shell_.pieces = {std::string(4096, 'a'), "b\xC3", "\xA9" "c\r\n"};
    const std::u16string answer = Ask(3);
    EXPECT_EQ(answer.size(), 1023u) << "cut at 1023 characters";
    EXPECT_EQ(shell_.started.commandLine, u"C:\\Windows\\System32\\diskpart.exe /s .//tmpxxxvarno.bat");
    EXPECT_TRUE(shell_.started.inheritHandles);
    EXPECT_EQ(shell_.started.creationFlags, 0x08000020u);
    EXPECT_NE(shell_.started.standardOutput, nullptr);
    EXPECT_EQ(shell_.started.standardOutput, shell_.started.standardError);
    EXPECT_EQ(shell_.started.standardInput, nullptr);
    EXPECT_TRUE(shell_.pipeInheritable);
    EXPECT_FALSE(shell_.readInheritable) << "the read end stays with the parent";
    EXPECT_FALSE(ScriptExists());

    shell_.pieces = {"b\xC3", "\xA9" "c\r\n"};
    shell_.writerClosed = false;
    EXPECT_EQ(Ask(0), u"b\u00E9c\r\n") << "a character split between two reads arrives whole";
}

TEST_F(DiskpartTest, EachFailingStepAnswersWithItsTextAndKeepsTheScript) {
    shell_.failPipe = 8;
    EXPECT_EQ(Ask(0), u"GetDiskpartMsg::CreatePipe fail : 0x8\n");
    EXPECT_TRUE(ScriptExists());
    const std::string script = test::ReadHostFile(machine_.Host(u"C:\\Tools\\tmpxxxvarno.bat"));
    EXPECT_EQ(script, "select disk 0\r\ndetail disk\r\n");
    shell_.failPipe = 0;
    shell_.failInherit = 6;
    EXPECT_EQ(Ask(0), u"GetDiskpartMsg::SetHandleInformation fail : 0x6\n");
    shell_.failInherit = 0;
    shell_.failProcess = 2;
    EXPECT_EQ(Ask(0), u"GetDiskpartMsg::CreateProcess fail : 0x2\n");
}

class LogFlowTest : public ::testing::Test {
protected:
    LogFlowTest() {
        BusyOperation = 0;
        PhysicalDriveTable().clear();
    }
    ~LogFlowTest() override { BusyOperation = 0; }
    std::vector<std::u16string> Messages() {
        std::vector<std::u16string> texts;
        for (const auto& shown : machine_->Dialogs().ShownDialogs()) {
            if (shown.kind == sim::SimDialogs::Shown::Kind::MessageBox) {
                texts.push_back(shown.text);
            }
        }
        return texts;
    }
    void Write(const std::u16string& path, const std::string& bytes) {
        auto f = machine_->Files().OpenStream(path, "wb");
        ASSERT_TRUE(f);
        uint32_t n = 0;
        ASSERT_TRUE(f->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &n));
    }
    test::TestMachine machine_;
};

TEST_F(LogFlowTest, ExportIsRefusedWhileBusyAndDoesNothingWhenCancelled) {
    BusyOperation = 4;
    EXPECT_EQ(ExportLogFlow(), FlowEnd::Refused);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{std::u16string(LoadResourceString(247))});
    BusyOperation = 0;
    machine_->Dialogs().QueueOpenFileAnswer(std::nullopt);
    EXPECT_EQ(ExportLogFlow(), FlowEnd::Cancelled);
    const auto shown = machine_->Dialogs().ShownDialogs();
    EXPECT_EQ(shown.back().caption, u"Log File(*.log)|*.log|All Files(*.*)|*.*||");
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(LogFlowTest, AReportThatCannotBeWrittenSaysSoAndLeavesNothingBehind) {
    machine_->Dialogs().QueueOpenFileAnswer(u"C:\\NoSuchFolder\\report.log");
    EXPECT_EQ(ExportLogFlow(), FlowEnd::Failed);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{u"Export log file failed: cannot write "
                                                      u"\"C:\\NoSuchFolder\\report.log\": The system cannot find "
                                                      u"the path specified."});

    // A read-only target keeps its old content; no temporary file stays.
    Write(u"C:\\Tools\\old.log", "old\n");
    ASSERT_TRUE(machine_->Files().SetFileAttributes(u"C:\\Tools\\old.log", win::FILE_ATTRIBUTE_READONLY));
    machine_->Dialogs().QueueOpenFileAnswer(u"C:\\Tools\\old.log");
    EXPECT_EQ(ExportLogFlow(), FlowEnd::Failed);
    EXPECT_EQ(test::ReadHostFile(machine_.Host(u"C:\\Tools\\old.log")), "old\n");
    for (const auto& entry : std::filesystem::directory_iterator(machine_.Host(u"C:\\Tools"))) {
        EXPECT_NE(entry.path().extension(), ".tmp") << "left behind: " << entry.path();
    }

    machine_->Dialogs().QueueOpenFileAnswer(u"C:\\Tools\\new.log");
    EXPECT_EQ(ExportLogFlow(), FlowEnd::Done);
    EXPECT_EQ(Messages().back(), u"Export log file done.");
    const std::string report = test::ReadHostFile(machine_.Host(u"C:\\Tools\\new.log"));
    EXPECT_EQ(report.rfind("VARNO Velmora Version: ", 0), 0u);
    EXPECT_NE(report.find("There are 0 disk drives attached.\r\n"), std::string::npos);
}

TEST_F(LogFlowTest, DecryptWritesDecryptedLogOrNamesTheFileItCouldNotRead) {
    machine_->Dialogs().QueueOpenFileAnswer(u"C:\\Tools\\missing.log");
    EXPECT_EQ(DecryptLogFlow(), FlowEnd::Failed);
    EXPECT_EQ(Messages().back(), u"Decrypt log failed: cannot read \"C:\\Tools\\missing.log\": The system cannot "
                                 u"find the file specified.");
    EXPECT_FALSE(std::filesystem::exists(machine_.Host(u"C:\\Tools\\Decrypted.log")));

    // "ab\n" scrambled, with a CR LF byte pair inside the units that a text-mode read would fold.
    const std::u16string plain = u"ab\u0A08\n";
    std::string bytes;
    for (char16_t c : plain) {
        const auto unit = static_cast<uint16_t>(c + 5);
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    Write(u"C:\\Tools\\scrambled.log", bytes);
    machine_->Dialogs().QueueOpenFileAnswer(u"C:\\Tools\\scrambled.log");
    EXPECT_EQ(DecryptLogFlow(), FlowEnd::Done);
    EXPECT_EQ(Messages().back(), u"Decrypt Log Done!");
    EXPECT_EQ(test::ReadHostFile(machine_.Host(u"C:\\Tools\\Decrypted.log")), "ab\xE0\xA8\x88\r\n");
}

TEST_F(LogFlowTest, DecryptLogIsOfferedWhenAnArgumentContainsDashA) {
    sim::SimSystem& system = machine_->System();
    system.SetCommandLine(u"\"C:\\my-apps\\Tarvex.exe\"");
    EXPECT_FALSE(DecryptLogOffered()) << "the program's own path does not count";
    system.SetCommandLine(u"\"C:\\my-apps\\Tarvex.exe\" -all");
    EXPECT_TRUE(DecryptLogOffered());
    system.SetCommandLine(u"C:\\Tools\\Tarvex.exe -A");
    EXPECT_FALSE(DecryptLogOffered()) << "case-sensitive";
    system.SetCommandLine(u"C:\\Tools\\Tarvex.exe -UpgradeFw -a");
    EXPECT_TRUE(DecryptLogOffered());
}

}  // namespace
}  // namespace tarvex
