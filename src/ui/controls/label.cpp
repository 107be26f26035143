#include "ui/controls/label.h"

#include <QPainter>

#include "ui/controls/skin_font.h"

namespace tarvex::ui {

CLabel::CLabel(QWidget* parent, int controlId) : QWidget(parent), face_(SkinFontFace()) {
    if (controlId != 0) {
        setObjectName(QString::number(controlId));
    }
    setAttribute(Qt::WA_TranslucentBackground);
}

void CLabel::SetText(const QString& text) {
    text_ = text;
    setAccessibleName(text);
    update();
}

void CLabel::SetTextColor(QColor colour) {
    colour_ = colour;
    update();
}

void CLabel::SetFontName(const QString& face) {
    face_ = face;
    update();
}

void CLabel::SetFontSize(int pointSize) {
    pointSize_ = pointSize;
    update();
}

void CLabel::SetFontBold(bool bold) {
    bold_ = bold;
    update();
}

QFont CLabel::LabelFont() const { return SkinFont(face_, pointSize_, bold_ ? QFont::Bold : QFont::Normal); }

void CLabel::SetBackground(const QPixmap& picture) {
    background_ = picture;
    update();
}

void CLabel::SetAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void CLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setClipRect(rect());
    if (!background_.isNull()) {
        painter.drawPixmap(0, 0, background_);
    }
    painter.setFont(LabelFont());
    painter.setPen(colour_);
    painter.drawText(rect(), static_cast<int>(alignment_) | Qt::TextWordWrap, text_);
}

}  // namespace tarvex::ui
