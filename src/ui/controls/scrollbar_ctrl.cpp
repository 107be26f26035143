#include "ui/controls/scrollbar_ctrl.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionSlider>

#include "ui/controls/skin.h"

namespace tarvex::ui {

namespace {
constexpr int kBarWidth = 14;
}

CScrollbarCtrl::CScrollbarCtrl(QWidget* parent, Qt::Orientation orientation) : QScrollBar(orientation, parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_Hover);
    if (orientation == Qt::Vertical) {
        setFixedWidth(kBarWidth);
    } else {
        setFixedHeight(kBarWidth);
    }
}

QSize CScrollbarCtrl::sizeHint() const {
    const QSize base = QScrollBar::sizeHint();
    return orientation() == Qt::Vertical ? QSize(kBarWidth, base.height()) : QSize(base.width(), kBarWidth);
}

QRect CScrollbarCtrl::ThumbRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
}

void CScrollbarCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(rect(), QColor(0x17, 0x1A, 0x1F));
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x0F, 0x11, 0x15));
    const bool vertical = orientation() == Qt::Vertical;
    // The groove and thumb are inset across the bar, not along it.
    const auto inset = [vertical](const QRect& r) {
        return vertical ? QRectF(r).adjusted(3, 1, -3, -1) : QRectF(r).adjusted(1, 3, -1, -3);
    };
    painter.drawRoundedRect(inset(groove), 4, 4);

    // Arrow marks in the step areas at both ends.
    const QColor mark = isEnabled() ? QColor(0x8A, 0x95, 0xA3) : QColor(0x3C, 0x42, 0x4A);
    painter.setBrush(mark);
    const QRect up = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSubLine, this);
    const QRect down = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, this);
    // A triangle pointing towards `sign` (-1 up or left, +1 down or right) along the bar.
    const auto arrow = [&painter, vertical](const QRect& area, qreal sign) {
        if ((vertical ? area.height() : area.width()) < 6) {
            return;
        }
        const QPointF c = QRectF(area).center();
        QPolygonF shape;
        if (vertical) {
            shape << QPointF(c.x() - 3.5, c.y() - 2 * sign) << QPointF(c.x(), c.y() + 2 * sign) << QPointF(c.x() + 3.5, c.y() - 2 * sign);
        } else {
            shape << QPointF(c.x() - 2 * sign, c.y() - 3.5) << QPointF(c.x() + 2 * sign, c.y()) << QPointF(c.x() - 2 * sign, c.y() + 3.5);
        }
        painter.drawPolygon(shape);
    };
    arrow(up, -1);
    arrow(down, 1);

    if (maximum() > minimum()) {
        QColor thumb = isSliderDown() ? QColor::fromRgb(kAccentColour) : (underMouse() ? QColor(0x5E, 0x69, 0x77) : QColor(0x48, 0x51, 0x5D));
        painter.setBrush(thumb);
        painter.drawRoundedRect(inset(ThumbRect()), 4, 4);
    }
}

}  // namespace tarvex::ui
