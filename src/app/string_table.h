#pragma once
// The string table: every user-visible sentence of the program by resource id (242..367), in
// the six UI languages. The table is the JSON text of resources/strings/strings.json, built
// into the program and read once, on first use.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

inline constexpr int FirstResourceStringId = 242;
inline constexpr int LastResourceStringId = 367;
inline constexpr int ResourceStringCount = LastResourceStringId - FirstResourceStringId + 1;
// Traditional Chinese, English, Japanese, Korean, Russian, Simplified Chinese.
inline constexpr std::array<uint32_t, 6> ResourceLanguageIds = {1028, 1033, 1041, 1042, 1049, 2052};
// The language shown when the UI language is none of the six.
inline constexpr uint32_t FallbackLanguageId = 1033;

class StringTable {
  public:
    // Empty text for an id outside 242..367; English for a language outside the six.
    [[nodiscard]] std::u16string_view Find(int id, uint32_t languageId) const;
    [[nodiscard]] bool Empty() const { return texts_.empty(); }

  private:
    friend std::string ParseStringTable(std::string_view json, StringTable& table);
    // ResourceStringCount rows of one text per language, in the order of ResourceLanguageIds.
    std::vector<std::u16string> texts_;
};

// Reads a table from its JSON text: an array of objects {"id": n, "1028": "...", ...}, one per
// id 242..367, each with a non-empty text in all six languages and nothing else. Returns an
// empty string when the table was read; otherwise what is wrong with it, and `table` is left
// empty, so a broken table never shows half its texts.
[[nodiscard]] std::string ParseStringTable(std::string_view json, StringTable& table);

// The built-in table; what ParseStringTable found wrong with it, empty when it loaded.
const StringTable& EmbeddedStringTable();
const std::string& EmbeddedStringTableError();

std::u16string_view LoadResourceString(int id, uint32_t languageId);
// In the UI language chosen at start-up (UiLanguageId).
std::u16string_view LoadResourceString(int id);

}  // namespace tarvex
