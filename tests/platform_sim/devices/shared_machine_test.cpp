// What programs on one emulated PC share besides the drives: the table of top-level windows
// (seen machine-wide or only in-process, gone with the process that made them, claimed by one
// program only) and the clock speed the PC runs at.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/last_error.h"
#include "platform/sim/sim_windows.h"
#include "platform_sim/devices/device_requests.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using platform::WindowScope;

constexpr char16_t kTitle[] = u"QUELT Tarvex";

int Reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SharedWindows, ScopeDecidesWhoFindsAWindowAndPostsStayInTheirProcess) {
    TempDir dir;
    // Two tables on one folder stand for two processes: each entry is locked by its own
    // file description, as another process's would be.
    sim::SimWindows gui(dir.Path());
    sim::SimWindows cli(dir.Path());
    const auto standIn = cli.RegisterWindow(kTitle, nullptr);  // WindowScope::Process
    ASSERT_NE(standIn, platform::kNullHwnd);
    EXPECT_EQ(cli.FindWindow(kTitle), standIn);
    EXPECT_EQ(gui.FindWindow(kTitle), platform::kNullHwnd) << "a stand-in window is not a second copy";

    const auto main = gui.ClaimWindow(kTitle, nullptr);
    ASSERT_NE(main, platform::kNullHwnd) << "the stand-in of another process does not hold the title";
    EXPECT_EQ(cli.FindWindow(kTitle), standIn) << "a process finds its own window first";
    sim::SimWindows third(dir.Path());
    EXPECT_EQ(third.FindWindow(kTitle), main) << "a machine window is seen by every process";
    EXPECT_EQ(third.ClaimWindow(kTitle, nullptr), platform::kNullHwnd);
    EXPECT_EQ(platform::GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_EQ(gui.ClaimWindow(kTitle, nullptr), platform::kNullHwnd) << "nor twice in one process";

    EXPECT_FALSE(third.PostMessage(main, win::WM_USER, 1, 2)) << "lParam is an address of the owner";
    EXPECT_EQ(platform::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(gui.PostMessage(main, win::WM_USER, 1, 2));
    EXPECT_EQ(gui.TakeMessages(main).size(), 1u);

    ASSERT_TRUE(gui.SetWindowText(main, u"QUELT Tarvex - busy"));
    EXPECT_EQ(third.FindWindow(kTitle), platform::kNullHwnd);
    EXPECT_EQ(third.FindWindow(u"QUELT Tarvex - busy"), main);
    ASSERT_TRUE(gui.SetWindowText(main, kTitle));
    gui.UnregisterWindow(main);
    EXPECT_EQ(third.FindWindow(kTitle), platform::kNullHwnd);
    EXPECT_NE(third.ClaimWindow(kTitle, nullptr), platform::kNullHwnd) << "released: free to claim";
}

TEST(SharedWindows, AWindowGoesWithItsProcessHoweverItEnds) {
    TempDir dir;
    for (bool kill : {false, true}) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            sim::SimWindows windows(dir.Path());
            const bool ok = windows.ClaimWindow(kTitle, nullptr) != platform::kNullHwnd;
            char c = ok ? 'y' : 'n';
            (void)::write(ready[1], &c, 1);
            ::pause();  // until killed
            ::_exit(0);
        }
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ASSERT_EQ(c, 'y');
        sim::SimWindows here(dir.Path());
        EXPECT_NE(here.FindWindow(kTitle), platform::kNullHwnd) << "alive: found";
        ::kill(child, kill ? SIGKILL : SIGTERM);
        Reap(child);
        ::close(ready[0]);
        ::close(ready[1]);
        EXPECT_EQ(here.FindWindow(kTitle), platform::kNullHwnd) << "ended without unregistering: gone";
    }
}

TEST(SharedWindows, OfProgramsStartingAtOnceOnlyOneClaimsTheTitle) {
    TempDir dir;
    for (int round = 0; round < 3; ++round) {
        int go[2];
        int results[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(results), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < 4; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(go[1]);
                sim::SimWindows windows(dir.Path());
                char c = 0;
                (void)::read(go[0], &c, 1);  // everyone starts when the parent closes the pipe
                const bool got = windows.ClaimWindow(kTitle, nullptr) != platform::kNullHwnd;
                c = got ? 'y' : 'n';
                (void)::write(results[1], &c, 1);
                (void)::read(go[0], &c, 1);
                ::pause();
                ::_exit(0);
            }
            children.push_back(pid);
        }
        ::close(go[0]);
        ::close(go[1]);
        int winners = 0;
        for (int i = 0; i < 4; ++i) {
            char c = 0;
            ASSERT_EQ(::read(results[0], &c, 1), 1);
            winners += c == 'y' ? 1 : 0;
        }
        EXPECT_EQ(winners, 1) << "round " << round;
        for (pid_t p : children) {
            ::kill(p, SIGKILL);
            Reap(p);
        }
        ::close(results[0]);
        ::close(results[1]);
    }
}

// A machine whose clock follows the host (as a program run builds it) at `speed`.
std::string OpenAtSpeed(const fs::path& dir, double speed, bool powerCycle = false) {
    auto loaded = sim::LoadMachineProfile(ProfileWithDisks(nlohmann::json::array({SataDiskJson(0)})).dump(), "test",
                                          "test.json");
    sim::SimOptions options;
    options.stateDir = dir;
    options.speed = speed;
    options.speedChangeAllowed = powerCycle;
    std::string error;
    auto m = sim::SimMachine::Create(*loaded.profile, options, &error);
    if (m && powerCycle && !m->Devices().PowerCycle(&error)) {
        return error;
    }
    return m ? std::string() : error;
}

TEST(SharedClock, ARunningPcKeepsItsSpeedUntilItIsPowerCycled) {
    TempDir dir;
    ASSERT_EQ(OpenAtSpeed(dir.Path(), 20), "");
    EXPECT_EQ(OpenAtSpeed(dir.Path(), 20), "") << "the same speed joins";
    EXPECT_EQ(OpenAtSpeed(dir.Path(), 20.0000001), "") << "as the environment passes it on";
    const std::string refused = OpenAtSpeed(dir.Path(), 1);
    EXPECT_NE(refused.find("runs at clock speed 20"), std::string::npos) << refused;
    EXPECT_NE(refused.find("--power-cycle"), std::string::npos) << refused;
    EXPECT_EQ(OpenAtSpeed(dir.Path(), 1, true), "") << "a power cycle may change it";
    EXPECT_EQ(OpenAtSpeed(dir.Path(), 1), "");
    EXPECT_NE(OpenAtSpeed(dir.Path(), 20), "") << "now it runs at 1";
}

}  // namespace
}  // namespace tarvex::test
