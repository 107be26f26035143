#include "ui/controls/bitmap_slider.h"

#include <QPainter>
#include <algorithm>

#include "ui/controls/bmp_btn_ctrl.h"

namespace tarvex::ui {

CBitmapSlider::CBitmapSlider(QWidget* parent, int controlId) : QWidget(parent) {
    if (controlId != 0) {
        setObjectName(QString::number(controlId));
    }
    setAttribute(Qt::WA_TranslucentBackground);
}

bool CBitmapSlider::LoadBitmaps(int background, int fill) {
    background_ = TransparentSkinBitmap(background);
    fill_ = TransparentSkinBitmap(fill);
    if (!background_.isNull()) {
        resize(background_.size());
    }
    update();
    return !background_.isNull() && !fill_.isNull();
}

void CBitmapSlider::SetRange(int low, int high) {
    low_ = low;
    high_ = std::max(low, high);
    SetPos(position_);
}

void CBitmapSlider::SetPos(int position) {
    position_ = std::clamp(position, low_, high_);
    update();
}

int CBitmapSlider::FillWidth() const {
    const int width = fill_.isNull() ? this->width() : std::min(fill_.width(), this->width());
    if (high_ == low_) {
        return 0;
    }
    // In 64 bits: a wide range times a width would overflow an int.
    const long long shown = (static_cast<long long>(position_) - low_) * width / (static_cast<long long>(high_) - low_);
    return static_cast<int>(shown);
}

QSize CBitmapSlider::sizeHint() const { return background_.isNull() ? QSize(230, 22) : background_.size(); }

void CBitmapSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!background_.isNull()) {
        painter.drawPixmap(0, 0, background_);
    }
    const int shown = FillWidth();
    if (!fill_.isNull() && shown > 0) {
        painter.drawPixmap(QRect(0, 0, shown, fill_.height()), fill_, QRect(0, 0, shown, fill_.height()));
    }
}

}  // namespace tarvex::ui
