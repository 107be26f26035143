// DOWNLOAD MICROCODE of an emulated SATA SSD. Mode 3 (download with offsets and save) takes
// the image in pieces: the block count in count (low) and LBA low (high), the block offset in
// LBA mid (low) and LBA high (high). Pieces must come in order, within the segment sizes of
// IDENTIFY words 234/235, and the image within the drive's limit. When the image's header
// says it is complete, it is checked (firmware-image format) and, when good, activated: the
// firmware revision changes. Mode 7 takes the whole image in one command. Anything wrong
// aborts the command, drops what was assembled and leaves the old firmware running.
#include <algorithm>
#include <cstring>

#include "platform/byte_span.h"
#include "platform/sim/devices/firmware_image.h"
#include "platform/sim/devices/sata_drive.h"

namespace tarvex::sim {

namespace {

constexpr uint8_t kModeSegmented = 0x03;
constexpr uint8_t kModeWhole = 0x07;
// Count register on return (mode 3): more pieces expected, or the new firmware is active.
constexpr uint8_t kMoreExpected = 0x01;
constexpr uint8_t kActivated = 0x02;

}  // namespace

void SataDrive::DownloadMicrocode(AtaExchange& x) {
    const MicrocodeProfile& m = profile_.sata.microcode;
    const uint8_t mode = x.regs.features;
    const uint32_t blocks = x.regs.sectorCount | (static_cast<uint32_t>(x.regs.lbaLow) << 8);
    const uint32_t offset = mode == kModeSegmented ? x.regs.lbaMid | (static_cast<uint32_t>(x.regs.lbaHigh) << 8) : 0;
    auto refuse = [&] {
        image_.clear();
        nextBlock_ = 0;
        Abort(x);
    };
    if (!m.supported || blocks == 0 || (mode != kModeSegmented && mode != kModeWhole)) {
        refuse();
        return;
    }
    if (mode == kModeSegmented && blocks > m.maxBlocks) {
        refuse();
        return;
    }
    if (offset == 0) {
        image_.clear();  // a download that starts over
        nextBlock_ = 0;
    }
    const uint64_t end = (static_cast<uint64_t>(offset) + blocks) * 512;
    if (offset != nextBlock_ || end > m.maxImageBytes) {
        refuse();
        return;
    }
    const auto piece = DataOut(x, blocks * 512) ? platform::ByteReader(x.data).Bytes(0, blocks * 512) : std::nullopt;
    if (!piece) {
        refuse();
        return;
    }
    image_.insert(image_.end(), piece->begin(), piece->end());
    nextBlock_ += blocks;

    // Is the image complete? Its header says how long it is.
    bool complete = mode == kModeWhole;
    const platform::ByteReader assembled(image_);
    if (assembled.Has(0, kFirmwareHeaderSize)) {
        const auto magic = assembled.Bytes(0, sizeof kFirmwareMagic);
        const auto payload = assembled.U32(offsetof(FirmwareImageHeader, payloadLength));
        if (!magic || !payload || std::memcmp(magic->data(), kFirmwareMagic, sizeof kFirmwareMagic) != 0) {
            refuse();
            return;
        }
        const uint64_t total = kFirmwareHeaderSize + static_cast<uint64_t>(*payload);
        if (total > m.maxImageBytes) {
            refuse();
            return;
        }
        complete = complete || image_.size() >= total;
    }
    if (!complete) {
        // Pieces below the minimum segment size are refused, except the one that ends the image.
        if (mode == kModeSegmented && blocks < m.minBlocks) {
            refuse();
            return;
        }
        Complete(x);
        x.regs.sectorCount = kMoreExpected;
        return;
    }
    FirmwareImageInfo info;
    const FirmwareCheck check = CheckFirmwareImage(image_, profile_.model, &info);
    image_.clear();
    nextBlock_ = 0;
    if (check != FirmwareCheck::Ok) {
        Abort(x);
        return;
    }
    state_.firmware = info.newRevision;
    Changed();
    Complete(x);
    x.regs.sectorCount = kActivated;
}

}  // namespace tarvex::sim
