// Several programs on one emulated PC: forked processes change the same drive and the same
// registry values at once, processes end abruptly at named steps of a save, saves fail as on a
// full disk, and state files come back unreadable, damaged or out of range.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "platform/registry.h"
#include "platform/sim/devices/drive_state.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

json Profile() {
    json d = SataDiskJson(0);
    d["sata"] = {{"selfTest", {{"shortSeconds", 120}}}};
    return ProfileWithDisks(json::array({d}));
}

fs::path Disk0(const fs::path& dir) { return dir / "disks" / "disk0.json"; }

std::vector<uint8_t> TrimBlock(uint64_t lba) {
    std::vector<uint8_t> ranges(512, 0);
    const uint64_t entry = lba | (uint64_t{1} << 48);
    std::memcpy(ranges.data(), &entry, 8);
    return ranges;
}

bool Trim(uint64_t lba) { return SendAta(kDrive0, Regs(0x06, 1, 1), 0x1C, 512, TrimBlock(lba)).ok; }

sim::DriveState SavedState(const fs::path& dir) {
    std::string error;
    auto s = sim::LoadDriveState(Disk0(dir), &error);
    EXPECT_TRUE(s.has_value()) << error;
    return s.value_or(sim::DriveState{});
}

// Runs `body` in a forked child; its return value is the child's exit code.
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
        }
        ::_exit(rc);
    }
    return pid;
}

// The exit code, or 128 + signal.
int Reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

uint32_t SetDword(std::u16string_view name, uint32_t v) {
    platform::Registry& reg = *platform::Current().registry;
    platform::RegKey key = 0;
    uint32_t rc = reg.RegCreateKeyEx(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\QUELT\\Shared", 0, win::KEY_ALL_ACCESS,
                                     &key, nullptr);
    if (rc != 0) {
        return rc;
    }
    rc = reg.RegSetValueEx(key, name, win::REG_DWORD, reinterpret_cast<const uint8_t*>(&v), 4);
    reg.RegCloseKey(key);
    return rc;
}

std::vector<fs::path> TempFiles(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() == ".tmp" || e.path().extension() == ".new") {
            out.push_back(e.path());
        }
    }
    return out;
}

TEST(SharedState, ProcessesChangingOneDriveAndOneRegistryLoseNoUpdate) {
    TempDir dir;
    { TestMachine m(Profile(), dir.Path()); }
    constexpr int kChildren = 4;
    constexpr int kTrims = 15;
    std::vector<pid_t> pids;
    for (int c = 0; c < kChildren; ++c) {
        pids.push_back(Spawn([&, c] {
            TestMachine m(Profile(), dir.Path());
            for (int i = 0; i < kTrims; ++i) {
                // Apart, so every trim leaves an interval of its own.
                if (!Trim(1000 + 10 * (c * kTrims + i))) {
                    return 10;
                }
                const std::u16string name = platform::Utf8ToUtf16("v" + std::to_string(c) + "_" + std::to_string(i));
                if (SetDword(name, static_cast<uint32_t>(i)) != 0) {
                    return 11;  // "database is locked" and the like
                }
            }
            return 0;
        }));
    }
    for (pid_t p : pids) {
        EXPECT_EQ(Reap(p), 0) << "a child's trim or registry write failed";
    }
    const sim::DriveState s = SavedState(dir.Path());
    EXPECT_EQ(s.trim.commands, uint64_t{kChildren * kTrims}) << "a trim of one process was lost by another's save";
    EXPECT_EQ(s.trim.intervals.size(), size_t{kChildren * kTrims});
    TestMachine m(Profile(), dir.Path());
    for (int c = 0; c < kChildren; ++c) {
        for (int i = 0; i < kTrims; ++i) {
            EXPECT_TRUE(m->Registry().Read(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\QUELT\\Shared",
                                           platform::Utf8ToUtf16("v" + std::to_string(c) + "_" + std::to_string(i))))
                << c << " " << i;
        }
    }
    EXPECT_TRUE(TempFiles(dir.Path() / "disks").empty());
}

TEST(SharedState, AnAbortFromAnotherProcessIsSeenAndKept) {
    TempDir dir;
    TestMachine m(Profile(), dir.Path());
    ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
    m->Clock().Sleep(30000);
    EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD0)).data[363] >> 4, 15) << "running";
    const pid_t child = Spawn([&] {
        TestMachine other(Profile(), dir.Path());
        return NoData(kDrive0, SmartRegs(0xD4, 0x7F, 0x7F)).Aborted() ? 1 : 0;
    });
    ASSERT_EQ(Reap(child), 0);
    EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD0)).data[363] >> 4, 1) << "the first process sees the host's abort";
    m->Clock().Sleep(200000);
    EXPECT_EQ(DataIn(kDrive0, SmartRegs(0xD0)).data[363] >> 4, 1) << "and does not finish the test";
    EXPECT_EQ(SavedState(dir.Path()).runningSelfTest, 0);
}

