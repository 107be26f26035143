#pragma once
// The figures of an IDENTIFY DEVICE page that the command-line tool shows field by field:
// capacity and sector sizes, TRIM, the SATA transport, the ATA major versions, the security
// level and erase times, the World Wide Name and the integrity word. The page is read as
// the drive sent it or with its strings in reading order: no figure here reads the strings.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvex {

struct IdentifyCapacity {
    bool lba48 = false;            // word 83 bit 10: the 48-bit address feature set
    uint64_t sectors = 0;          // user-addressable logical sectors (lba48 ? 100..103 : 60..61)
    uint64_t lba28Sectors = 0;     // words 60..61
    uint64_t lba48Sectors = 0;     // words 100..103
    uint32_t logicalSectorBytes = 512;
    uint64_t physicalSectorBytes = 512;
    uint64_t bytes = 0;            // sectors * logicalSectorBytes (at most 2^64 - 1)
    uint64_t gigabytes = 0;        // bytes / 10^9, rounded down
};
IdentifyCapacity DecodeIdentifyCapacity(std::span<const uint8_t> identify);

struct IdentifyTrim {
    bool supported = false;          // word 169 bit 0
    bool deterministicRead = false;  // word 69 bit 14
    bool zeroedRead = false;         // word 69 bit 5
};
IdentifyTrim DecodeIdentifyTrim(std::span<const uint8_t> identify);

struct IdentifySata {
    std::string revision;                      // "SATA 3.2", ...; "N/A" without a serial transport
    std::vector<std::string> supportedSpeeds;  // word 76 bits 1..3
    std::string negotiatedSpeed;               // word 77 bits 3..1, or "N/A"
};
IdentifySata DecodeIdentifySata(std::span<const uint8_t> identify);
// The highest revision of word 222, "ATA8-AST" .. "SATA 3.5", "SATA >3.5" past the known
// bits, "N/A" when the transport is not serial or names no revision.
std::string SataRevisionName(uint16_t word222);

// Word 80: the ATA major versions the drive claims (bit n -> n for bits 1..14); none when
// the word is 0000h or FFFFh (not reported).
std::vector<int> AtaMajorVersions(std::span<const uint8_t> identify);

// An erase time of word 89 or 90 in minutes: nothing when the word is 0 (not given); bit 15
// selects the extended form (bits 14..0, two minutes each) over the short one (bits 7..0).
// `moreThan` is set when the word holds the largest value of its form, which means "longer
// than" the minutes returned.
struct EraseTime {
    std::optional<uint32_t> minutes;
    bool moreThan = false;
};
EraseTime DecodeEraseTime(uint16_t word);

struct IdentifySecurityDetails {
    bool maximumLevel = false;  // word 128 bit 8
    EraseTime erase;            // word 89
    EraseTime enhancedErase;    // word 90
    std::optional<uint16_t> masterPasswordIdentifier;  // word 92; none when 0000h or FFFFh
};
IdentifySecurityDetails DecodeIdentifySecurityDetails(std::span<const uint8_t> identify);

struct IdentifyChecksum {
    bool present = false;  // byte 510 is A5h
    bool valid = false;    // present, and the 512 bytes sum to 0 modulo 256
};
IdentifyChecksum DecodeIdentifyChecksum(std::span<const uint8_t> identify);

// Word 87 bit 8: the drive reports a World Wide Name in words 108..111.
bool HasWwn(std::span<const uint8_t> identify);

}  // namespace tarvex
