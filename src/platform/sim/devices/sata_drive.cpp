#include "platform/sim/devices/sata_drive.h"

#include <algorithm>
#include <cstring>

namespace tarvex::sim {

using platform::kAtaErrorAbrt;
using platform::kAtaStatusDrdy;
using platform::kAtaStatusDsc;
using platform::kAtaStatusErr;

namespace {

using platform::kAtaCmdCheckPowerMode;
using platform::kAtaCmdDataSetManagement;
using platform::kAtaCmdDownloadMicrocode;
using platform::kAtaCmdFlushCache;
using platform::kAtaCmdFlushCacheExt;
using platform::kAtaCmdIdentify;
using platform::kAtaCmdIdleImmediate;
using platform::kAtaCmdSetFeatures;
using platform::kAtaCmdSmart;
using platform::kAtaCmdStandbyImmediate;

}  // namespace

void PutWord(Page& page, int word, uint16_t value) {
    page[2 * word] = static_cast<uint8_t>(value & 0xFF);
    page[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t GetWord(const Page& page, int word) {
    return static_cast<uint16_t>(page[2 * word] | (page[2 * word + 1] << 8));
}

void PutAtaString(Page& page, int firstWord, int words, std::string_view text) {
    for (int i = 0; i < 2 * words; ++i) {
        const char c = i < static_cast<int>(text.size()) ? text[i] : ' ';
        // The first character of each pair goes into the high byte of the word.
        page[2 * firstWord + (i ^ 1)] = static_cast<uint8_t>(c);
    }
}

void SealChecksum(Page& page) {
    uint8_t sum = 0;
    for (int i = 0; i < 511; ++i) {
        sum = static_cast<uint8_t>(sum + page[i]);
    }
    page[511] = static_cast<uint8_t>(0x100 - sum);
}

void ResealChecksum(Page& page, const Page& original) {
    uint8_t was = 0;
    uint8_t now = 0;
    for (size_t i = 0; i < page.size(); ++i) {
        was = static_cast<uint8_t>(was + original[i]);
        now = static_cast<uint8_t>(now + page[i]);
    }
    page[511] = static_cast<uint8_t>(page[511] + was - now);
}

SataDrive::SataDrive(const DiskProfile& profile, DriveState state, SimClock& clock, std::filesystem::path stateFile)
    : SimDisk(profile, std::move(state), clock, std::move(stateFile)) {
    writeCache_ = WriteCacheAtPowerOn();
}

bool SataDrive::WriteCacheAtPowerOn() const {
    const auto& page = profile_.sata.pages.identify;
    return !page || (GetWord(*page, 85) & 0x0020) != 0;
}

void SataDrive::PowerOn() {
    // What ended before the power went away ended as it would have.
    Advance();
    SimDisk::PowerOn();
    if (state_.runningSelfTest != 0) {
        EndSelfTest(0x20, 0);  // interrupted by the host with a hard or soft reset
    }
    if (state_.eraseEndMs != 0) {
        // An erase cut short leaves the password in place, so the drive comes up locked.
        state_.eraseEndMs = 0;
    }
    state_.locked = state_.securityEnabled;
    state_.frozen = profile_.sata.security.supported && profile_.sata.security.frozen && !state_.locked;
    state_.unlockAttemptsLeft = kUnlockAttempts;
    if (const auto& page = profile_.sata.pages.identify; page && state_.powerOns == 1) {
        // The first power-on finds a replayed drive as its page shows it: a drive read after
        // the BIOS unlocked and froze it is unlocked and frozen.
        const uint16_t w128 = GetWord(*page, 128);
        state_.locked = state_.securityEnabled && (w128 & 0x0004) != 0;
        state_.frozen = profile_.sata.security.supported && (w128 & 0x0008) != 0;
    }
    // Nothing held in the drive's memory survives: a half-sent firmware image, a pending
    // erase prepare, the vendor mode, SCT and write-cache settings and a waiting data table.
    erasePrepared_ = false;
    image_.clear();
    nextBlock_ = 0;
    vendorMode_ = false;
    vendorTableSelected_ = false;
    sctAction_ = 0;
    sctFunction_ = 0;
    sctStatus_ = 0;
    sctTablePending_ = false;
    sctReadTimer_ = 0;
    sctWriteTimer_ = 0;
    writeCache_ = WriteCacheAtPowerOn();
    temperatureInterval_ = 1;
}

void SataDrive::Complete(AtaExchange& x) {
    x.regs.command = kAtaStatusDrdy | kAtaStatusDsc;
    x.regs.features = 0;
}

void SataDrive::Abort(AtaExchange& x) {
    x.regs.command = kAtaStatusDrdy | kAtaStatusDsc | kAtaStatusErr;
    x.regs.features = kAtaErrorAbrt;
    x.transferred = 0;
}

bool SataDrive::DataIn(AtaExchange& x, std::span<const uint8_t> bytes) {
    if (x.direction != AtaData::In || x.data.size() < bytes.size()) {
        Abort(x);
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), x.data.begin());
    x.transferred = static_cast<uint32_t>(bytes.size());
    Complete(x);
    return true;
}

bool SataDrive::DataOut(AtaExchange& x, uint32_t bytes) {
    if (x.direction != AtaData::Out || x.data.size() < bytes) {
        Abort(x);
        return false;
    }
    x.transferred = bytes;
    return true;
}

void SataDrive::Advance() {
    AdvanceSelfTest();
    AdvanceErase();
    AddBackgroundCounts();
}

bool SataDrive::MediaReady() {
    Advance();
    return state_.eraseEndMs == 0;
}

void SataDrive::ExecuteAta(AtaExchange& x) {
    Advance();
    x.transferred = 0;
    const uint8_t cmd = x.regs.command;
    const uint8_t feat = x.regs.features;
    // ERASE UNIT must come right after ERASE PREPARE: any other command cancels the prepare.
    if (cmd != platform::kAtaCmdSecurityEraseUnit) {
        erasePrepared_ = false;
    }
    // While an erase runs the drive answers only what shows its progress.
    const bool showsProgress = cmd == kAtaCmdIdentify || (cmd == kAtaCmdSmart && (feat == platform::kSmartReadData || feat == platform::kSmartReadThresholds)) ||
                               cmd == kAtaCmdCheckPowerMode;
    if (state_.eraseEndMs != 0 && !showsProgress) {
        Abort(x);
        return;
    }
    // A locked drive refuses media access.
    const bool mediaAccess = cmd == kAtaCmdDataSetManagement || cmd == kAtaCmdDownloadMicrocode ||
                             cmd == platform::kVendorTableRequestCommand || cmd == platform::kVendorTableReadCommand;
    if (state_.locked && mediaAccess) {
        Abort(x);
        return;
    }
    switch (cmd) {
        case kAtaCmdIdentify: Identify(x); break;
        case kAtaCmdSmart: Smart(x); break;
        case kAtaCmdSetFeatures: SetFeatures(x); break;
        case kAtaCmdDataSetManagement: DataSetManagement(x); break;
        case kAtaCmdDownloadMicrocode: DownloadMicrocode(x); break;
        case kAtaCmdFlushCache:
        case kAtaCmdFlushCacheExt:
        case kAtaCmdIdleImmediate: Complete(x); break;
        case kAtaCmdStandbyImmediate:
            vendorMode_ = false;
            vendorTableSelected_ = false;
            Complete(x);
            break;
        case kAtaCmdCheckPowerMode:
            x.regs.sectorCount = 0xFF;  // active or idle
            Complete(x);
            break;
        case platform::kAtaCmdSecuritySetPassword:
        case platform::kAtaCmdSecurityUnlock:
        case platform::kAtaCmdSecurityErasePrepare:
        case platform::kAtaCmdSecurityEraseUnit:
        case platform::kAtaCmdSecurityFreezeLock:
        case platform::kAtaCmdSecurityDisablePassword: Security(x); break;
        case platform::kVendorTableRequestCommand: VendorTableRequest(x); break;
        case platform::kVendorTableReadCommand: VendorTableRead(x); break;
        default: Abort(x); break;
    }
    if ((x.regs.command & kAtaStatusErr) == 0) {
        CountCommand(x);
    }
}

void SataDrive::Identify(AtaExchange& x) {
    const Page page = IdentifyPage();
    DataIn(x, page);
}

void SataDrive::Smart(AtaExchange& x) {
    if (x.regs.lbaMid != platform::kSmartLbaMid || x.regs.lbaHigh != platform::kSmartLbaHigh) {
        Abort(x);
        return;
    }
    switch (x.regs.features) {
        case platform::kSmartReadData: {
            const Page page = SmartDataPage();
            DataIn(x, page);
            break;
        }
        case platform::kSmartReadThresholds: {
            const Page page = SmartThresholdPage();
            DataIn(x, page);
            break;
        }
        case platform::kSmartAttributeAutosave:
        case platform::kSmartEnableOperations:
        case platform::kSmartDisableOperations:
            Complete(x);
            break;
        case platform::kSmartExecuteOfflineImmediate: OfflineImmediate(x); break;
        case platform::kSmartReadLog: SmartReadLog(x); break;
        case platform::kSmartWriteLog: SmartWriteLog(x); break;
        case platform::kSmartReturnStatus: {  // RETURN STATUS: F4h/2Ch when an attribute is at or below its threshold
            // A replayed drive answers what the real one answered, when the profile knows it.
            const std::optional<bool>& given = profile_.sata.pages.thresholdExceeded;
            bool exceeded = given.value_or(false);
            for (const SmartAttributeProfile& a : profile_.sata.attributes) {
                exceeded = exceeded || (!given && a.threshold != 0 && a.current <= a.threshold);
            }
            x.regs.lbaMid = exceeded ? platform::kSmartExceededLbaMid : platform::kSmartLbaMid;
            x.regs.lbaHigh = exceeded ? platform::kSmartExceededLbaHigh : platform::kSmartLbaHigh;
            Complete(x);
            break;
        }
        default: Abort(x); break;
    }
}

void SataDrive::SetFeatures(AtaExchange& x) {
    switch (x.regs.features) {
        case platform::kVendorModeFeature:
            // The vendor mode of JMF608 controllers; other drives do not know the subcommand.
            if (profile_.sata.signature != VendorSignature::Jmf608 || x.regs.sectorCount != platform::kVendorModeKey) {
                Abort(x);
                return;
            }
            if (x.direction == AtaData::Out && x.data.size() >= 512) {
                x.transferred = 512;
            }
            vendorMode_ = true;
            vendorTableSelected_ = false;
            Complete(x);
            return;
        case 0x02: writeCache_ = true; Complete(x); return;
        case 0x82: writeCache_ = false; Complete(x); return;
        case 0x03:  // transfer mode
        case 0x10:  // enable a SATA feature
        case 0x90:  // disable a SATA feature
        case 0x55:  // read look-ahead off
        case 0xAA:  // read look-ahead on
        case 0x66:  // keep settings over a reset
        case 0xCC:
            Complete(x);
            return;
        default: Abort(x); return;
    }
}

void SataDrive::DataSetManagement(AtaExchange& x) {
    // TRIM only: features bit 0, the count in 512-byte blocks of 8-byte range entries.
    const uint32_t blocks = x.regs.sectorCount;
    if (!profile_.sata.trim || (x.regs.features & 0x01) == 0 || blocks == 0 || !DataOut(x, blocks * 512)) {
        Abort(x);
        return;
    }
    const uint64_t capacity = profile_.capacitySectors;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (uint32_t i = 0; i < blocks * 64; ++i) {
        uint64_t entry = 0;
        std::memcpy(&entry, x.data.data() + 8 * i, 8);  // little-endian host
        const uint64_t lba = entry & 0x0000FFFFFFFFFFFFull;
        const uint64_t count = entry >> 48;
        if (count == 0) {
            continue;
        }
        // A range that leaves the drive aborts the whole command: nothing is trimmed.
        if (lba >= capacity || count > capacity - lba) {
            Abort(x);
            return;
        }
        ranges.emplace_back(lba, lba + count);
    }
    TrimSummary& t = state_.trim;
    ++t.commands;
    for (const auto& r : ranges) {
        ++t.ranges;
        t.sectors += r.second - r.first;
        t.intervals.push_back(r);
    }
    // Merge overlapping and touching intervals; when too many are left, close the smallest gaps.
    std::sort(t.intervals.begin(), t.intervals.end());
    std::vector<std::pair<uint64_t, uint64_t>> merged;
    for (const auto& iv : t.intervals) {
        if (!merged.empty() && iv.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, iv.second);
        } else {
            merged.push_back(iv);
        }
    }
    while (merged.size() > TrimSummary::kMaxIntervals) {
        size_t best = 0;
        for (size_t i = 1; i + 1 < merged.size(); ++i) {
            if (merged[i + 1].first - merged[i].second < merged[best + 1].first - merged[best].second) {
                best = i;
            }
        }
        merged[best].second = merged[best + 1].second;
        merged.erase(merged.begin() + static_cast<std::ptrdiff_t>(best) + 1);
    }
    t.intervals = std::move(merged);
    Changed();
    Complete(x);
}

int SataDrive::Temperature() const {
    for (const SmartAttributeProfile& a : profile_.sata.attributes) {
        if (a.id == 194 || a.id == 190) {
            return static_cast<int>(a.raw & 0xFF);
        }
    }
    return 35;
}

}  // namespace tarvex::sim
