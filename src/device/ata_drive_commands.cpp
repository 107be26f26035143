// The ATA commands that change or steer the drive: cache flush, standby, the security
// feature set, TRIM, firmware download, and the vendor statistics sequence.
#include <cstring>
#include <vector>

#include "app/trace.h"
#include "device/ata_command.h"
#include "platform/platform.h"

namespace tarvex {

namespace {

constexpr uint8_t kCmdDataSetManagement = 0x06;
constexpr uint8_t kCmdDownloadMicrocode = 0x92;
constexpr uint8_t kCmdStandbyImmediate = 0xE0;
constexpr uint8_t kCmdFlushCacheExt = 0xEA;
constexpr uint8_t kCmdSetFeatures = 0xEF;
constexpr uint8_t kCmdSecuritySetPassword = 0xF1;
constexpr uint8_t kCmdSecurityErasePrepare = 0xF3;
constexpr uint8_t kCmdSecurityEraseUnit = 0xF4;
constexpr uint16_t kFlagsTrim = 0x1C;  // data out, 48-bit, DMA
// The 16-bit block offset of DOWNLOAD MICROCODE addresses at most this many blocks.
constexpr uint64_t kMicrocodeOffsetLimit = 0x10000;

uint32_t PackLow(uint8_t features, uint8_t count, const uint8_t lba[3]) {
    return features | (count << 8) | (lba[0] << 16) | (static_cast<uint32_t>(lba[1]) << 24);
}
uint32_t PackHigh(uint8_t lbaHigh, uint8_t device, uint8_t command) {
    return lbaHigh | (device << 8) | (command << 16);
}

}  // namespace

int ATACommand::DoFlushCacheExt(int driveNumber, uint8_t device) {
    const int result = SendAtaCommandPhysicalDrive(driveNumber, device, kCmdFlushCacheExt, 0, 0, 0, 0, 0, nullptr, 0,
                                                   platform::ATA_FLAGS_DRDY_REQUIRED);
    Trace("ATACommand::DoFlushCacheExt--Done\n");
    return result;
}

int ATACommand::SecuritySetPassword(int driveNumber, uint8_t* block512) {
    return SendAtaCommandPhysicalDrive(driveNumber, 0, kCmdSecuritySetPassword, 0, 0, 0, 0, 0, block512, 512,
                                       platform::ATA_FLAGS_DATA_OUT);
}

int ATACommand::SecurityErasePrepare(int driveNumber, uint8_t device) {
    return SendAtaCommandPhysicalDrive(driveNumber, device, kCmdSecurityErasePrepare, 0, 0, 0, 0, 0, nullptr, 0,
                                       platform::ATA_FLAGS_DRDY_REQUIRED);
}

int ATACommand::SecurityEraseUnit(int driveNumber, uint8_t* block512) {
    return SendAtaCommandPhysicalDrive(driveNumber, 0, kCmdSecurityEraseUnit, 0, 0, 0, 0, 0, block512, 512,
                                       platform::ATA_FLAGS_DATA_OUT);
}

int ATACommand::StandbyImmediate(int driveNumber, uint8_t device) {
    return SendAtaCommandPhysicalDrive(driveNumber, device, kCmdStandbyImmediate, 0, 0, 0, 0, 0, nullptr, 0,
                                       platform::ATA_FLAGS_DRDY_REQUIRED);
}

int ATACommand::DataSetManagementTrim(int driveNumber, uint8_t* rangeBlock, uint32_t length) {
    return SendAtaCommandPhysicalDrive(driveNumber, 0, kCmdDataSetManagement, 0x01, 0x01, 0, 0, 0, rangeBlock, length,
                                       kFlagsTrim);
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
        if (!SendAtaCommandPhysicalDrive(path, device, kCmdDownloadMicrocode, mode, blocksPerPiece, 0,
                                         static_cast<uint8_t>(offset & 0xFF), static_cast<uint8_t>(offset >> 8),
                                         piece.data(), kMicrocodePieceSize, platform::ATA_FLAGS_DATA_OUT)) {
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
                              PackLow(platform::kVendorModeFeature, platform::kVendorModeKey, noLba),
                              PackHigh(0, device, kCmdSetFeatures))) {
        return 0;
    }
    // 2. Table request: the request signature and the big-endian table address.
    std::memcpy(block.data(), platform::kVendorRequestSignature, 3);
    block[3] = 0;
    const uint32_t address = platform::kVendorStatisticsTableAddress;
    block[4] = static_cast<uint8_t>(address >> 24);
    block[5] = static_cast<uint8_t>(address >> 16);
    block[6] = static_cast<uint8_t>(address >> 8);
    block[7] = static_cast<uint8_t>(address);
    n = 512;
    if (!SendAtaCommandDirect(driveNumber, 1, block.data(), nullptr, &n,
                              PackLow(0, 1, platform::kVendorRequestLba),
                              PackHigh(platform::kVendorRequestLba[2], device, platform::kVendorTableRequestCommand))) {
        return 0;
    }
    // 3. Table read: N sectors in.
    n = length;
    if (!SendAtaCommandDirect(driveNumber, 0, nullptr, destination, &n,
                              PackLow(0, sectorCount, platform::kVendorReadLba),
                              PackHigh(platform::kVendorReadLba[2], device, platform::kVendorTableReadCommand))) {
        return 0;
    }
    return static_cast<uint32_t>(destination[0]) | (static_cast<uint32_t>(destination[1]) << 8) |
           (static_cast<uint32_t>(destination[2]) << 16) | (static_cast<uint32_t>(destination[3]) << 24);
}

}  // namespace tarvex
