#include "ui/controls/bitmap_ctrl.h"

#include <QPainter>

#include "ui/controls/bmp_btn_ctrl.h"

namespace tarvex::ui {

CBitmapCtrl::CBitmapCtrl(QWidget* parent, int controlId) : QWidget(parent) {
    if (controlId != 0) {
        setObjectName(QString::number(controlId));
    }
    setAttribute(Qt::WA_TranslucentBackground);
}

bool CBitmapCtrl::LoadBitmaps(const std::vector<int>& resourceIds) {
    states_.clear();
    bool all = true;
    for (int id : resourceIds) {
        states_.push_back(TransparentSkinBitmap(id));
        all = all && !states_.back().isNull();
    }
    if (!states_.empty() && !states_.front().isNull()) {
        resize(states_.front().size());
    }
    update();
    return all;
}

void CBitmapCtrl::SetState(int state) {
    if (state >= 0 && state < StateCount()) {
        state_ = state;
        update();
    }
}

void CBitmapCtrl::paintEvent(QPaintEvent*) {
    if (state_ < StateCount() && !states_[state_].isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, states_[state_]);
    }
}

}  // namespace tarvex::ui
