// tarvexctl smart for a SATA drive: SMART RETURN STATUS, the attribute table with its
// thresholds, the off-line and self-test figures of the data page and the self-test log.
#include <fmt/format.h>

#include "cli/exit_codes.h"
#include "cli/sata_output.h"
#include "device/ata_command.h"
#include "health/smart_attributes.h"
#include "health/smart_details.h"
#include "health/smart_names.h"
#include "platform/ata_requests.h"
#include "platform/text.h"

namespace tarvex::cli {

namespace {

struct SmartReads {
    bool statusRead = false;
    bool exceeded = false;
    bool logRead = false;
    std::vector<SelfTestLogEntry> log;
};

SmartReads ReadStatusAndLog(const std::u16string& path) {
    ATACommand& ata = GlobalAtaCommand();
    SmartReads r;
    r.statusRead = ata.SmartReturnStatusPd(path, 0, &r.exceeded) != 0;
    uint8_t page[512] = {};
    r.logRead = ata.SmartReadLogPd(path, 0, 1, platform::kSmartLogSelfTest, page) != 0;
    if (r.logRead) {
        r.log = DecodeSelfTestLog(page);
    }
    return r;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += fmt::format("{:02X}", p[i]);
    }
    return s;
}

Json OptionalJson(const std::optional<uint64_t>& v) {
    return v ? Json(*v) : Json(nullptr);
}

std::string StatusText(const SmartReads& r) {
    return !r.statusRead ? "not read (no pass-through answered SMART RETURN STATUS)"
           : r.exceeded  ? "threshold exceeded (SMART RETURN STATUS F4h/2Ch)"
                         : "good (SMART RETURN STATUS 4Fh/C2h)";
}

void PrintText(std::FILE* out, const PhysicalDriveInfo& record, const SmartReads& reads, const SmartDataDetails& d) {
    const SmartNameTable& table = SelectSmartNameTable(record);
    std::fprintf(out, "Model %s, names from %s\n\n", Utf8(platform::FixedText(record.modelNumber)).c_str(),
                 table.tableName);
    PrintRow(out, "SMART status", StatusText(reads));
    const std::optional<uint64_t> hours = PowerOnHours(record);
    PrintRow(out, "Power-on hours", hours ? std::to_string(*hours) : "not reported (no attribute 9)");
    if (hours) {
        std::fprintf(out, "%-21s(attribute 9's raw value taken as hours; some tools convert it with a unit\n"
                          "%-21s they assume for the model, such as minutes or half hours)\n", "", "");
    }

    std::fprintf(out, "\nAttributes\n");
    std::fprintf(out, " ID     Name                                      Type       Updated  Flags  Cur  Wst  Thr   Raw\n");
    std::vector<std::string> footnotes;
    for (uint32_t i = 0; i < record.attributeCount; ++i) {
        const SmartAttributeEntry& e = record.attributes[i];
        const bool other = ThresholdOfOtherAttribute(record, i);
        std::fprintf(out, "%3u %02X  %-40s  %-9s  %-7s  %04X  %3u  %3u  %3u%s  %llu\n", e.id, e.id,
                     Utf8(LookupSmartAttributeName(record, e.id)).c_str(), IsPrefailure(e) ? "pre-fail" : "advisory",
                     IsOnline(e) ? "online" : "offline", e.flags[0] | (e.flags[1] << 8), e.current, e.worst,
                     record.thresholdEntries[i].threshold, other ? "*" : " ",
                     static_cast<unsigned long long>(RawValue48(e)));
        if (other) {
            footnotes.push_back(fmt::format(
                "* attribute {} ({:02X}h) is paired by position with the threshold slot of attribute {} ({:02X}h)",
                e.id, e.id, record.thresholdEntries[i].id, record.thresholdEntries[i].id));
        }
    }
    for (const std::string& line : footnotes) {
        std::fprintf(out, "%s\n", line.c_str());
    }

    std::fprintf(out, "\nOff-line data collection\n");
    PrintRow(out, "Status", fmt::format("{} ({:02X}h)", d.offline.statusText, d.offline.status));
    PrintRow(out, "Time to complete", fmt::format("{} s", d.offline.seconds));

    std::fprintf(out, "\nSelf-test\n");
    const SmartSelfTestStatus& t = d.selfTest;
    PrintRow(out, "Status", fmt::format("{} ({}% remaining)", t.statusText, t.remainingPercent));
    std::string supported;
    for (const auto& [flag, name] : {std::pair{t.shortAndExtendedSupported, "short and extended"},
                                     std::pair{t.conveyanceSupported, "conveyance"},
                                     std::pair{t.selectiveSupported, "selective"}}) {
        if (flag) {
            supported += (supported.empty() ? "" : ", ") + std::string(name);
        }
    }
    PrintRow(out, "Tests supported", supported.empty() ? "none" : supported);
    PrintRow(out, "Short test", fmt::format("{} min", t.shortMinutes));
    PrintRow(out, "Extended test", fmt::format("{} min", t.extendedMinutes));
    PrintRow(out, "Conveyance test", fmt::format("{} min", t.conveyanceMinutes));
    PrintRow(out, "Capabilities", fmt::format("off-line {:02X}h, SMART {:04X}h, error logging {}",
                                              d.capabilities.offlineCapability, d.capabilities.smartCapability,
                                              d.capabilities.errorLogging ? "yes" : "no"));

    std::fprintf(out, "\nSelf-test log\n");
    if (!reads.logRead) {
        std::fprintf(out, "not read (SMART READ LOG 06h failed)\n");
    } else if (reads.log.empty()) {
        std::fprintf(out, "no self-test recorded\n");
    } else {
        std::fprintf(out, " #  Type                  Status                          Remaining  Life (h)  Failing LBA\n");
        for (const SelfTestLogEntry& e : reads.log) {
            std::fprintf(out, "%2d  %-20s  %-30s  %8u%%  %8u  %s\n", e.number, e.type.c_str(), e.statusText.c_str(),
                         e.remainingPercent, e.lifeHours,
                         e.failingLba ? std::to_string(*e.failingLba).c_str() : "-");
        }
    }
}

}  // namespace

