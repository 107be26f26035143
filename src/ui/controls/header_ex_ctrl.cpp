#include "ui/controls/header_ex_ctrl.h"

#include <QLinearGradient>
#include <QPainter>

#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"

namespace tarvex::ui {

namespace {
constexpr int kHeaderHeight = 26;
}

CHeaderExCtrl::CHeaderExCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setFont(SkinFont(9, QFont::Bold));
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHighlightSections(false);
    setSectionsClickable(false);
    setStretchLastSection(false);
    setMinimumHeight(kHeaderHeight);
}

QSize CHeaderExCtrl::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    size.setHeight(kHeaderHeight);
    return size;
}

void CHeaderExCtrl::paintEvent(QPaintEvent* event) {
    // The bar behind the sections, so the part right of the last column matches them.
    {
        QPainter painter(viewport());
        QLinearGradient bar(QPointF(0, 0), QPointF(0, height()));
        bar.setColorAt(0, QColor(0x2C, 0x33, 0x3D));
        bar.setColorAt(1, QColor(0x22, 0x27, 0x2F));
        painter.fillRect(viewport()->rect(), bar);
        painter.fillRect(QRect(0, height() - 2, width(), 2), QColor::fromRgb(kAccentColour));
    }
    QHeaderView::paintEvent(event);
}

void CHeaderExCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) {
        return;
    }
    painter->save();
    QLinearGradient bar(rect.topLeft(), rect.bottomLeft());
    bar.setColorAt(0, QColor(0x2C, 0x33, 0x3D));
    bar.setColorAt(1, QColor(0x22, 0x27, 0x2F));
    painter->fillRect(rect, bar);
    painter->fillRect(QRect(rect.left(), rect.bottom() - 1, rect.width(), 2), QColor::fromRgb(kAccentColour));
    // Separator on the right edge of every column.
    painter->setPen(QColor(0x3E, 0x47, 0x54));
    painter->drawLine(rect.right(), rect.top() + 5, rect.right(), rect.bottom() - 6);
    const QString title = model() != nullptr ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString() : QString();
    painter->setFont(font());
    painter->setPen(QColor::fromRgb(kTitleColour));
    const QRect text = rect.adjusted(6, 0, -6, -2);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(title, Qt::ElideRight, text.width()));
    painter->restore();
}

}  // namespace tarvex::ui
