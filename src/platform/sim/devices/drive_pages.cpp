#include "platform/sim/devices/drive_pages.h"

#include <fmt/format.h>

#include <cstring>
#include <initializer_list>

#include <nlohmann/json.hpp>

namespace tarvex::sim {

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxSectors = (1ull << 48) - 1;
constexpr int kSlotOffset = 2;
constexpr int kSlotSize = 12;
constexpr const char* kIdentifyPage = "IDENTIFY";
constexpr const char* kSmartDataPage = "SMART data";

uint16_t Word(const RawPage& p, int w) { return static_cast<uint16_t>(p[2 * w] | (p[2 * w + 1] << 8)); }

// An ATA string: the first character of each pair in the high byte. Trailing blanks and NULs
// are padding; any other byte outside printable ASCII becomes '?'.
std::string AtaString(const RawPage& p, int firstWord, int words) {
    std::string s;
    for (int i = 0; i < 2 * words; ++i) {
        s.push_back(static_cast<char>(p[2 * firstWord + (i ^ 1)]));
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) {
        s.pop_back();
    }
    for (char& c : s) {
        if (c < 0x20 || c > 0x7E) {
            c = '?';
        }
    }
    return s;
}

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') {
        s.pop_back();
    }
    return s;
}

// The field at `keys` below `node`, if the profile gives it.
const json* Given(const json& node, std::initializer_list<const char*> keys) {
    const json* n = &node;
    for (const char* k : keys) {
        if (!n->is_object()) {
            return nullptr;
        }
        auto it = n->find(k);
        if (it == n->end()) {
            return nullptr;
        }
        n = &*it;
    }
    return n;
}

[[noreturn]] void Disagree(const std::string& path, const char* page, const std::string& what) {
    throw JsonError(path, std::string("disagrees with the ") + page + " page (" + what + ")");
}

std::string Quoted(const std::string& s) { return "\"" + s + "\" there"; }
std::string MinutesThere(uint32_t n) { return std::to_string(n) + (n == 1 ? " minute there" : " minutes there"); }

// A flag the page decides: taken from it when the profile leaves it out, compared otherwise.
void Flag(const json& node, std::initializer_list<const char*> keys, const std::string& path, bool page,
          const char* yes, const char* no, bool* out) {
    if (Given(node, keys) != nullptr && *out != page) {
        Disagree(path, kIdentifyPage, std::string(page ? yes : no) + " there");
    }
    *out = page;
}

// Security erase time words 89/90 in minutes: bit 15 selects the long form (bits 14..0), else
// bits 7..0; each unit is 2 minutes and 255 in the short form means more than 508 minutes.
struct EraseTime {
    uint32_t minutes = 0;
    bool moreThan = false;
};
EraseTime DecodeEraseTime(uint16_t w) {
    if ((w & 0x8000) != 0) {
        return {static_cast<uint32_t>(w & 0x7FFF) * 2, false};
    }
    const uint32_t units = w & 0xFF;
    return {units * 2, units == 255};
}

void EraseMinutes(const json& node, const char* key, const std::string& path, uint16_t word, uint32_t* out) {
    const EraseTime t = DecodeEraseTime(word);
    const bool given = Given(node, {"sata", "security", key}) != nullptr;
    if (given) {
        const uint32_t minutes = *out;
        const bool agrees = t.moreThan ? minutes > 508 : (minutes + 1) / 2 * 2 == t.minutes;
        if (!agrees) {
            Disagree(path, kIdentifyPage,
                     t.minutes == 0 ? "no erase time there"
                     : t.moreThan   ? "more than 508 minutes there"
                                    : MinutesThere(t.minutes));
        }
    }
    // A figure the profile gives and the page agrees with stays (it may be finer).
    if (!given) {
        *out = t.minutes;
    }
}

const char* SataRevisionName(int bit) {
    static const char* kNames[] = {"ATA8-AST", "SATA 1.0a", "SATA 2.0", "SATA 2.5", "SATA 2.6", "SATA 3.0",
                                   "SATA 3.1", "SATA 3.2", "SATA 3.3", "SATA 3.4", "SATA 3.5"};
    return kNames[bit];
}

