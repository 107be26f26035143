#include "maintenance/trim_state.h"

#include "app/trace.h"
#include "platform/platform.h"
#include "platform/win32_values.h"

namespace tarvex {

bool TrimStartIsRecent(int64_t now, int64_t startAt) {
    if (startAt >= now) {
        return true;  // the clock was turned back, or the run starts this second
    }
    // now > startAt: the difference is positive and below 2^64, so it is exact in unsigned.
    const uint64_t elapsed = static_cast<uint64_t>(now) - static_cast<uint64_t>(startAt);
    return elapsed < static_cast<uint64_t>(kTrimRunLifetimeSeconds);
}

bool TrimRunUnderWay(ATACommand& ata, std::u16string_view key, int64_t now) {
    uint32_t inProgress = 0;
    (void)ata.ReadVarnoRegistry(key, kTrimInProgressValue, sizeof inProgress, win::REG_DWORD, &inProgress);
    if (inProgress != 1) {
        return false;
    }
    int64_t startAt = 0;
    (void)ata.ReadVarnoRegistry(key, kTrimStartAtValue, sizeof startAt, win::REG_QWORD, &startAt);
    return TrimStartIsRecent(now, startAt);
}

int64_t CurrentTime() {
    platform::Clock* clock = platform::Current().clock;
    return clock != nullptr ? clock->Time() : 0;
}

void RecoverInterruptedTrim() {
    ATACommand ata;
    if (!TrimRunUnderWay(ata, kStartupTrimStateKey, CurrentTime())) {
        const uint32_t idle = 0;
        (void)ata.WriteVarnoRegistry(kStartupTrimStateKey, kTrimInProgressValue, sizeof idle, win::REG_DWORD, &idle);
        ata.DeleteTrimTempFolder();
    }
    Trace("Check tmp folder done!");
}

}  // namespace tarvex
