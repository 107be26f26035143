// The emulated PC's shell with real pipes and a real child: the emulated diskpart started the
// way the report starts it, pipe ends and their inheritance, programs the PC does not have,
// scripted failures, and a child that leaves the machine's state as it found it.
#include <fcntl.h>
#include <poll.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>

#include "platform/sim/devices/partition_table.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/sim/shell/command_line.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kGiB = 1024 * kMiB;
const std::u16string kDiskpartLine = u"C:\\Windows\\System32\\diskpart.exe /s .//tmpxxxvarno.bat";

json ShellProfile() {
    json sata = SataDiskJson(0);
    json nvme = {{"number", 1},         {"kind", "nvme"},       {"model", "VARNO NV10 512GB"}, {"serial", "NV0001"},
                 {"firmware", "E8FK11.5"}, {"capacityBytes", 512110190592ull}, {"partitionStyle", "gpt"}};
    json p = ProfileWithDisks(json::array({sata, nvme}));
    p["environment"] = {{"COMPUTERNAME", "BENCH-PC"}};
    p["volumes"] = json::array(
        {{{"letter", "C"}, {"label", "System"}, {"disk", 0}, {"partition", 1}, {"sizeBytes", 150 * kGiB}},
         {{"letter", "D"}, {"label", "Archive Volume 2024"}, {"disk", 1}, {"partition", 1}, {"sizeBytes", 400 * kGiB}}});
    return p;
}

bool WriteScript(const std::u16string& path, const std::string& text) {
    auto f = platform::Current().files->OpenStream(path, "wc");
    uint32_t n = 0;
    return f && f->Write(text.data(), static_cast<uint32_t>(text.size()), &n) && f->Flush();
}

struct ChildRun {
    bool started = false;
    uint32_t error = 0;
    std::string output;
};

// What the report does: an inheritable pipe whose read end is then made private, the child
// with its output and errors on the write end, the parent's write end closed at once, and
// reads until one returns nothing.
ChildRun RunChild(const std::u16string& commandLine, bool inheritHandles = true) {
    ChildRun r;
    platform::Shell& shell = *platform::Current().shell;
    std::unique_ptr<platform::PipeEnd> readEnd, writeEnd;
    if (!shell.CreatePipe(&readEnd, &writeEnd, true) || !readEnd->SetInheritable(false)) {
        r.error = platform::GetLastError();
        return r;
    }
    platform::ProcessStart start;
    start.commandLine = commandLine;
    start.inheritHandles = inheritHandles;
    start.creationFlags = win::CREATE_NO_WINDOW | win::NORMAL_PRIORITY_CLASS;
    start.standardOutput = writeEnd.get();
    start.standardError = writeEnd.get();
    r.started = shell.CreateProcess(start);
    if (!r.started) {
        r.error = platform::GetLastError();
        return r;
    }
    writeEnd.reset();
    char buffer[4096];
    uint32_t n = 0;
    while (readEnd->Read(buffer, sizeof buffer, &n) && n > 0) {
        r.output.append(buffer, n);
    }
    return r;
}

ChildRun Diskpart(int disk) {
    EXPECT_TRUE(WriteScript(u".//tmpxxxvarno.bat", "select disk " + std::to_string(disk) + "\ndetail disk\n"));
    return RunChild(kDiskpartLine);
}

bool HasLine(const std::string& out, const std::string& line) {
    return out.find("\r\n" + line + "\r\n") != std::string::npos;
}

bool AllLinesEndInCrLf(const std::string& out) {
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) {
            return false;
        }
    }
    return !out.empty() && out.ends_with("\r\n");
}

// Every file and folder under `root` with its size, write time and content.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string v = std::to_string(e.last_write_time().time_since_epoch().count());
        if (e.is_regular_file()) {
            v += "|" + ReadHostFile(e.path());
        }
        out[fs::relative(e.path(), root).string()] = v;
    }
    return out;
}

sim::SimShell& Shell(TestMachine& m) { return m->Shell(); }

