// The command statistics of JMF608 drives (docs/vendor-statistics.md): SET FEATURES with the
// vendor subcommand and key enters vendor mode, command 88h selects the statistics table and
// command 86h reads it. The controller counts the data commands it serves by transfer size
// (pair 0 of each bucket) and the background traffic of the PC over power-on time (pair 1).
#include <algorithm>
#include <cstring>

#include "platform/sim/devices/sata_drive.h"

namespace tarvex::sim {

namespace {

constexpr uint32_t kTableSectors = 16;

bool LbaIs(const platform::AtaTaskFile& r, const uint8_t (&lba)[3]) {
    return r.lbaLow == lba[0] && r.lbaMid == lba[1] && r.lbaHigh == lba[2];
}

// A PC in light use when the profile gives no rates.
const VendorStatisticsProfile& DefaultStatistics() {
    static const VendorStatisticsProfile kDefault = [] {
        VendorStatisticsProfile v;
        const uint32_t writes[4] = {24, 40, 6, 3};
        const uint32_t reads[4] = {48, 70, 12, 5};
        std::copy(writes, writes + 4, v.writesPerMinute);
        std::copy(reads, reads + 4, v.readsPerMinute);
        return v;
    }();
    return kDefault;
}

void PutLe32(std::vector<uint8_t>& t, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        t[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

}  // namespace

void SataDrive::VendorTableRequest(AtaExchange& x) {
    if (!vendorMode_ || !LbaIs(x.regs, platform::kVendorRequestLba) || x.regs.sectorCount != 1 || !DataOut(x, 512)) {
        Abort(x);
        return;
    }
    const uint8_t* d = x.data.data();
    const uint32_t address = (static_cast<uint32_t>(d[4]) << 24) | (d[5] << 16) | (d[6] << 8) | d[7];
    if (std::memcmp(d, platform::kVendorRequestSignature, 3) != 0 || d[3] != 0 ||
        address != platform::kVendorStatisticsTableAddress) {
        Abort(x);
        return;
    }
    vendorTableSelected_ = true;
    Complete(x);
}

void SataDrive::VendorTableRead(AtaExchange& x) {
    const uint32_t sectors = x.regs.sectorCount;
    if (!vendorMode_ || !vendorTableSelected_ || !LbaIs(x.regs, platform::kVendorReadLba) || sectors == 0 ||
        sectors > kTableSectors) {
        Abort(x);
        return;
    }
    const std::vector<uint8_t> table = VendorTable();
    DataIn(x, std::span(table).first(sectors * 512));
}

void SataDrive::CountCommand(const AtaExchange& x) {
    if (profile_.sata.signature != VendorSignature::Jmf608 || x.transferred == 0) {
        return;
    }
    const uint32_t n = x.transferred;
    const int bucket = n <= 512 ? 0 : n <= 4096 ? 1 : n <= 32768 ? 2 : 3;
    const int side = x.direction == AtaData::Out ? 0 : 1;
    ++state_.vendorCounters[bucket][0][side];
}

void SataDrive::AddBackgroundCounts() {
    if (profile_.sata.signature != VendorSignature::Jmf608) {
        return;
    }
    const VendorStatisticsProfile& v = profile_.sata.vendorStatistics ? *profile_.sata.vendorStatistics : DefaultStatistics();
    const uint64_t minute = NowMs() / 60000;
    if (minute <= state_.vendorLastMinute) {
        return;
    }
    const uint64_t minutes = minute - state_.vendorLastMinute;
    for (int b = 0; b < 4; ++b) {
        // 32-bit counters wrap, as the controller's do.
        state_.vendorCounters[b][1][0] += static_cast<uint32_t>(minutes * v.writesPerMinute[b]);
        state_.vendorCounters[b][1][1] += static_cast<uint32_t>(minutes * v.readsPerMinute[b]);
    }
    state_.vendorLastMinute = minute;
}

std::vector<uint8_t> SataDrive::VendorTable() {
    std::vector<uint8_t> t(kTableSectors * 512, 0);
    PutLe32(t, 0, platform::kVendorStatisticsTableAddress);
    PutLe32(t, 4, static_cast<uint32_t>(NowMs() / 60000));
    uint32_t total = 0;
    for (int b = 0; b < 4; ++b) {
        for (int k = 0; k < 3; ++k) {
            total += state_.vendorCounters[b][k][0] + state_.vendorCounters[b][k][1];
        }
    }
    PutLe32(t, 8, total);
    for (int b = 0; b < 4; ++b) {
        const uint32_t base = platform::kVendorStatisticsBucketOffsets[b];
        for (int k = 0; k < 3; ++k) {
            PutLe32(t, base + 8 * k, state_.vendorCounters[b][k][0]);
            PutLe32(t, base + 8 * k + 4, state_.vendorCounters[b][k][1]);
        }
    }
    return t;
}

}  // namespace tarvex::sim
