// The self-test worker against an emulated drive that refuses to start the test: the run must
// end as failed at once instead of reading the drive's previous status as this test's result.
#include <gtest/gtest.h>

#include "app/progress_message.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/self_test.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/text.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

// Runs a quick scan of drive 0 of the demo PC, whose drive answers EXECUTE OFF-LINE IMMEDIATE
// as `faults` say, and returns the posts as (code, value) pairs.
struct RefusedStart {
    explicit RefusedStart(const char* faults) {
        nlohmann::json profile = nlohmann::json::parse(sim::FindEmbeddedProfile("demo")->text);
        profile["disks"][0]["faults"] = nlohmann::json::parse(faults);
        machine = std::make_unique<test::TestMachine>(profile);
        InitGlobalAtaCommand();
        window = (*machine)->Windows().RegisterWindow(kMainWindowTitle, nullptr);
        BusyOperation = 0;
        SelfTestAbortRequested = 0;
        data.driveIndex = 0;
        data.operationKind = kOperationQuickScan;
        platform::CopyToFixed(data.windowTitle, kMainWindowTitle);
        EXPECT_EQ(SelfTestThread(&data), 1u);
        for (const platform::WindowMessage& m : (*machine)->Windows().TakeMessages(window)) {
            posts.push_back(ProgressCode(m.wParam));
        }
    }
    ~RefusedStart() { BusyOperation = 0; }

    std::unique_ptr<test::TestMachine> machine;
    platform::Hwnd window = platform::kNullHwnd;
    SelfTestThreadData data;
    std::vector<int> posts;
};

TEST(SelfTestStart, ARefusedStartEndsTheRunAsFailedWithoutPolling) {
    // The drive aborts the command through pass-through (ERR in the status) and receive-data
    // alike; its last test passed, so polling would read "done successfully".
    RefusedStart aborted(R"([{"on": "ata", "command": 176, "feature": 212, "effect": "abort"}])");
    EXPECT_EQ(LoadThreadResult(aborted.data), kSelfTestFatalError);
    EXPECT_EQ(aborted.posts, (std::vector<int>{KORVANEMSG_WPARAM_PROGRESSSTART, KORVANEMSG_WPARAM_PROGRESSEND}));
    EXPECT_EQ((*aborted.machine)->Clock().SleepCount(), 0u) << "no status poll after a refused start";

    // A call that fails on both routes ends the same way.
    RefusedStart failed(R"([{"on": "ata", "command": 176, "feature": 212, "effect": "fail"}])");
    EXPECT_EQ(LoadThreadResult(failed.data), kSelfTestFatalError);
    EXPECT_EQ((*failed.machine)->Clock().SleepCount(), 0u);

    // A start that is refused once, on the pass-through only, is taken by receive-data: the
    // test runs and the first poll shows it in progress.
    RefusedStart retried(
        R"([{"on": "ata", "command": 176, "feature": 212, "effect": "fail", "times": 1}])");
    EXPECT_EQ(LoadThreadResult(retried.data), kSelfTestSucceeded);
    EXPECT_GT((*retried.machine)->Clock().SleepCount(), 0u);
}

}  // namespace
}  // namespace tarvex
