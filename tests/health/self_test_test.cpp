// The self-test worker against a drive that answers with scripted status bytes: what it
// sends, what it posts to the main window, what it traces and how each run ends.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "app/progress_message.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/self_test.h"
#include "platform/text.h"
#include "support/fake_devices.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

using test::FakeDevices;

constexpr int kFailedRead = -1;

// Answers SMART READ DATA with the next status of `statuses` (the last one repeats; -1 makes
// that read fail) and records the subcommands of EXECUTE OFF-LINE IMMEDIATE.
struct ScriptedDrive {
    std::vector<int> statuses;
    size_t next = 0;
    std::vector<uint8_t> subcommands;
    int reads = 0;

    FakeDevices::Answer Answer() {
        return [this](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned, std::span<uint8_t>) {
            if (r.code != platform::IOCTL_ATA_PASS_THROUGH) {
                return false;  // no second way in: a failed pass-through is a failed read
            }
            platform::AtaPassThroughEx h{};
            std::memcpy(&h, r.input.data(), sizeof h);
            std::memcpy(out.data(), r.input.data(), std::min(r.input.size(), out.size()));
            *returned = static_cast<uint32_t>(out.size());
            if (h.CurrentTaskFile.features == 0xD4) {
                subcommands.push_back(h.CurrentTaskFile.lbaLow);
                return true;
            }
            ++reads;
            const int status = statuses.at(std::min(next, statuses.size() - 1));
            ++next;
            if (status == kFailedRead) {
                return false;
            }
            out[platform::kAtaPassThroughDataOffset + 2] = 0x09;  // one attribute, so the page parses
            out[platform::kAtaPassThroughDataOffset + 363] = static_cast<uint8_t>(status);
            return true;
        };
    }
};

class SelfTestWorkerTest : public ::testing::Test {
protected:
    SelfTestWorkerTest() {
        installed_ = std::make_unique<test::WithFakeDevices>(machine_->Platform(), fake_);
        InitGlobalAtaCommand();
        ResetTraceForTesting();
        SetTraceLevel(1);
        window_ = machine_->Windows().RegisterWindow(kMainWindowTitle, nullptr);
        BusyOperation = 0;
        SelfTestAbortRequested = 0;
    }
    ~SelfTestWorkerTest() override {
        SetTraceLevel(0);
        ResetTraceForTesting();
        BusyOperation = 0;
        SelfTestAbortRequested = 0;
    }

    // Runs one scan of `kind` on drive 3 to its end, on this thread.
    void RunScan(std::vector<int> statuses, int kind = kOperationQuickScan) {
        drive_.statuses = std::move(statuses);
        fake_.answer = drive_.Answer();
        data_.driveIndex = 3;
        data_.operationKind = kind;
        platform::CopyToFixed(data_.windowTitle, kMainWindowTitle);
        EXPECT_EQ(SelfTestThread(&data_), 1u);
    }
    // The posts as (code, percentage) pairs; every post carries the page's record.
    std::vector<std::pair<int, int>> Posts() {
        std::vector<std::pair<int, int>> posts;
        for (const platform::WindowMessage& m : machine_->Windows().TakeMessages(window_)) {
            EXPECT_EQ(m.message, KORVANEMSG_PROGRESS);
            EXPECT_EQ(m.lParam, reinterpret_cast<intptr_t>(&data_));
            posts.emplace_back(ProgressCode(m.wParam), ProgressPercentage(m.wParam));
        }
        return posts;
    }
    std::string TraceText() { return test::ReadHostFile(machine_.Host(u"C:\\Tools\\Tarvex.log")); }

    test::TestMachine machine_;
    FakeDevices fake_;
    std::unique_ptr<test::WithFakeDevices> installed_;
    ScriptedDrive drive_;
    SelfTestThreadData data_;
    platform::Hwnd window_ = platform::kNullHwnd;
};

using Posted = std::vector<std::pair<int, int>>;

