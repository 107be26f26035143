#pragma once
// Fonts of the skinned controls: the face of the UI language ("Ariel", or "Gulim" for Korean)
// at a size in points, laid out at 96 dots per inch whatever the screen says, so that every
// text fits the pixel places the layout gives it.
#include <QFont>
#include <QString>

namespace tarvex::ui {

// The face the program asks for in the current UI language.
QString SkinFontFace();
// That face at `pointSize` and `weight` (QFont::Normal, QFont::Bold).
QFont SkinFont(int pointSize, int weight = QFont::Normal);
QFont SkinFont(const QString& face, int pointSize, int weight = QFont::Normal);

}  // namespace tarvex::ui
