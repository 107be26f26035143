#include "platform/sim/devices/nvme_drive.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/byte_span.h"

namespace tarvex::sim {

namespace {

constexpr uint16_t kStatusInvalidOpcode = 0x0001;
constexpr uint16_t kStatusInvalidField = 0x0002;
constexpr uint16_t kStatusInvalidNamespace = 0x000B;
constexpr uint16_t kStatusInvalidLogPage = 0x0109;  // command specific: invalid log page

// The pages are built through a bounds-checked writer: a field placed past the page's end
// is a fault of this file, and stops the program rather than writing past the page.
template <size_t N>
platform::ByteWriter Page(std::array<uint8_t, N>& a) {
    return platform::ByteWriter(std::span<uint8_t>(a));
}
void Check(bool written) {
    if (!written) {
        std::abort();
    }
}
template <size_t N>
void Put16(std::array<uint8_t, N>& a, size_t off, uint16_t v) {
    Check(Page(a).U16(off, v));
}
template <size_t N>
void Put32(std::array<uint8_t, N>& a, size_t off, uint32_t v) {
    Check(Page(a).U32(off, v));
}
template <size_t N>
void Put64(std::array<uint8_t, N>& a, size_t off, uint64_t v) {
    Check(Page(a).U64(off, v));
}
// A 128-bit counter from a 64-bit value: the high half is zero.
template <size_t N>
void Put128(std::array<uint8_t, N>& a, size_t off, uint64_t v) {
    Put64(a, off, v);
    Put64(a, off + 8, 0);
}
// NVMe strings: ASCII in reading order, blank padded.
template <size_t N>
void PutText(std::array<uint8_t, N>& a, size_t off, size_t width, std::string_view text) {
    const auto field = Page(a).Bytes(off, width);
    Check(field.has_value());
    for (size_t i = 0; i < width; ++i) {
        (*field)[i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
    }
}

}  // namespace

NvmeDrive::NvmeDrive(const DiskProfile& profile, DriveState state, SimClock& clock, std::filesystem::path stateFile)
    : SimDisk(profile, std::move(state), clock, std::move(stateFile)) {}

std::array<uint8_t, 4096> NvmeDrive::IdentifyController() const {
    const NvmeProfile& n = profile_.nvme;
    std::array<uint8_t, 4096> a{};
    Put16(a, 0, n.vendorId);
    Put16(a, 2, n.subsystemVendorId);
    PutText(a, 4, 20, profile_.serial);
    PutText(a, 24, 40, profile_.model);
    PutText(a, 64, 8, state_.firmware);
    a[72] = 2;  // recommended arbitration burst
    a[73] = static_cast<uint8_t>(n.ieeeOui);
    a[74] = static_cast<uint8_t>(n.ieeeOui >> 8);
    a[75] = static_cast<uint8_t>(n.ieeeOui >> 16);
    a[77] = 5;  // maximum transfer 2^5 pages of 4 KiB
    Put16(a, 78, n.controllerId);
    Put32(a, 80, n.version);
    Put32(a, 84, 500000);   // RTD3 resume latency, microseconds
    Put32(a, 88, 2000000);  // RTD3 entry latency
    Put32(a, 92, 0x200);    // asynchronous events: firmware activation notices
    a[111] = 1;             // I/O controller
    Put16(a, 256, 0x0017);  // security send/receive, format, firmware download/commit, self-test
    a[258] = 3;             // abort command limit (0-based)
    a[259] = 3;             // asynchronous event request limit
    a[260] = 0x14;          // two firmware slots, activation without reset
    a[261] = 0x02;          // commands supported and effects log
    a[262] = 63;            // error log entries (0-based)
    a[263] = 2;             // three power states (0-based)
    a[264] = 1;
    a[265] = 1;  // autonomous power state transitions
    Put16(a, 266, n.warningTemperatureKelvin);
    Put16(a, 268, n.criticalTemperatureKelvin);
    Put128(a, 280, profile_.capacitySectors * 512);  // total NVM capacity
    a[512] = 0x66;  // submission queue entries of 64 bytes
    a[513] = 0x44;  // completion queue entries of 16 bytes
    Put32(a, 516, 1);       // one namespace
    Put16(a, 520, 0x001F);  // compare, write uncorrectable, dataset management, write zeroes, save/select
    a[525] = 1;             // volatile write cache
    a[530] = 1;
    const std::string nqn = fmt::format("nqn.2014.08.org.nvmexpress:{:04x}{:04x}{:<20}{:<40}", n.vendorId,
                                        n.subsystemVendorId, profile_.serial, profile_.model);
    Check(Page(a).CopyIn(768, std::span(reinterpret_cast<const uint8_t*>(nqn.data()), std::min<size_t>(nqn.size(), 256))));
    // Power states: 6.0 W, 4.5 W and 3.0 W, operational.
    const uint16_t centiwatts[3] = {600, 450, 300};
    for (int i = 0; i < 3; ++i) {
        const size_t psd = 2048 + 32 * static_cast<size_t>(i);
        Put16(a, psd, centiwatts[i]);
        Put32(a, psd + 4, 5u * static_cast<uint32_t>(i));
        Put32(a, psd + 8, 5u * static_cast<uint32_t>(i));
        a[psd + 12] = a[psd + 13] = a[psd + 14] = a[psd + 15] = static_cast<uint8_t>(i);
    }
    return a;
}

std::array<uint8_t, 4096> NvmeDrive::IdentifyNamespace() const {
    std::array<uint8_t, 4096> a{};
    Put64(a, 0, profile_.capacitySectors);   // size
    Put64(a, 8, profile_.capacitySectors);   // capacity
    Put64(a, 16, profile_.capacitySectors);  // utilisation
    a[25] = 0;                               // one LBA format
    a[26] = 0;                               // format 0 in use
    Put32(a, 128, 9u << 16);                 // 512-byte LBAs
    return a;
}

std::array<uint8_t, 512> NvmeDrive::SmartHealthLog() const {
    const NvmeProfile& n = profile_.nvme;
    std::array<uint8_t, 512> a{};
    uint8_t warning = n.criticalWarning;
    if (n.availableSpare < n.spareThreshold) {
        warning |= 0x01;
    }
    if (n.temperatureKelvin >= n.warningTemperatureKelvin) {
        warning |= 0x02;
    }
    const uint64_t hours = NowMs() / 3600000;
    a[0] = warning;
    Put16(a, 1, n.temperatureKelvin);
    a[3] = n.availableSpare;
    a[4] = n.spareThreshold;
    a[5] = n.percentageUsed;
    Put128(a, 32, n.dataUnitsRead);
    Put128(a, 48, n.dataUnitsWritten);
    Put128(a, 64, n.hostReadCommands);
    Put128(a, 80, n.hostWriteCommands);
    Put128(a, 96, n.controllerBusyMinutes);
    Put128(a, 112, n.powerCycles);
    Put128(a, 128, n.powerOnHours + hours);
    Put128(a, 144, n.unsafeShutdowns);
    Put128(a, 160, n.mediaErrors);
    Put128(a, 176, n.errorLogEntries);
    Put16(a, 200, n.temperatureKelvin);  // sensor 1
    return a;
}

std::array<uint8_t, 512> NvmeDrive::FirmwareSlotLog() const {
    std::array<uint8_t, 512> a{};
    a[0] = 0x01;  // slot 1 active
    PutText(a, 8, 8, state_.firmware);
    return a;
}

void NvmeDrive::ExecuteNvme(NvmeExchange& x) {
    x.transferred = 0;
    x.status = 0;
    const uint32_t cdw0 = x.command[0];
    const uint8_t opcode = static_cast<uint8_t>(cdw0 & 0xFF);
    const uint32_t nsid = x.command[1];
    const uint32_t cdw10 = x.command[10];
    if (((cdw0 >> 8) & 0xFF) != 0) {
        x.status = kStatusInvalidField;  // fused commands and SGLs are not taken here
        return;
    }
    auto give = [&](std::span<const uint8_t> bytes) {
        if (x.data.size() < bytes.size()) {
            x.status = kStatusInvalidField;
            return;
        }
        std::copy(bytes.begin(), bytes.end(), x.data.begin());
        x.transferred = static_cast<uint32_t>(bytes.size());
    };
    if (opcode == platform::kNvmeAdminIdentify) {
        const uint8_t cns = static_cast<uint8_t>(cdw10 & 0xFF);
        if (cns == 1) {
            give(IdentifyController());
        } else if (cns == 0) {
            if (nsid != 1) {
                x.status = kStatusInvalidNamespace;
                return;
            }
            give(IdentifyNamespace());
        } else {
            x.status = kStatusInvalidField;
        }
        return;
    }
    if (opcode == platform::kNvmeAdminGetLogPage) {
        const uint8_t lid = static_cast<uint8_t>(cdw10 & 0xFF);
        const uint32_t bytes = (((cdw10 >> 16) & 0x0FFF) + 1) * 4;
        if (bytes > 4096) {
            x.status = kStatusInvalidField;
            return;
        }
        std::vector<uint8_t> page(bytes, 0);
        std::array<uint8_t, 512> log{};
        if (lid == 0x01) {
            // error information: no entries
        } else if (lid == 0x02) {
            if (nsid != 0xFFFFFFFF && nsid != 0 && nsid != 1) {
                x.status = kStatusInvalidNamespace;
                return;
            }
            log = SmartHealthLog();
        } else if (lid == 0x03) {
            log = FirmwareSlotLog();
        } else {
            x.status = kStatusInvalidLogPage;
            return;
        }
        std::copy(log.begin(), log.begin() + std::min<size_t>(bytes, log.size()), page.begin());
        give(page);
        return;
    }
    x.status = kStatusInvalidOpcode;
}

}  // namespace tarvex::sim
