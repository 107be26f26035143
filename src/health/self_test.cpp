#include "health/self_test.h"

#include <cstring>
#include <string_view>

#include <fmt/printf.h>

#include "app/progress_message.h"
#include "app/trace.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "platform/platform.h"

namespace tarvex {

std::atomic<int> SelfTestAbortRequested{0};

void StoreThreadResult(SelfTestThreadData& data, int32_t result) {
    std::atomic_ref<int32_t>(data.result).store(result);
}

int32_t LoadThreadResult(const SelfTestThreadData& data) {
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(data.result)).load();
}

SelfTestThreadData CopyThreadData(const SelfTestThreadData& page) {
    SelfTestThreadData data;
    data.driveIndex = page.driveIndex;
    data.selectedDrive = page.selectedDrive;
    data.operationKind = page.operationKind;
    std::char_traits<char16_t>::copy(data.windowTitle, page.windowTitle, std::size(data.windowTitle));
    data.windowTitle[std::size(data.windowTitle) - 1] = u'\0';
    return data;
}

namespace {

// Status values 0..8 end the test; the index is the value in bits 7..4.
constexpr const char* kFinalTexts[9] = {
    "(%4d)\tThe previous self-test routine completed without error or no self-test has ever been run.",
    "(%4d)\tThe self-test routine was aborted by the host.(%p)",
    "(%4d)\tThe self-test routine was interrupted by the host with a hard or soft reset.",
    "(%4d)\tA fatal error or unknown test error occurred while the device was executing its self-test routine "
    "and the device was unable to complete the self-test routine.",
    "(%4d)\tThe previous self-test completed having a test element that failed and the test element that "
    "failed is not known.",
    "(%4d)\tThe previous self-test completed having the electrical element of the test failed.",
    "(%4d)\tThe previous self-test completed having the servo (and/or seek) element of the test failed.",
    "(%4d)\tThe previous self-test completed having the read element of the test failed.",
    "(%4d)\tThe previous self-test completed having a test element that failed and the device is suspected "
    "of having handling damage.",
};
constexpr const char* kReservedText = "(%4d)\tReserved.\n";
constexpr const char* kInProgressText = "(%4d)\tSelf-test routine in progress...%1d0%% of test remaining.";
constexpr int kReservedProgress = 7;

void Post(platform::Hwnd window, int code, int percentage, SelfTestThreadData* data) {
    platform::Current().windows->PostMessage(window, KORVANEMSG_PROGRESS, ProgressWParam(code, percentage),
                                             reinterpret_cast<intptr_t>(data));
}

}  // namespace

SelfTestStatusMeaning DecodeSelfTestStatus(uint8_t status) {
    const int value = status >> 4;
    if (value <= 8) {
        return {true, kSelfTestSucceeded + value, 0};
    }
    if (value == 15) {
        return {false, 0, 100 - 10 * (status & 0x0F)};
    }
    return {false, 0, kReservedProgress};
}

std::string SelfTestStatusSentence(uint8_t status) {
    const int value = status >> 4;
    std::string format = value <= 8 ? kFinalTexts[value] : value == 15 ? kInProgressText : kReservedText;
    format = format.substr(format.find('\t') + 1);
    for (const char* cut : {"(%p)", "\n"}) {
        if (const size_t at = format.find(cut); at != std::string::npos) {
            format.erase(at, std::strlen(cut));
        }
    }
    return value == 15 ? fmt::sprintf(format, status & 0x0F) : fmt::sprintf(format);
}

void TraceSelfTestStatus(uint8_t status, const void* data) {
    const int value = status >> 4;
    if (value == 1) {
        Trace(kFinalTexts[1], static_cast<int>(status), data);
    } else if (value <= 8) {
        Trace(kFinalTexts[value], static_cast<int>(status));
    } else if (value == 15) {
        Trace(kInProgressText, static_cast<int>(status), status & 0x0F);
    } else {
        Trace(kReservedText, static_cast<int>(status));
    }
}

uint32_t SelfTestThread(void* threadData) {
    auto* pageData = static_cast<SelfTestThreadData*>(threadData);
    // BusyOperation was claimed for this run by the thread that started it.
    const SelfTestThreadData data = CopyThreadData(*pageData);

    const platform::Platform& os = platform::Current();
    const platform::Hwnd window = os.windows->FindWindow(data.windowTitle);
    if (window == platform::kNullHwnd) {
        // Nobody would hear of the run's progress or end, and the busy flag would stay set
        // with nobody to clear it: give up before the drive is touched.
        Trace("SelfTestThread: main window not found, no self-test started");
        ReleaseBusyOperation(data.operationKind);
        return 1;
    }
    Post(window, KORVANEMSG_WPARAM_PROGRESSSTART, 0, pageData);

    ATACommand& ata = GlobalAtaCommand();
    if (!ata.DoSmartSelfTest(data.driveIndex,
                             data.operationKind == kOperationQuickScan ? kSelfTestShort : kSelfTestExtended)) {
        // A refused start leaves the drive's previous status in place, which could read as a
        // test that ran and passed: a test that never started ends the run as failed.
        Trace("SelfTestThread: the drive did not start the self-test");
        StoreThreadResult(*pageData, kSelfTestFatalError);
        Post(window, KORVANEMSG_WPARAM_PROGRESSEND, 0, pageData);
        return 1;
    }

    bool finished = false;
    int failedReads = 0;
    while (!finished && SelfTestAbortRequested.load() == 0) {
        os.clock->Sleep(kSelfTestPollMs);
        bool readOk = false;
        const uint8_t status = static_cast<uint8_t>(ata.GetSelfTestStatus(data.driveIndex, &readOk) & 0xFF);
        if (!readOk) {
            // A page that could not be read says nothing about the test: keep polling, and
            // report a failure rather than a success once the drive stays silent.
            ++failedReads;
            Trace("SelfTestThread: self-test status read failed (%d of %d)", failedReads, kMaxFailedStatusReads);
            if (failedReads < kMaxFailedStatusReads) {
                continue;
            }
            StoreThreadResult(*pageData, kSelfTestFatalError);
            Post(window, KORVANEMSG_WPARAM_PROGRESSEND, 0, pageData);
            finished = true;
            break;
        }
        failedReads = 0;
        const SelfTestStatusMeaning meaning = DecodeSelfTestStatus(status);
        TraceSelfTestStatus(status, pageData);
        Trace("KORVANEMSG_WPARAM_PROGRESSEND, %p", static_cast<int>(status));
        if (meaning.ends) {
            StoreThreadResult(*pageData, meaning.result);
            Trace("KORVANEMSG_WPARAM_PROGRESSEND, %p", static_cast<int>(status));
            Post(window, KORVANEMSG_WPARAM_PROGRESSEND, 0, pageData);
            finished = true;
        } else {
            Post(window, KORVANEMSG_WPARAM_PROGRESSING, meaning.progress, pageData);
        }
    }
    if (!finished) {
        // Cancelled before the drive reported a final status: the run counts as aborted.
        StoreThreadResult(*pageData, kSelfTestAborted);
        Post(window, KORVANEMSG_WPARAM_PROGRESSEND, 0, pageData);
    }
    return 1;
}

}  // namespace tarvex
