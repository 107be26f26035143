#include "device/identify_decoding.h"

#include <cstring>

#include <fmt/format.h>

#include "platform/byte_span.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace tarvex {

namespace {

// Copies `length` ASCII bytes at `offset` into a buffer one byte longer, trims the blanks and
// converts the text through the ANSI code page into the fixed field. Bytes that are not there
// leave the field empty.
template <size_t N>
void ConvertField(char16_t (&field)[N], std::span<const uint8_t> source, size_t offset, size_t length) {
    static_assert(N > 0);
    char text[64] = {};
    const auto bytes = platform::ByteReader(source).Bytes(offset, std::min(length, sizeof text - 1));
    if (bytes) {
        std::memcpy(text, bytes->data(), bytes->size());
    }
    TrimTrailingBlanks(text);
    std::u16string wide = platform::IsInstalled() && platform::Current().system != nullptr
                              ? platform::Current().system->AnsiToWide(text)
                              : platform::Utf8ToUtf16(text);
    platform::CopyToFixed(field, wide);
}

}  // namespace

void ByteSwap(uint8_t* buffer, size_t length) {
    for (size_t i = 0; i + 1 < length; i += 2) {
        std::swap(buffer[i], buffer[i + 1]);
    }
}

void TrimTrailingBlanks(char* text) {
    size_t end = std::strlen(text);
    while (end > 0 && text[end - 1] == ' ') {
        text[--end] = '\0';
    }
}

uint16_t IdentifyWord(std::span<const uint8_t> identify, int word) {
    if (word < 0) {
        return 0;
    }
    return platform::ByteReader(identify).U16(2 * static_cast<size_t>(word)).value_or(0);
}

void StoreSataIdentify(PhysicalDriveInfo& record, std::span<const uint8_t> identify512) {
    std::memset(record.identify, 0, sizeof record.identify);
    const auto page = platform::ByteReader(identify512).Bytes(0, std::min(identify512.size(), sizeof record.identify));
    if (page) {
        std::memcpy(record.identify, page->data(), page->size());
    }
    ByteSwap(record.identify + kIdentifyModelOffset, 40);
    ByteSwap(record.identify + kIdentifySerialOffset, 20);
    ByteSwap(record.identify + kIdentifyFirmwareOffset, 8);
    ConvertField(record.modelNumber, record.identify, kIdentifyModelOffset, 40);
    ConvertField(record.serialNumber, record.identify, kIdentifySerialOffset, 20);
    ConvertField(record.firmwareRevision, record.identify, kIdentifyFirmwareOffset, 8);
}

void StoreNvmeIdentifyStrings(PhysicalDriveInfo& record) {
    ConvertField(record.modelNumber, record.nvmeIdentify, kNvmeModelOffset, 40);
    ConvertField(record.serialNumber, record.nvmeIdentify, kNvmeSerialOffset, 20);
    ConvertField(record.firmwareRevision, record.nvmeIdentify, kNvmeFirmwareOffset, 8);
}

std::u16string SataRevisionText(std::span<const uint8_t> identify) {
    static const char16_t* const kRevisions[] = {u"ATA8-AST", u"SATA 1.0a", u"SATA II Ext", u"SATA 2.5",
                                                  u"SATA 2.6", u"SATA 3.0",  u"SATA 3.1"};
    const uint16_t w222 = IdentifyWord(identify, 222);
    if ((w222 >> 12) != 1) {
        return u"N/A";
    }
    int highest = -1;
    for (int bit = 11; bit >= 0; --bit) {
        if (w222 & (1u << bit)) {
            highest = bit;
            break;
        }
    }
    if (highest < 0 || highest > 6) {
        return u"SATA >3.1";
    }
    return kRevisions[highest];
}

std::u16string LinkSpeedText(const PhysicalDriveInfo& record) {
    if (SataRevisionText(record.identify) == u"N/A") {
        return u"N/A";
    }
    const uint16_t w77 = IdentifyWord(record.identify, 77);
    if (w77 & 1) {
        return u"N/A";
    }
    switch ((w77 >> 1) & 7) {
        case 0: return u"N/A";
        case 1: return u"1.5 Gb/s";
        case 2: return u"3.0 Gb/s";
        case 3: return u"6.0 Gb/s";
        default: return u">6.0 Gb/s";
    }
}

std::u16string WwnText(std::span<const uint8_t> identify) {
    return platform::Utf8ToUtf16(fmt::format("{:04X}{:04X}{:04X}{:04X}", IdentifyWord(identify, 108),
                                             IdentifyWord(identify, 109), IdentifyWord(identify, 110),
                                             IdentifyWord(identify, 111)));
}

uint64_t MaxLba(std::span<const uint8_t> identify) {
    uint64_t v = 0;
    for (int w = 103; w >= 100; --w) {
        v = (v << 16) | IdentifyWord(identify, w);
    }
    return v;
}

}  // namespace tarvex

namespace tarvex {

SecurityStatus DecodeSecurityStatus(std::span<const uint8_t> identify) {
    const uint16_t w = IdentifyWord(identify, 128);
    return SecurityStatus{(w & 0x01) != 0, (w & 0x02) != 0, (w & 0x04) != 0,
                          (w & 0x08) != 0, (w & 0x10) != 0, (w & 0x20) != 0};
}

}  // namespace tarvex