TEST(SimShell, DiskpartAnswersAboutAKnownDiskThroughThePipe) {
    TestMachine m(ShellProfile());
    const ChildRun r = Diskpart(0);
    ASSERT_TRUE(r.started) << r.error;
    EXPECT_TRUE(AllLinesEndInCrLf(r.output)) << r.output;
    EXPECT_TRUE(HasLine(r.output, "Microsoft DiskPart version 6.1.7601")) << r.output;
    EXPECT_TRUE(HasLine(r.output, "On computer: BENCH-PC"));
    EXPECT_TRUE(HasLine(r.output, "Disk 0 is now the selected disk."));
    EXPECT_TRUE(HasLine(r.output, "VARNO TL30A 256GB"));
    EXPECT_TRUE(HasLine(r.output, fmt::format("Disk ID: {:08X}", sim::MbrDiskSignature(m->Devices().Disk(0)->Profile()))));
    EXPECT_TRUE(HasLine(r.output, "Type   : ATA"));
    EXPECT_TRUE(HasLine(r.output, "Boot Disk  : Yes"));
    EXPECT_TRUE(HasLine(r.output, "  Volume 0     C   System       NTFS   Partition    150 GB  Healthy    Boot"))
        << r.output;
    EXPECT_EQ(r.output.find("Archive"), std::string::npos) << "D: is on the other disk";

    ASSERT_EQ(Shell(m).Processes().size(), 1u);
    const sim::SimShell::Started started = Shell(m).Processes()[0];
    EXPECT_EQ(started.program, u"C:\\Windows\\System32\\diskpart.exe");
    EXPECT_EQ(started.arguments, (std::vector<std::u16string>{u"/s", u".//tmpxxxvarno.bat"}));
    EXPECT_EQ(Shell(m).WaitForExit(0), 0);
    EXPECT_EQ(Shell(m).WaitForExit(1), std::nullopt);

    // The GPT disk: its GUID as the disk ID, the label cut to 11 characters.
    const ChildRun nvme = Diskpart(1);
    EXPECT_TRUE(HasLine(nvme.output, "Disk ID: " + sim::GuidText(sim::GptDiskGuid(m->Devices().Disk(1)->Profile()))))
        << nvme.output;
    EXPECT_TRUE(HasLine(nvme.output, "NVMe VARNO NV10 512GB SCSI Disk Device"));
    EXPECT_TRUE(HasLine(nvme.output, "Type   : RAID"));
    EXPECT_TRUE(HasLine(nvme.output, "Boot Disk  : No"));
    EXPECT_TRUE(HasLine(nvme.output, "  Volume 1     D   Archive Vol  NTFS   Partition    400 GB  Healthy")) << nvme.output;
    EXPECT_EQ(Shell(m).WaitForExit(1), 0);
}

TEST(SimShell, DiskpartRefusesAnUnknownDiskAndAMissingScript) {
    TestMachine m(ShellProfile());
    const ChildRun r = Diskpart(7);
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(HasLine(r.output, "The disk you specified is not valid.")) << r.output;
    EXPECT_TRUE(HasLine(r.output, "There is no disk selected."));
    EXPECT_EQ(r.output.find("Disk ID"), std::string::npos);
    EXPECT_EQ(Shell(m).WaitForExit(0), 1);

    const ChildRun missing = RunChild(u"C:\\Windows\\System32\\diskpart.exe /s C:\\nowhere\\script.txt");
    ASSERT_TRUE(missing.started);
    EXPECT_TRUE(HasLine(missing.output, "The script file \"C:\\nowhere\\script.txt\" could not be found or read."))
        << missing.output;
    EXPECT_EQ(Shell(m).WaitForExit(1), 2);
}

