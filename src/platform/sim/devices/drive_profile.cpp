#include "platform/sim/devices/drive_profile.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "platform/devices.h"
#include "platform/sim/devices/drive_pages.h"
#include "platform/sim/json_reader.h"
#include "platform/text.h"

namespace tarvex::sim {

using nlohmann::json;

namespace {

constexpr uint64_t kMaxSectors = (1ull << 48) - 1;

std::string AsciiField(JsonObject& o, const std::string& key, size_t maxLength, bool required) {
    std::optional<std::string> v = required ? std::optional(o.String(key, 4096)) : o.OptionalString(key);
    if (!v) {
        return {};
    }
    if (v->size() > maxLength) {
        throw JsonError(o.PathOf(key), "text is longer than " + std::to_string(maxLength) + " characters");
    }
    for (char c : *v) {
        if (c < 0x20 || c > 0x7E) {
            throw JsonError(o.PathOf(key), "expected printable ASCII characters only");
        }
    }
    return *v;
}

template <typename T>
T Narrow(JsonObject& o, const std::string& key, int64_t min, int64_t max, T fallback) {
    return static_cast<T>(o.OptionalInt(key, min, max).value_or(static_cast<int64_t>(fallback)));
}

uint64_t OptionalU64(JsonObject& o, const std::string& key, uint64_t fallback) {
    return o.OptionalUInt64(key).value_or(fallback);
}

SmartAttributeProfile ParseAttribute(const json& node, const std::string& path) {
    JsonObject o(node, path);
    SmartAttributeProfile a;
    a.id = static_cast<uint8_t>(o.Int("id", 1, 255));
    a.flags = Narrow<uint16_t>(o, "flags", 0, 0xFFFF, 0x0032);
    a.current = Narrow<uint8_t>(o, "current", 0, 255, 100);
    a.worst = Narrow<uint8_t>(o, "worst", 0, 255, a.current);
    a.raw = static_cast<uint64_t>(o.OptionalInt("raw", 0, static_cast<int64_t>(kMaxSectors)).value_or(0));
    a.reserved = Narrow<uint8_t>(o, "reserved", 0, 255, 0);
    a.threshold = Narrow<uint8_t>(o, "threshold", 0, 255, 0);
    o.Finish();
    return a;
}

// The attributes a SATA drive reports when its profile lists none.
std::vector<SmartAttributeProfile> DefaultAttributes() {
    return {{1, 0x000B, 100, 100, 0, 0, 50},
            {5, 0x0033, 100, 100, 0, 0, 10},
            {9, 0x0032, 100, 100, 1000, 0, 0},
            {12, 0x0032, 100, 100, 200, 0, 0},
            {194, 0x0022, 65, 60, 35, 0, 0}};
}

void ParseSmart(JsonObject o, SataProfile* sata) {
    sata->smartRevision = Narrow<uint16_t>(o, "revision", 0, 0xFFFF, 0x0010);
    if (const json* attrs = o.Raw("attributes")) {
        const std::string p = o.PathOf("attributes");
        const json& arr = RequireArray(attrs, p);
        if (arr.size() > 30) {
            throw JsonError(p, "at most 30 attributes fit in the SMART page");
        }
        std::set<uint8_t> ids;
        for (size_t i = 0; i < arr.size(); ++i) {
            SmartAttributeProfile a = ParseAttribute(arr[i], ElementPath(p, i));
            if (!ids.insert(a.id).second) {
                throw JsonError(ElementPath(p, i) + ".id", "attribute " + std::to_string(a.id) + " is listed twice");
            }
            sata->attributes.push_back(a);
        }
    } else {
        sata->attributes = DefaultAttributes();
    }
    if (auto sig = o.OptionalString("vendorSignature")) {
        if (*sig == "JMF608") {
            sata->signature = VendorSignature::Jmf608;
        } else if (*sig == "SM2246") {
            sata->signature = VendorSignature::Sm2246;
        } else if (*sig != "none") {
            throw JsonError(o.PathOf("vendorSignature"), "expected one of JMF608, SM2246, none, found \"" + *sig + "\"");
        }
    }
    o.Finish();
}

void ParseSelfTest(JsonObject o, SataProfile* sata) {
    sata->shortSelfTestSeconds = Narrow<uint32_t>(o, "shortSeconds", 1, 254 * 60, 120);
    sata->extendedSelfTestSeconds = Narrow<uint32_t>(o, "extendedSeconds", 1, 254 * 60, 1200);
    if (const json* failures = o.Raw("failures")) {
        const std::string p = o.PathOf("failures");
        const json& arr = RequireArray(failures, p);
        for (size_t i = 0; i < arr.size(); ++i) {
            JsonObject f(arr[i], ElementPath(p, i));
            SelfTestFailure failure;
            const std::string test = f.OptionalString("test").value_or("any");
            if (test == "short") {
                failure.subcommand = 1;
            } else if (test == "extended") {
                failure.subcommand = 2;
            } else if (test != "any") {
                throw JsonError(f.PathOf("test"), "expected one of short, extended, any, found \"" + test + "\"");
            }
            failure.status = static_cast<uint8_t>(f.Int("status", 3, 8));
            failure.atPercent = Narrow<uint8_t>(f, "atPercent", 0, 99, 50);
            failure.failingLba = static_cast<uint64_t>(f.OptionalInt("failingLba", 0, 0xFFFFFFFF).value_or(0));
            f.Finish();
            sata->selfTestFailures.push_back(failure);
        }
    }
    o.Finish();
}

void ParseSecurity(JsonObject o, SecurityProfile* s) {
    s->supported = o.OptionalBool("supported").value_or(true);
    s->enhancedErase = o.OptionalBool("enhancedErase").value_or(true);
    s->eraseMinutes = Narrow<uint32_t>(o, "eraseMinutes", 0, 65535, 2);
    s->enhancedEraseMinutes = Narrow<uint32_t>(o, "enhancedEraseMinutes", 0, 65535, s->eraseMinutes);
    // By default the erase takes half of its announced time, as drives announce generously.
    s->eraseSeconds = Narrow<uint32_t>(o, "eraseSeconds", 0, 65535 * 60, s->eraseMinutes * 30);
    for (const char* key : {"userPassword", "masterPassword"}) {
        std::string pw = AsciiField(o, key, 32, false);
        (std::string(key) == "userPassword" ? s->userPassword : s->masterPassword) = pw;
    }
    if (auto level = o.OptionalString("level")) {
        if (*level != "high" && *level != "maximum") {
            throw JsonError(o.PathOf("level"), "expected high or maximum, found \"" + *level + "\"");
        }
        s->maximumLevel = *level == "maximum";
    }
    s->frozen = o.OptionalBool("frozen").value_or(false);
    o.Finish();
}

void ParseMicrocode(JsonObject o, MicrocodeProfile* m) {
    m->supported = o.OptionalBool("supported").value_or(true);
    m->minBlocks = Narrow<uint16_t>(o, "minBlocks", 1, 0xFFFE, 1);
    m->maxBlocks = Narrow<uint16_t>(o, "maxBlocks", 1, 0xFFFE, 128);
    if (m->maxBlocks < m->minBlocks) {
        throw JsonError(o.PathOf("maxBlocks"), "must not be below minBlocks");
    }
    m->maxImageBytes = Narrow<uint32_t>(o, "maxImageBytes", 512, 0xFFFF * 512, 8 * 1024 * 1024);
    o.Finish();
}

void ParseFourCounts(JsonObject& o, const std::string& key, uint32_t (&out)[4]) {
    const json* node = o.Raw(key);
    if (node == nullptr) {
        return;
    }
    const std::string p = o.PathOf(key);
    const json& arr = RequireArray(node, p);
    if (arr.size() != 4) {
        throw JsonError(p, "expected 4 numbers, one per bucket (512 B, 4 KB, 32 KB, 64 KB)");
    }
    for (size_t i = 0; i < 4; ++i) {
        if (!arr[i].is_number_unsigned() || arr[i].get<uint64_t>() > 1000000) {
            throw JsonError(ElementPath(p, i), "expected an integer from 0 to 1000000");
        }
        out[i] = arr[i].get<uint32_t>();
    }
}

VendorStatisticsProfile ParseVendorStatistics(JsonObject o) {
    VendorStatisticsProfile v;
    if (const json* counters = o.Raw("counters")) {
        const std::string p = o.PathOf("counters");
        const json& buckets = RequireArray(counters, p);
        if (buckets.size() != 4) {
            throw JsonError(p, "expected 4 buckets (512 B, 4 KB, 32 KB, 64 KB)");
        }
        for (size_t b = 0; b < 4; ++b) {
            const std::string bp = ElementPath(p, b);
            const json& pairs = RequireArray(&buckets[b], bp);
            if (pairs.size() != 3) {
                throw JsonError(bp, "expected 3 [write, read] pairs");
            }
            for (size_t k = 0; k < 3; ++k) {
                const std::string pp = ElementPath(bp, k);
                const json& pair = RequireArray(&pairs[k], pp);
                if (pair.size() != 2) {
                    throw JsonError(pp, "expected [write, read]");
                }
                for (size_t d = 0; d < 2; ++d) {
                    if (!pair[d].is_number_unsigned() || pair[d].get<uint64_t>() > 0xFFFFFFFFull) {
                        throw JsonError(ElementPath(pp, d), "expected an integer from 0 to 4294967295");
                    }
                    v.counters[b][k][d] = pair[d].get<uint32_t>();
                }
            }
        }
    }
    ParseFourCounts(o, "writesPerMinute", v.writesPerMinute);
    ParseFourCounts(o, "readsPerMinute", v.readsPerMinute);
    o.Finish();
    return v;
}

int ParseSataRevision(JsonObject& o, const std::string& key) {
    static const char* kNames[] = {"ATA8-AST", "1.0a", "2.0", "2.5", "2.6", "3.0", "3.1", "3.2", "3.3", "3.4", "3.5"};
    auto v = o.OptionalString(key);
    if (!v) {
        return 6;
    }
    for (int i = 0; i < static_cast<int>(std::size(kNames)); ++i) {
        if (*v == kNames[i]) {
            return i;
        }
    }
    throw JsonError(o.PathOf(key), "expected one of ATA8-AST, 1.0a, 2.0, 2.5, 2.6, 3.0, 3.1, 3.2, 3.3, 3.4, 3.5, found \"" + *v + "\"");
}

uint64_t ParseWwn(JsonObject& o, const std::string& key) {
    auto v = o.OptionalString(key);
    if (!v) {
        return 0;
    }
    if (v->size() != 16 || !std::all_of(v->begin(), v->end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        throw JsonError(o.PathOf(key), "expected 16 hexadecimal digits such as \"5002538800001234\"");
    }
    return std::stoull(*v, nullptr, 16);
}

void ParseSata(JsonObject o, SataProfile* sata, const std::filesystem::path& folder) {
    sata->wwn = ParseWwn(o, "wwn");
    sata->sataRevision = ParseSataRevision(o, "sataRevision");
    if (auto speed = o.OptionalNumber("linkSpeed", 0, 100)) {
        sata->linkSpeed = *speed == 1.5 ? 1 : *speed == 3.0 ? 2 : *speed == 6.0 ? 3 : 0;
        if (sata->linkSpeed == 0) {
            throw JsonError(o.PathOf("linkSpeed"), "expected 1.5, 3 or 6 (Gb/s)");
        }
    }
    sata->trim = o.OptionalBool("trim").value_or(true);
    if (auto smart = o.OptionalObject("smart")) {
        ParseSmart(std::move(*smart), sata);
    } else {
        sata->attributes = DefaultAttributes();
    }
    if (auto st = o.OptionalObject("selfTest")) {
        ParseSelfTest(std::move(*st), sata);
    }
    if (auto sec = o.OptionalObject("security")) {
        ParseSecurity(std::move(*sec), &sata->security);
    }
    if (auto mc = o.OptionalObject("microcode")) {
        ParseMicrocode(std::move(*mc), &sata->microcode);
    }
    if (auto vs = o.OptionalObject("vendorStatistics")) {
        sata->vendorStatistics = ParseVendorStatistics(std::move(*vs));
    }
    if (auto pages = o.OptionalObject("pages")) {
        sata->pages = ParseSataPages(std::move(*pages), folder);
    }
    if (auto words = o.OptionalObject("identifyWords")) {
        for (const std::string& k : words->Keys()) {
            // Plain decimal only: " 217", "+217" or "0217" would name word 217 a second time.
            const bool plain = !k.empty() && k.size() <= 3 && (k == "0" || k[0] != '0') &&
                               std::all_of(k.begin(), k.end(), [](char c) { return c >= '0' && c <= '9'; });
            const long w = plain ? std::stol(k) : -1;
            if (w < 0 || w > 254) {
                throw JsonError(words->PathOf(k), "expected a word number from 0 to 254 (word 255 is the checksum)");
            }
            sata->identifyWords[static_cast<int>(w)] = static_cast<uint16_t>(words->Int(k, 0, 0xFFFF));
        }
    }
    o.Finish();
}

void ParseNvme(JsonObject o, NvmeProfile* n) {
    if (auto driver = o.OptionalString("driver")) {
        if (*driver != "miniport" && *driver != "inbox") {
            throw JsonError(o.PathOf("driver"), "expected miniport or inbox, found \"" + *driver + "\"");
        }
        n->miniport = *driver == "miniport";
    }
    n->vendorId = Narrow<uint16_t>(o, "vendorId", 0, 0xFFFF, n->vendorId);
    n->subsystemVendorId = Narrow<uint16_t>(o, "subsystemVendorId", 0, 0xFFFF, n->vendorId);
    n->ieeeOui = Narrow<uint32_t>(o, "ieeeOui", 0, 0xFFFFFF, n->ieeeOui);
    n->controllerId = Narrow<uint16_t>(o, "controllerId", 0, 0xFFFF, n->controllerId);
    if (auto ver = o.OptionalString("version")) {
        unsigned major = 0, minor = 0, tertiary = 0;
        int got = std::sscanf(ver->c_str(), "%u.%u.%u", &major, &minor, &tertiary);
        if (got < 2 || major > 0xFFFF || minor > 0xFF || tertiary > 0xFF) {
            throw JsonError(o.PathOf("version"), "expected an NVMe version such as \"1.3\"");
        }
        n->version = (major << 16) | (minor << 8) | tertiary;
    }
    auto kelvin = [&](const char* key, uint16_t fallback) {
        auto c = o.OptionalInt(key, -273, 500);
        return c ? static_cast<uint16_t>(*c + 273) : fallback;
    };
    n->warningTemperatureKelvin = kelvin("warningTemperatureCelsius", n->warningTemperatureKelvin);
    n->criticalTemperatureKelvin = kelvin("criticalTemperatureCelsius", n->criticalTemperatureKelvin);
    if (auto h = o.OptionalObject("health")) {
        n->criticalWarning = Narrow<uint8_t>(*h, "criticalWarning", 0, 255, 0);
        auto c = h->OptionalInt("temperatureCelsius", -273, 500);
        n->temperatureKelvin = c ? static_cast<uint16_t>(*c + 273) : n->temperatureKelvin;
        n->availableSpare = Narrow<uint8_t>(*h, "availableSpare", 0, 100, 100);
        n->spareThreshold = Narrow<uint8_t>(*h, "spareThreshold", 0, 100, 10);
        n->percentageUsed = Narrow<uint8_t>(*h, "percentageUsed", 0, 255, 0);
        n->dataUnitsRead = OptionalU64(*h, "dataUnitsRead", 0);
        n->dataUnitsWritten = OptionalU64(*h, "dataUnitsWritten", 0);
        n->hostReadCommands = OptionalU64(*h, "hostReadCommands", 0);
        n->hostWriteCommands = OptionalU64(*h, "hostWriteCommands", 0);
        n->controllerBusyMinutes = OptionalU64(*h, "controllerBusyMinutes", 0);
        n->powerCycles = OptionalU64(*h, "powerCycles", 0);
        n->powerOnHours = OptionalU64(*h, "powerOnHours", 0);
        n->unsafeShutdowns = OptionalU64(*h, "unsafeShutdowns", 0);
        n->mediaErrors = OptionalU64(*h, "mediaErrors", 0);
        n->errorLogEntries = OptionalU64(*h, "errorLogEntries", 0);
        h->Finish();
    }
    o.Finish();
}

struct IoctlName {
    const char* name;
    uint32_t code;
};
constexpr IoctlName kIoctlNames[] = {
    {"IOCTL_ATA_PASS_THROUGH", platform::IOCTL_ATA_PASS_THROUGH},
    {"IOCTL_ATA_PASS_THROUGH_DIRECT", platform::IOCTL_ATA_PASS_THROUGH_DIRECT},
    {"IOCTL_IDE_PASS_THROUGH", platform::IOCTL_IDE_PASS_THROUGH},
    {"SMART_RCV_DRIVE_DATA", platform::SMART_RCV_DRIVE_DATA},
    {"IOCTL_SCSI_MINIPORT", platform::IOCTL_SCSI_MINIPORT},
    {"IOCTL_SCSI_GET_ADDRESS", platform::IOCTL_SCSI_GET_ADDRESS},
    {"IOCTL_STORAGE_GET_DEVICE_NUMBER", platform::IOCTL_STORAGE_GET_DEVICE_NUMBER},
};

FaultProfile ParseFault(const json& node, const std::string& path) {
    JsonObject o(node, path);
    FaultProfile f;
    const std::string on = o.String("on");
    if (on == "open") {
        f.on = FaultProfile::On::Open;
        f.error = 5;  // ERROR_ACCESS_DENIED, as a disk held by another program answers
    } else if (on == "ata") {
        f.on = FaultProfile::On::Ata;
        f.command = static_cast<uint8_t>(o.Int("command", 0, 255));
        if (auto feat = o.OptionalInt("feature", 0, 255)) {
            f.feature = static_cast<uint8_t>(*feat);
        }
    } else if (on == "ioctl") {
        f.on = FaultProfile::On::Ioctl;
        const json* code = o.Raw("ioctl");
        if (code == nullptr) {
            throw JsonError(o.PathOf("ioctl"), "required field is missing");
        }
        if (code->is_string()) {
            for (const IoctlName& n : kIoctlNames) {
                if (code->get<std::string>() == n.name) {
                    f.ioctl = n.code;
                }
            }
            if (!f.ioctl) {
                throw JsonError(o.PathOf("ioctl"), "unknown control code name \"" + code->get<std::string>() + "\"");
            }
        } else if (code->is_number_unsigned() && code->get<uint64_t>() <= 0xFFFFFFFFull) {
            f.ioctl = code->get<uint32_t>();
        } else {
            throw JsonError(o.PathOf("ioctl"), "expected a control code name or an integer");
        }
    } else {
        throw JsonError(o.PathOf("on"), "expected one of open, ata, ioctl, found \"" + on + "\"");
    }
    if (auto effect = o.OptionalString("effect")) {
        if (*effect == "abort" && f.on == FaultProfile::On::Ata) {
            f.effect = FaultProfile::Effect::Abort;
        } else if (*effect == "short" && f.on != FaultProfile::On::Open) {
            f.effect = FaultProfile::Effect::Short;
        } else if (*effect != "fail") {
            throw JsonError(o.PathOf("effect"), "expected fail" +
                                                    std::string(f.on == FaultProfile::On::Open ? "" : ", short") +
                                                    std::string(f.on == FaultProfile::On::Ata ? ", abort" : "") +
                                                    ", found \"" + *effect + "\"");
        }
    }
    f.error = Narrow<uint32_t>(o, "error", 1, 0xFFFFFFFF, f.error);
    f.bytes = Narrow<uint32_t>(o, "bytes", 0, 0xFFFFFFFF, 0);
    if (auto times = o.OptionalInt("times", 1, 1000000)) {
        f.times = static_cast<uint32_t>(*times);
    }
    o.Finish();
    return f;
}

DiskProfile ParseDisk(const json& node, const std::string& path, const std::filesystem::path& folder) {
    JsonObject o(node, path);
    DiskProfile d;
    d.number = static_cast<uint32_t>(o.Int("number", 0, 99));
    const std::string kind = o.String("kind");
    if (kind == "sata") {
        d.kind = DiskKind::Sata;
    } else if (kind == "nvme") {
        d.kind = DiskKind::Nvme;
    } else if (kind == "usb") {
        d.kind = DiskKind::Usb;
    } else {
        throw JsonError(o.PathOf("kind"), "expected one of sata, nvme, usb, found \"" + kind + "\"");
    }
    // A SATA disk may take its identity and capacity from its IDENTIFY page.
    const bool fromPage = d.kind == DiskKind::Sata;
    d.model = AsciiField(o, "model", 40, !fromPage);
    d.serial = AsciiField(o, "serial", 20, !fromPage);
    d.firmware = AsciiField(o, "firmware", 8, !fromPage);
    auto bytes = o.OptionalUInt64("capacityBytes");
    auto sectors = o.OptionalUInt64("capacitySectors");
    if ((bytes && sectors) || (!fromPage && !bytes && !sectors)) {
        throw JsonError(o.PathOf("capacityBytes"), "give exactly one of capacityBytes and capacitySectors");
    }
    if (bytes && *bytes % 512 != 0) {
        throw JsonError(o.PathOf("capacityBytes"), "expected a multiple of 512");
    }
    d.capacitySectors = bytes ? *bytes / 512 : sectors.value_or(0);
    if ((bytes || sectors) && (d.capacitySectors == 0 || d.capacitySectors > kMaxSectors)) {
        throw JsonError(o.PathOf(bytes ? "capacityBytes" : "capacitySectors"), "the capacity must be from 1 to 2^48-1 sectors");
    }
    d.port = Narrow<uint8_t>(o, "port", 0, 255, static_cast<uint8_t>(d.number));
    d.pathId = Narrow<uint8_t>(o, "pathId", 0, 255, 0);
    d.targetId = Narrow<uint8_t>(o, "targetId", 0, 255, 0);
    d.lun = Narrow<uint8_t>(o, "lun", 0, 255, 0);
    if (auto p = o.OptionalString("interfacePath", 255)) {
        if (p->rfind("\\\\?\\", 0) != 0 || p->find('#') == std::string::npos) {
            throw JsonError(o.PathOf("interfacePath"), "expected a device-interface path such as \"\\\\?\\ide#disk...#{53f56307-...}\"");
        }
        d.interfacePath = platform::FoldCase(platform::Utf8ToUtf16(*p));
    }
    d.alignmentMask = Narrow<uint32_t>(o, "alignmentMask", 0, 4095, 3);
    if ((d.alignmentMask & (d.alignmentMask + 1)) != 0) {
        throw JsonError(o.PathOf("alignmentMask"), "expected one less than a power of two (0, 1, 3, 7, ...)");
    }
    d.hasUserData = o.OptionalBool("hasUserData").value_or(true);
    if (auto style = o.OptionalString("partitionStyle")) {
        if (*style == "gpt") {
            d.partitionStyle = PartitionStyle::Gpt;
        } else if (*style == "none") {
            d.partitionStyle = PartitionStyle::None;
        } else if (*style != "mbr") {
            throw JsonError(o.PathOf("partitionStyle"), "expected one of mbr, gpt, none, found \"" + *style + "\"");
        }
    }
    if (auto sata = o.OptionalObject("sata")) {
        if (d.kind != DiskKind::Sata) {
            throw JsonError(o.PathOf("sata"), "only a disk of kind sata has this part");
        }
        ParseSata(std::move(*sata), &d.sata, folder);
    } else {
        d.sata.attributes = DefaultAttributes();
    }
    if (d.kind == DiskKind::Sata) {
        ApplySataPages(node, path, &d);
        if (!d.sata.pages.identify) {
            for (const char* key : {"model", "serial", "firmware"}) {
                if (!o.Has(key)) {
                    throw JsonError(o.PathOf(key), "required field is missing");
                }
            }
            if (!bytes && !sectors) {
                throw JsonError(o.PathOf("capacityBytes"), "give exactly one of capacityBytes and capacitySectors");
            }
        }
    }
    // The primary table (LBA 0..33), one usable sector and the backup (33 sectors).
    if (d.partitionStyle == PartitionStyle::Gpt && d.capacitySectors < 68) {
        throw JsonError(o.PathOf("partitionStyle"), "a GPT disk has at least 68 sectors");
    }
    if (auto nvme = o.OptionalObject("nvme")) {
        if (d.kind != DiskKind::Nvme) {
            throw JsonError(o.PathOf("nvme"), "only a disk of kind nvme has this part");
        }
        ParseNvme(std::move(*nvme), &d.nvme);
    }
    if (const json* faults = o.Raw("faults")) {
        const std::string p = o.PathOf("faults");
        const json& arr = RequireArray(faults, p);
        for (size_t i = 0; i < arr.size(); ++i) {
            d.faults.push_back(ParseFault(arr[i], ElementPath(p, i)));
        }
    }
    o.Finish();
    if (d.interfacePath.empty()) {
        d.interfacePath = DefaultInterfacePath(d);
    }
    return d;
}


// Text for an instance id part: blanks become '_', padded with '_' to `width` when given.
std::string IdPart(std::string_view text, size_t width) {
    std::string out;
    for (char c : text) {
        out.push_back(c == ' ' || c == '#' || c == '\\' ? '_' : c);
    }
    while (out.size() < width) {
        out.push_back('_');
    }
    return out;
}

}  // namespace

std::vector<DiskProfile> ParseDiskProfiles(const json& node, const std::string& path, const std::filesystem::path& folder) {
    const json& arr = RequireArray(&node, path);
    std::vector<DiskProfile> disks;
    std::set<uint32_t> numbers;
    std::set<std::u16string> paths;
    for (size_t i = 0; i < arr.size(); ++i) {
        const std::string p = ElementPath(path, i);
        DiskProfile d = ParseDisk(arr[i], p, folder);
        if (!numbers.insert(d.number).second) {
            throw JsonError(p + ".number", "disk number " + std::to_string(d.number) + " is used twice");
        }
        if (!paths.insert(d.interfacePath).second) {
            throw JsonError(p + ".interfacePath", "two disks have the same device-interface path");
        }
        disks.push_back(std::move(d));
    }
    return disks;
}

std::u16string DefaultInterfacePath(const DiskProfile& d) {
    const uint32_t hash = platform::Fnv1a(d.serial + "|" + d.model + "|" + std::to_string(d.number));
    std::string path;
    switch (d.kind) {
        case DiskKind::Sata:
            path = fmt::format("\\\\?\\ide#disk{}{}#5&{:08x}&0&{}.{}.{}#{{53f56307-b6bf-11d0-94f2-00a0c91efb8b}}",
                               IdPart(d.model, 40), IdPart(d.firmware, 8), hash, d.pathId, d.targetId, d.lun);
            break;
        case DiskKind::Nvme:
            path = fmt::format("\\\\?\\scsi#disk&ven_nvme&prod_{}#4&{:08x}&0&{:02x}{:02x}{:02x}#{{53f56307-b6bf-11d0-94f2-00a0c91efb8b}}",
                               IdPart(d.model.substr(0, 16), 0), hash, d.pathId, d.targetId, d.lun);
            break;
        case DiskKind::Usb: {
            const size_t blank = d.model.find(' ');
            const std::string vendor = blank == std::string::npos ? d.model : d.model.substr(0, blank);
            const std::string product = blank == std::string::npos ? "" : d.model.substr(blank + 1);
            path = fmt::format("\\\\?\\usbstor#disk&ven_{}&prod_{}&rev_{}#{}&0#{{53f56307-b6bf-11d0-94f2-00a0c91efb8b}}",
                               IdPart(vendor.substr(0, 8), 0), IdPart(product.substr(0, 16), 0),
                               IdPart(d.firmware.substr(0, 4), 0), IdPart(d.serial, 0));
            break;
        }
    }
    return platform::FoldCase(platform::Utf8ToUtf16(path));
}

std::u16string PnpDeviceId(const DiskProfile& disk) {
    std::u16string p = disk.interfacePath;
    if (p.rfind(u"\\\\?\\", 0) == 0) {
        p = p.substr(4);
    }
    auto guid = p.rfind(u"#{");
    if (guid != std::u16string::npos) {
        p = p.substr(0, guid);
    }
    for (char16_t& c : p) {
        if (c == u'#') {
            c = u'\\';
        } else if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return p;
}

}  // namespace tarvex::sim
