#include "platform/sim/devices/page_dump.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/sim/host_file_reading.h"

namespace tarvex::sim {

namespace {

constexpr size_t kHeaderBytes = 8;

struct PartKind {
    const char* tag;
    size_t size;
};
constexpr PartKind kParts[] = {{"IDFY", 512}, {"SMST", 4}, {"SMDT", 512}, {"SMTH", 512}};

// A tag as text for a message: printable ASCII as it is, anything else as \xNN.
std::string TagText(std::span<const uint8_t> tag) {
    std::string s = "\"";
    for (uint8_t c : tag) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            s.push_back(static_cast<char>(c));
        } else {
            static const char* kDigits = "0123456789abcdef";
            s += "\\x";
            s.push_back(kDigits[c >> 4]);
            s.push_back(kDigits[c & 15]);
        }
    }
    return s + "\"";
}

const PartKind* FindPart(std::span<const uint8_t> tag) {
    for (const PartKind& p : kParts) {
        if (std::memcmp(tag.data(), p.tag, 4) == 0) {
            return &p;
        }
    }
    return nullptr;
}

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

RawPage ToPage(std::span<const uint8_t> bytes) {
    RawPage page{};
    std::copy(bytes.begin(), bytes.end(), page.begin());
    return page;
}

bool Fail(std::string* why, std::string text) {
    *why = std::move(text);
    return false;
}

bool ParseTagged(std::span<const uint8_t> bytes, PageDump* dump, std::string* why) {
    size_t seen[std::size(kParts)] = {};  // 1 + offset of the part with that tag, 0 when none yet
    size_t at = 0;
    while (at < bytes.size()) {
        const std::string where = " at byte " + std::to_string(at);
        if (bytes.size() - at < kHeaderBytes) {
            return Fail(why, "the part header" + where + " is cut short (" + std::to_string(bytes.size() - at) +
                                 " of 8 bytes)");
        }
        const std::span<const uint8_t> tag = bytes.subspan(at, 4);
        const PartKind* kind = FindPart(tag);
        if (kind == nullptr) {
            return Fail(why, "unknown part " + TagText(tag) + where + " (known: IDFY, SMST, SMDT, SMTH)");
        }
        const size_t index = static_cast<size_t>(kind - kParts);
        if (seen[index] != 0) {
            return Fail(why, "the part " + TagText(tag) + where + " repeats the one at byte " +
                                 std::to_string(seen[index] - 1));
        }
        seen[index] = at + 1;
        const uint32_t size = BigEndian32(bytes.data() + at + 4);
        const size_t left = bytes.size() - at - kHeaderBytes;
        if (size != kind->size) {
            return Fail(why, "the part " + TagText(tag) + where + " announces " + std::to_string(size) +
                                 " bytes; expected " + std::to_string(kind->size));
        }
        if (size > left) {
            return Fail(why, "the part " + TagText(tag) + where + " is cut short (" + std::to_string(left) + " of " +
                                 std::to_string(size) + " bytes)");
        }
        const std::span<const uint8_t> data = bytes.subspan(at + kHeaderBytes, size);
        switch (index) {
            case 0: dump->identify = ToPage(data); break;
            case 1: {
                const uint32_t status = BigEndian32(data.data());
                if (status > 1) {
                    return Fail(why, "the part " + TagText(tag) + where + " holds " + std::to_string(status) +
                                         "; expected 1 (good) or 0 (threshold exceeded)");
                }
                dump->thresholdExceeded = status == 0;
                break;
            }
            case 2: dump->smartData = ToPage(data); break;
            default: dump->smartThresholds = ToPage(data); break;
        }
        at += kHeaderBytes + size;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<PageDump> ParsePageDump(std::span<const uint8_t> bytes, std::string* why) {
    if (bytes.empty()) {
        *why = "the file is empty";
        return std::nullopt;
    }
    if (bytes.size() > kMaxPageDumpBytes) {
        *why = "larger than " + std::to_string(kMaxPageDumpBytes >> 10) + " KiB";
        return std::nullopt;
    }
    PageDump dump;
    // A bare IDENTIFY page starts with its general configuration word, never with a tag.
    if (bytes.size() == 512 && FindPart(bytes.first(4)) == nullptr) {
        dump.identify = ToPage(bytes);
        return dump;
    }
    if (!ParseTagged(bytes, &dump, why)) {
        return std::nullopt;
    }
    return dump;
}

std::optional<PageDump> ReadPageDump(const std::filesystem::path& file, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<PageDump> {
        *error = file.string() + ": " + why;
        return std::nullopt;
    };
    const HostFileRead read = ReadRegularHostFile(file, kMaxPageDumpBytes);
    switch (read.problem) {
        case HostFileProblem::None: break;
        case HostFileProblem::CannotRead: return fail("cannot read the dump file: " + read.systemError);
        case HostFileProblem::Folder: return fail("it is a folder, not a dump file");
        case HostFileProblem::NotRegular: return fail("not a regular file");
        case HostFileProblem::TooBig: return fail("larger than " + std::to_string(kMaxPageDumpBytes >> 10) + " KiB");
    }
    const std::string& text = *read.bytes;
    std::string why;
    auto dump = ParsePageDump(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &why);
    if (!dump) {
        return fail(why);
    }
    return dump;
}

std::optional<RawPage> ParsePageHex(const std::string& text, std::string* why) {
    RawPage page{};
    size_t count = 0;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        }
        const int high = HexDigit(c);
        const int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        if (high < 0 || low < 0) {
            *why = "expected pairs of hexadecimal digits such as \"40 00 ff 3f\" (character " + std::to_string(i + 1) +
                   ")";
            return std::nullopt;
        }
        if (count == page.size()) {
            *why = "more than 512 bytes";
            return std::nullopt;
        }
        page[count++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    if (count != page.size()) {
        *why = "expected 512 bytes, found " + std::to_string(count);
        return std::nullopt;
    }
    return page;
}

}  // namespace tarvex::sim