int ShowSataSmart(CommandContext& context, const PhysicalDriveInfo& record, const std::u16string& path, bool raw) {
    const SmartReads reads = ReadStatusAndLog(path);
    const SmartDataDetails d = DecodeSmartDataDetails(record.smartData);
    FILE* out = context.out;
    if (context.options.json) {
        const SmartNameTable& table = SelectSmartNameTable(record);
        Json doc = context.NewDocument("smart");
        doc["drive"] = {{"path", Utf8(path)}, {"interface", "SATA"},
                        {"model", Utf8(platform::FixedText(record.modelNumber))}};
        doc["nameTable"] = table.tableName;
        doc["temperature"] = record.temperature;
        doc["returnStatus"] = {{"read", reads.statusRead}, {"thresholdExceeded", reads.statusRead && reads.exceeded}};
        Json rows = Json::array();
        for (uint32_t i = 0; i < record.attributeCount; ++i) {
            const SmartAttributeEntry& e = record.attributes[i];
            rows.push_back({{"id", e.id},
                            {"name", Utf8(LookupSmartAttributeName(record, e.id))},
                            {"flags", e.flags[0] | (e.flags[1] << 8)},
                            {"prefailure", IsPrefailure(e)},
                            {"online", IsOnline(e)},
                            {"current", e.current},
                            {"worst", e.worst},
                            {"threshold", record.thresholdEntries[i].threshold},
                            {"thresholdId", record.thresholdEntries[i].id},
                            {"raw", RawValue48(e)},
                            {"rawHex", Hex(e.raw, 6)}});
        }
        doc["attributes"] = rows;
        doc["powerOnHours"] = OptionalJson(PowerOnHours(record));
        doc["offline"] = {{"status", d.offline.status},
                          {"statusText", d.offline.statusText},
                          {"seconds", d.offline.seconds}};
        const SmartSelfTestStatus& t = d.selfTest;
        doc["selfTest"] = {{"status", t.status},
                           {"statusText", t.statusText},
                           {"remainingPercent", t.remainingPercent},
                           {"shortAndExtendedSupported", t.shortAndExtendedSupported},
                           {"conveyanceSupported", t.conveyanceSupported},
                           {"selectiveSupported", t.selectiveSupported},
                           {"shortMinutes", t.shortMinutes},
                           {"extendedMinutes", t.extendedMinutes},
                           {"conveyanceMinutes", t.conveyanceMinutes}};
        doc["capabilities"] = {{"offlineCapability", d.capabilities.offlineCapability},
                               {"smartCapability", d.capabilities.smartCapability},
                               {"errorLogging", d.capabilities.errorLogging}};
        Json entries = Json::array();
        for (const SelfTestLogEntry& e : reads.log) {
            entries.push_back({{"number", e.number},
                               {"type", e.type},
                               {"typeCode", e.typeCode},
                               {"status", e.status},
                               {"statusText", e.statusText},
                               {"remainingPercent", e.remainingPercent},
                               {"lifeHours", e.lifeHours},
                               {"failingLba", e.failingLba ? Json(*e.failingLba) : Json(nullptr)}});
        }
        doc["selfTestLog"] = {{"read", reads.logRead}, {"entries", entries}};
        if (raw) {
            doc["rawSmartData"] = LowerHex(std::span<const uint8_t>(record.smartData, 512));
            doc["rawSmartThresholds"] = LowerHex(std::span<const uint8_t>(record.smartThresholds, 512));
        }
        context.PrintJson(doc);
        return kExitSuccess;
    }
    if (raw) {
        std::fprintf(out, "SMART READ DATA page, 256 words:\n");
        PrintHexWords(out, std::span<const uint8_t>(record.smartData, 512));
        std::fprintf(out, "SMART READ THRESHOLDS page, 256 words:\n");
        PrintHexWords(out, std::span<const uint8_t>(record.smartThresholds, 512));
        return kExitSuccess;
    }
    PrintText(out, record, reads, d);
    return kExitSuccess;
}

}  // namespace tarvex::cli
