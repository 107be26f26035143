#pragma once
// The ATA Command Summary of JMF608 drives without its widgets: the running totals of the
// controller's read and write commands by transfer size, the texts of the page's value labels,
// and the worker that reads the vendor statistics table once a second and posts each reading
// to the main window.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "drives/physical_drive_info.h"

namespace tarvex {

inline constexpr int kStatisticsBucketCount = 4;  // 512 bytes, 4 KB, 32 KB, 64 KB
inline constexpr std::array<size_t, kStatisticsBucketCount> kStatisticsBucketOffsets = {28, 196, 1540, 3076};
inline constexpr uint8_t kStatisticsSectorCount = 16;
inline constexpr size_t kStatisticsBufferSize = 16 * 512;
inline constexpr uint32_t kStatisticsIntervalMs = 1000;

// What one reading of the table says per bucket: the sums of its three write words (bucket
// offsets 0, 8, 16) and of its three read words (4, 12, 20).
struct StatisticsReading {
    std::array<uint32_t, kStatisticsBucketCount> reads{};
    std::array<uint32_t, kStatisticsBucketCount> writes{};
};
// False when the buffer is too short to hold every bucket.
[[nodiscard]] bool DecodeStatisticsReading(std::span<const uint8_t> table, StatisticsReading& out);

// The ten accumulators of the page.
struct AtaStatisticsTotals {
    uint32_t totalReads = 0;
    uint32_t totalWrites = 0;
    std::array<uint32_t, kStatisticsBucketCount> bucketReads{};
    std::array<uint32_t, kStatisticsBucketCount> bucketWrites{};
    bool anyReading = false;  // false until the first reading was added: the labels show "N/A"

    void Reset() { *this = AtaStatisticsTotals{}; }
    // Adds each bucket's counts of one reading and recomputes the two totals as the sums of
    // the bucket accumulators. Counters wrap at 2^32 as the drive's own do.
    void Add(const StatisticsReading& reading);
};

// "%u" of an accumulator, or "N/A" before the first reading.
std::u16string StatisticsValueText(const AtaStatisticsTotals& totals, uint32_t value);
// "%d%% Read, %d%% Write" with integer shares of reads + writes, or "N/A" when both are 0.
std::u16string StatisticsRatioText(const AtaStatisticsTotals& totals);

// True when bytes 375..379 of the drive's SMART READ DATA page name the JMF608 controller.
bool IsJmf608Drive(const PhysicalDriveInfo& drive);

// The thread data of one statistics run. The worker reads into `table` and the UI thread
// adds it in the progress handler; `readingOk` says whether the reading succeeded.
struct AtaStatisticsThreadData {
    PhysicalDriveInfo drive{};
    int32_t driveIndex = 0;
    int32_t tableIndex = 0;
    int32_t operationKind = 5;
    char16_t windowTitle[100] = {};
    void* page = nullptr;
    std::array<uint8_t, kStatisticsBufferSize> table{};
    bool readingOk = false;
};

// The page's statistics logic: the start button, the worker and the progress handler.
// Every reading is posted to the main window as code 3 with the address of the run's own
// thread data; the worker takes the next reading only after the handler has added the
// previous one, so it never writes the buffer the UI thread is reading and never runs ahead
// of the window (on a virtual clock it waits instead of spinning).
class AtaStatisticsSummary {
public:
    AtaStatisticsSummary() = default;
    AtaStatisticsSummary(const AtaStatisticsSummary&) = delete;
    AtaStatisticsSummary& operator=(const AtaStatisticsSummary&) = delete;
    ~AtaStatisticsSummary() { Stop(); }

    enum StartResult { kStarted, kBusy, kNotSupported, kNoDrive };
    // The start button for the drive at `tableIndex` of the drive table: the busy guard, the
    // controller check, then BusyOperation = 5 and a new worker. A worker still running from
    // an earlier start is stopped and joined first, so only one reads at a time. The worker is
    // also stopped when any other background operation claims BusyOperation.
    StartResult Start(int tableIndex);
    // Stops and joins the running worker, if any. Its thread data stay alive, so a message it
    // posted before it stopped is still safe to hand to HandleProgress (which ignores it).
    void Stop();
    [[nodiscard]] bool Running() const;

    // The progress handler of the page (UI thread), for the posts of kind 5. Returns false for
    // a message of a worker that has been stopped (nothing changes then). A reading is added
    // once, however often its post is handed over.
    bool HandleProgress(int code, intptr_t threadData);
    // The page is shown again: a reading whose post the main window dropped while another
    // page was current no longer holds the worker back.
    void Resume();
    // Whether `threadData` is the thread data of one of this summary's runs (a stopped run's
    // too): only then may a progress handler read it as an AtaStatisticsThreadData.
    [[nodiscard]] bool OwnsThreadData(intptr_t threadData) const;

    [[nodiscard]] const AtaStatisticsTotals& Totals() const { return totals_; }
    [[nodiscard]] int ReadingsAdded() const { return readingsAdded_; }
    [[nodiscard]] int FailedReadings() const { return failedReadings_; }
    [[nodiscard]] bool StartButtonEnabled() const { return startEnabled_; }

private:
    struct Run {
        AtaStatisticsThreadData data;
        std::mutex mutex;  // guards data.table, data.readingOk, reading, stop and handled
        std::condition_variable wake;
        uint64_t reading = 0;  // readings taken so far
        uint64_t added = 0;    // the last reading the page has added
        bool stop = false;
        bool handled = true;  // the worker may take the next reading
    };
    static void Worker(Run* run);
    // Stops and joins the worker without giving anything else back (any thread).
    void StopWorker();

    mutable std::mutex control_;  // guards runs_ and worker_
    std::vector<std::unique_ptr<Run>> runs_;  // the current run is the last
    std::thread worker_;
    AtaStatisticsTotals totals_;
    int readingsAdded_ = 0;
    int failedReadings_ = 0;
    bool startEnabled_ = true;
};

}  // namespace tarvex