void ApplyIdentity(const RawPage& p, const json& node, const std::string& path, DiskProfile* d) {
    struct Text {
        const char* key;
        int firstWord;
        int words;
        std::string* out;
    };
    for (const Text& t : {Text{"model", 27, 20, &d->model}, Text{"serial", 10, 10, &d->serial},
                          Text{"firmware", 23, 4, &d->firmware}}) {
        const std::string page = AtaString(p, t.firstWord, t.words);
        if (Given(node, {t.key}) != nullptr && TrimRight(*t.out) != page) {
            Disagree(path + "." + t.key, kIdentifyPage, Quoted(page));
        }
        *t.out = page;
    }

    // Capacity: the user-addressable logical sectors times the logical sector size.
    const bool lba48 = (Word(p, 83) & 0x0400) != 0;
    uint64_t sectors = Word(p, 60) | (uint64_t{Word(p, 61)} << 16);
    if (lba48) {
        sectors = 0;
        for (int i = 0; i < 4; ++i) {
            sectors |= uint64_t{Word(p, 100 + i)} << (16 * i);
        }
    }
    uint64_t logicalBytes = 512;
    const uint16_t w106 = Word(p, 106);
    if ((w106 & 0xC000) == 0x4000 && (w106 & 0x1000) != 0) {
        logicalBytes = 2 * (Word(p, 117) | (uint64_t{Word(p, 118)} << 16));
    }
    const std::string pagesPath = path + ".sata.pages";
    if (logicalBytes < 512 || logicalBytes % 512 != 0) {
        throw JsonError(pagesPath, "the IDENTIFY page gives logical sectors of " + std::to_string(logicalBytes) +
                                       " bytes; only multiples of 512 bytes are supported");
    }
    const uint64_t factor = logicalBytes / 512;
    if (sectors == 0 || sectors > kMaxSectors / factor) {
        throw JsonError(pagesPath, "the IDENTIFY page gives " + std::to_string(sectors) +
                                       " user-addressable sectors; a disk has from 1 to 2^48-1 sectors of 512 bytes");
    }
    const uint64_t capacity = sectors * factor;
    if (Given(node, {"capacityBytes"}) != nullptr && d->capacitySectors != capacity) {
        Disagree(path + ".capacityBytes", kIdentifyPage, std::to_string(capacity * 512) + " bytes there");
    }
    if (Given(node, {"capacitySectors"}) != nullptr && d->capacitySectors != capacity) {
        Disagree(path + ".capacitySectors", kIdentifyPage, std::to_string(capacity) + " sectors of 512 bytes there");
    }
    d->capacitySectors = capacity;
}

