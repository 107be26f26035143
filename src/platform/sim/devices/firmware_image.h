#pragma once
// The firmware image format of the emulated drives (docs/firmware-image.md): a 128-byte
// header (magic, format version, target model, new revision, payload length and CRC-32,
// header CRC-32), then the payload. Drives take such an image through DOWNLOAD MICROCODE;
// tarvex-make-firmware makes them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::sim {

inline constexpr char kFirmwareMagic[8] = {'T', 'V', 'X', 'F', 'W', 'I', 'M', 'G'};
inline constexpr uint16_t kFirmwareFormatVersion = 1;
inline constexpr uint32_t kFirmwareHeaderSize = 128;

#pragma pack(push, 1)
struct FirmwareImageHeader {
    char magic[8];
    uint16_t formatVersion;
    uint16_t headerSize;
    uint32_t payloadLength;
    uint32_t payloadCrc32;
    uint32_t headerCrc32;  // of the 128 header bytes with this field zero
    char targetModel[40];  // ASCII, blank padded
    char newRevision[8];   // ASCII, blank padded
    uint8_t reserved[56];
};
#pragma pack(pop)
static_assert(sizeof(FirmwareImageHeader) == kFirmwareHeaderSize);
static_assert(offsetof(FirmwareImageHeader, payloadLength) == 12);
static_assert(offsetof(FirmwareImageHeader, headerCrc32) == 20);
static_assert(offsetof(FirmwareImageHeader, targetModel) == 24);
static_assert(offsetof(FirmwareImageHeader, newRevision) == 64);

// CRC-32 (IEEE 802.3, reflected, as zlib computes it).
uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

// Builds an image. Model at most 40 and revision at most 8 printable ASCII characters.
std::vector<uint8_t> MakeFirmwareImage(std::string_view targetModel, std::string_view newRevision,
                                       std::span<const uint8_t> payload);

enum class FirmwareCheck {
    Ok,
    TooShort,
    BadMagic,
    BadVersion,
    BadHeaderCrc,
    BadLength,
    BadPayloadCrc,
    WrongModel,
    BadRevision,
};

struct FirmwareImageInfo {
    std::string targetModel;  // blanks at the end removed
    std::string newRevision;
    uint32_t imageLength = 0;  // header + payload
};

// Checks an image (bytes past its end, as a padded last piece leaves them, are ignored).
// `forModel` empty: any model.
FirmwareCheck CheckFirmwareImage(std::span<const uint8_t> bytes, std::string_view forModel,
                                 FirmwareImageInfo* info);
const char* FirmwareCheckText(FirmwareCheck check);

}  // namespace tarvex::sim
