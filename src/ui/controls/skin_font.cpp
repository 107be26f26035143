#include "ui/controls/skin_font.h"

#include "app/ui_language.h"

namespace tarvex::ui {

QString SkinFontFace() {
    return QString::fromUtf16(FontFaceFor(static_cast<uint32_t>(UiLanguageId)));
}

QFont SkinFont(int pointSize, int weight) { return SkinFont(SkinFontFace(), pointSize, weight); }

QFont SkinFont(const QString& face, int pointSize, int weight) {
    QFont font(face);
    // Points at 96 dpi, as the window's pixel layout was made for.
    font.setPixelSize((pointSize * 96 + 36) / 72);
    font.setWeight(static_cast<QFont::Weight>(weight));
    // Faces the system lacks fall back to a sans-serif face that has the glyphs.
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace tarvex::ui
