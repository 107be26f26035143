// The ATA Command Summary totals and their worker: what one reading adds, the label texts,
// and the worker against an emulated JMF608 drive through the main window's message queue.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "app/progress_message.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/ata_statistics.h"
#include "support/test_machine.h"

namespace tarvex {
namespace {

void Put(std::vector<uint8_t>& table, size_t offset, uint32_t value) { std::memcpy(&table[offset], &value, 4); }

StatisticsReading Decode(const std::vector<uint8_t>& table) {
    StatisticsReading r;
    EXPECT_TRUE(DecodeStatisticsReading(table, r));
    return r;
}

TEST(AtaStatisticsTotals, BucketExampleZerosAndDoubling) {
    std::vector<uint8_t> table(kStatisticsBufferSize, 0);
    // 512-byte bucket: writes 10, 20, 30 and reads 1, 2, 3 in the three pairs.
    for (uint32_t pair = 0; pair < 3; ++pair) {
        Put(table, 28 + pair * 8, 10 * (pair + 1));
        Put(table, 28 + pair * 8 + 4, pair + 1);
    }
    AtaStatisticsTotals totals;
    EXPECT_EQ(StatisticsValueText(totals, totals.bucketReads[0]), u"N/A") << "before the first reading";
    EXPECT_EQ(StatisticsRatioText(totals), u"N/A");
    totals.Add(Decode(table));
    EXPECT_EQ(StatisticsValueText(totals, totals.bucketReads[0]), u"6");
    EXPECT_EQ(StatisticsValueText(totals, totals.bucketWrites[0]), u"60");
    EXPECT_EQ(StatisticsRatioText(totals), u"9% Read, 90% Write") << "integer shares need not add up to 100";
    for (size_t b = 1; b < kStatisticsBucketCount; ++b) {
        EXPECT_EQ(totals.bucketReads[b], 0u);
        EXPECT_EQ(totals.bucketWrites[b], 0u);
    }
    totals.Add(Decode(table));
    EXPECT_EQ(totals.bucketReads[0], 12u);
    EXPECT_EQ(totals.bucketWrites[0], 120u);
    EXPECT_EQ(totals.totalReads, 12u);
    EXPECT_EQ(totals.totalWrites, 120u);
    EXPECT_EQ(StatisticsRatioText(totals), u"9% Read, 90% Write");

    AtaStatisticsTotals zeros;
    zeros.Add(Decode(std::vector<uint8_t>(kStatisticsBufferSize, 0)));
    EXPECT_EQ(StatisticsRatioText(zeros), u"N/A");
    EXPECT_EQ(StatisticsValueText(zeros, zeros.bucketReads[3]), u"0") << "a reading of zeros shows 0, not N/A";
}

TEST(AtaStatisticsTotals, EveryBucketAndLargeCounters) {
    std::vector<uint8_t> table(kStatisticsBufferSize, 0);
    for (size_t b = 0; b < kStatisticsBucketCount; ++b) {
        Put(table, kStatisticsBucketOffsets[b] + 16, static_cast<uint32_t>(b + 1));       // writes, pair 2
        Put(table, kStatisticsBucketOffsets[b] + 20, static_cast<uint32_t>(100 * (b + 1)));  // reads, pair 2
    }
    AtaStatisticsTotals totals;
    totals.Add(Decode(table));
    EXPECT_EQ(totals.bucketWrites[3], 4u);
    EXPECT_EQ(totals.bucketReads[2], 300u);
    EXPECT_EQ(totals.totalWrites, 10u);
    EXPECT_EQ(totals.totalReads, 1000u);

    // Totals near 2^32 each: the ratio is taken without the sum wrapping.
    AtaStatisticsTotals big;
    big.totalReads = 0xC0000000u;
    big.totalWrites = 0x40000000u;
    EXPECT_EQ(StatisticsRatioText(big), u"75% Read, 25% Write");
    big.anyReading = true;
    EXPECT_EQ(StatisticsValueText(big, 0xFFFFFFFFu), u"4294967295") << "an unsigned counter never shows negative";

    StatisticsReading r;
    EXPECT_FALSE(DecodeStatisticsReading(std::vector<uint8_t>(3076 + 20, 0), r)) << "last read word out of range";
    EXPECT_TRUE(DecodeStatisticsReading(std::vector<uint8_t>(3076 + 24, 0), r));
}

nlohmann::json JmfProfile(const char* signature) {
    nlohmann::json p = test::BaseProfile();
    p["disks"] = nlohmann::json::array(
        {{{"number", 0},
          {"kind", "sata"},
          {"model", "VARNO VQRB77 128GB"},
          {"serial", "VR1"},
          {"firmware", "1.0"},
          {"capacityBytes", 128035676160ull},
          {"sata",
           {{"smart", {{"vendorSignature", signature}}},
            {"vendorStatistics",
             {{"counters", {{{10, 1}, {20, 2}, {30, 3}}, {{0, 0}, {0, 0}, {0, 0}}, {{0, 0}, {0, 0}, {0, 0}},
                            {{0, 0}, {0, 0}, {0, 0}}}}}}}}}});
    return p;
}

class AtaStatisticsWorkerTest : public ::testing::Test {
protected:
    void SetUpMachine(const char* signature) {
        machine_ = std::make_unique<test::TestMachine>(JmfProfile(signature));
        InitGlobalAtaCommand();
        ResetTraceForTesting();
        SetTraceLevel(1);
        BusyOperation = 0;
        window_ = (*machine_)->Windows().RegisterWindow(kMainWindowTitle, [this](const platform::WindowMessage& m) {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(m);
            posted_.notify_all();
        });
        PhysicalDriveInfo drive{};
        drive.driveIndex = 0;
        std::memcpy(drive.smartData + 375, "JM608", 5);
        PhysicalDriveTable().assign(1, drive);
    }
    ~AtaStatisticsWorkerTest() override {
        summary_.Stop();
        SetTraceLevel(0);
        ResetTraceForTesting();
        BusyOperation = 0;
        PhysicalDriveTable().clear();
    }
    // Hands the next posted message to the page, as the window's thread would.
    platform::WindowMessage Pump() {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait(lock, [this] { return !queue_.empty(); });
        const platform::WindowMessage m = queue_.front();
        queue_.pop_front();
        lock.unlock();
        summary_.HandleProgress(ProgressCode(m.wParam), m.lParam);
        return m;
    }

