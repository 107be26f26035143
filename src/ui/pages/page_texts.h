#pragma once
// Texts of the string table as the window shows them.
#include <QString>
#include <string_view>

namespace tarvex::ui {

// Resource string `id` in the UI language.
QString ResourceText(int id);
QString ToQString(std::u16string_view text);

}  // namespace tarvex::ui
