// The ATA Security feature set of an emulated SATA SSD, as a state machine:
//   disabled (SEC1) --SET PASSWORD--> enabled (SEC5) --power cycle--> locked (SEC4)
//   locked --UNLOCK--> enabled; enabled --DISABLE PASSWORD--> disabled
//   disabled/enabled --FREEZE LOCK or the BIOS at power-on--> frozen (SEC2/SEC6)
//   any unfrozen state --ERASE PREPARE, then at once ERASE UNIT--> erasing --time--> disabled
// Frozen refuses SET PASSWORD, UNLOCK, ERASE PREPARE, ERASE UNIT and DISABLE PASSWORD; five
// wrong passwords refuse UNLOCK and ERASE UNIT until the next power cycle. Locked, frozen and
// the attempts left are kept in the drive's state: they last until the power goes, not until
// the program ends.
#include <algorithm>

#include "platform/sim/devices/sata_drive.h"

namespace tarvex::sim {

namespace {

constexpr uint8_t kSetPassword = platform::kAtaCmdSecuritySetPassword;
constexpr uint8_t kUnlock = platform::kAtaCmdSecurityUnlock;
constexpr uint8_t kErasePrepare = platform::kAtaCmdSecurityErasePrepare;
constexpr uint8_t kEraseUnit = platform::kAtaCmdSecurityEraseUnit;
constexpr uint8_t kFreezeLock = platform::kAtaCmdSecurityFreezeLock;
constexpr uint8_t kDisablePassword = platform::kAtaCmdSecurityDisablePassword;

// Word 0 of a security command's data: identifier, erase mode, security level.
bool IsMaster(std::span<const uint8_t> block) { return (block[0] & 0x01) != 0; }
bool IsEnhanced(std::span<const uint8_t> block) { return (block[0] & 0x02) != 0; }
bool IsMaximumLevel(std::span<const uint8_t> block) { return (block[1] & 0x01) != 0; }

std::array<uint8_t, 32> PasswordOf(std::span<const uint8_t> block) {
    std::array<uint8_t, 32> pw{};
    std::copy(block.begin() + 2, block.begin() + 34, pw.begin());
    return pw;
}

}  // namespace

bool SataDrive::PasswordMatches(std::span<const uint8_t> block) {
    const std::array<uint8_t, 32> given = PasswordOf(block);
    if (IsMaster(block)) {
        return given == state_.masterPassword;
    }
    return state_.securityEnabled && !state_.userPasswordUnknown && given == state_.userPassword;
}

void SataDrive::Security(AtaExchange& x) {
    const uint8_t cmd = x.regs.command;
    const bool erasePrepared = erasePrepared_;
    erasePrepared_ = false;
    if (!profile_.sata.security.supported) {
        Abort(x);
        return;
    }
    const bool takesData = cmd == kSetPassword || cmd == kUnlock || cmd == kEraseUnit || cmd == kDisablePassword;
    if (state_.frozen && cmd != kFreezeLock) {
        Abort(x);
        return;
    }
    if (takesData && !DataOut(x, 512)) {
        return;
    }
    const std::span<const uint8_t> block = takesData ? std::span<const uint8_t>(x.data.first(512)) : std::span<const uint8_t>();
    const bool expired = state_.unlockAttemptsLeft == 0;
    auto wrongPassword = [&] {
        if (state_.unlockAttemptsLeft > 0) {
            --state_.unlockAttemptsLeft;
            Changed();
        }
        Abort(x);
    };

    switch (cmd) {
        case kSetPassword:
            if (state_.locked) {
                Abort(x);
                return;
            }
            if (IsMaster(block)) {
                state_.masterPassword = PasswordOf(block);
            } else {
                state_.userPassword = PasswordOf(block);
                state_.userPasswordUnknown = false;
                state_.maximumLevel = IsMaximumLevel(block);
                state_.securityEnabled = true;
            }
            Changed();
            break;
        case kUnlock:
            if (expired || !state_.securityEnabled) {
                Abort(x);
                return;
            }
            // At the maximum level the master password only erases.
            if ((IsMaster(block) && state_.maximumLevel) || !PasswordMatches(block)) {
                wrongPassword();
                return;
            }
            state_.locked = false;
            Changed();
            break;
        case kErasePrepare:
            erasePrepared_ = true;
            break;
        case kEraseUnit: {
            if (!erasePrepared || expired || (IsEnhanced(block) && !profile_.sata.security.enhancedErase)) {
                Abort(x);
                return;
            }
            if (!PasswordMatches(block)) {
                wrongPassword();
                return;
            }
            const uint64_t seconds = profile_.sata.security.eraseSeconds;
            state_.eraseEnhanced = IsEnhanced(block);
            state_.eraseEndMs = NowMs() + std::max<uint64_t>(seconds * 1000, 1);
            Changed();
            if (seconds == 0) {
                AdvanceErase();
            }
            break;
        }
        case kFreezeLock:
            if (state_.locked) {
                Abort(x);
                return;
            }
            state_.frozen = true;
            Changed();
            break;
        case kDisablePassword:
            if (state_.locked || !state_.securityEnabled) {
                Abort(x);
                return;
            }
            if ((IsMaster(block) && state_.maximumLevel) || !PasswordMatches(block)) {
                wrongPassword();
                return;
            }
            state_.securityEnabled = false;
            state_.userPassword = {};
            state_.userPasswordUnknown = false;
            state_.maximumLevel = false;
            Changed();
            break;
        default: Abort(x); return;
    }
    Complete(x);
}

void SataDrive::AdvanceErase() {
    if (state_.eraseEndMs == 0 || NowMs() < state_.eraseEndMs) {
        return;
    }
    // The erase is over: every user sector is gone and the user password with it.
    state_.eraseEndMs = 0;
    state_.securityEnabled = false;
    state_.userPassword = {};
    state_.userPasswordUnknown = false;
    state_.maximumLevel = false;
    state_.hasUserData = false;
    state_.trim.intervals.clear();
    ++state_.erasesDone;
    state_.locked = false;
    Changed();
}

}  // namespace tarvex::sim
