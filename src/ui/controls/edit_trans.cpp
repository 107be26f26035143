#include "ui/controls/edit_trans.h"

#include <QPainter>
#include <QPalette>

#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"

namespace tarvex::ui {

CEditTrans::CEditTrans(QWidget* parent, int controlId) : QLineEdit(parent), colour_(QColor::fromRgb(kValueColour)) {
    if (controlId != 0) {
        setObjectName(QString::number(controlId));
    }
    setFrame(false);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    setFont(SkinFont(11, QFont::Bold));
    setAlignment(Qt::AlignCenter);
    ApplyColours();
}

void CEditTrans::SetTextColor(QColor colour) {
    colour_ = colour;
    ApplyColours();
}

void CEditTrans::SetFontSize(int pointSize, bool bold) { setFont(SkinFont(pointSize, bold ? QFont::Bold : QFont::Normal)); }

void CEditTrans::ApplyColours() {
    QPalette palette = this->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, Qt::transparent);
        palette.setColor(group, QPalette::Window, Qt::transparent);
        palette.setColor(group, QPalette::Text, colour_);
        palette.setColor(group, QPalette::Highlight, QColor::fromRgb(kAccentColour));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor::fromRgb(kCaptionColour));
    setPalette(palette);
    update();
}

void CEditTrans::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    QColor rule = hasFocus() ? QColor::fromRgb(kAccentColour) : QColor(0x4A, 0x53, 0x5F);
    if (!isEnabled()) {
        rule = QColor(0x2E, 0x33, 0x3A);
    }
    painter.fillRect(QRect(2, height() - 2, width() - 4, hasFocus() ? 2 : 1), rule);
}

}  // namespace tarvex::ui