void ApplyIdentifyFeatures(const RawPage& p, const json& node, const std::string& path, SataProfile* s) {
    const std::string sp = path + ".sata";
    // WWN: words 108..111, present when word 87 bit 8 is set.
    const bool hasWwn = (Word(p, 87) & 0x0100) != 0;
    uint64_t wwn = 0;
    for (int i = 0; i < 4; ++i) {
        wwn = (wwn << 16) | Word(p, 108 + i);
    }
    if (Given(node, {"sata", "wwn"}) != nullptr && (!hasWwn || s->wwn != wwn)) {
        Disagree(sp + ".wwn", kIdentifyPage, hasWwn ? fmt::format("{:016X} there", wwn) : "no WWN there");
    }
    s->wwn = hasWwn ? wwn : 0;

    Flag(node, {"sata", "trim"}, sp + ".trim", (Word(p, 169) & 1) != 0, "TRIM supported", "no TRIM", &s->trim);

    // SATA revision: the highest bit of word 222 below 11, on a serial transport.
    const uint16_t w222 = Word(p, 222);
    int revision = -1;
    if (w222 != 0xFFFF && (w222 & 0xF000) == 0x1000) {
        for (int bit = 0; bit <= 10; ++bit) {
            if ((w222 & (1u << bit)) != 0) {
                revision = bit;
            }
        }
    }
    if (Given(node, {"sata", "sataRevision"}) != nullptr && s->sataRevision != revision) {
        Disagree(sp + ".sataRevision", kIdentifyPage,
                 revision < 0 ? "no SATA revision there" : std::string(SataRevisionName(revision)) + " there");
    }
    if (revision >= 0) {
        s->sataRevision = revision;
    }

    // Negotiated link speed: word 77 bits 3..1.
    const int speed = (Word(p, 77) >> 1) & 7;
    const bool knownSpeed = speed >= 1 && speed <= 3;
    if (Given(node, {"sata", "linkSpeed"}) != nullptr && (!knownSpeed || s->linkSpeed != speed)) {
        static const char* kSpeeds[] = {"", "1.5 Gb/s", "3.0 Gb/s", "6.0 Gb/s"};
        Disagree(sp + ".linkSpeed", kIdentifyPage,
                 knownSpeed ? std::string(kSpeeds[speed]) + " there" : "no negotiated speed there");
    }
    if (knownSpeed) {
        s->linkSpeed = speed;
    }

    // Security: word 128, and word 82 bit 1 for the feature set.
    const uint16_t w82 = Word(p, 82);
    const uint16_t w128 = Word(p, 128);
    const std::string sec = sp + ".security";
    SecurityProfile& ss = s->security;
    const bool supported = (w128 & 0x0001) != 0 || (w82 != 0xFFFF && (w82 & 0x0002) != 0);
    Flag(node, {"sata", "security", "supported"}, sec + ".supported", supported, "security supported",
         "no security feature set", &ss.supported);
    Flag(node, {"sata", "security", "enhancedErase"}, sec + ".enhancedErase", (w128 & 0x0020) != 0,
         "enhanced erase supported", "no enhanced erase", &ss.enhancedErase);
    Flag(node, {"sata", "security", "frozen"}, sec + ".frozen", (w128 & 0x0008) != 0, "frozen", "not frozen",
         &ss.frozen);
    const bool maximum = (w128 & 0x0100) != 0;
    if (Given(node, {"sata", "security", "level"}) != nullptr && ss.maximumLevel != maximum) {
        Disagree(sec + ".level", kIdentifyPage, maximum ? "level maximum there" : "level high there");
    }
    ss.maximumLevel = maximum;
    const bool enabled = (w128 & 0x0002) != 0;
    // Enabled without a password in the profile: the drive keeps one nobody here knows.
    ss.unknownUserPassword = enabled && ss.userPassword.empty();
    if (!enabled && !ss.userPassword.empty()) {
        Disagree(sec + ".userPassword", kIdentifyPage, "security not enabled there");
    }
    EraseMinutes(node, "eraseMinutes", sec + ".eraseMinutes", Word(p, 89), &ss.eraseMinutes);
    EraseMinutes(node, "enhancedEraseMinutes", sec + ".enhancedEraseMinutes", Word(p, 90), &ss.enhancedEraseMinutes);
    if (Given(node, {"sata", "security", "eraseSeconds"}) == nullptr) {
        ss.eraseSeconds = ss.eraseMinutes * 30;  // half the announced time, as without a page
    }

    // DOWNLOAD MICROCODE: word 83 bit 0; the block limits of words 234/235 when it reports them.
    const uint16_t w83 = Word(p, 83);
    const std::string mc = sp + ".microcode";
    Flag(node, {"sata", "microcode", "supported"}, mc + ".supported", w83 != 0xFFFF && (w83 & 0x0001) != 0,
         "DOWNLOAD MICROCODE supported", "no DOWNLOAD MICROCODE", &s->microcode.supported);
    const uint16_t minBlocks = Word(p, 234);
    const uint16_t maxBlocks = Word(p, 235);
    if (s->microcode.supported && minBlocks >= 1 && maxBlocks <= 0xFFFE && minBlocks <= maxBlocks) {
        struct Limit {
            const char* key;
            uint16_t page;
            uint16_t* out;
        };
        for (const Limit& l : {Limit{"minBlocks", minBlocks, &s->microcode.minBlocks},
                               Limit{"maxBlocks", maxBlocks, &s->microcode.maxBlocks}}) {
            if (Given(node, {"sata", "microcode", l.key}) != nullptr && *l.out != l.page) {
                Disagree(mc + "." + l.key, kIdentifyPage, std::to_string(l.page) + " there");
            }
            *l.out = l.page;
        }
    }
}

void SelfTestSeconds(const json& node, const char* key, const std::string& path, uint32_t minutes, uint32_t* out) {
    if (Given(node, {"sata", "selfTest", key}) != nullptr) {
        if ((*out + 59) / 60 != minutes) {
            Disagree(path, kSmartDataPage, MinutesThere(minutes));
        }
        return;  // the profile's figure, finer than the page's minutes
    }
    // A page that gives no time still gets a test that takes a moment.
    *out = std::max<uint32_t>(minutes * 60, 1);
}

