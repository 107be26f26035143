#include "ui/controls/bmp_btn_ctrl.h"

#include <QEnterEvent>
#include <QPainter>

#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"

namespace tarvex::ui {

QPixmap TransparentSkinBitmap(int resourceId) {
    QImage image = LoadSkinImage(resourceId);
    if (image.isNull()) {
        return {};
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] | 0xFF000000) == kKeyColour) {
                row[x] = 0;
            }
        }
    }
    return QPixmap::fromImage(image);
}

CBmpBtnCtrl::CBmpBtnCtrl(QWidget* parent, int controlId) : QAbstractButton(parent), font_(SkinFont(11)) {
    if (controlId != 0) {
        setObjectName(QString::number(controlId));
    }
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

bool CBmpBtnCtrl::LoadBitmaps(int normal, int pressed, int hover, int disabled) {
    const int ids[4] = {normal, pressed, hover, disabled};
    for (int i = 0; i < 4; ++i) {
        faces_[i] = ids[i] != 0 ? TransparentSkinBitmap(ids[i]) : QPixmap();
    }
    if (!faces_[0].isNull()) {
        resize(faces_[0].size());
    }
    update();
    return !faces_[0].isNull();
}

void CBmpBtnCtrl::SetTextFont(const QFont& font) {
    font_ = font;
    update();
}

void CBmpBtnCtrl::SetTextColors(QColor normal, QColor pressed, QColor disabled) {
    textColors_[0] = normal;
    textColors_[1] = pressed;
    textColors_[2] = disabled;
    update();
}

void CBmpBtnCtrl::SetTextPlace(QRect place, Qt::Alignment alignment) {
    textPlace_ = place;
    textAlignment_ = alignment;
    update();
}

void CBmpBtnCtrl::SetPressedLook(bool pressed) {
    pressedLook_ = pressed;
    if (!pressed) {
        hoverLook_ = false;
    }
    update();
}

void CBmpBtnCtrl::SetHoverLook(bool hover) {
    hoverLook_ = hover;
    update();
}

int CBmpBtnCtrl::Face() const {
    if (!isEnabled()) {
        return 3;
    }
    if (isDown() || pressedLook_) {
        return 1;
    }
    if (HoverLook()) {
        return 2;
    }
    return 0;
}

QSize CBmpBtnCtrl::sizeHint() const { return faces_[0].isNull() ? QSize(80, 30) : faces_[0].size(); }

void CBmpBtnCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int face = Face();
    const QPixmap& own = faces_[face];
    const QPixmap& picture = own.isNull() ? (face == 1 && !faces_[2].isNull() ? faces_[2] : faces_[0]) : own;
    if (!picture.isNull()) {
        painter.drawPixmap(0, 0, picture);
    }
    if (own.isNull() && face == 2) {
        // No hover bitmap: the normal face, lit.
        painter.fillRect(rect(), QColor(255, 255, 255, 28));
    } else if (own.isNull() && face == 3) {
        painter.fillRect(rect(), QColor(0, 0, 0, 110));
    } else if (own.isNull() && face == 1) {
        painter.fillRect(rect(), QColor(109, 189, 12, 60));
    }
    if (!text().isEmpty()) {
        painter.setFont(font_);
        painter.setPen(textColors_[face == 3 ? 2 : (face == 1 ? 1 : 0)]);
        const QRect place = textPlace_.isValid() ? textPlace_ : rect();
        painter.drawText(place, static_cast<int>(textAlignment_) | Qt::TextWordWrap, text());
    }
}

void CBmpBtnCtrl::enterEvent(QEnterEvent* event) {
    underMouse_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CBmpBtnCtrl::leaveEvent(QEvent* event) {
    underMouse_ = false;
    hoverLook_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace tarvex::ui
