#include "app/string_table.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include "app/ui_language.h"
#include "platform/text.h"

namespace tarvex {

// Defined by the file generated from resources/strings/strings.json.
extern const char* const kEmbeddedStringTableJson;
extern const std::size_t kEmbeddedStringTableSize;

namespace {

constexpr size_t kLanguageCount = ResourceLanguageIds.size();

// The column of a language, or -1 when the table does not carry it.
int LanguageColumn(uint32_t languageId) {
    for (size_t i = 0; i < kLanguageCount; ++i) {
        if (ResourceLanguageIds[i] == languageId) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

struct LoadedTable {
    StringTable table;
    std::string error;
};

const LoadedTable& Embedded() {
    // A function-local static: parsed once, and safely when the first lookups race.
    static const LoadedTable loaded = [] {
        LoadedTable t;
        t.error = ParseStringTable(
            std::string_view(kEmbeddedStringTableJson, kEmbeddedStringTableSize), t.table);
        return t;
    }();
    return loaded;
}

}  // namespace

std::u16string_view StringTable::Find(int id, uint32_t languageId) const {
    if (texts_.empty() || id < FirstResourceStringId || id > LastResourceStringId) {
        return {};
    }
    int column = LanguageColumn(languageId);
    if (column < 0) {
        column = LanguageColumn(FallbackLanguageId);
    }
    return texts_[static_cast<size_t>(id - FirstResourceStringId) * kLanguageCount +
                  static_cast<size_t>(column)];
}

std::string ParseStringTable(std::string_view json, StringTable& table) {
    table.texts_.clear();
    const nlohmann::json doc = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded()) {
        return "the table is not valid JSON";
    }
    if (!doc.is_array()) {
        return "the table is not a JSON array";
    }
    std::vector<std::u16string> texts(static_cast<size_t>(ResourceStringCount) * kLanguageCount);
    std::vector<bool> seen(static_cast<size_t>(ResourceStringCount), false);
    for (size_t index = 0; index < doc.size(); ++index) {
        const nlohmann::json& entry = doc[index];
        if (!entry.is_object()) {
            return fmt::format("entry {} is not an object", index);
        }
        const auto idMember = entry.find("id");
        if (idMember == entry.end() || !idMember->is_number_integer()) {
            return fmt::format("entry {} has no integer \"id\"", index);
        }
        const auto id = idMember->get<int64_t>();
        if (id < FirstResourceStringId || id > LastResourceStringId) {
            return fmt::format("id {} lies outside {}..{}", id, FirstResourceStringId,
                               LastResourceStringId);
        }
        const auto row = static_cast<size_t>(id - FirstResourceStringId);
        if (seen[row]) {
            return fmt::format("id {} appears twice", id);
        }
        seen[row] = true;
        for (size_t column = 0; column < kLanguageCount; ++column) {
            const auto text = entry.find(std::to_string(ResourceLanguageIds[column]));
            if (text == entry.end() || !text->is_string()) {
                return fmt::format("id {} has no text for language {}", id,
                                   ResourceLanguageIds[column]);
            }
            const auto& utf8 = text->get_ref<const std::string&>();
            if (utf8.empty()) {
                return fmt::format("id {} has an empty text for language {}", id,
                                   ResourceLanguageIds[column]);
            }
            texts[row * kLanguageCount + column] = platform::Utf8ToUtf16(utf8);
        }
        if (entry.size() != kLanguageCount + 1) {
            return fmt::format("id {} has a member besides \"id\" and the six languages", id);
        }
    }
    for (size_t row = 0; row < seen.size(); ++row) {
        if (!seen[row]) {
            return fmt::format("id {} is missing", FirstResourceStringId + static_cast<int>(row));
        }
    }
    table.texts_ = std::move(texts);
    return {};
}

const StringTable& EmbeddedStringTable() {
    return Embedded().table;
}

const std::string& EmbeddedStringTableError() {
    return Embedded().error;
}

std::u16string_view LoadResourceString(int id, uint32_t languageId) {
    return Embedded().table.Find(id, languageId);
}

std::u16string_view LoadResourceString(int id) {
    return LoadResourceString(id, static_cast<uint32_t>(UiLanguageId));
}

}  // namespace tarvex