TEST(SharedState, AProcessKilledAtAnyStepOfASaveLeavesTheOldOrTheNewState) {
    const struct {
        const char* step;
        bool newState;
    } steps[] = {{"temp-created", false}, {"temp-written", false}, {"before-rename", false}, {"after-rename", true}};
    for (const auto& k : steps) {
        TempDir dir;
        { TestMachine m(Profile(), dir.Path()); }
        const uint64_t before = SavedState(dir.Path()).trim.commands;
        const pid_t child = Spawn([&] {
            TestMachine m(Profile(), dir.Path());
            ::setenv("TARVEX_KILL_POINT", (std::string(k.step) + ":disk0.json").c_str(), 1);
            Trim(5000);
            return 0;
        });
        EXPECT_EQ(Reap(child), 128 + SIGKILL) << k.step << ": the kill point did not strike";
        const sim::DriveState s = SavedState(dir.Path());
        EXPECT_EQ(s.trim.commands, before + (k.newState ? 1 : 0)) << k.step;
        // The next program goes on from there.
        TestMachine m(Profile(), dir.Path());
        EXPECT_TRUE(Trim(6000)) << k.step;
    }
}

// Rounds of two to four processes doing random work, some killed at a random step of a save:
// every file stays whole and every trim that a surviving process saw succeed is kept.
TEST(SharedState, SeededSoakOfProcessesAndKills) {
    const char* env = std::getenv("TARVEX_SOAK_SEED");
    const uint32_t seed = env != nullptr ? static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
    SCOPED_TRACE("TARVEX_SOAK_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    const char* killSteps[] = {"temp-created", "temp-written", "before-rename", "after-rename"};
    TempDir dir;
    { TestMachine m(Profile(), dir.Path()); }
    uint64_t lba = 100;
    uint64_t atLeast = 0;  // trims that processes reported done and kept
    for (int round = 0; round < 4; ++round) {
        const int children = 2 + static_cast<int>(rng() % 3);
        std::vector<std::pair<pid_t, int>> pids;  // and how many trims it does
        for (int c = 0; c < children; ++c) {
            const int trims = 1 + static_cast<int>(rng() % 5);
            const bool kill = rng() % 3 == 0;
            const char* step = killSteps[rng() % 4];
            const int killAfter = static_cast<int>(rng() % trims);
            const uint64_t first = lba;
            lba += 10 * static_cast<uint64_t>(trims);
            pids.emplace_back(Spawn([&, trims, kill, step, killAfter, first] {
                TestMachine m(Profile(), dir.Path());
                for (int i = 0; i < trims; ++i) {
                    if (kill && i == killAfter) {
                        ::setenv("TARVEX_KILL_POINT", (std::string(step) + ":disk0.json").c_str(), 1);
                    }
                    if (!Trim(first + 10 * static_cast<uint64_t>(i))) {
                        return 10;
                    }
                    if (i % 2 == 0) {
                        NoData(kDrive0, SmartRegs(0xD4, 1, 1));
                    } else {
                        NoData(kDrive0, SmartRegs(0xD4, 0x7F, 0x7F));
                    }
                }
                return 0;
            }), trims);
        }
        for (const auto& [pid, trims] : pids) {
            const int rc = Reap(pid);
            ASSERT_TRUE(rc == 0 || rc == 128 + SIGKILL) << "round " << round << ": exit " << rc;
            atLeast += rc == 0 ? static_cast<uint64_t>(trims) : 0;
        }
        const sim::DriveState s = SavedState(dir.Path());
        ASSERT_GE(s.trim.commands, atLeast) << "round " << round << ": a finished process's trim was lost";
        ASSERT_LE(s.trim.commands, lba);
    }
}

TEST(SharedState, AFailedSaveFailsTheRequestAndKeepsTheOldState) {
    TempDir dir;
    TestMachine m(Profile(), dir.Path());
    ASSERT_TRUE(Trim(100));
    ::setenv("TARVEX_FAIL_WRITE", "ENOSPC:disk0.json", 1);
    const AtaReply r = SendAta(kDrive0, Regs(0x06, 1, 1), 0x1C, 512, TrimBlock(200));
    ::unsetenv("TARVEX_FAIL_WRITE");
    EXPECT_FALSE(r.ok) << "a change that was not saved is no success";
    EXPECT_EQ(r.error, win::ERROR_DISK_FULL);
    const std::string problem = m->Devices().TakeStateError();
    EXPECT_NE(problem.find("the disk is full"), std::string::npos) << problem;
    EXPECT_NE(problem.find("disk0.json"), std::string::npos) << problem;
    EXPECT_TRUE(m->Devices().TakeStateError().empty()) << "taken once";
    EXPECT_EQ(m->Devices().Sata(0)->State().trim.commands, 1u) << "the drive stays as its file says";
    EXPECT_EQ(SavedState(dir.Path()).trim.commands, 1u);
    EXPECT_TRUE(TempFiles(dir.Path() / "disks").empty()) << "no temporary file stays behind";
    EXPECT_TRUE(Trim(300)) << "the next request saves again";
    EXPECT_EQ(SavedState(dir.Path()).trim.commands, 2u);
}

// The error that building the test PC on `dir` ends with; empty when it comes up.
std::string OpenError(const fs::path& dir) {
    auto loaded = sim::LoadMachineProfile(Profile().dump(), "test", "test.json");
    sim::SimOptions options;
    options.stateDir = dir;
    options.virtualClock = true;
    std::string error;
    auto m = sim::SimMachine::Create(*loaded.profile, options, &error);
    return m ? std::string() : error;
}

TEST(SharedState, UnreadableDamagedAndOutOfRangeStateFilesAreToldApart) {
    {
        TempDir dir;
        fs::create_directories(Disk0(dir.Path()));  // a directory where the file should be
        const std::string e = OpenError(dir.Path());
        EXPECT_NE(e.find("it is a directory"), std::string::npos) << e;
        EXPECT_EQ(e.find("delete it"), std::string::npos) << "a good file is not to be deleted: " << e;
    }
    if (::geteuid() != 0) {
        TempDir dir;
        { TestMachine m(Profile(), dir.Path()); }
        fs::permissions(Disk0(dir.Path()), fs::perms::none);
        const std::string e = OpenError(dir.Path());
        EXPECT_NE(e.find("Permission denied"), std::string::npos) << e;
        EXPECT_EQ(e.find("delete it"), std::string::npos) << e;
    }
    const struct {
        const char* what;
        std::function<void(json&)> change;
        const char* path;
    } cases[] = {
        {"cut short", nullptr, "$"},
        {"running test out of range", [](json& j) { j["selfTest"]["running"] = 200; }, "$.selfTest.running"},
        {"status byte wraps", [](json& j) { j["selfTest"]["status"] = 256; }, "$.selfTest.status"},
        {"attempts", [](json& j) { j["security"]["unlockAttemptsLeft"] = 9; }, "$.security.unlockAttemptsLeft"},
        {"signed hex", [](json& j) { j["security"]["userPassword"] = "+" + std::string(63, '0'); },
         "$.security.userPassword"},
        {"huge time", [](json& j) { j["powerOnMs"] = UINT64_MAX; }, "$.powerOnMs"},
        {"overlapping trim", [](json& j) { j["trim"]["intervals"] = json::array({{10, 20}, {15, 30}}); },
         "$.trim.intervals[1]"},
        {"unknown field", [](json& j) { j["extra"] = 1; }, "$.extra"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        { TestMachine m(Profile(), dir.Path()); }
        std::string text = ReadHostFile(Disk0(dir.Path()));
        if (c.change) {
            json j = json::parse(text);
            c.change(j);
            text = j.dump();
        } else {
            text.resize(text.size() / 2);
        }
        std::ofstream(Disk0(dir.Path()), std::ios::trunc) << text;
        const std::string e = OpenError(dir.Path());
        EXPECT_NE(e.find("damaged"), std::string::npos) << c.what << ": " << e;
        EXPECT_NE(e.find(c.path), std::string::npos) << c.what << ": " << e;
        EXPECT_NE(e.find("delete it"), std::string::npos) << c.what << ": " << e;
    }
}

TEST(SharedState, ARegistryStoreThatIsEmptyOrNotOursIsAnError) {
    TempDir dir;
    {
        TestMachine m(Profile(), dir.Path());
        ASSERT_EQ(SetDword(u"kept", 55), 0u);
    }
    EXPECT_EQ(OpenError(dir.Path()), "") << "our own store opens";
    const fs::path db = dir.Path() / "registry.db";
    fs::remove(dir.Path() / "registry.db-wal");
    fs::remove(dir.Path() / "registry.db-shm");
    std::ofstream(db, std::ios::trunc).close();
    std::string e = OpenError(dir.Path());
    EXPECT_NE(e.find("registry.db"), std::string::npos) << e;
    EXPECT_NE(e.find("empty"), std::string::npos) << e;
    EXPECT_EQ(fs::file_size(db), 0u) << "not reseeded";
    std::ofstream(db, std::ios::trunc) << std::string(4096, 'x');
    e = OpenError(dir.Path());
    EXPECT_NE(e.find("registry.db"), std::string::npos) << e;
    EXPECT_NE(e.find("damaged"), std::string::npos) << e;
}

}  // namespace
}  // namespace tarvex::test
