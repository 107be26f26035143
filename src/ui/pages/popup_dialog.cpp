#include "ui/pages/popup_dialog.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTableWidgetItem>
#include <algorithm>

#include "app/messages.h"
#include "app/trace.h"
#include "drives/drive_table.h"
#include "platform/text.h"
#include "sysinfo/system_info.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/controls/list_ex_ctrl.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/page_texts.h"

namespace tarvex::ui {
namespace {

constexpr QSize kPopupSize(650, 446);
constexpr QRect kHeaderPlace(15, 40, 620, 55);
constexpr QRect kListPlace(15, 95, 620, 335);
constexpr QPoint kClosePlace(605, 4);
const QColor kHeaderText(0xE6, 0xEA, 0xF0);
const QColor kBodyFallback(0x1B, 0x1E, 0x24);
// The delegate of the list keeps this much space on each side of a cell's text.
constexpr int kCellPadding = 12;

}  // namespace

CPopupDialog::CPopupDialog(int mode, int driveIndex, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), mode_(mode), driveIndex_(driveIndex) {
    setObjectName(QStringLiteral("183"));
    header_ = new CLabel(this, kHeaderId);
    list_ = new CListExCtrl(this, kListId);
    close_ = new CBmpBtnCtrl(this, kCloseId);
    connect(close_, &QAbstractButton::clicked, this, &QDialog::accept);
    // The SMART name tables are constant data of the program, so there is nothing to rebuild
    // before the attribute names are looked up.
    OnInitDialog();
}

int CPopupDialog::DoModal() { return exec(); }

void CPopupDialog::OnInitDialog() {
    InitBitmapsAndShape();
    PlaceWindow();
    InitHeaderText();
    InitColumns();
    InitRows();
}

void CPopupDialog::InitBitmapsAndShape() {
    close_->LoadBitmaps(236, 237);
    const QImage image = LoadSkinImage(kBackgroundId);
    if (image.isNull()) {
        Trace("Error loading bitmap!");
        (void)ShowMessage(u"Error loading bitmap");
        // Without its picture the popup keeps its size and a plain background, so the list
        // stays usable.
        resize(kPopupSize);
        return;
    }
    background_ = QPixmap::fromImage(image);
    resize(image.size());
    setMask(RegionWithoutKeyColour(image));
}

void CPopupDialog::PlaceWindow() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    header_->setGeometry(kHeaderPlace);
    list_->setGeometry(kListPlace);
    close_->move(kClosePlace);
}

std::vector<PopupController> CPopupDialog::StorageControllers() {
    std::vector<PopupController> controllers;
    for (const HbaInfo& hba : GlobalSystemInfo().HbaList) {
        PopupController c;
        c.name = std::u16string(platform::FixedText(hba.Name));
        c.classCode = std::u16string(platform::FixedText(hba.ClassCode));
        c.driverVersion = std::u16string(platform::FixedText(hba.DriverVersion));
        c.driverProvider = std::u16string(platform::FixedText(hba.DriverProvider));
        // Only the slots in use, and only those that matched a disk.
        const int count = std::clamp(hba.AttachedDeviceCount, 0, kHbaDeviceSlots);
        for (int i = 0; i < count; ++i) {
            const int disk = hba.AttachedDevices[i].PhysicalDriveIndex;
            if (disk >= 0) {
                c.diskNumbers.push_back(disk);
            }
        }
        controllers.push_back(std::move(c));
    }
    return controllers;
}

void CPopupDialog::InitHeaderText() {
    // The record is copied here, once: the popup never goes back to the drive.
    const auto& table = PhysicalDriveTable();
    if (driveIndex_ >= 0 && static_cast<size_t>(driveIndex_) < table.size()) {
        record_ = table[static_cast<size_t>(driveIndex_)];
    }
    header_->SetFontName(SkinFontFace());
    header_->SetFontSize(9);
    header_->SetTextColor(kHeaderText);
    // Centred in its panel: one line in mode 2, up to three in mode 1.
    header_->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const std::vector<PopupController> controllers = StorageControllers();
    header_->SetText(ToQString(PopupHeaderText(mode_, record_, controllers)));
}

void CPopupDialog::InitColumns() {
    int index = 0;
    for (const DetailColumn& column : PopupColumns(mode_, record_)) {
        list_->InsertColumn(index++, ToQString(column.text), column.width);
    }
}

void CPopupDialog::InitRows() {
    const std::vector<DetailRow> rows = PopupRows(mode_, record_);
    const QFontMetrics metrics(list_->font());
    const int columns = list_->GetColumnCount();
    list_->setUpdatesEnabled(false);
    for (const DetailRow& row : rows) {
        if (row.cells.empty()) {
            continue;
        }
        const int at = list_->InsertItem(list_->GetItemCount(), ToQString(row.cells[0]));
        if (at < 0) {
            break;
        }
        for (int c = 1; c < columns && static_cast<size_t>(c) < row.cells.size(); ++c) {
            (void)list_->SetItemText(at, c, ToQString(row.cells[static_cast<size_t>(c)]));
        }
        // A text the column cuts short can still be read whole from its tooltip.
        for (int c = 0; c < columns; ++c) {
            QTableWidgetItem* cell = list_->item(at, c);
            if (cell != nullptr && metrics.horizontalAdvance(cell->text()) > list_->GetColumnWidth(c) - kCellPadding) {
                cell->setToolTip(cell->text());
            }
        }
    }
    list_->setUpdatesEnabled(true);
}

void CPopupDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!background_.isNull()) {
        painter.drawPixmap(0, 0, background_);
    } else {
        painter.fillRect(rect(), kBodyFallback);
    }
}

void CPopupDialog::mousePressEvent(QMouseEvent* event) {
    // A press anywhere on the background moves the window, as a press on a caption would.
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CPopupDialog::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CPopupDialog::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QDialog::mouseReleaseEvent(event);
}

}  // namespace tarvex::ui
