#pragma once
// The SMART self-test worker: starts a short or extended self-test on a drive, polls the
// drive's self-test execution status every 5 seconds, traces it in words, posts progress to
// the main window and ends with a result code the Diagnostics page turns into a message.
#include <atomic>
#include <cstdint>
#include <string>

namespace tarvex {

// SMART EXECUTE OFF-LINE IMMEDIATE subcommands.
inline constexpr uint8_t kSelfTestShort = 1;
inline constexpr uint8_t kSelfTestExtended = 2;
inline constexpr uint8_t kSelfTestAbort = 0x7F;

inline constexpr uint32_t kSelfTestPollMs = 5000;
// A failing status read does not end the run at once; this many in a row end it with
// kSelfTestFatalError, since nothing is known about the test any more.
inline constexpr int kMaxFailedStatusReads = 3;

enum SelfTestResult : int32_t {
    kSelfTestNoResult = 0,
    kSelfTestSucceeded = 101,
    kSelfTestAborted = 102,
    kSelfTestInterrupted = 103,
    kSelfTestFatalError = 104,
    kSelfTestUnknownElementFailed = 105,
    kSelfTestElectricalFailed = 106,
    kSelfTestServoFailed = 107,
    kSelfTestReadFailed = 108,
    kSelfTestHandlingDamage = 109,
};

// The thread data of one background operation of the Diagnostics page (the two scans and
// the service stop). The page owns it and keeps it alive until the worker's END has been
// handled; the worker works on a copy and writes back only `result`.
struct SelfTestThreadData {
    int32_t driveIndex = 0;     // physical drive number of the selected drive
    int32_t result = 0;         // SelfTestResult, written by the worker before its END
    int32_t selectedDrive = 0;  // SelectedDrive at start
    int32_t error = 0;          // service stop: the Win32 error of a failed stop (scans: unused)
    int32_t operationKind = 0;  // 1 quick scan, 2 full scan, 3 service stop
    char16_t windowTitle[100] = {};
};
static_assert(sizeof(SelfTestThreadData) == 220);

// The worker and the page share `result` across threads: read and write it through these.
void StoreThreadResult(SelfTestThreadData& data, int32_t result);
int32_t LoadThreadResult(const SelfTestThreadData& data);
// The worker's own copy of the page's record (everything but `result`).
SelfTestThreadData CopyThreadData(const SelfTestThreadData& page);

// Set by Cancel; polled once per step by the worker; cleared by the page after END.
extern std::atomic<int> SelfTestAbortRequested;

// What one status byte means: the trace text, and either a final result or a progress.
struct SelfTestStatusMeaning {
    bool ends = false;
    int32_t result = 0;  // when it ends
    int progress = 0;    // when it goes on, 0..100
};
SelfTestStatusMeaning DecodeSelfTestStatus(uint8_t status);
// The status table's text for a status byte as a sentence for the user (without the number
// and the address the trace line shows).
std::string SelfTestStatusSentence(uint8_t status);
// Traces the status table's text for a status byte (`data` is the thread data address the
// "aborted by the host" text shows).
void TraceSelfTestStatus(uint8_t status, const void* data);

// The worker's entry point (argument: the page's thread data record); returns 1. The starter
// claims BusyOperation for the run's kind before it starts the worker; the worker gives the
// claim back only when it ends without a window to post its END to.
uint32_t SelfTestThread(void* threadData);

}  // namespace tarvex