TEST(SimShell, DiskpartRefusesAScriptOverOneMegabyteAndTakesOneJustUnder) {
    TestMachine m(ShellProfile());
    // A script of remarks exactly at the bound still runs; one byte more is refused unread.
    std::string script = "select disk 0\n";
    script += std::string(kMiB - script.size() - 1, 'x');
    script.insert(14, "rem ");
    script.resize(kMiB - 1);
    script += "\n";
    ASSERT_EQ(script.size(), kMiB);
    ASSERT_TRUE(WriteScript(u".//tmpxxxvarno.bat", script));
    const ChildRun fits = RunChild(kDiskpartLine);
    EXPECT_TRUE(HasLine(fits.output, "Disk 0 is now the selected disk.")) << fits.output.substr(0, 400);
    EXPECT_EQ(Shell(m).WaitForExit(0), 0);

    ASSERT_TRUE(WriteScript(u".//tmpxxxvarno.bat", script + "\n"));
    const ChildRun tooLarge = RunChild(kDiskpartLine);
    EXPECT_TRUE(HasLine(tooLarge.output, "The script file \".//tmpxxxvarno.bat\" is too large (more than 1 MB)."))
        << tooLarge.output.substr(0, 400);
    EXPECT_EQ(tooLarge.output.find("selected disk"), std::string::npos);
    EXPECT_EQ(Shell(m).WaitForExit(1), 2);
}

TEST(SimShell, TheScriptPathIsRelativeToTheParentsCurrentDirectory) {
    TestMachine m(ShellProfile());
    ASSERT_TRUE(platform::Current().files->CreateDirectory(u"C:\\Work"));
    ASSERT_TRUE(platform::Current().files->SetCurrentDirectory(u"C:\\Work"));
    ASSERT_TRUE(WriteScript(u".//tmpxxxvarno.bat", "rem written in C:\\Work\nselect disk 1\ndetail disk\n"));
    EXPECT_TRUE(fs::exists(m.Host(u"C:\\Work\\tmpxxxvarno.bat")));
    const ChildRun r = RunChild(kDiskpartLine);
    EXPECT_TRUE(HasLine(r.output, "Disk 1 is now the selected disk.")) << r.output;
    EXPECT_EQ(Shell(m).WaitForExit(0), 0);
}

TEST(SimShell, TheChildLeavesTheStateDirectoryAsItWasAndWritesNoLog) {
    json p = json::parse(sim::FindEmbeddedProfile("demo")->text);
    TestMachine m(p);
    ASSERT_TRUE(WriteScript(u".//tmpxxxvarno.bat", "select disk 2\ndetail disk\n"));
    const auto before = Snapshot(m.StateDir());
    const ChildRun r = RunChild(kDiskpartLine);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(Shell(m).WaitForExit(0), 0);
    EXPECT_TRUE(HasLine(r.output, "  Volume 4     H   Projects     NTFS   Partition    476 GB  Healthy")) << r.output;
    EXPECT_EQ(Snapshot(m.StateDir()), before) << "drive states, registry, services and volumes untouched";
    for (const auto& e : fs::recursive_directory_iterator(m.StateDir())) {
        EXPECT_NE(e.path().extension(), ".log") << e.path();
    }
}

TEST(SimShell, ANamedMachineReachesTheChildByItsProfileFile) {
    // The child reads the profile the machine is named by, not the parent's copy of the text:
    // the two differ in the computer's name.
    TempDir dir;
    json named = ShellProfile();
    named["environment"]["COMPUTERNAME"] = "NAMED-PC";
    const fs::path file = dir.Path() / "named.json";
    std::ofstream(file) << named.dump();
    sim::SimOptions options;
    options.machine = file.string();
    TestMachine m(ShellProfile(), options);
    const ChildRun r = Diskpart(0);
    EXPECT_TRUE(HasLine(r.output, "On computer: NAMED-PC")) << r.output;
    EXPECT_EQ(std::getenv("TARVEX_CURRENT_DIRECTORY"), nullptr) << "the parent's own environment stays as it was";
}

