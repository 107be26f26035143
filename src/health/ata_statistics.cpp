#include "health/ata_statistics.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "app/progress_message.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/byte_span.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace tarvex {

namespace {

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

constexpr size_t kControllerNameOffset = 375;
constexpr uint32_t kStatisticsStopCheckMs = 100;
constexpr char kControllerName[] = "JM608";

}  // namespace

bool DecodeStatisticsReading(std::span<const uint8_t> table, StatisticsReading& out) {
    const platform::ByteReader reader(table);
    StatisticsReading reading;
    for (int b = 0; b < kStatisticsBucketCount; ++b) {
        const size_t base = kStatisticsBucketOffsets[static_cast<size_t>(b)];
        for (size_t pair = 0; pair < 3; ++pair) {
            const auto writes = reader.U32(base + pair * 8);
            const auto reads = reader.U32(base + pair * 8 + 4);
            if (!writes || !reads) {
                return false;
            }
            reading.writes[static_cast<size_t>(b)] += *writes;
            reading.reads[static_cast<size_t>(b)] += *reads;
        }
    }
    out = reading;
    return true;
}

void AtaStatisticsTotals::Add(const StatisticsReading& reading) {
    totalReads = 0;
    totalWrites = 0;
    for (size_t b = 0; b < kStatisticsBucketCount; ++b) {
        bucketReads[b] += reading.reads[b];
        bucketWrites[b] += reading.writes[b];
        totalReads += bucketReads[b];
        totalWrites += bucketWrites[b];
    }
    anyReading = true;
}

std::u16string StatisticsValueText(const AtaStatisticsTotals& totals, uint32_t value) {
    return totals.anyReading ? Ascii(fmt::format("{}", value)) : std::u16string(u"N/A");
}

std::u16string StatisticsRatioText(const AtaStatisticsTotals& totals) {
    // The shares are taken of the 64-bit sum, so two large totals do not wrap to a wrong ratio.
    const uint64_t sum = uint64_t{totals.totalReads} + totals.totalWrites;
    if (sum == 0) {
        return u"N/A";
    }
    return Ascii(fmt::format("{}% Read, {}% Write", uint64_t{totals.totalReads} * 100 / sum,
                             uint64_t{totals.totalWrites} * 100 / sum));
}

bool IsJmf608Drive(const PhysicalDriveInfo& drive) {
    return std::memcmp(drive.smartData + kControllerNameOffset, kControllerName, 5) == 0;
}

AtaStatisticsSummary::StartResult AtaStatisticsSummary::Start(int tableIndex) {
    if (BusyOperation.load() != 0) {
        return kBusy;
    }
    const std::vector<PhysicalDriveInfo>& table = PhysicalDriveTable();
    if (tableIndex < 0 || static_cast<size_t>(tableIndex) >= table.size()) {
        return kNoDrive;
    }
    const PhysicalDriveInfo drive = table[static_cast<size_t>(tableIndex)];
    if (!IsJmf608Drive(drive)) {
        return kNotSupported;
    }
    // One reader at a time: an earlier worker would otherwise keep adding to the totals.
    Stop();
    if (!ClaimBusyOperation(kOperationAtaStatistics)) {
        return kBusy;
    }
    auto run = std::make_unique<Run>();
    run->data.drive = drive;
    run->data.driveIndex = drive.driveIndex;
    run->data.tableIndex = tableIndex;
    run->data.operationKind = kOperationAtaStatistics;
    std::char_traits<char16_t>::copy(run->data.windowTitle, kMainWindowTitle, std::size(kMainWindowTitle));
    run->data.page = this;
    {
        const std::lock_guard<std::mutex> lock(control_);
        Run* started = run.get();
        runs_.push_back(std::move(run));
        worker_ = std::thread(&AtaStatisticsSummary::Worker, started);
    }
    // Another operation's claim stops the worker before that operation sends its commands.
    SetBackgroundReaderStop(kOperationAtaStatistics, [this] { StopWorker(); });
    return kStarted;
}

