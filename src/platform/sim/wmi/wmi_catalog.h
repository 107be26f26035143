#pragma once
// The WMI classes of the emulated PC as tables: each class has a fixed list of properties
// (its schema) and rows of typed values. Tables are built once from the profile; a class whose
// values change while the machine runs (the free space of Win32_LogicalDisk) is rebuilt when
// it is queried. Lookups by property value use an index built on first use, so a scan that
// queries one row after another costs no walk over every row.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/wmi.h"

namespace tarvex::sim {

using WmiValues = std::vector<platform::Variant>;

struct WmiSchema {
    std::u16string className;
    std::vector<std::u16string> properties;  // as WMI spells them
    // The position of a property, compared without regard to case; -1 when unknown.
    [[nodiscard]] int Find(std::u16string_view name) const;
};

// One row as the enumerator hands it out; it keeps its table's schema alive.
struct WmiRowRef {
    std::shared_ptr<const WmiSchema> schema;
    std::shared_ptr<const WmiValues> values;
};

class WmiClassBuilder {
public:
    WmiClassBuilder(std::u16string className, std::vector<std::u16string> properties);
    // Starts a row; every property starts as VT_NULL.
    WmiClassBuilder& Row();
    WmiClassBuilder& Set(std::u16string_view property, platform::Variant value);
    WmiClassBuilder& Bstr(std::u16string_view property, std::u16string text);
    WmiClassBuilder& I4(std::u16string_view property, int64_t value);
    WmiClassBuilder& Bool(std::u16string_view property, bool value);
    WmiClassBuilder& Decimal(std::u16string_view property, uint64_t value);  // a 64-bit number: VT_BSTR
    WmiClassBuilder& Array(std::u16string_view property, std::vector<std::u16string> texts);

    std::shared_ptr<const WmiSchema> schema;
    std::vector<std::shared_ptr<const WmiValues>> rows;

private:
    WmiValues* current_ = nullptr;
    std::vector<WmiValues> pending_;
    friend class WmiCatalog;
    void Seal();
};

class WmiCatalog {
public:
    // A class whose rows are made again at each query.
    using Refresh = std::function<WmiClassBuilder()>;

    void Add(WmiClassBuilder table);
    void AddDynamic(Refresh refresh);

    enum class Lookup { Ok, UnknownClass, UnknownProperty };
    // The rows of `className` whose `property` equals `text` (strings without regard to case),
    // or every row when no property is given.
    Lookup Select(std::u16string_view className, const std::u16string* property, const std::u16string* text,
                  std::vector<WmiRowRef>* rows);

    // The spelling of a class as WMI has it, when it exists.
    [[nodiscard]] std::optional<std::u16string> ClassName(std::u16string_view className);

private:
    struct Table {
        std::shared_ptr<const WmiSchema> schema;
        std::vector<std::shared_ptr<const WmiValues>> rows;
        Refresh refresh;
        // property position -> folded value text -> row positions
        std::unordered_map<int, std::unordered_map<std::u16string, std::vector<size_t>>> index;
    };
    void Put(Table table);

    std::mutex mutex_;
    std::unordered_map<std::u16string, Table> tables_;  // keyed by folded class name
};

// The text a value compares as in a WHERE clause: the string, or an integer in decimal.
std::optional<std::u16string> ComparableText(const platform::Variant& value);

}  // namespace tarvex::sim
