// The ATA commands that change or steer the drive: cache flush, standby, the security
// feature set, TRIM, firmware download, and the vendor statistics sequence.
#include <cstring>
#include <vector>

#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/byte_span.h"
#include "platform/platform.h"

namespace tarvex {

namespace {

constexpr uint8_t kTrimFeature = 0x01;  // DATA SET MANAGEMENT: the TRIM bit
constexpr uint16_t kFlagsTrim = 0x1C;  // data out, 48-bit, DMA
// The 16-bit block offset of DOWNLOAD MICROCODE addresses at most this many blocks.
constexpr uint64_t kMicrocodeOffsetLimit = 0x10000;

// A command with no registers but the command and the device.
AtaTaskFile Plain(uint8_t command, uint8_t device) { return AtaTaskFile{0, 0, 0, 0, 0, device, command, 0}; }

// The registers of the vendor sequence: LBA low, mid and high hold a three-byte signature.
AtaTaskFile Vendor(uint8_t command, uint8_t features, uint8_t count, const uint8_t lba[3], uint8_t device) {
    return AtaTaskFile{features, count, lba[0], lba[1], lba[2], device, command, 0};
}

}  // namespace

int ATACommand::DoFlushCacheExt(int driveNumber, uint8_t device) {
    const int result = SendAtaCommandPhysicalDrive(driveNumber, Plain(platform::kAtaCmdFlushCacheExt, device), nullptr,
                                                   0, platform::ATA_FLAGS_DRDY_REQUIRED);
    Trace("ATACommand::DoFlushCacheExt--Done\n");
    return result;
}

int ATACommand::SecuritySetPassword(int driveNumber, uint8_t* block512) {
    return SendAtaCommandPhysicalDrive(driveNumber, Plain(platform::kAtaCmdSecuritySetPassword, 0), block512, 512,
                                       platform::ATA_FLAGS_DATA_OUT);
}

int ATACommand::SecurityErasePrepare(int driveNumber, uint8_t device) {
    return SendAtaCommandPhysicalDrive(driveNumber, Plain(platform::kAtaCmdSecurityErasePrepare, device), nullptr, 0,
                                       platform::ATA_FLAGS_DRDY_REQUIRED);
}

int ATACommand::SecurityEraseUnit(int driveNumber, uint8_t* block512) {
    return SendAtaCommandPhysicalDrive(driveNumber, Plain(platform::kAtaCmdSecurityEraseUnit, 0), block512, 512,
                                       platform::ATA_FLAGS_DATA_OUT);
}

int ATACommand::StandbyImmediate(int driveNumber, uint8_t device) {
    return SendAtaCommandPhysicalDrive(driveNumber, Plain(platform::kAtaCmdStandbyImmediate, device), nullptr, 0,
                                       platform::ATA_FLAGS_DRDY_REQUIRED);
}

int ATACommand::DataSetManagementTrim(int driveNumber, uint8_t* rangeBlock, uint32_t length) {
    return SendAtaCommandPhysicalDrive(
        driveNumber, AtaTaskFile{kTrimFeature, 0x01, 0, 0, 0, 0, platform::kAtaCmdDataSetManagement, 0}, rangeBlock,
        length, kFlagsTrim);
}

int ATACommand::DownloadMicrocode(std::u16string_view firmwareFile, uint8_t device, std::u16string_view path,
                                  uint8_t mode, uint8_t blocksPerPiece) {
    auto file = platform::Current().files->OpenStream(firmwareFile, "rb");
    if (!file) {
        Trace("Open firmware file error:%s", firmwareFile);
        return 0;
    }
    uint64_t size = 0;
    if (!file->GetSize(&size) || size == 0) {
        // Nothing to download is not a successful download.
        Trace("Firmware file is empty:%s", firmwareFile);
        return 0;
    }
    // The offset of the last piece must fit the 16 bits of LBA mid/high; a larger image
    // would wrap around and overwrite its own start on the drive.
    const uint64_t pieces = (size + kMicrocodePieceSize - 1) / kMicrocodePieceSize;
    if ((pieces - 1) * blocksPerPiece >= kMicrocodeOffsetLimit) {
        Trace("Firmware file too large for DOWNLOAD MICROCODE:%s (%llu bytes)", firmwareFile,
              static_cast<unsigned long long>(size));
        return 0;
    }
    std::vector<uint8_t> piece(kMicrocodePieceSize);
    uint32_t offset = 0;
    for (int number = 0;; ++number) {
        std::fill(piece.begin(), piece.end(), 0);
        uint32_t got = 0;
        if (!file->Read(piece.data(), kMicrocodePieceSize, &got) || got == 0) {
            break;
        }
        Trace("%d DownloadMicrocode--read %d bytes", number, static_cast<int>(got));
        // LBA mid and high carry the block offset of the piece.
        const AtaTaskFile tf{mode,   blocksPerPiece, 0, static_cast<uint8_t>(offset & 0xFF), static_cast<uint8_t>(offset >> 8),
                             device, platform::kAtaCmdDownloadMicrocode, 0};
        if (!SendAtaCommandPhysicalDrive(path, tf, piece.data(), kMicrocodePieceSize, platform::ATA_FLAGS_DATA_OUT)) {
            return 0;
        }
        offset += blocksPerPiece;
    }
    return 1;
}

uint32_t ATACommand::GetVendorStatistics(int driveNumber, uint8_t sectorCount, uint8_t* destination) {
    const uint32_t length = static_cast<uint32_t>(sectorCount) * 512;
    if (destination == nullptr || length == 0) {
        return 0;
    }
    std::memset(destination, 0, length);
    const uint8_t device = (driveNumber % 2 == 0) ? 0xE0 : 0xF0;
    const uint8_t noLba[3] = {0, 0, 0};

    // 1. Vendor mode entry: SET FEATURES with the vendor subcommand and key, 512 zero bytes.
    std::vector<uint8_t> block(512, 0);
    uint32_t n = 512;
    if (!SendAtaCommandDirect(driveNumber, 1, block.data(), nullptr, &n,
                              Vendor(platform::kAtaCmdSetFeatures, platform::kVendorModeFeature,
                                     platform::kVendorModeKey, noLba, device))) {
        return 0;
    }
    // 2. Table request: the request signature and the big-endian table address.
    const platform::ByteWriter request(block);
    if (!request.CopyIn(0, platform::kVendorRequestSignature) || !request.U8(3, 0) ||
        !request.U32BigEndian(4, platform::kVendorStatisticsTableAddress)) {
        return 0;
    }
    n = 512;
    if (!SendAtaCommandDirect(driveNumber, 1, block.data(), nullptr, &n,
                              Vendor(platform::kVendorTableRequestCommand, 0, 1, platform::kVendorRequestLba, device))) {
        return 0;
    }
    // 3. Table read: N sectors in.
    n = length;
    if (!SendAtaCommandDirect(driveNumber, 0, nullptr, destination, &n,
                              Vendor(platform::kVendorTableReadCommand, 0, sectorCount, platform::kVendorReadLba,
                                     device))) {
        return 0;
    }
    return platform::ByteReader(std::span<const uint8_t>(destination, length)).U32(0).value_or(0);
}

}  // namespace tarvex
