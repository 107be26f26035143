// The IDENTIFY DEVICE page of an emulated SATA SSD, built from its profile and state.
#include <algorithm>

#include "platform/sim/devices/sata_drive.h"

namespace tarvex::sim {

namespace {

// The erase-time words count 2-minute units, rounded up; 255 means more than 508 minutes.
uint16_t EraseTimeWord(uint32_t minutes) {
    if (minutes == 0) {
        return 0;
    }
    return static_cast<uint16_t>(std::min<uint32_t>((minutes + 1) / 2, 255));
}

// A WWN when the profile gives none: NAA 5, an IEEE OUI, and 36 bits from the serial.
uint64_t DefaultWwn(const DiskProfile& d) {
    uint64_t h = 1469598103934665603ull;
    for (char c : d.serial + d.model) {
        h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    }
    return (0x5ull << 60) | (0x002538ull << 36) | (h & 0xFFFFFFFFFull);
}

}  // namespace

uint16_t SataDrive::SecurityWord() {
    const SecurityProfile& sec = profile_.sata.security;
    if (!sec.supported) {
        return 0;
    }
    uint16_t w = 0x0001;
    w |= state_.securityEnabled ? 0x0002 : 0;
    w |= state_.locked ? 0x0004 : 0;
    w |= state_.frozen ? 0x0008 : 0;
    w |= state_.unlockAttemptsLeft == 0 ? 0x0010 : 0;
    w |= sec.enhancedErase ? 0x0020 : 0;
    w |= state_.securityEnabled && state_.maximumLevel ? 0x0100 : 0;
    return w;
}

Page SataDrive::ReplayedIdentifyPage() {
    const Page& original = *profile_.sata.pages.identify;
    Page p = original;
    if (state_.firmware != profile_.firmware) {
        PutAtaString(p, 23, 4, state_.firmware);  // a firmware update changed the revision
    }
    // Word 85 (enabled features) where the page reports it: security enabled, write cache.
    const uint16_t w85 = GetWord(p, 85);
    if (w85 != 0x0000 && w85 != 0xFFFF) {
        const bool security = profile_.sata.security.supported;
        uint16_t live = static_cast<uint16_t>(w85 & ~(0x0020 | (security ? 0x0002 : 0)));
        live |= (security && state_.securityEnabled ? 0x0002 : 0) | (writeCache_ ? 0x0020 : 0);
        PutWord(p, 85, live);
    }
    // Word 128: enabled, locked, frozen, attempts expired, and the level of the password set.
    if (profile_.sata.security.supported) {
        uint16_t w128 = static_cast<uint16_t>(GetWord(p, 128) & ~0x011E);
        w128 |= static_cast<uint16_t>(SecurityWord() & 0x001E);
        w128 |= state_.maximumLevel ? 0x0100 : 0;
        PutWord(p, 128, w128);
    }
    // A page without the integrity signature has no checksum to keep.
    if (original[510] == 0xA5) {
        ResealChecksum(p, original);
    }
    return p;
}

Page SataDrive::IdentifyPage() {
    Advance();
    if (profile_.sata.pages.identify) {
        return ReplayedIdentifyPage();
    }
    const SataProfile& s = profile_.sata;
    const uint64_t capacity = profile_.capacitySectors;
    const bool security = s.security.supported;
    const bool microcode = s.microcode.supported;
    Page p{};

    PutWord(p, 0, 0x0040);  // fixed device, ATA
    // Legacy geometry: 16383 cylinders, 16 heads, 63 sectors once the disk passes 8 GB.
    const uint64_t cylinders = std::min<uint64_t>(capacity / (16 * 63), 16383);
    PutWord(p, 1, static_cast<uint16_t>(cylinders));
    PutWord(p, 2, 0xC837);
    PutWord(p, 3, 16);
    PutWord(p, 6, 63);
    PutAtaString(p, 10, 10, profile_.serial);
    PutAtaString(p, 23, 4, state_.firmware);
    PutAtaString(p, 27, 20, profile_.model);
    PutWord(p, 47, 0x8010);  // READ/WRITE MULTIPLE: up to 16 sectors
    PutWord(p, 48, 0x4000);
    PutWord(p, 49, 0x2F00);  // LBA, DMA, IORDY, standby timer
    PutWord(p, 50, 0x4000);
    PutWord(p, 53, 0x0007);  // words 54..58, 64..70 and 88 are valid
    PutWord(p, 54, static_cast<uint16_t>(cylinders));
    PutWord(p, 55, 16);
    PutWord(p, 56, 63);
    const uint32_t chs = static_cast<uint32_t>(cylinders * 16 * 63);
    PutWord(p, 57, static_cast<uint16_t>(chs & 0xFFFF));
    PutWord(p, 58, static_cast<uint16_t>(chs >> 16));
    PutWord(p, 59, 0x0110);
    const uint32_t lba28 = static_cast<uint32_t>(std::min<uint64_t>(capacity, 0x0FFFFFFF));
    PutWord(p, 60, static_cast<uint16_t>(lba28 & 0xFFFF));
    PutWord(p, 61, static_cast<uint16_t>(lba28 >> 16));
    PutWord(p, 63, 0x0407);  // multiword DMA 0..2, mode 2 selected
    PutWord(p, 64, 0x0003);  // PIO 3 and 4
    for (int w = 65; w <= 68; ++w) {
        PutWord(p, w, 0x0078);
    }
    // Deterministic, zeroed data after TRIM.
    PutWord(p, 69, s.trim ? 0x4020 : 0x0000);
    PutWord(p, 75, 0x001F);  // queue depth 32
    // SATA capabilities: NCQ, host power management, and every speed up to the fastest the
    // revision allows; word 77 holds the negotiated speed in bits 3..1.
    const int fastest = s.sataRevision >= 5 ? 3 : s.sataRevision >= 2 ? 2 : 1;
    uint16_t w76 = 0x0300;
    for (int gen = 1; gen <= fastest; ++gen) {
        w76 |= static_cast<uint16_t>(1u << gen);
    }
    PutWord(p, 76, w76);
    PutWord(p, 77, static_cast<uint16_t>((std::min(s.linkSpeed, fastest) & 7) << 1));
    PutWord(p, 78, 0x004C);
    PutWord(p, 79, 0x0040);
    PutWord(p, 80, 0x07F0);  // ATA/ATAPI-4 .. ACS-3
    PutWord(p, 81, 0x0110);
    // Supported command sets: SMART, security, power management, write cache, look-ahead,
    // write and read buffer, NOP; then FLUSH CACHE (EXT), 48-bit, DOWNLOAD MICROCODE; then
    // WWN, general purpose logging, SMART self-test and error logging.
    const uint16_t w82 = static_cast<uint16_t>(0x7068 | 0x0001 | (security ? 0x0002 : 0));
    const uint16_t w83 = static_cast<uint16_t>(0x7400 | (microcode ? 0x0001 : 0));
    const uint16_t w84 = 0x4163;
    PutWord(p, 82, w82);
    PutWord(p, 83, w83);
    PutWord(p, 84, w84);
    PutWord(p, 85, static_cast<uint16_t>((w82 & ~0x0022) | (state_.securityEnabled ? 0x0002 : 0) |
                                         (writeCache_ ? 0x0020 : 0)));
    PutWord(p, 86, static_cast<uint16_t>(0x8000 | (w83 & ~0x4000)));
    PutWord(p, 87, w84);
    PutWord(p, 88, 0x407F);  // Ultra DMA 0..6, mode 6 selected
    if (security) {
        PutWord(p, 89, EraseTimeWord(s.security.eraseMinutes));
        PutWord(p, 90, s.security.enhancedErase ? EraseTimeWord(s.security.enhancedEraseMinutes) : 0);
        PutWord(p, 92, 0xFFFE);  // master password identifier
    }
    for (int i = 0; i < 4; ++i) {
        PutWord(p, 100 + i, static_cast<uint16_t>(capacity >> (16 * i)));
    }
    PutWord(p, 106, 0x4000);  // one 512-byte logical sector per physical sector
    const uint64_t wwn = s.wwn != 0 ? s.wwn : DefaultWwn(profile_);
    for (int i = 0; i < 4; ++i) {
        PutWord(p, 108 + i, static_cast<uint16_t>(wwn >> (48 - 16 * i)));
    }
    PutWord(p, 119, static_cast<uint16_t>(0x4000 | (microcode ? 0x0010 : 0)));
    PutWord(p, 120, static_cast<uint16_t>(0x4000 | (microcode ? 0x0010 : 0)));
    PutWord(p, 128, SecurityWord());
    PutWord(p, 169, s.trim ? 0x0001 : 0x0000);
    PutWord(p, 217, 0x0001);  // non-rotating medium
    uint16_t w222 = 0x1000;
    for (int bit = 0; bit <= std::min(s.sataRevision, 11); ++bit) {
        w222 |= static_cast<uint16_t>(1u << bit);
    }
    PutWord(p, 222, w222);
    if (microcode) {
        PutWord(p, 234, s.microcode.minBlocks);
        PutWord(p, 235, s.microcode.maxBlocks);
    }
    for (const auto& [word, value] : s.identifyWords) {
        PutWord(p, word, value);
    }
    // Integrity word: signature A5h, then the checksum byte.
    p[510] = 0xA5;
    SealChecksum(p);
    return p;
}

}  // namespace tarvex::sim
