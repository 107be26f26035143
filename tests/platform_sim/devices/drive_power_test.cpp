// The emulated PC stays on between runs of the program: a drive's background work goes on
// while no program runs (by the host's wall time, scaled by the clock's speed, not at all on
// the virtual clock), security states last until a power cycle, and only a new drive or an
// explicit power cycle is a power-on.
#include <gtest/gtest.h>

#include <fstream>

#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// A machine on `stateDir` whose clock follows the host, as a program run builds it: the real
// clock at speed 1, a scaled one otherwise.
class HostClockMachine {
public:
    HostClockMachine(const json& profile, const fs::path& stateDir, double speed) {
        auto loaded = sim::LoadMachineProfile(profile.dump(), "test", "test.json");
        if (!loaded.profile) {
            throw std::runtime_error(loaded.error);
        }
        sim::SimOptions options;
        options.stateDir = stateDir;
        options.speed = speed;
        std::string error;
        machine_ = sim::SimMachine::Create(*loaded.profile, options, &error);
        if (!machine_) {
            throw std::runtime_error(error);
        }
        installed_ = std::make_unique<platform::ScopedPlatform>(machine_->Platform());
    }
    sim::SimMachine* operator->() { return machine_.get(); }

private:
    std::unique_ptr<sim::SimMachine> machine_;
    std::unique_ptr<platform::ScopedPlatform> installed_;
};

fs::path StateFile(const fs::path& stateDir) { return stateDir / "disks" / "disk0.json"; }

json ReadState(const fs::path& stateDir) { return json::parse(ReadHostFile(StateFile(stateDir))); }

void WriteState(const fs::path& stateDir, const json& j) { std::ofstream(StateFile(stateDir)) << j.dump(1); }

// Makes the last save of disk 0 look `msAgo` milliseconds old (negative: in the future).
void SavedAgo(const fs::path& stateDir, int64_t msAgo) {
    json j = ReadState(stateDir);
    ASSERT_TRUE(j.contains("savedAtUnixMs"));
    j["savedAtUnixMs"] = sim::HostUnixMs() - msAgo;
    WriteState(stateDir, j);
}

uint64_t SavedPoweredMs(const fs::path& stateDir) { return ReadState(stateDir)["powerOnMs"].get<uint64_t>(); }

uint8_t SelfTestStatus() { return DataIn(kDrive0, SmartRegs(0xD0)).data[363]; }
uint16_t SecurityWord() { return Word(DataIn(kDrive0, Regs(0xEC)).data, 128); }

json SelfTestDisk(int shortSeconds) {
    json d = SataDiskJson(0);
    d["sata"] = {{"selfTest", {{"shortSeconds", shortSeconds}}},
                 {"security", {{"eraseMinutes", 4}, {"eraseSeconds", 200}}}};
    return d;
}

TEST(DrivePower, TimeBetweenRunsCountsAsPoweredTimeScaledByTheClock) {
    TempDir dir;
    const json profile = ProfileWithDisks(json::array({SelfTestDisk(600)}));
    uint64_t poweredMs = 0;
    {
        TestMachine m(profile, dir.Path());
        m->Clock().Advance(3600 * 1000);
        ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
    }
    poweredMs = SavedPoweredMs(dir.Path());
    // Thirty seconds without a program at 10 times real speed: 300 s of the 600 s test.
    SavedAgo(dir.Path(), 30000);
    {
        HostClockMachine m(profile, dir.Path(), 10);
        const sim::DriveState& s = m->Devices().Sata(0)->State();
        EXPECT_GE(s.powerOnMs, poweredMs + 300000);
        EXPECT_LT(s.powerOnMs, poweredMs + 300000 + 60000) << "only the gap, scaled, was added";
        EXPECT_EQ(s.powerOns, 1u) << "a new run is no power-on";
        EXPECT_EQ(SelfTestStatus(), 0xF5) << "half the test ran while no program did";
    }
    poweredMs = SavedPoweredMs(dir.Path());
    SavedAgo(dir.Path(), 40000);
    {
        HostClockMachine m(profile, dir.Path(), 10);
        EXPECT_EQ(SelfTestStatus(), 0x00) << "the test completed meanwhile";
        const uint8_t hours = DataIn(kDrive0, Regs(0xB0, 0xD5, 1, 0x06, 0x4F, 0xC2, 0x40)).data[4];
        EXPECT_EQ(hours, 1);
    }
    // The real clock counts the gap as it is (on a PC of its own: a running PC keeps its speed).
    TempDir realDir;
    { TestMachine m(profile, realDir.Path()); }
    poweredMs = SavedPoweredMs(realDir.Path());
    SavedAgo(realDir.Path(), 10000);
    {
        HostClockMachine m(profile, realDir.Path(), 1);
        const uint64_t now = m->Devices().Sata(0)->State().powerOnMs;
        EXPECT_GE(now, poweredMs + 10000);
        EXPECT_LT(now, poweredMs + 10000 + 60000);
    }
    poweredMs = SavedPoweredMs(dir.Path());
    // A save that lies ahead (the host's clock went back) adds nothing.
    SavedAgo(dir.Path(), -3600 * 1000);
    {
        HostClockMachine m(profile, dir.Path(), 10);
        EXPECT_LT(m->Devices().Sata(0)->State().powerOnMs, poweredMs + 60000);
    }
}

