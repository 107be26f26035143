#include "ui/app_icon.h"

#include <QPainter>
#include <QPixmap>

#include "ui/controls/skin.h"

namespace tarvex::ui {

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap picture(size, size);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x26, 0x2B, 0x33));
        painter.drawRoundedRect(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88), s * 0.18, s * 0.18);
        // A drive body with its connector and the accent light.
        painter.setBrush(QColor::fromRgb(kValueColour));
        painter.drawRoundedRect(QRectF(s * 0.2, s * 0.3, s * 0.6, s * 0.4), s * 0.06, s * 0.06);
        painter.setBrush(QColor(0x1B, 0x1E, 0x24));
        painter.drawRect(QRectF(s * 0.28, s * 0.62, s * 0.44, s * 0.04));
        painter.setBrush(QColor::fromRgb(kAccentColour));
        painter.drawEllipse(QRectF(s * 0.62, s * 0.38, s * 0.1, s * 0.1));
        icon.addPixmap(picture);
    }
    return icon;
}

}  // namespace tarvex::ui
