#include "ui/controls/skin_font.h"

#include <QStringList>
#include <mutex>

#include "app/ui_language.h"

namespace tarvex::ui {
namespace {

// Where a face is missing, Windows' font mapper settles on a face of the same kind with the
// same metrics; here the metric-compatible free faces stand in the same way, so that texts
// take the widths the layout was made for. Glyphs a face lacks (Chinese, Japanese, Korean)
// come from a face that has them.
void InstallSubstitutions() {
    static std::once_flag once;
    std::call_once(once, [] {
        const QStringList latin = {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                                   QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")};
        QFont::insertSubstitutions(QStringLiteral("Ariel"), latin);
        QFont::insertSubstitutions(QStringLiteral("Gulim"),
                                   {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Liberation Sans"),
                                    QStringLiteral("DejaVu Sans")});
    });
}

}  // namespace

QString SkinFontFace() {
    return QString::fromUtf16(FontFaceFor(static_cast<uint32_t>(UiLanguageId)));
}

QFont SkinFont(int pointSize, int weight) { return SkinFont(SkinFontFace(), pointSize, weight); }

QFont SkinFont(const QString& face, int pointSize, int weight) {
    InstallSubstitutions();
    QFont font(face);
    // Points at 96 dpi, as the window's pixel layout was made for.
    font.setPixelSize((pointSize * 96 + 36) / 72);
    font.setWeight(static_cast<QFont::Weight>(weight));
    // Faces the system lacks fall back to a sans-serif face that has the glyphs.
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace tarvex::ui
