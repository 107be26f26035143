// The SMART pages and logs of an emulated SATA SSD: READ DATA, READ THRESHOLDS, and the
// logs SMART READ LOG / WRITE LOG reach (directory, summary error log, self-test log, the SCT
// logs E0h/E1h and the host vendor logs 80h..9Fh).
#include <algorithm>
#include <cstring>

#include "platform/sim/devices/sata_drive.h"

namespace tarvex::sim {

namespace {

using platform::kSmartLogDirectory;
using platform::kSmartLogSctCommand;
using platform::kSmartLogSctData;
using platform::kSmartLogSelfTest;
using platform::kSmartLogSummaryError;

constexpr int kSlotOffset = 2;
constexpr int kSlotSize = 12;

uint8_t Minutes(uint32_t seconds) { return static_cast<uint8_t>(std::min<uint32_t>((seconds + 59) / 60, 254)); }

}  // namespace

Page SataDrive::ReplayedSmartDataPage() {
    const Page& original = *profile_.sata.pages.smartData;
    Page p = original;
    // The page's own self-test byte until a test runs here.
    if (state_.runningSelfTest != 0 || !state_.selfTestLog.empty()) {
        p[363] = SelfTestStatusByte();
    }
    // Power-on hours: the hours on here are added to raw bytes 0..3; bytes 4..5 stay, as
    // some drives keep other counts there.
    if (const uint64_t hours = PowerOnHours(); hours != 0) {
        for (int i = 0; i < 30; ++i) {
            uint8_t* slot = p.data() + kSlotOffset + kSlotSize * i;
            if (slot[0] != 9) {
                continue;
            }
            uint64_t raw = 0;
            for (int b = 0; b < 4; ++b) {
                raw |= uint64_t{slot[5 + b]} << (8 * b);
            }
            raw = std::min<uint64_t>(raw + hours, 0xFFFFFFFFull);
            for (int b = 0; b < 4; ++b) {
                slot[5 + b] = static_cast<uint8_t>(raw >> (8 * b));
            }
        }
    }
    ResealChecksum(p, original);
    return p;
}

Page SataDrive::SmartDataPage() {
    Advance();
    if (profile_.sata.pages.smartData) {
        return ReplayedSmartDataPage();
    }
    const SataProfile& s = profile_.sata;
    Page p{};
    PutWord(p, 0, s.smartRevision);
    for (size_t i = 0; i < s.attributes.size() && i < 30; ++i) {
        const SmartAttributeProfile& a = s.attributes[i];
        uint8_t* slot = p.data() + kSlotOffset + kSlotSize * i;
        uint64_t raw = a.raw;
        if (a.id == 9) {
            raw += PowerOnHours();  // the hours this drive has been on in the emulated PC
        }
        slot[0] = a.id;
        slot[1] = static_cast<uint8_t>(a.flags & 0xFF);
        slot[2] = static_cast<uint8_t>(a.flags >> 8);
        slot[3] = a.current;
        slot[4] = a.worst;
        for (int b = 0; b < 6; ++b) {
            slot[5 + b] = static_cast<uint8_t>(raw >> (8 * b));
        }
        slot[11] = a.reserved;
    }
    p[362] = 0x00;                   // off-line data collection never started
    p[363] = SelfTestStatusByte();
    PutWord(p, 182, 30);             // bytes 364..365: off-line collection takes 30 s
    p[367] = 0x1D;                   // EXECUTE OFF-LINE IMMEDIATE, abort, read scanning, self-test
    PutWord(p, 184, 0x0003);         // bytes 368..369: attributes saved before power saving
    p[370] = 0x01;                   // error logging supported
    p[372] = Minutes(s.shortSelfTestSeconds);
    p[373] = Minutes(s.extendedSelfTestSeconds);
    switch (s.signature) {
        case VendorSignature::Jmf608:
            std::memcpy(p.data() + 375, "JM608", 5);
            std::memcpy(p.data() + 396, "JMF608", 6);
            break;
        case VendorSignature::Sm2246:
            std::memcpy(p.data() + 400, "SM2246", 6);
            break;
        case VendorSignature::None:
            break;
    }
    SealChecksum(p);
    return p;
}

Page SataDrive::SmartThresholdPage() {
    const SataProfile& s = profile_.sata;
    if (s.pages.smartThresholds) {
        return *s.pages.smartThresholds;
    }
    Page p{};
    PutWord(p, 0, s.smartRevision);
    for (size_t i = 0; i < s.attributes.size() && i < 30; ++i) {
        uint8_t* slot = p.data() + kSlotOffset + kSlotSize * i;
        slot[0] = s.attributes[i].id;
        slot[1] = s.attributes[i].threshold;
    }
    SealChecksum(p);
    return p;
}

Page SataDrive::SelfTestLogPage() {
    Advance();
    Page p{};
    PutWord(p, 0, 0x0001);
    const auto& log = state_.selfTestLog;
    for (size_t i = 0; i < log.size() && i < 21; ++i) {
        uint8_t* d = p.data() + 2 + 24 * i;
        d[0] = log[i].subcommand;
        d[1] = log[i].statusByte;
        d[2] = static_cast<uint8_t>(log[i].lifeHours & 0xFF);
        d[3] = static_cast<uint8_t>(log[i].lifeHours >> 8);
        for (int b = 0; b < 4; ++b) {
            d[5 + b] = static_cast<uint8_t>(log[i].failingLba >> (8 * b));
        }
    }
    // The most recent descriptor, counted from 1; 0 when no test has run.
    p[508] = static_cast<uint8_t>(std::min<size_t>(log.size(), 21));
    SealChecksum(p);
    return p;
}

void SataDrive::SmartReadLog(AtaExchange& x) {
    const uint8_t address = x.regs.lbaLow;
    if (x.regs.sectorCount != 1) {
        Abort(x);  // every log of this drive is one page
        return;
    }
    Page p{};
    switch (address) {
        case kSmartLogDirectory:
            PutWord(p, 0, 0x0001);
            for (uint8_t log : {kSmartLogSummaryError, kSmartLogSelfTest, kSmartLogSctCommand, kSmartLogSctData}) {
                p[2 * log] = 1;
            }
            for (int log = 0x80; log <= 0x9F; ++log) {
                p[2 * log] = 1;
            }
            break;
        case kSmartLogSummaryError:
            p[0] = 0x01;  // version; no error recorded
            SealChecksum(p);
            break;
        case kSmartLogSelfTest: p = SelfTestLogPage(); break;
        case kSmartLogSctCommand: p = SctStatusPage(); break;
        case kSmartLogSctData:
            if (!sctTablePending_) {
                sctStatus_ = 0x000B;  // a data transfer without an SCT command before it
                Abort(x);
                return;
            }
            sctTablePending_ = false;
            p = SctTemperatureTable();
            break;
        default:
            if (address < 0x80 || address > 0x9F) {
                Abort(x);
                return;
            }
            break;  // host vendor logs read back as zeros
    }
    DataIn(x, p);
}

void SataDrive::SmartWriteLog(AtaExchange& x) {
    const uint8_t address = x.regs.lbaLow;
    if (x.regs.sectorCount != 1 || !DataOut(x, 512)) {
        Abort(x);
        return;
    }
    if (address == kSmartLogSctCommand) {
        if (SctCommand(x, x.data.first(512))) {
            x.transferred = 512;
        }
        return;
    }
    if (address >= 0x80 && address <= 0x9F) {
        Complete(x);  // accepted; the host vendor logs are not kept
        return;
    }
    Abort(x);
}

}  // namespace tarvex::sim