void ApplySmartData(const RawPage& p, const std::optional<RawPage>& thresholds, const json& node,
                    const std::string& path, SataProfile* s) {
    const std::string sp = path + ".sata";
    if (Given(node, {"sata", "smart", "attributes"}) != nullptr) {
        throw JsonError(sp + ".smart.attributes", "cannot be given together with a SMART data page, which lists the attributes");
    }
    const uint16_t revision = Word(p, 0);
    if (Given(node, {"sata", "smart", "revision"}) != nullptr && s->smartRevision != revision) {
        Disagree(sp + ".smart.revision", kSmartDataPage, "revision " + std::to_string(revision) + " there");
    }
    s->smartRevision = revision;
    // The slots in page order; empty ones (id 0) are skipped, a repeated id stays as it is.
    s->attributes.clear();
    for (int i = 0; i < 30; ++i) {
        const uint8_t* slot = p.data() + kSlotOffset + kSlotSize * i;
        if (slot[0] == 0) {
            continue;
        }
        SmartAttributeProfile a;
        a.id = slot[0];
        a.flags = static_cast<uint16_t>(slot[1] | (slot[2] << 8));
        a.current = slot[3];
        a.worst = slot[4];
        a.raw = 0;
        for (int b = 0; b < 6; ++b) {
            a.raw |= uint64_t{slot[5 + b]} << (8 * b);
        }
        a.reserved = slot[11];
        a.threshold = thresholds ? (*thresholds)[kSlotOffset + kSlotSize * i + 1] : 0;
        s->attributes.push_back(a);
    }
    // The controller signature the vendor area carries.
    VendorSignature signature = VendorSignature::None;
    if (std::memcmp(p.data() + 396, "JMF608", 6) == 0) {
        signature = VendorSignature::Jmf608;
    } else if (std::memcmp(p.data() + 400, "SM2246", 6) == 0) {
        signature = VendorSignature::Sm2246;
    }
    if (Given(node, {"sata", "smart", "vendorSignature"}) != nullptr && s->signature != signature) {
        Disagree(sp + ".smart.vendorSignature", kSmartDataPage,
                 signature == VendorSignature::Jmf608   ? "JMF608 there"
                 : signature == VendorSignature::Sm2246 ? "SM2246 there"
                                                        : "no controller signature there");
    }
    s->signature = signature;
    // Self-test times: byte 372 short, byte 373 extended (FFh: bytes 375..376).
    const uint32_t extended = p[373] == 0xFF ? static_cast<uint32_t>(p[375] | (p[376] << 8)) : p[373];
    SelfTestSeconds(node, "shortSeconds", sp + ".selfTest.shortSeconds", p[372], &s->shortSelfTestSeconds);
    SelfTestSeconds(node, "extendedSeconds", sp + ".selfTest.extendedSeconds", extended, &s->extendedSelfTestSeconds);
}

}  // namespace

SataPagesProfile ParseSataPages(JsonObject o, const fs::path& folder) {
    SataPagesProfile pages;
    if (auto file = o.OptionalString("dumpFile")) {
        const std::string p = o.PathOf("dumpFile");
        if (file->empty() || file->find('\0') != std::string::npos) {
            throw JsonError(p, "expected the path of a dump file");
        }
        fs::path f(*file);
        if (f.is_relative()) {
            if (folder.empty()) {
                throw JsonError(p, "a relative path needs the folder of a profile file, and this profile has none "
                                   "(give an absolute path)");
            }
            f = folder / f;
        }
        std::string error;
        std::optional<PageDump> dump = ReadPageDump(f, &error);
        if (!dump) {
            throw JsonError(p, error);
        }
        pages.identify = dump->identify;
        pages.smartData = dump->smartData;
        pages.smartThresholds = dump->smartThresholds;
        pages.thresholdExceeded = dump->thresholdExceeded;
    }
    struct Inline {
        const char* key;
        std::optional<RawPage>* out;
    };
    for (const Inline& i : {Inline{"identify", &pages.identify}, Inline{"smartData", &pages.smartData},
                            Inline{"smartThresholds", &pages.smartThresholds}}) {
        if (auto text = o.OptionalString(i.key, 16384)) {
            std::string why;
            std::optional<RawPage> page = ParsePageHex(*text, &why);
            if (!page) {
                throw JsonError(o.PathOf(i.key), why);
            }
            *i.out = page;
        }
    }
    if (auto status = o.OptionalString("smartStatus")) {
        if (*status != "good" && *status != "thresholdExceeded") {
            throw JsonError(o.PathOf("smartStatus"), "expected good or thresholdExceeded, found \"" + *status + "\"");
        }
        pages.thresholdExceeded = *status == "thresholdExceeded";
    }
    o.Finish();
    return pages;
}

void ApplySataPages(const json& node, const std::string& path, DiskProfile* d) {
    SataProfile& s = d->sata;
    if (s.pages.identify) {
        if (Given(node, {"sata", "identifyWords"}) != nullptr) {
            throw JsonError(path + ".sata.identifyWords",
                            "cannot be given together with an IDENTIFY page, which gives every word (change the page "
                            "instead)");
        }
        ApplyIdentity(*s.pages.identify, node, path, d);
        ApplyIdentifyFeatures(*s.pages.identify, node, path, &s);
    }
    if (s.pages.smartData) {
        ApplySmartData(*s.pages.smartData, s.pages.smartThresholds, node, path, &s);
    }
}

}  // namespace tarvex::sim
