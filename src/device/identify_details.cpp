#include "device/identify_details.h"

#include "device/identify_decoding.h"

namespace tarvex {

namespace {

uint16_t Word(std::span<const uint8_t> identify, int word) {
    return IdentifyWord(identify, word);
}

// A word that holds a bit field at all: 0000h and FFFFh mean the field is not reported.
bool Reported(uint16_t w) {
    return w != 0x0000 && w != 0xFFFF;
}

}  // namespace

IdentifyCapacity DecodeIdentifyCapacity(std::span<const uint8_t> identify) {
    IdentifyCapacity c;
    c.lba48 = (Word(identify, 83) & (1u << 10)) != 0;
    c.lba28Sectors = (static_cast<uint64_t>(Word(identify, 61)) << 16) | Word(identify, 60);
    c.lba48Sectors = MaxLba(identify);
    c.sectors = c.lba48 ? c.lba48Sectors : c.lba28Sectors;

    // Word 106 counts only when it says it is valid: bit 14 set, bit 15 clear.
    const uint16_t w106 = Word(identify, 106);
    if ((w106 & 0xC000) == 0x4000) {
        if (w106 & (1u << 12)) {
            // Words 117..118: the logical sector size in 16-bit words. Sizes outside 512 bytes
            // .. 128 KiB are no sector any drive has; such a page keeps the 512-byte default.
            const uint64_t words = (static_cast<uint64_t>(Word(identify, 118)) << 16) | Word(identify, 117);
            if (words >= 256 && words <= 0x10000) {
                c.logicalSectorBytes = static_cast<uint32_t>(words * 2);
            }
        }
        c.physicalSectorBytes = c.logicalSectorBytes;
        if (w106 & (1u << 13)) {
            c.physicalSectorBytes = static_cast<uint64_t>(c.logicalSectorBytes) << (w106 & 0x000F);
        }
    }
    // A page with nonsense in words 100..103 must not wrap the byte count around.
    c.bytes = c.sectors > UINT64_MAX / c.logicalSectorBytes ? UINT64_MAX : c.sectors * c.logicalSectorBytes;
    c.gigabytes = c.bytes / 1000000000ull;
    return c;
}

IdentifyTrim DecodeIdentifyTrim(std::span<const uint8_t> identify) {
    const uint16_t w69 = Word(identify, 69);
    return IdentifyTrim{(Word(identify, 169) & 1) != 0, (w69 & (1u << 14)) != 0, (w69 & (1u << 5)) != 0};
}

std::string SataRevisionName(uint16_t word222) {
    static const char* const kNames[] = {"ATA8-AST", "SATA 1.0a", "SATA II Ext", "SATA 2.5", "SATA 2.6", "SATA 3.0",
                                         "SATA 3.1", "SATA 3.2",  "SATA 3.3",    "SATA 3.4", "SATA 3.5"};
    if ((word222 >> 12) != 1) {
        return "N/A";
    }
    for (int bit = 11; bit >= 0; --bit) {
        if (word222 & (1u << bit)) {
            return bit <= 10 ? kNames[bit] : "SATA >3.5";
        }
    }
    return "N/A";
}

IdentifySata DecodeIdentifySata(std::span<const uint8_t> identify) {
    IdentifySata s;
    s.revision = SataRevisionName(Word(identify, 222));
    static const char* const kSpeeds[] = {"1.5 Gb/s", "3.0 Gb/s", "6.0 Gb/s"};
    const uint16_t w76 = Word(identify, 76);
    if (Reported(w76)) {
        for (int gen = 1; gen <= 3; ++gen) {
            if (w76 & (1u << gen)) {
                s.supportedSpeeds.emplace_back(kSpeeds[gen - 1]);
            }
        }
    }
    // Word 77 bit 0 is zero on a serial drive; a word with it set holds no speed.
    const uint16_t w77 = Word(identify, 77);
    const int speed = (w77 >> 1) & 7;
    s.negotiatedSpeed = s.revision == "N/A" || (w77 & 1) != 0 || speed == 0 ? "N/A"
                        : speed <= 3                                        ? kSpeeds[speed - 1]
                                                                            : ">6.0 Gb/s";
    return s;
}

std::vector<int> AtaMajorVersions(std::span<const uint8_t> identify) {
    std::vector<int> versions;
    const uint16_t w80 = Word(identify, 80);
    if (!Reported(w80)) {
        return versions;
    }
    for (int bit = 1; bit <= 14; ++bit) {
        if (w80 & (1u << bit)) {
            versions.push_back(bit);
        }
    }
    return versions;
}

EraseTime DecodeEraseTime(uint16_t word) {
    EraseTime t;
    if (word == 0) {
        return t;
    }
    if (word & 0x8000) {
        const uint32_t value = word & 0x7FFF;
        t.minutes = value * 2;
        t.moreThan = value == 0x7FFF;
    } else {
        const uint32_t value = word & 0x00FF;
        t.minutes = value * 2;
        t.moreThan = value == 0xFF;
    }
    return t;
}

IdentifySecurityDetails DecodeIdentifySecurityDetails(std::span<const uint8_t> identify) {
    IdentifySecurityDetails d;
    d.maximumLevel = (Word(identify, 128) & (1u << 8)) != 0;
    d.erase = DecodeEraseTime(Word(identify, 89));
    d.enhancedErase = DecodeEraseTime(Word(identify, 90));
    const uint16_t w92 = Word(identify, 92);
    if (Reported(w92)) {
        d.masterPasswordIdentifier = w92;
    }
    return d;
}

IdentifyChecksum DecodeIdentifyChecksum(std::span<const uint8_t> identify) {
    IdentifyChecksum c;
    if (identify.size() < 512) {
        return c;
    }
    c.present = identify[510] == 0xA5;
    uint8_t sum = 0;
    for (size_t i = 0; i < 512; ++i) {
        sum = static_cast<uint8_t>(sum + identify[i]);
    }
    c.valid = c.present && sum == 0;
    return c;
}

bool HasWwn(std::span<const uint8_t> identify) {
    return (Word(identify, 87) & (1u << 8)) != 0;
}

}  // namespace tarvex
