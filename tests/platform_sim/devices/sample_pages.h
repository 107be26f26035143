#pragma once
// Small raw pages of a made-up SATA drive, as a real drive would send them, for the tests of
// replayed drives (emulated side and the program's decoding of them).
#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarvex::test::sample_pages {

using RawPage = std::array<uint8_t, 512>;
using nlohmann::json;

inline std::string Hex(const RawPage& page) {
    std::string s;
    for (size_t i = 0; i < page.size(); ++i) {
        s += (i % 32 == 0 ? "\n" : " ") + fmt::format("{:02x}", page[i]);
    }
    return s;
}

inline std::vector<uint8_t> Bytes(const RawPage& p) { return {p.begin(), p.end()}; }

inline void Put(RawPage& p, int word, uint16_t v) {
    p[2 * word] = static_cast<uint8_t>(v);
    p[2 * word + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutText(RawPage& p, int word, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        p[2 * word + (i ^ 1)] = static_cast<uint8_t>(text[i]);
    }
}

// Makes the 512 bytes sum to `sum` mod 256 through byte 511.
inline void SealTo(RawPage& p, uint8_t sum) {
    p[511] = 0;
    uint8_t s = 0;
    for (uint8_t b : p) {
        s = static_cast<uint8_t>(s + b);
    }
    p[511] = static_cast<uint8_t>(sum - s);
}

// An IDENTIFY page as a small drive sends it: 2^20 sectors (48-bit), no WWN, TRIM, SATA 3.1 at
// 6.0 Gb/s, security supported and not enabled, erase in 10 minutes, write cache on.
inline RawPage IdentifyPage() {
    RawPage p{};
    Put(p, 0, 0x0040);
    PutText(p, 10, "SN123   ");
    PutText(p, 23, "FW1     ");
    PutText(p, 27, "DUMPED DISK");
    Put(p, 60, 0xFFFF);  // 28-bit count one below the 48-bit one
    Put(p, 61, 0x000F);
    Put(p, 77, 0x0006);
    Put(p, 82, 0x746B);
    Put(p, 83, 0x7401);
    Put(p, 85, 0x7469);
    Put(p, 87, 0x4063);
    Put(p, 89, 5);
    Put(p, 90, 5);
    for (int i = 0; i < 4; ++i) {
        Put(p, 100 + i, i == 1 ? 0x0010 : 0);
    }
    Put(p, 128, 0x0021);
    Put(p, 169, 0x0001);
    Put(p, 222, 0x107F);
    p[510] = 0xA5;
    SealTo(p, 0);
    return p;
}

// A SMART data page with a gap (slot 1), attribute 9 twice, vendor bytes beside the times and a
// checksum 5 off a correct one; self-test byte 25h, 1 minute short, 300 minutes extended.
inline RawPage SmartDataPage() {
    RawPage p{};
    Put(p, 0, 0x0010);
    auto slot = [&](int i, uint8_t id, uint8_t current, std::initializer_list<uint8_t> raw) {
        uint8_t* s = p.data() + 2 + 12 * i;
        s[0] = id;
        s[1] = 0x32;
        s[3] = current;
        s[4] = current;
        int b = 0;
        for (uint8_t r : raw) {
            s[5 + b++] = r;
        }
    };
    slot(0, 1, 30, {7});
    slot(2, 9, 100, {0x10, 0, 0, 0, 0xAB, 0xCD});
    slot(3, 9, 100, {0x20, 0, 0, 0});
    slot(4, 194, 100, {40});
    p[363] = 0x25;
    p[372] = 1;
    p[373] = 0xFF;
    p[375] = 300 & 0xFF;
    p[376] = 300 >> 8;
    for (int i = 0; i < 10; ++i) {
        p[380 + i] = static_cast<uint8_t>(0xE0 + i);
    }
    SealTo(p, 5);
    return p;
}

// Thresholds in another order than the attributes: the same slot pairs them.
inline RawPage ThresholdPage(uint8_t slot0Threshold = 10) {
    RawPage p{};
    Put(p, 0, 0x0010);
    p[2] = 5;
    p[3] = slot0Threshold;
    p[2 + 24] = 1;
    p[3 + 24] = 50;
    SealTo(p, 0);
    return p;
}

inline json PagedDisk(const json& pages) {
    json d = {{"number", 0}, {"kind", "sata"}, {"sata", {{"pages", pages}}}};
    return d;
}

inline json InlinePages() {
    return {{"identify", Hex(IdentifyPage())}, {"smartData", Hex(SmartDataPage())}, {"smartThresholds", Hex(ThresholdPage())}};
}

}  // namespace tarvex::test::sample_pages
