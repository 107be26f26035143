#include "ui/pages/page_texts.h"

#include "app/string_table.h"

namespace tarvex::ui {

QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString ResourceText(int id) { return ToQString(LoadResourceString(id)); }

}  // namespace tarvex::ui