    std::unique_ptr<test::TestMachine> machine_;
    platform::Hwnd window_ = platform::kNullHwnd;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<platform::WindowMessage> queue_;
    AtaStatisticsSummary summary_;
};

TEST_F(AtaStatisticsWorkerTest, ReadingsEverySecondAndASecondStartDoesNotDoubleTheRate) {
    SetUpMachine("JMF608");
    ASSERT_EQ(summary_.Start(0), AtaStatisticsSummary::kStarted);
    EXPECT_EQ(BusyOperation.load(), kOperationAtaStatistics);
    EXPECT_EQ(summary_.Start(0), AtaStatisticsSummary::kBusy) << "busy until the first reading is added";
    EXPECT_EQ(ProgressCode(Pump().wParam), KORVANEMSG_WPARAM_PROGRESSSTART);
    EXPECT_FALSE(summary_.StartButtonEnabled());
    EXPECT_EQ(ProgressCode(Pump().wParam), KORVANEMSG_WPARAM_PROGRESSEND);
    EXPECT_EQ(BusyOperation.load(), 0);
    EXPECT_TRUE(summary_.StartButtonEnabled());
    // The drive counts the sequence's own two 512-byte writes too: reading k shows 60 + 2k
    // writes in the 512-byte bucket.
    EXPECT_EQ(summary_.Totals().bucketReads[0], 6u);
    EXPECT_EQ(summary_.Totals().bucketWrites[0], 62u);
    Pump();
    EXPECT_EQ(summary_.Totals().bucketWrites[0], 62u + 64u) << "the second reading adds to the first";
    EXPECT_EQ(summary_.Totals().bucketReads[0], 12u);
    EXPECT_EQ(summary_.ReadingsAdded(), 2);

    // The worker waits for its reading to be handled: without a pump, nothing more is posted
    // however far the virtual clock would let it run.
    {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait(lock, [this] { return !queue_.empty(); });  // reading 3
        EXPECT_FALSE(posted_.wait_for(lock, std::chrono::milliseconds(50), [this] { return queue_.size() > 1; }));
    }

    // A second start zeroes the totals and replaces the first worker.
    const uint64_t before = (*machine_)->Clock().GetTickCount64();
    ASSERT_EQ(summary_.Start(0), AtaStatisticsSummary::kStarted);
    int stale = 0;
    for (;;) {
        const platform::WindowMessage m = Pump();
        EXPECT_TRUE(summary_.OwnsThreadData(m.lParam)) << "a stopped run's data still belong to the summary";
        if (ProgressCode(m.wParam) == KORVANEMSG_WPARAM_PROGRESSSTART && summary_.Totals().bucketWrites[0] == 0 &&
            summary_.ReadingsAdded() == 0 && !summary_.StartButtonEnabled()) {
            break;
        }
        ++stale;
    }
    EXPECT_EQ(stale, 1) << "the first worker's reading 3, still queued, is ignored";
    for (int i = 0; i < 3; ++i) {
        Pump();
    }
    EXPECT_EQ(summary_.ReadingsAdded(), 3);
    EXPECT_EQ(summary_.Totals().bucketWrites[0], 68u + 70u + 72u) << "one worker: readings 4, 5 and 6 only";
    EXPECT_GE((*machine_)->Clock().GetTickCount64() - before, 2000u) << "a second between readings";
    summary_.Stop();
    EXPECT_FALSE(summary_.Running());
    const AtaStatisticsThreadData foreign;
    EXPECT_FALSE(summary_.OwnsThreadData(reinterpret_cast<intptr_t>(&foreign)));
    EXPECT_FALSE(summary_.OwnsThreadData(0));
}

TEST_F(AtaStatisticsWorkerTest, ADriveOfAnotherControllerAndAFailedReading) {
    SetUpMachine("none");
    PhysicalDriveInfo other{};
    PhysicalDriveTable().push_back(other);
    EXPECT_EQ(summary_.Start(1), AtaStatisticsSummary::kNotSupported);
    EXPECT_EQ(summary_.Start(7), AtaStatisticsSummary::kNoDrive);
    EXPECT_EQ(BusyOperation.load(), 0);

    // Entry 0 claims the controller but the drive aborts the vendor sequence: the reading adds
    // nothing, is traced, and still ends the busy state.
    ASSERT_EQ(summary_.Start(0), AtaStatisticsSummary::kStarted);
    Pump();
    Pump();
    EXPECT_EQ(BusyOperation.load(), 0);
    EXPECT_EQ(summary_.ReadingsAdded(), 0);
    EXPECT_EQ(summary_.FailedReadings(), 1);
    EXPECT_EQ(StatisticsRatioText(summary_.Totals()), u"N/A");
    EXPECT_NE(test::ReadHostFile(machine_->Host(u"C:\\Tools\\Tarvex.log")).find("vendor statistics read failed"), std::string::npos);
}

// Another operation's claim stops the reader before the claim returns; a post the window
// dropped (the page was not shown) holds the worker until the page is shown again; a post
// handed over twice adds its reading once.
TEST_F(AtaStatisticsWorkerTest, AnotherClaimStopsTheReaderAndADroppedPostWaitsForThePage) {
    SetUpMachine("JMF608");
    ASSERT_EQ(summary_.Start(0), AtaStatisticsSummary::kStarted);
    Pump();  // START
    const platform::WindowMessage first = Pump();
    EXPECT_EQ(summary_.ReadingsAdded(), 1);
    EXPECT_TRUE(summary_.HandleProgress(ProgressCode(first.wParam), first.lParam));
    EXPECT_EQ(summary_.ReadingsAdded(), 1) << "the same reading handed over again adds nothing";

    // Reading 2 is posted but dropped (not handed to the page): nothing more is read ...
    {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait(lock, [this] { return !queue_.empty(); });
        queue_.clear();
        EXPECT_FALSE(posted_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !queue_.empty(); }));
    }
    // ... until the page is shown again.
    summary_.Resume();
    Pump();
    EXPECT_EQ(summary_.ReadingsAdded(), 2) << "reading 3 is added; the dropped reading 2 is lost";

    ASSERT_TRUE(ClaimBusyOperation(kOperationQuickScan));
    EXPECT_FALSE(summary_.Running()) << "stopped and joined before the self-test's claim returned";
    EXPECT_EQ(BusyOperation.load(), kOperationQuickScan) << "the new claim stays";
    ReleaseBusyOperation(kOperationQuickScan);

    // A claim of the reader's own kind does not stop it; a rescan does.
    ASSERT_EQ(summary_.Start(0), AtaStatisticsSummary::kStarted);
    Pump();
    Pump();
    EXPECT_TRUE(summary_.Running());
    StopBackgroundReader();
    EXPECT_FALSE(summary_.Running());
}

TEST_F(AtaStatisticsWorkerTest, NoMainWindowGivesTheClaimBack) {
    SetUpMachine("JMF608");
    (*machine_)->Windows().UnregisterWindow(window_);
    ASSERT_EQ(summary_.Start(0), AtaStatisticsSummary::kStarted);
    summary_.Stop();
    EXPECT_EQ(BusyOperation.load(), 0);
    EXPECT_FALSE(summary_.Running());
}

}  // namespace
}  // namespace tarvex