void AtaStatisticsSummary::StopWorker() {
    const std::lock_guard<std::mutex> lock(control_);
    if (runs_.empty()) {
        return;
    }
    Run& run = *runs_.back();
    {
        const std::lock_guard<std::mutex> runLock(run.mutex);
        run.stop = true;
    }
    run.wake.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void AtaStatisticsSummary::Stop() {
    // Unregistering waits for a stop another claim has under way.
    SetBackgroundReaderStop(kOperationAtaStatistics, {});
    StopWorker();
    // A run stopped before its first reading was handled still holds the busy claim.
    ReleaseBusyOperation(kOperationAtaStatistics);
    startEnabled_ = true;
}

bool AtaStatisticsSummary::Running() const {
    const std::lock_guard<std::mutex> lock(control_);
    return worker_.joinable();
}

void AtaStatisticsSummary::Worker(Run* run) {
    AtaStatisticsThreadData& data = run->data;
    const platform::Platform& os = platform::Current();
    const platform::Hwnd window = os.windows->FindWindow(data.windowTitle);
    if (window == platform::kNullHwnd) {
        Trace("AtaStatisticsThread: main window not found");
        ReleaseBusyOperation(data.operationKind);
        return;
    }
    const intptr_t address = reinterpret_cast<intptr_t>(&data);
    os.windows->PostMessage(window, KORVANEMSG_PROGRESS, ProgressWParam(KORVANEMSG_WPARAM_PROGRESSSTART), address);
    ATACommand& ata = GlobalAtaCommand();
    std::vector<uint8_t> buffer(kStatisticsBufferSize);
    for (;;) {
        {
            // Wait until the page has added the previous reading (or the run is stopped).
            std::unique_lock<std::mutex> lock(run->mutex);
            run->wake.wait(lock, [run] { return run->stop || run->handled; });
            if (run->stop) {
                return;
            }
            run->handled = false;
        }
        // The drive writes into a buffer of the worker's own; the page sees the reading only
        // once it is whole.
        std::fill(buffer.begin(), buffer.end(), uint8_t{0});
        const bool ok = ata.GetVendorStatistics(data.driveIndex, kStatisticsSectorCount, buffer.data()) != 0;
        if (!ok) {
            Trace("AtaStatisticsThread: vendor statistics read failed on drive %d", data.driveIndex);
        }
        {
            const std::lock_guard<std::mutex> lock(run->mutex);
            std::copy(buffer.begin(), buffer.end(), data.table.begin());
            data.readingOk = ok;
            ++run->reading;
        }
        os.windows->PostMessage(window, KORVANEMSG_PROGRESS, ProgressWParam(KORVANEMSG_WPARAM_PROGRESSEND), address);
        {
            std::unique_lock<std::mutex> lock(run->mutex);
            run->wake.wait(lock, [run] { return run->stop || run->handled; });
            if (run->stop) {
                return;
            }
        }
        // The second between readings, in steps, so that a stop does not wait for all of it.
        for (uint32_t slept = 0; slept < kStatisticsIntervalMs; slept += kStatisticsStopCheckMs) {
            os.clock->Sleep(kStatisticsStopCheckMs);
            const std::lock_guard<std::mutex> lock(run->mutex);
            if (run->stop) {
                return;
            }
        }
    }
}

bool AtaStatisticsSummary::HandleProgress(int code, intptr_t threadData) {
    Run* current = nullptr;
    {
        const std::lock_guard<std::mutex> lock(control_);
        if (!runs_.empty() && threadData == reinterpret_cast<intptr_t>(&runs_.back()->data)) {
            current = runs_.back().get();
        }
    }
    if (current == nullptr) {
        return false;  // a stopped worker's post
    }
    Run& run = *current;
    if (code == KORVANEMSG_WPARAM_PROGRESSSTART) {
        totals_.Reset();
        readingsAdded_ = 0;
        failedReadings_ = 0;
        startEnabled_ = false;
        return true;
    }
    if (code != KORVANEMSG_WPARAM_PROGRESSEND) {
        return true;
    }
    {
        const std::lock_guard<std::mutex> lock(run.mutex);
        if (run.added != run.reading) {
            run.added = run.reading;
            StatisticsReading reading;
            // A failed reading says nothing about the drive's commands: it adds nothing.
            if (run.data.readingOk && DecodeStatisticsReading(run.data.table, reading)) {
                totals_.Add(reading);
                ++readingsAdded_;
            } else {
                ++failedReadings_;
            }
        }
        run.handled = true;
    }
    run.wake.notify_all();
    ReleaseBusyOperation(kOperationAtaStatistics);
    startEnabled_ = true;
    return true;
}

void AtaStatisticsSummary::Resume() {
    const std::lock_guard<std::mutex> lock(control_);
    if (runs_.empty() || !worker_.joinable()) {
        return;
    }
    Run& run = *runs_.back();
    {
        const std::lock_guard<std::mutex> runLock(run.mutex);
        if (run.added == run.reading) {
            return;  // nothing posted is waiting: the worker is reading or already free
        }
        run.handled = true;
    }
    run.wake.notify_all();
}

bool AtaStatisticsSummary::OwnsThreadData(intptr_t threadData) const {
    const std::lock_guard<std::mutex> lock(control_);
    return std::any_of(runs_.begin(), runs_.end(), [threadData](const std::unique_ptr<Run>& run) {
        return threadData == reinterpret_cast<intptr_t>(&run->data);
    });
}

}  // namespace tarvex