TEST(SimShell, PipeEndsInheritanceAndEndOfFile) {
    TestMachine m(ShellProfile());
    platform::Shell& shell = *platform::Current().shell;
    auto cloexec = [](platform::PipeEnd* e) {
        return (::fcntl(dynamic_cast<sim::SimPipeEnd*>(e)->Fd(), F_GETFD) & FD_CLOEXEC) != 0;
    };
    std::unique_ptr<platform::PipeEnd> r, w;
    ASSERT_TRUE(shell.CreatePipe(&r, &w, false));
    EXPECT_TRUE(cloexec(r.get()));
    EXPECT_TRUE(cloexec(w.get()));
    ASSERT_TRUE(w->SetInheritable(true));
    EXPECT_FALSE(cloexec(w.get()));
    ASSERT_TRUE(shell.CreatePipe(&r, &w, true));
    EXPECT_FALSE(cloexec(r.get()));
    EXPECT_FALSE(cloexec(w.get()));
    ASSERT_TRUE(r->SetInheritable(false));
    EXPECT_TRUE(cloexec(r.get()));
    char b[8];
    uint32_t n = 9;
    EXPECT_FALSE(w->Read(b, sizeof b, &n)) << "the write end is not for reading";
    EXPECT_EQ(platform::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(n, 0u);

    // The child has ended, but while the parent still holds a write end the pipe stays open:
    // a read would wait. Once the parent closes it, the output is read and then 0 bytes.
    ASSERT_TRUE(WriteScript(u".//tmpxxxvarno.bat", "select disk 0\n"));
    platform::ProcessStart start;
    start.commandLine = kDiskpartLine;
    start.inheritHandles = true;
    start.standardOutput = w.get();
    start.standardError = w.get();
    ASSERT_TRUE(shell.CreateProcess(start));
    ASSERT_EQ(Shell(m).WaitForExit(0), 0);
    pollfd pfd{dynamic_cast<sim::SimPipeEnd*>(r.get())->Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 0), 1);
    EXPECT_EQ(pfd.revents & POLLHUP, 0) << "a writer is still open";
    w.reset();
    std::string out;
    char buffer[64];  // small pieces: the answer takes several reads
    while (r->Read(buffer, sizeof buffer, &n) && n > 0) {
        out.append(buffer, n);
    }
    EXPECT_TRUE(r->Read(buffer, sizeof buffer, &n)) << "at the end a read succeeds with nothing";
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(HasLine(out, "Disk 0 is now the selected disk.")) << out;

    // Without inheritance, or with a write end that is not inheritable, the child has no
    // standard output: it runs, and nothing comes back.
    const ChildRun uninherited = RunChild(kDiskpartLine, false);
    EXPECT_TRUE(uninherited.started);
    EXPECT_EQ(uninherited.output, "");
    EXPECT_EQ(Shell(m).WaitForExit(1), 0);
    ASSERT_TRUE(shell.CreatePipe(&r, &w, false));
    start.standardOutput = w.get();
    start.standardError = w.get();
    ASSERT_TRUE(shell.CreateProcess(start));
    w.reset();
    EXPECT_TRUE(r->Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 0u) << "a private write end is no handle in the child";
    EXPECT_EQ(Shell(m).WaitForExit(2), 0);
}

