#include "ui/pages/korvane_page.h"

#include <QPainter>
#include <QResizeEvent>

#include "app/messages.h"
#include "ui/controls/skin.h"

namespace tarvex::ui {

CKorvanePage::CKorvanePage(int templateId, int backgroundId, QString caption, QWidget* parent)
    : QWidget(parent), templateId_(templateId), backgroundId_(backgroundId), caption_(std::move(caption)) {
    setObjectName(QString::number(templateId));
    setAccessibleName(caption_);
}

void CKorvanePage::InitPage() {
    background_ = LoadSkinBitmap(backgroundId_);
    if (background_.isNull()) {
        ShowMessage(u"Error Loading Bitmap!!");
    }
    // Each page lays its controls out at the point of its own initialisation that needs it.
    OnInitDialog();
    initialised_ = true;
}

int CKorvanePage::OperationKindOf(intptr_t) const { return 0; }
int CKorvanePage::ResultOf(intptr_t) const { return 0; }
void CKorvanePage::OnProgress(int, intptr_t, int) {}

void CKorvanePage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!background_.isNull()) {
        painter.drawPixmap(0, 0, background_);
    }
}

void CKorvanePage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The controls move only while the page fills its parent; otherwise they stay put.
    if (initialised_ && parentWidget() != nullptr && rect() == parentWidget()->rect()) {
        Layout();
    }
}

}  // namespace tarvex::ui