TEST(SelfTestStatusTable, EachStatusValueEndsOrGoesOn) {
    for (int value = 0; value <= 8; ++value) {
        const SelfTestStatusMeaning m = DecodeSelfTestStatus(static_cast<uint8_t>(value << 4 | 0x05));
        EXPECT_TRUE(m.ends);
        EXPECT_EQ(m.result, 101 + value);
    }
    EXPECT_FALSE(DecodeSelfTestStatus(0xA3).ends);
    EXPECT_EQ(DecodeSelfTestStatus(0xA3).progress, 7) << "reserved";
    EXPECT_EQ(DecodeSelfTestStatus(0xE0).progress, 7);
    EXPECT_EQ(DecodeSelfTestStatus(0xF9).progress, 10);
    EXPECT_EQ(DecodeSelfTestStatus(0xF0).progress, 100) << "under 10 % left is still running";
    EXPECT_FALSE(DecodeSelfTestStatus(0xF0).ends);
}

TEST_F(SelfTestWorkerTest, ExtendedRunReportsProgressThenSuccess) {
    ASSERT_TRUE(ClaimBusyOperation(kOperationFullScan));  // as the page's Run does
    RunScan({0xF9, 0xF5, 0xF0, 0x00}, kOperationFullScan);
    EXPECT_EQ(drive_.subcommands, std::vector<uint8_t>{2});
    EXPECT_EQ(Posts(), (Posted{{1, 0}, {2, 10}, {2, 50}, {2, 100}, {3, 0}}));
    EXPECT_EQ(LoadThreadResult(data_), 101);
    EXPECT_EQ(drive_.reads, 4);
    EXPECT_EQ(machine_->Clock().ElapsedMs(), 4 * 5000) << "one poll every 5 seconds";
    EXPECT_EQ(BusyOperation.load(), kOperationFullScan) << "the page clears it when it handles END";

    const std::string trace = TraceText();
    EXPECT_NE(trace.find("( 249)\tSelf-test routine in progress...90% of test remaining.\r\n"), std::string::npos);
    EXPECT_NE(trace.find("( 240)\tSelf-test routine in progress...00% of test remaining.\r\n"), std::string::npos);
    EXPECT_NE(trace.find("(   0)\tThe previous self-test routine completed without error or no self-test has ever "
                         "been run.\r\n"),
              std::string::npos);
    EXPECT_NE(trace.find("KORVANEMSG_WPARAM_PROGRESSEND, 000000F5\r\n"), std::string::npos);
}

TEST_F(SelfTestWorkerTest, FinalStatusesEndTheRunWithTheirResult) {
    RunScan({0x25});
    EXPECT_EQ(drive_.subcommands, std::vector<uint8_t>{1});
    EXPECT_EQ(Posts(), (Posted{{1, 0}, {3, 0}}));
    EXPECT_EQ(LoadThreadResult(data_), 103) << "interrupted by a reset";
    EXPECT_NE(TraceText().find("(  37)\tThe self-test routine was interrupted by the host with a hard or soft "
                               "reset.\r\n"),
              std::string::npos);

    drive_ = ScriptedDrive{};
    RunScan({0xA3, 0xF1, 0x73});
    EXPECT_EQ(Posts(), (Posted{{1, 0}, {2, 7}, {2, 90}, {3, 0}})) << "a reserved value keeps polling";
    EXPECT_EQ(LoadThreadResult(data_), 108);
    EXPECT_NE(TraceText().find("( 163)\tReserved.\r\n\r\n"), std::string::npos);
}

TEST_F(SelfTestWorkerTest, FailedStatusReadsEndInAFailureNotASuccess) {
    RunScan({0xF9, kFailedRead, kFailedRead, 0xF5, kFailedRead, kFailedRead, kFailedRead});
    EXPECT_EQ(Posts(), (Posted{{1, 0}, {2, 10}, {2, 50}, {3, 0}})) << "a good read resets the count";
    EXPECT_EQ(LoadThreadResult(data_), 104);
    EXPECT_EQ(drive_.reads, 7);
}