TEST(DrivePower, VirtualClockIgnoresTheTimeBetweenRuns) {
    TempDir dir;
    const json profile = ProfileWithDisks(json::array({SelfTestDisk(600)}));
    uint64_t poweredMs = 0;
    {
        TestMachine m(profile, dir.Path());
        ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
        m->Clock().Sleep(60000);
    }
    poweredMs = SavedPoweredMs(dir.Path());
    ASSERT_EQ(poweredMs, 60000u);
    SavedAgo(dir.Path(), 24 * 3600 * 1000);
    TestMachine m(profile, dir.Path());
    EXPECT_EQ(m->Devices().Sata(0)->State().powerOnMs, poweredMs);
    EXPECT_EQ(SelfTestStatus(), 0xF9) << "the test stands where it was";
}

TEST(DrivePower, EraseGoesOnBetweenRunsAndAPowerCycleCutsItShort) {
    TempDir dir;
    const json profile = ProfileWithDisks(json::array({SelfTestDisk(600)}));
    const auto startErase = [] {
        ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("QWERT")).Aborted());
        ASSERT_FALSE(NoData(kDrive0, Regs(0xF3)).Aborted());
        ASSERT_FALSE(DataOut(kDrive0, Regs(0xF4), PasswordBlock("QWERT")).Aborted());
    };
    {
        TestMachine m(profile, dir.Path());
        startErase();
        m->Clock().Sleep(100000);
    }
    {
        TestMachine m(profile, dir.Path());
        EXPECT_TRUE(NoData(kDrive0, Regs(0xEA)).Aborted()) << "still erasing in the next run";
        m->Clock().Sleep(100000);
        EXPECT_EQ(SecurityWord(), 0x0021) << "done: password gone";
        EXPECT_FALSE(m->Devices().Sata(0)->State().hasUserData);
        startErase();
    }
    // Twenty seconds at 10 times speed cover the 200 s erase.
    SavedAgo(dir.Path(), 20000);
    {
        HostClockMachine m(profile, dir.Path(), 10);
        EXPECT_EQ(SecurityWord(), 0x0021) << "the erase ended while no program ran";
        EXPECT_EQ(m->Devices().Sata(0)->State().erasesDone, 2u);
        startErase();
    }
    TestMachine m(profile, dir.Path());
    m->Clock().Sleep(100000);
    ASSERT_TRUE(m->Devices().PowerCycle());
    EXPECT_EQ(m->Devices().Sata(0)->State().eraseEndMs, 0u);
    EXPECT_EQ(SecurityWord(), 0x0027) << "an erase cut short leaves the drive locked";
    EXPECT_EQ(m->Devices().Sata(0)->State().erasesDone, 2u);
    ASSERT_FALSE(DataOut(kDrive0, Regs(0xF2), PasswordBlock("QWERT")).Aborted());
    EXPECT_EQ(SecurityWord(), 0x0023);
}

