// SMART command transport: a key page written to log E0h carries the command (action and
// function codes); reading log E0h returns the SCT status; a data-table command leaves its
// table for the next read of log E1h. docs/machine-profile.md lists what this drive answers.
#include <algorithm>

#include "platform/sim/devices/sata_drive.h"

namespace tarvex::sim {

namespace {

constexpr uint16_t kActionErrorRecovery = 2;
constexpr uint16_t kActionFeatureControl = 3;
constexpr uint16_t kActionDataTable = 4;

// Extended status codes this drive reports in the SCT status.
constexpr uint16_t kSctOk = 0x0000;
constexpr uint16_t kSctInvalidFunction = 0x0001;
constexpr uint16_t kSctErcInvalidFunction = 0x0004;
constexpr uint16_t kSctErcInvalidSelection = 0x0005;
constexpr uint16_t kSctFeatureInvalidFunction = 0x000C;
constexpr uint16_t kSctFeatureInvalidCode = 0x000D;
constexpr uint16_t kSctFeatureInvalidState = 0x000E;
constexpr uint16_t kSctTableInvalidFunction = 0x000F;
constexpr uint16_t kSctTableInvalidId = 0x0010;

constexpr uint16_t kTemperatureHistoryEntries = 478;

uint16_t Word(std::span<const uint8_t> page, int word) {
    return static_cast<uint16_t>(page[2 * word] | (page[2 * word + 1] << 8));
}

}  // namespace

bool SataDrive::SctCommand(AtaExchange& x, std::span<const uint8_t> key) {
    sctAction_ = Word(key, 0);
    sctFunction_ = Word(key, 1);
    uint16_t result = 0;  // returned in the count (low byte) and LBA low (high byte) registers
    auto fail = [&](uint16_t status) {
        sctStatus_ = status;
        Abort(x);
        return false;
    };
    switch (sctAction_) {
        case kActionErrorRecovery: {
            // Selection 1: read command timer, 2: write command timer (units of 100 ms).
            const uint16_t selection = Word(key, 2);
            if (selection != 1 && selection != 2) {
                return fail(kSctErcInvalidSelection);
            }
            uint16_t& timer = selection == 1 ? sctReadTimer_ : sctWriteTimer_;
            if (sctFunction_ == 1) {
                timer = Word(key, 3);
            } else if (sctFunction_ == 2) {
                result = timer;
            } else {
                return fail(kSctErcInvalidFunction);
            }
            break;
        }
        case kActionFeatureControl: {
            // Feature 1: write cache (1 as set by SET FEATURES, 2 on, 3 off); 2: write cache
            // reordering (1 on, 2 off); 3: temperature logging interval in minutes.
            const uint16_t feature = Word(key, 2);
            const uint16_t state = Word(key, 3);
            if (feature < 1 || feature > 3) {
                return fail(kSctFeatureInvalidCode);
            }
            if (sctFunction_ == 1) {
                if (feature == 1 && (state < 1 || state > 3)) {
                    return fail(kSctFeatureInvalidState);
                }
                if (feature == 2 && (state < 1 || state > 2)) {
                    return fail(kSctFeatureInvalidState);
                }
                if (feature == 3 && (state < 1 || state > 255)) {
                    return fail(kSctFeatureInvalidState);
                }
                if (feature == 1 && state != 1) {
                    writeCache_ = state == 2;
                }
                if (feature == 3) {
                    temperatureInterval_ = static_cast<uint8_t>(state);
                }
            } else if (sctFunction_ == 2) {
                result = feature == 1 ? (writeCache_ ? 2 : 3) : feature == 2 ? 1 : temperatureInterval_;
            } else if (sctFunction_ == 3) {
                result = feature == 2 ? 0x0000 : 0x0001;  // option flags: interval is kept
            } else {
                return fail(kSctFeatureInvalidFunction);
            }
            break;
        }
        case kActionDataTable:
            if (sctFunction_ != 1) {
                return fail(kSctTableInvalidFunction);
            }
            if (Word(key, 2) != 2) {
                return fail(kSctTableInvalidId);  // only the temperature history table
            }
            sctTablePending_ = true;
            break;
        default: return fail(kSctInvalidFunction);
    }
    sctStatus_ = kSctOk;
    Complete(x);
    x.regs.sectorCount = static_cast<uint8_t>(result & 0xFF);
    x.regs.lbaLow = static_cast<uint8_t>(result >> 8);
    return true;
}

Page SataDrive::SctStatusPage() {
    Page p{};
    PutWord(p, 0, 0x0003);  // format version
    PutWord(p, 1, 0x0001);  // SCT version of this firmware
    PutWord(p, 2, 0x0001);  // SCT version supported
    p[10] = state_.runningSelfTest != 0 ? 3 : 0;  // self-test in background, else active
    PutWord(p, 7, sctStatus_);                    // bytes 14..15
    PutWord(p, 8, sctAction_);
    PutWord(p, 9, sctFunction_);
    const int t = Temperature();
    const auto temp = static_cast<uint8_t>(static_cast<int8_t>(t));
    p[200] = temp;                                            // current
    p[201] = static_cast<uint8_t>(static_cast<int8_t>(t - 8));  // minimum since power-on
    p[202] = static_cast<uint8_t>(static_cast<int8_t>(t + 4));  // maximum since power-on
    p[203] = static_cast<uint8_t>(static_cast<int8_t>(t - 15)); // lifetime minimum
    p[204] = static_cast<uint8_t>(static_cast<int8_t>(t + 12)); // lifetime maximum
    return p;
}

Page SataDrive::SctTemperatureTable() {
    Page p{};
    PutWord(p, 0, 0x0002);  // format version
    PutWord(p, 1, 1);       // sampling period, minutes
    PutWord(p, 2, temperatureInterval_);
    p[6] = 70;  // maximum recommended operating temperature
    p[7] = 75;  // maximum temperature limit
    p[8] = 0;   // minimum recommended
    p[9] = static_cast<uint8_t>(static_cast<int8_t>(-5));
    PutWord(p, 15, kTemperatureHistoryEntries);  // bytes 30..31: buffer size
    const uint64_t samples = std::min<uint64_t>(NowMs() / 60000 / std::max<uint8_t>(temperatureInterval_, 1) + 1,
                                                kTemperatureHistoryEntries);
    PutWord(p, 16, static_cast<uint16_t>(samples - 1));  // bytes 32..33: newest entry
    for (uint16_t i = 0; i < kTemperatureHistoryEntries; ++i) {
        p[34 + i] = i < samples ? static_cast<uint8_t>(static_cast<int8_t>(Temperature())) : 0x80;
    }
    return p;
}

}  // namespace tarvex::sim
