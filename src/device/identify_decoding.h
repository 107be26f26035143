#pragma once
// Decoding of IDENTIFY DEVICE data and of the NVMe Identify Controller strings: the byte swap
// of the ATA strings, the trim of trailing blanks, the SATA revision and link speed texts,
// the World Wide Name and the maximum LBA.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "drives/physical_drive_info.h"

namespace tarvex {

// Byte offsets of the ATA strings in the IDENTIFY page.
inline constexpr size_t kIdentifySerialOffset = 20;    // words 10..19, 20 bytes
inline constexpr size_t kIdentifyFirmwareOffset = 46;  // words 23..26, 8 bytes
inline constexpr size_t kIdentifyModelOffset = 54;     // words 27..46, 40 bytes
// Byte offsets of the strings in the NVMe Identify Controller data.
inline constexpr size_t kNvmeSerialOffset = 4;
inline constexpr size_t kNvmeModelOffset = 24;
inline constexpr size_t kNvmeFirmwareOffset = 64;

// Exchanges the two bytes of every 16-bit unit (length even).
void ByteSwap(uint8_t* buffer, size_t length);
// Cuts trailing blanks of a NUL-terminated text in place: the text keeps everything up to
// its last non-blank character and the rest up to the old end becomes NUL.
void TrimTrailingBlanks(char* text);

// The decoders read through bounds checks: a word past the end of the bytes given reads as 0.

// IDENTIFY word i (little-endian).
uint16_t IdentifyWord(std::span<const uint8_t> identify, int word);

// Stores the 512 IDENTIFY bytes in record.identify with model, serial and firmware swapped
// into reading order, and fills modelNumber, serialNumber and firmwareRevision.
void StoreSataIdentify(PhysicalDriveInfo& record, std::span<const uint8_t> identify512);
// Fills modelNumber, serialNumber and firmwareRevision from record.nvmeIdentify.
void StoreNvmeIdentifyStrings(PhysicalDriveInfo& record);

// "ATA8-AST", "SATA 1.0a", ... "SATA >3.1", or "N/A" for a non-serial transport (word 222).
std::u16string SataRevisionText(std::span<const uint8_t> identify);
// The negotiated speed of word 77: "1.5 Gb/s", "3.0 Gb/s", "6.0 Gb/s", ">6.0 Gb/s" or "N/A".
std::u16string LinkSpeedText(const PhysicalDriveInfo& record);
// Words 108..111 as 16 upper-case hex digits.
std::u16string WwnText(std::span<const uint8_t> identify);
// Words 100..103: the number of addressable sectors (48-bit LBA).
uint64_t MaxLba(std::span<const uint8_t> identify);

}  // namespace tarvex

namespace tarvex {

// The ATA security status of IDENTIFY word 128.
struct SecurityStatus {
    bool supported = false;
    bool enabled = false;
    bool locked = false;
    bool frozen = false;
    bool countExpired = false;
    bool enhancedEraseSupported = false;
};
SecurityStatus DecodeSecurityStatus(std::span<const uint8_t> identify);

}  // namespace tarvex
