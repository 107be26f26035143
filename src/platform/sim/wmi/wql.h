#pragma once
// The part of WQL that the program sends: "SELECT * FROM <class>", optionally followed by
// "WHERE <property> = <literal>", where the literal is an integer or a quoted string in which
// a backslash escapes the next backslash or quote ("PCI\\VEN_8086" is PCI\VEN_8086).
// Keywords, class and property names are case-insensitive.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::sim {

struct WqlCondition {
    std::u16string property;
    bool isString = false;
    std::u16string text;  // the string literal without quotes and escapes, or the number in decimal
};

struct WqlQuery {
    std::u16string className;
    std::optional<WqlCondition> where;
};

// Nothing when the text is not a query of this form.
std::optional<WqlQuery> ParseWql(std::u16string_view text);

// A text as it stands inside a quoted WQL string or object path key: every backslash and
// quote escaped with a backslash.
std::u16string EscapeWqlString(std::u16string_view text);

}  // namespace tarvex::sim
