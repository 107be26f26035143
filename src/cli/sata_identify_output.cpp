// tarvexctl identify for a SATA drive: identity, capacity, features and TRIM, the SATA
// transport, security and the integrity word of the IDENTIFY page.
#include <cstring>

#include <fmt/format.h>

#include "cli/exit_codes.h"
#include "cli/sata_output.h"
#include "device/identify_decoding.h"
#include "device/identify_details.h"
#include "platform/text.h"

namespace tarvex::cli {

std::array<uint8_t, 512> SentIdentifyPage(const PhysicalDriveInfo& record) {
    std::array<uint8_t, 512> page{};
    std::memcpy(page.data(), record.identify, page.size());
    ByteSwap(page.data() + kIdentifyModelOffset, 40);
    ByteSwap(page.data() + kIdentifySerialOffset, 20);
    ByteSwap(page.data() + kIdentifyFirmwareOffset, 8);
    return page;
}

std::string LowerHex(std::span<const uint8_t> bytes) {
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        s += fmt::format("{:02x}", b);
    }
    return s;
}

void PrintHexWords(std::FILE* out, std::span<const uint8_t> page512) {
    for (size_t line = 0; line < 32; ++line) {
        std::string text;
        for (size_t k = 0; k < 8; ++k) {
            const size_t at = 2 * (8 * line + k);
            const unsigned word = at + 1 < page512.size() ? page512[at] | (page512[at + 1] << 8) : 0;
            text += k == 0 ? fmt::format("{:04x}", word) : fmt::format(" {:04x}", word);
        }
        std::fprintf(out, "%s\n", text.c_str());
    }
}

void PrintRow(std::FILE* out, const std::string& label, const std::string& value) {
    std::fprintf(out, "%-21s%s\n", label.c_str(), value.c_str());
}

namespace {

Json OptionalNumber(const std::optional<uint32_t>& value) {
    return value ? Json(*value) : Json(nullptr);
}

std::string EraseTimeText(const EraseTime& t) {
    if (!t.minutes) {
        return "not given";
    }
    return fmt::format("{}{} min", t.moreThan ? "more than " : "", *t.minutes);
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string s;
    for (const std::string& item : items) {
        s += (s.empty() ? "" : separator) + item;
    }
    return s;
}

std::string SecurityState(const SecurityStatus& sec) {
    return !sec.supported ? "not supported"
           : sec.frozen   ? "frozen"
           : sec.locked   ? "locked"
           : sec.enabled  ? "enabled"
                          : "disabled";
}

}  // namespace

