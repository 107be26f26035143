#include "platform/sim/devices/firmware_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "platform/byte_span.h"

namespace tarvex::sim {

namespace {

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        t[i] = c;
    }
    return t;
}

std::string Trimmed(const char* field, size_t size) {
    std::string s(field, size);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) {
        s.pop_back();
    }
    return s;
}

bool Printable(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

uint32_t HeaderCrc(FirmwareImageHeader h) {
    h.headerCrc32 = 0;
    return Crc32(std::span(reinterpret_cast<const uint8_t*>(&h), sizeof h));
}

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
    static const std::array<uint32_t, 256> kTable = MakeCrcTable();
    crc = ~crc;
    for (uint8_t b : bytes) {
        crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

std::vector<uint8_t> MakeFirmwareImage(std::string_view targetModel, std::string_view newRevision,
                                       std::span<const uint8_t> payload) {
    FirmwareImageHeader h{};
    std::memcpy(h.magic, kFirmwareMagic, sizeof h.magic);
    h.formatVersion = kFirmwareFormatVersion;
    h.headerSize = kFirmwareHeaderSize;
    h.payloadLength = static_cast<uint32_t>(payload.size());
    h.payloadCrc32 = Crc32(payload);
    std::memset(h.targetModel, ' ', sizeof h.targetModel);
    std::memset(h.newRevision, ' ', sizeof h.newRevision);
    std::memcpy(h.targetModel, targetModel.data(), std::min(targetModel.size(), sizeof h.targetModel));
    std::memcpy(h.newRevision, newRevision.data(), std::min(newRevision.size(), sizeof h.newRevision));
    h.headerCrc32 = HeaderCrc(h);
    std::vector<uint8_t> out(sizeof h + payload.size());
    std::memcpy(out.data(), &h, sizeof h);
    std::copy(payload.begin(), payload.end(), out.begin() + sizeof h);
    return out;
}

FirmwareCheck CheckFirmwareImage(std::span<const uint8_t> bytes, std::string_view forModel,
                                 FirmwareImageInfo* info) {
    const platform::ByteReader reader(bytes);
    const std::optional<FirmwareImageHeader> header = reader.ReadRecord<FirmwareImageHeader>();
    if (!header) {
        return FirmwareCheck::TooShort;
    }
    const FirmwareImageHeader& h = *header;
    if (std::memcmp(h.magic, kFirmwareMagic, sizeof h.magic) != 0) {
        return FirmwareCheck::BadMagic;
    }
    if (h.formatVersion != kFirmwareFormatVersion || h.headerSize != kFirmwareHeaderSize) {
        return FirmwareCheck::BadVersion;
    }
    if (HeaderCrc(h) != h.headerCrc32) {
        return FirmwareCheck::BadHeaderCrc;
    }
    const auto payload = reader.Bytes(sizeof h, h.payloadLength);
    if (!payload) {
        return FirmwareCheck::BadLength;
    }
    if (Crc32(*payload) != h.payloadCrc32) {
        return FirmwareCheck::BadPayloadCrc;
    }
    const std::string model = Trimmed(h.targetModel, sizeof h.targetModel);
    const std::string revision = Trimmed(h.newRevision, sizeof h.newRevision);
    if (revision.empty() || !Printable(revision) || !Printable(model)) {
        return FirmwareCheck::BadRevision;
    }
    std::string wanted(forModel);
    while (!wanted.empty() && wanted.back() == ' ') {
        wanted.pop_back();
    }
    if (!wanted.empty() && model != wanted) {
        return FirmwareCheck::WrongModel;
    }
    if (info != nullptr) {
        info->targetModel = model;
        info->newRevision = revision;
        info->imageLength = static_cast<uint32_t>(sizeof h + h.payloadLength);
    }
    return FirmwareCheck::Ok;
}

const char* FirmwareCheckText(FirmwareCheck check) {
    switch (check) {
        case FirmwareCheck::Ok: return "valid";
        case FirmwareCheck::TooShort: return "shorter than its header";
        case FirmwareCheck::BadMagic: return "not a firmware image (magic)";
        case FirmwareCheck::BadVersion: return "unknown image format version";
        case FirmwareCheck::BadHeaderCrc: return "header checksum does not match";
        case FirmwareCheck::BadLength: return "payload shorter than its header says";
        case FirmwareCheck::BadPayloadCrc: return "payload checksum does not match";
        case FirmwareCheck::WrongModel: return "made for another model";
        case FirmwareCheck::BadRevision: return "no valid revision text";
    }
    return "?";
}

}  // namespace tarvex::sim