TEST(DrivePower, FrozenLastsUntilThePowerCycle) {
    TempDir dir;
    json frozenByBios = SataDiskJson(0);
    frozenByBios["sata"] = {{"security", {{"frozen", true}}}};
    const json biosProfile = ProfileWithDisks(json::array({frozenByBios}));
    {
        TestMachine m(biosProfile, dir.Path());
        EXPECT_EQ(SecurityWord(), 0x0029) << "the BIOS froze the new drive";
    }
    {
        TestMachine m(biosProfile, dir.Path());
        EXPECT_EQ(SecurityWord(), 0x0029);
        EXPECT_TRUE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("ABC")).Aborted());
        ASSERT_TRUE(m->Devices().PowerCycle());
        EXPECT_EQ(SecurityWord(), 0x0029) << "and again at every power-on";
    }

    // FREEZE LOCK from the program lasts past its end, until the power goes.
    TempDir other;
    const json profile = ProfileWithDisks(json::array({SataDiskJson(0)}));
    {
        TestMachine m(profile, other.Path());
        ASSERT_FALSE(NoData(kDrive0, Regs(0xF5)).Aborted());
    }
    {
        TestMachine m(profile, other.Path());
        EXPECT_EQ(SecurityWord(), 0x0029) << "still frozen in the next run";
        EXPECT_TRUE(NoData(kDrive0, Regs(0xF3)).Aborted());
        ASSERT_TRUE(m->Devices().PowerCycle());
        EXPECT_EQ(SecurityWord(), 0x0021) << "the power cycle thaws it";
    }
    TestMachine m(profile, other.Path());
    EXPECT_EQ(SecurityWord(), 0x0021);
}

TEST(DrivePower, PowerCycleCountsEveryDriveAndKeepsItsPoweredTime) {
    json nvme = {{"number", 1}, {"kind", "nvme"}, {"model", "VARNO NV10 512GB"}, {"serial", "N1"},
                 {"firmware", "1.0"}, {"capacityBytes", 512110190592ull}};
    const json profile = ProfileWithDisks(json::array({SataDiskJson(0), nvme}));
    TestMachine m(profile);
    sim::SimDevices& devices = m->Devices();
    EXPECT_EQ(devices.Sata(0)->State().powerOns, 1u);
    EXPECT_EQ(devices.Nvme(1)->State().powerOns, 1u);
    m->Clock().Sleep(90000);
    ASSERT_TRUE(devices.PowerCycle());
    EXPECT_EQ(devices.Sata(0)->State().powerOns, 2u);
    EXPECT_EQ(devices.Nvme(1)->State().powerOns, 2u);
    EXPECT_EQ(devices.Nvme(1)->State().powerOnMs, 90000u) << "powered time goes on over a power cycle";
    EXPECT_EQ(ReadState(m.StateDir())["powerOns"], 2) << "the power cycle is saved";
}

TEST(DrivePower, StateFileWithoutThePowerFieldsComesUpWithAPowerOn) {
    TempDir dir;
    const json profile = ProfileWithDisks(json::array({SelfTestDisk(600)}));
    {
        TestMachine m(profile, dir.Path());
        ASSERT_FALSE(DataOut(kDrive0, Regs(0xF1), PasswordBlock("QWERT")).Aborted());
        ASSERT_FALSE(NoData(kDrive0, SmartRegs(0xD4, 1, 1)).Aborted());
    }
    // As the files were before drives stayed powered between runs.
    json old = ReadState(dir.Path());
    old.erase("savedAtUnixMs");
    old["security"].erase("locked");
    old["security"].erase("frozen");
    old["security"].erase("unlockAttemptsLeft");
    WriteState(dir.Path(), old);
    {
        TestMachine m(profile, dir.Path());
        EXPECT_EQ(m->Devices().Sata(0)->State().powerOns, 2u);
        EXPECT_EQ(SelfTestStatus(), 0x20) << "the test it had running was interrupted";
        EXPECT_EQ(SecurityWord(), 0x0027) << "a drive with a password comes up locked";
    }
    const json rewritten = ReadState(dir.Path());
    EXPECT_TRUE(rewritten.contains("savedAtUnixMs"));
    EXPECT_EQ(rewritten["security"]["locked"], true);
    EXPECT_EQ(rewritten["security"]["unlockAttemptsLeft"], 5);

    // Values out of range or of the wrong type are refused, as in a profile.
    auto loaded = sim::LoadMachineProfile(profile.dump(), "t", "t.json");
    ASSERT_TRUE(loaded.profile);
    sim::SimOptions options;
    options.stateDir = dir.Path();
    options.virtualClock = true;
    const struct {
        const char* field;
        json value;
    } bad[] = {{"unlockAttemptsLeft", 300}, {"locked", "no"}};
    for (const auto& b : bad) {
        json changed = rewritten;
        changed["security"][b.field] = b.value;
        WriteState(dir.Path(), changed);
        std::string error;
        EXPECT_FALSE(sim::SimMachine::Create(*loaded.profile, options, &error)) << b.field;
        EXPECT_NE(error.find("disk0.json"), std::string::npos) << error;
        EXPECT_NE(error.find(std::string("$.security.") + b.field), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace tarvex::test