int ShowSataIdentify(CommandContext& context, const PhysicalDriveInfo& record, std::optional<int> disk, bool raw) {
    const std::span<const uint8_t> id(record.identify, sizeof record.identify);
    const std::array<uint8_t, 512> sent = SentIdentifyPage(record);
    const std::string model = Utf8(platform::FixedText(record.modelNumber));
    const std::string serial = Utf8(platform::FixedText(record.serialNumber));
    const std::string firmware = Utf8(platform::FixedText(record.firmwareRevision));
    const std::string wwn = HasWwn(id) ? Utf8(WwnText(id)) : "none";
    const IdentifyCapacity cap = DecodeIdentifyCapacity(id);
    const IdentifyTrim trim = DecodeIdentifyTrim(id);
    const IdentifySata sata = DecodeIdentifySata(id);
    const std::vector<int> versions = AtaMajorVersions(id);
    const SecurityStatus sec = DecodeSecurityStatus(id);
    const IdentifySecurityDetails secDetails = DecodeIdentifySecurityDetails(id);
    const IdentifyChecksum checksum = DecodeIdentifyChecksum(id);
    const std::string speed = Utf8(LinkSpeedText(record));
    FILE* out = context.out;

    if (context.options.json) {
        Json doc = context.NewDocument("identify");
        doc["drive"] = {{"path", Utf8(platform::FixedText(record.devicePath))}, {"interface", "SATA"}};
        if (disk) {
            doc["drive"]["number"] = *disk;
        }
        doc["identity"] = {{"model", model},       {"serial", serial},   {"firmware", firmware},
                           {"wwn", wwn},           {"sataRevision", sata.revision}, {"linkSpeed", speed},
                           {"maxLba", cap.sectors}};
        doc["capacity"] = {{"lba48", cap.lba48},
                           {"sectors", cap.sectors},
                           {"lba28Sectors", cap.lba28Sectors},
                           {"lba48Sectors", cap.lba48Sectors},
                           {"logicalSectorBytes", cap.logicalSectorBytes},
                           {"physicalSectorBytes", cap.physicalSectorBytes},
                           {"bytes", cap.bytes},
                           {"gigabytes", cap.gigabytes}};
        doc["trim"] = {{"supported", trim.supported},
                       {"deterministicRead", trim.deterministicRead},
                       {"zeroedRead", trim.zeroedRead}};
        doc["sata"] = {{"revision", sata.revision},
                       {"supportedSpeeds", sata.supportedSpeeds},
                       {"negotiatedSpeed", sata.negotiatedSpeed}};
        doc["ata"] = {{"majorVersions", versions},
                      {"majorVersion", versions.empty() ? Json(nullptr) : Json(versions.back())}};
        doc["security"] = {{"supported", sec.supported},
                           {"enabled", sec.enabled},
                           {"locked", sec.locked},
                           {"frozen", sec.frozen},
                           {"countExpired", sec.countExpired},
                           {"enhancedEraseSupported", sec.enhancedEraseSupported},
                           {"state", SecurityState(sec)},
                           {"level", secDetails.maximumLevel ? "maximum" : "high"},
                           {"eraseMinutes", OptionalNumber(secDetails.erase.minutes)},
                           {"enhancedEraseMinutes", OptionalNumber(secDetails.enhancedErase.minutes)},
                           {"eraseTimeMoreThan", secDetails.erase.moreThan},
                           {"enhancedEraseTimeMoreThan", secDetails.enhancedErase.moreThan},
                           {"masterPasswordIdentifier", secDetails.masterPasswordIdentifier
                                                            ? Json(*secDetails.masterPasswordIdentifier)
                                                            : Json(nullptr)}};
        doc["checksum"] = {{"present", checksum.present}, {"valid", checksum.valid}};
        if (raw) {
            doc["rawIdentify"] = LowerHex(sent);
            Json words = Json::array();
            for (int w = 0; w < 256; ++w) {
                words.push_back(IdentifyWord(sent, w));
            }
            doc["rawWords"] = words;
        }
        context.PrintJson(doc);
        return kExitSuccess;
    }

    if (raw) {
        // Only label lines and the words, so that the output can be fed to tools that read
        // IDENTIFY pages in this form.
        std::fprintf(out, "IDENTIFY DEVICE page of %s as the drive sent it, 256 words:\n",
                     disk ? fmt::format("disk {}", *disk).c_str() : Utf8(platform::FixedText(record.devicePath)).c_str());
        PrintHexWords(out, sent);
        return kExitSuccess;
    }

    std::fprintf(out, "Identity\n");
    PrintRow(out, "Model", model);
    PrintRow(out, "Serial number", serial);
    PrintRow(out, "Firmware revision", firmware);
    PrintRow(out, "WWN", wwn);

    std::fprintf(out, "\nCapacity\n");
    PrintRow(out, "Sectors", fmt::format("{} ({})", cap.sectors,
                                         cap.lba48 ? "48-bit addresses" : "28-bit addresses, no 48-bit feature set"));
    PrintRow(out, "Sector size", fmt::format("{} bytes logical, {} bytes physical", cap.logicalSectorBytes,
                                             cap.physicalSectorBytes));
    PrintRow(out, "Size", fmt::format("{} bytes ({} GB)", cap.bytes, cap.gigabytes));

    std::fprintf(out, "\nFeatures / TRIM\n");
    std::vector<std::string> trimParts;
    trimParts.emplace_back(trim.supported ? "supported" : "not supported");
    if (trim.deterministicRead) {
        trimParts.emplace_back("deterministic read after TRIM");
    }
    if (trim.zeroedRead) {
        trimParts.emplace_back("zeroes read after TRIM");
    }
    PrintRow(out, "TRIM", Join(trimParts, ", "));
    std::string versionText;
    for (int v : versions) {
        versionText += (versionText.empty() ? "" : " ") + std::to_string(v);
    }
    PrintRow(out, "ATA major versions", versions.empty() ? "not reported"
                                                         : fmt::format("{} (highest {})", versionText, versions.back()));

    std::fprintf(out, "\nSATA\n");
    PrintRow(out, "Revision", sata.revision);
    PrintRow(out, "Supported speeds", sata.supportedSpeeds.empty() ? "not reported" : Join(sata.supportedSpeeds, ", "));
    PrintRow(out, "Negotiated speed", sata.negotiatedSpeed);

    std::fprintf(out, "\nSecurity\n");
    if (!sec.supported) {
        PrintRow(out, "State", "not supported");
    } else {
        // Every bit of word 128 on its own: a drive can be enabled, unlocked and frozen at once.
        PrintRow(out, "State", fmt::format("{}, {}, {}{}", sec.enabled ? "enabled" : "not enabled",
                                           sec.locked ? "locked" : "not locked", sec.frozen ? "frozen" : "not frozen",
                                           sec.countExpired ? ", attempt count expired" : ""));
        PrintRow(out, "Level", secDetails.maximumLevel ? "maximum" : "high");
        PrintRow(out, "Enhanced erase", sec.enhancedEraseSupported ? "supported" : "not supported");
        PrintRow(out, "Erase time", EraseTimeText(secDetails.erase));
        PrintRow(out, "Enhanced erase time", EraseTimeText(secDetails.enhancedErase));
        PrintRow(out, "Master password id", secDetails.masterPasswordIdentifier
                                                ? fmt::format("{} ({:04X}h)", *secDetails.masterPasswordIdentifier,
                                                              *secDetails.masterPasswordIdentifier)
                                                : "not reported");
    }

    std::fprintf(out, "\nChecksum\n");
    PrintRow(out, "Integrity word", !checksum.present ? "not present (byte 510 is not A5h)"
                                    : checksum.valid  ? "valid"
                                                      : "invalid (the page does not sum to zero)");
    return kExitSuccess;
}

}  // namespace tarvex::cli