TEST_F(SelfTestWorkerTest, WithoutAMainWindowNothingStartsAndTheBusyFlagIsCleared) {
    machine_->Windows().UnregisterWindow(window_);
    ASSERT_TRUE(ClaimBusyOperation(kOperationQuickScan));
    RunScan({0xF9});
    EXPECT_EQ(BusyOperation.load(), 0) << "the run's claim is given back";
    EXPECT_TRUE(drive_.subcommands.empty());
    EXPECT_EQ(drive_.reads, 0);
    EXPECT_EQ(machine_->Clock().SleepCount(), 0u);

    // The worker never takes the flag itself, nor frees a claim it does not hold.
    BusyOperation = kOperationServiceStop;
    RunScan({0xF9});
    EXPECT_EQ(BusyOperation.load(), kOperationServiceStop);
    BusyOperation = 0;
    window_ = machine_->Windows().RegisterWindow(kMainWindowTitle, nullptr);
    RunScan({0x00});
    EXPECT_EQ(BusyOperation.load(), 0) << "a worker started without a claim does not claim";
}

TEST_F(SelfTestWorkerTest, ARunKeepsTheCommandObjectItStartedWithWhenANewOneIsMade) {
    drive_.statuses = {0xF9, 0xF5, 0x00};
    FakeDevices::Answer scripted = drive_.Answer();
    std::promise<void> firstPoll;
    std::promise<void> replaced;
    std::future<void> replacedSeen = replaced.get_future();
    bool held = false;
    fake_.answer = [&, scripted](const FakeDevices::Request& r, std::span<uint8_t> out, uint32_t* returned,
                                 std::span<uint8_t> extra) {
        const bool ok = scripted(r, out, returned, extra);
        if (drive_.reads == 1 && !held) {
            held = true;  // hold the first poll until the object has been replaced
            firstPoll.set_value();
            replacedSeen.wait();
        }
        return ok;
    };
    data_.driveIndex = 3;
    data_.operationKind = kOperationQuickScan;
    platform::CopyToFixed(data_.windowTitle, kMainWindowTitle);
    std::thread worker([this] { (void)SelfTestThread(&data_); });
    firstPoll.get_future().wait();
    InitGlobalAtaCommand();  // start-up again, while the worker is inside a status read
    replaced.set_value();
    worker.join();
    EXPECT_EQ(drive_.reads, 3) << "the worker went on polling with the object it holds";
    EXPECT_EQ(LoadThreadResult(data_), 101);
    EXPECT_EQ(Posts(), (Posted{{1, 0}, {2, 10}, {2, 50}, {3, 0}}));
}

TEST_F(SelfTestWorkerTest, AnAbortRequestBeforeTheFirstPollEndsAsAborted) {
    SelfTestAbortRequested = 1;
    RunScan({0xF9});
    EXPECT_EQ(Posts(), (Posted{{1, 0}, {3, 0}}));
    EXPECT_EQ(LoadThreadResult(data_), 102);
    EXPECT_EQ(drive_.reads, 0);
}

TEST(ProgressRouting, KindsGoToThePageThatStartedThemWhenItIsCurrent) {
    const uintptr_t start = ProgressWParam(1);
    const uintptr_t progress = ProgressWParam(2, 40);
    const uintptr_t end = ProgressWParam(3);
    auto forward = RouteProgress(kPageDiagnostics, kOperationFullScan, progress, 0);
    ASSERT_TRUE(forward);
    EXPECT_EQ(forward->value, 40);
    EXPECT_EQ(RouteProgress(kPageDiagnostics, kOperationQuickScan, end, 104)->value, 104);
    EXPECT_EQ(RouteProgress(kPageDiagnostics, kOperationServiceStop, start, 0)->page, kPageDiagnostics);
    EXPECT_FALSE(RouteProgress(kPageDiagnostics, kOperationServiceStop, progress, 0));
    EXPECT_FALSE(RouteProgress(kPageDiagnostics, kOperationSecurityErase, end, 0)) << "kind 4 on page 1";
    EXPECT_EQ(RouteProgress(kPageUtilities, kOperationSecurityErase, end, 0)->page, kPageUtilities);
    EXPECT_EQ(RouteProgress(kPageAtaCommandSummary, kOperationAtaStatistics, end, 0)->page, kPageAtaCommandSummary);
    EXPECT_FALSE(RouteProgress(kPageDriveInfo, kOperationQuickScan, progress, 0));
    EXPECT_FALSE(RouteProgress(kPageDiagnostics, kOperationQuickScan, ProgressWParam(4), 0)) << "unknown code";
}

}  // namespace
}  // namespace tarvex