TEST(SimShell, ProgramsAreFoundAsCreateProcessFindsThem) {
    TestMachine m(ShellProfile());
    ASSERT_TRUE(WriteScript(u".//tmpxxxvarno.bat", "select disk 0\n"));
    for (const char16_t* line : {u"\"C:\\WINDOWS\\system32\\DISKPART.EXE\" /s .//tmpxxxvarno.bat",
                                 u"diskpart /s .//tmpxxxvarno.bat", u"  C:\\Windows\\System32\\diskpart /s \".//tmpxxxvarno.bat\""}) {
        const ChildRun r = RunChild(line);
        EXPECT_TRUE(r.started) << platform::Utf16ToUtf8(line) << ": " << r.error;
        EXPECT_TRUE(HasLine(r.output, "Disk 0 is now the selected disk.")) << platform::Utf16ToUtf8(line);
    }
    for (const char16_t* line : {u"C:\\Windows\\System32\\nosuch.exe /s x", u"notepad.exe", u"", u"\"\"",
                                 u"C:\\Tools\\diskpart.exe /s x", u"\"C:\\Windows\\System32\\diskpart.exe /s x\""}) {
        platform::SetLastError(0);
        const ChildRun r = RunChild(line);
        EXPECT_FALSE(r.started) << platform::Utf16ToUtf8(line);
        EXPECT_EQ(r.error, win::ERROR_FILE_NOT_FOUND) << platform::Utf16ToUtf8(line);
    }
    EXPECT_EQ(Shell(m).Processes().size(), 3u) << "only what started is listed";

    // Nothing is emulated for WinExec and the command interpreter yet.
    EXPECT_EQ(platform::Current().shell->WinExec("fsutil file createnew C:\\x 1", win::SW_HIDE), 2u);
    errno = 0;
    EXPECT_EQ(platform::Current().shell->System(u"start \"\" http://example.invalid/"), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(SimShell, CommandLinesSplitAsWindowsSplitsThem) {
    struct Case {
        std::u16string line;
        std::u16string program;
        std::vector<std::u16string> args;
    };
    const Case cases[] = {
        {u"C:\\a\\b.exe /s x", u"C:\\a\\b.exe", {u"/s", u"x"}},
        {u"\"C:\\Program Files\\b.exe\"/s \"a b\"", u"C:\\Program Files\\b.exe", {u"/s", u"a b"}},
        {u"p \"a\\\"b\" c\\\\\"d e\" f\\g", u"p", {u"a\"b", u"c\\d e", u"f\\g"}},
        {u"p \"x \"\"y\"\" z\"  \t last", u"p", {u"x \"y\" z", u"last"}},
        {u"\"C:\\dir\\\" tail", u"C:\\dir\\", {u"tail"}},
        {u"p \"\" ab\"cd\"ef", u"p", {u"", u"abcdef"}},
    };
    for (const Case& c : cases) {
        const sim::CommandLine split = sim::SplitCommandLine(c.line);
        EXPECT_EQ(split.program, c.program) << platform::Utf16ToUtf8(c.line);
        EXPECT_EQ(split.arguments, c.args) << platform::Utf16ToUtf8(c.line);
    }
}

TEST(SimShell, TheProfileScriptsEachFailure) {
    struct Case {
        json shell;
        const char* step;
        uint32_t error;
    };
    const Case cases[] = {
        {{{"failCreatePipe", 8}}, "CreatePipe", 8},
        {{{"failSetHandleInformation", 6}}, "SetHandleInformation", 6},
        {{{"failCreateProcess", 1450}}, "CreateProcess", 1450},
        {{{"diskpartMissing", true}}, "CreateProcess", win::ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        json p = ShellProfile();
        p["shell"] = c.shell;
        TestMachine m(p);
        ASSERT_TRUE(WriteScript(u".//tmpxxxvarno.bat", "select disk 0\n"));
        platform::SetLastError(0);
        std::unique_ptr<platform::PipeEnd> r, w;
        const bool piped = m->Platform().shell->CreatePipe(&r, &w, true);
        const bool privateRead = piped && r->SetInheritable(false);
        const ChildRun run = RunChild(kDiskpartLine);
        const std::string step = !piped ? "CreatePipe" : !privateRead ? "SetHandleInformation" : "CreateProcess";
        EXPECT_EQ(step, c.step) << c.shell.dump();
        EXPECT_FALSE(run.started);
        EXPECT_EQ(run.error, c.error) << c.shell.dump();
        EXPECT_TRUE(m->Shell().Processes().empty());
    }
    for (const json& bad : {json{{"failCreatePipe", 0}}, json{{"failCreatePipe", "8"}}, json{{"diskpartGone", true}}}) {
        json p = ShellProfile();
        p["shell"] = bad;
        auto r = sim::LoadMachineProfile(p.dump(), "t", "t.json");
        EXPECT_FALSE(r.profile) << bad.dump();
        EXPECT_NE(r.error.find("$.shell."), std::string::npos) << r.error;
    }
}

}  // namespace
}  // namespace tarvex::test
