// SMART self-tests of an emulated SATA SSD. A test runs in the background on the drive's
// power-on clock: while it runs the execution status byte (SMART page byte 363) is F0h plus
// the tenths still to go (F9h .. F1h, F0h under 10 %); when it ends the byte holds the result
// in bits 7..4 and the test goes into the self-test log.
#include <algorithm>

#include "platform/sim/devices/sata_drive.h"

namespace tarvex::sim {

namespace {

constexpr uint8_t kStatusAbortedByHost = 0x10;
constexpr uint8_t kInProgress = 0xF0;
constexpr size_t kLogEntries = 21;

// The scripted failure of a test, if the profile gives one (the first that applies).
const SelfTestFailure* FailureFor(const SataProfile& s, uint8_t subcommand) {
    for (const SelfTestFailure& f : s.selfTestFailures) {
        if (f.subcommand == 0 || f.subcommand == subcommand) {
            return &f;
        }
    }
    return nullptr;
}

uint8_t FailureStatus(const SelfTestFailure& f) {
    const uint8_t remaining = static_cast<uint8_t>(std::min(9, 10 - f.atPercent / 10));
    return static_cast<uint8_t>((f.status << 4) | remaining);
}

}  // namespace

void SataDrive::OfflineImmediate(AtaExchange& x) {
    const uint8_t sub = x.regs.lbaLow;
    switch (sub) {
        case platform::kSmartOfflineDataCollection:  // done at once on flash
            Complete(x);
            return;
        case platform::kSmartShortSelfTest:
        case platform::kSmartExtendedSelfTest:
            if (state_.runningSelfTest != 0) {
                EndSelfTest(kStatusAbortedByHost, 0);  // a new test replaces the running one
            }
            StartSelfTest(sub);
            Complete(x);
            return;
        case platform::kSmartAbortSelfTest:
            if (state_.runningSelfTest != 0) {
                EndSelfTest(static_cast<uint8_t>(kStatusAbortedByHost | (SelfTestStatusByte() & 0x0F)), 0);
            }
            Complete(x);
            return;
        case platform::kSmartShortSelfTestCaptive:
        case platform::kSmartExtendedSelfTestCaptive: {
            // Captive mode: the command returns when the test is over.
            if (state_.runningSelfTest != 0) {
                Abort(x);
                return;
            }
            state_.runningSelfTest = static_cast<uint8_t>(sub & 0x7F);
            const SelfTestFailure* f = FailureFor(profile_.sata, state_.runningSelfTest);
            EndSelfTest(f != nullptr ? FailureStatus(*f) : 0x00, f != nullptr ? static_cast<uint32_t>(f->failingLba) : 0);
            if (f != nullptr) {
                Abort(x);  // a captive test that fails aborts the command
                return;
            }
            Complete(x);
            return;
        }
        default: Abort(x); return;  // conveyance and selective self-tests are not offered
    }
}

void SataDrive::StartSelfTest(uint8_t subcommand) {
    state_.runningSelfTest = subcommand;
    state_.selfTestStartMs = NowMs();
    state_.selfTestStatus = kInProgress | 9;
    Changed();
}

void SataDrive::EndSelfTest(uint8_t statusByte, uint32_t failingLba) {
    SelfTestLogEntry e;
    e.subcommand = state_.runningSelfTest;
    e.statusByte = statusByte;
    e.lifeHours = static_cast<uint16_t>(std::min<uint64_t>(PowerOnHours(), 0xFFFF));
    e.failingLba = failingLba;
    state_.selfTestLog.push_back(e);
    if (state_.selfTestLog.size() > kLogEntries) {
        state_.selfTestLog.erase(state_.selfTestLog.begin());
    }
    state_.selfTestStatus = statusByte;
    state_.runningSelfTest = 0;
    state_.selfTestStartMs = 0;
    Changed();
}

void SataDrive::AdvanceSelfTest() {
    if (state_.runningSelfTest == 0) {
        return;
    }
    const SataProfile& s = profile_.sata;
    const uint8_t sub = state_.runningSelfTest;
    const uint64_t durationMs = 1000ull * (sub == 1 ? s.shortSelfTestSeconds : s.extendedSelfTestSeconds);
    const uint64_t now = NowMs();
    const uint64_t elapsed = now > state_.selfTestStartMs ? now - state_.selfTestStartMs : 0;
    if (const SelfTestFailure* f = FailureFor(s, sub); f != nullptr && elapsed >= durationMs * f->atPercent / 100) {
        EndSelfTest(FailureStatus(*f), static_cast<uint32_t>(f->failingLba));
        return;
    }
    if (elapsed >= durationMs) {
        EndSelfTest(0x00, 0);
        return;
    }
    // Tenths still to go, rounded up, at most 9.
    const uint64_t remaining = std::min<uint64_t>((10 * (durationMs - elapsed) + durationMs - 1) / durationMs, 9);
    state_.selfTestStatus = static_cast<uint8_t>(kInProgress | remaining);
}

uint8_t SataDrive::SelfTestStatusByte() {
    AdvanceSelfTest();
    return state_.selfTestStatus;
}

}  // namespace tarvex::sim
