#include "platform/version_record.h"

#include <cstring>
#include <string>

#ifndef TARVEX_FILE_VERSION
#define TARVEX_FILE_VERSION "0.0.0.0"
#endif

namespace tarvex::platform {

namespace {
// Kept in the file whatever the optimiser thinks of it.
[[gnu::used]] const char kRecord[] = "TARVEX-FILE-VERSION:" TARVEX_FILE_VERSION;

bool ReadNumber(std::string_view text, size_t* pos, uint16_t* out) {
    size_t start = *pos;
    uint32_t v = 0;
    while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9' && *pos - start < 5) {
        v = v * 10 + static_cast<uint32_t>(text[*pos] - '0');
        ++*pos;
    }
    if (*pos == start || v > 0xFFFF) {
        return false;
    }
    *out = static_cast<uint16_t>(v);
    return true;
}
}  // namespace

std::optional<FileVersionNumbers> FindVersionRecord(std::span<const uint8_t> bytes) {
    const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    size_t at = all.find(kVersionRecordMarker);
    while (at != std::string_view::npos) {
        size_t pos = at + kVersionRecordMarker.size();
        FileVersionNumbers v;
        uint16_t* parts[] = {&v.major, &v.minor, &v.build, &v.revision};
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i) {
            ok = ReadNumber(all, &pos, parts[i]) && (i == 3 || (pos < all.size() && all[pos++] == '.'));
        }
        if (ok && pos < all.size() && all[pos] == '\0') {
            return v;
        }
        at = all.find(kVersionRecordMarker, at + 1);
    }
    return std::nullopt;
}

const char* ProgramVersionRecord() { return kRecord; }

}  // namespace tarvex::platform
