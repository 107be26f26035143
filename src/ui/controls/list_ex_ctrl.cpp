#include "ui/controls/list_ex_ctrl.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include "ui/controls/header_ex_ctrl.h"
#include "ui/controls/scrollbar_ctrl.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"

namespace tarvex::ui {
namespace {

constexpr int kRowHeight = 22;
const QColor kRowEven{0x1B, 0x1E, 0x24};
const QColor kRowOdd{0x21, 0x25, 0x2C};
const QColor kRowText{0xD2, 0xD8, 0xE0};

// Paints a cell: the row's shade, the selection and the text; no focus frame, no grid.
class ListExDelegate : public QStyledItemDelegate {
public:
    explicit ListExDelegate(CListExCtrl* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        painter->save();
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        painter->fillRect(option.rect, index.row() % 2 == 0 ? kRowEven : kRowOdd);
        if (selected) {
            QColor glow = QColor::fromRgb(kAccentColour);
            glow.setAlpha(64);
            painter->fillRect(option.rect, glow);
            if (index.column() == 0) {
                painter->fillRect(QRect(option.rect.left(), option.rect.top(), 3, option.rect.height()), QColor::fromRgb(kAccentColour));
            }
        }
        // A hairline between rows keeps long lists readable.
        painter->setPen(QColor(255, 255, 255, 10));
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->setFont(option.font);
        painter->setPen(selected ? QColor(255, 255, 255) : list_->ColumnTextColor(index.column()));
        const QRect text = option.rect.adjusted(6, 0, -6, 0);
        const QString value = index.data(Qt::DisplayRole).toString();
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                          painter->fontMetrics().elidedText(value, Qt::ElideRight, text.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kRowHeight);
        return size;
    }

private:
    CListExCtrl* list_;
};

}  // namespace

CListExCtrl::CListExCtrl(QWidget* parent, int controlId)
    : QTableWidget(parent), header_(new CHeaderExCtrl(this)), vertical_(new CScrollbarCtrl(this)) {
    if (controlId != 0) {
        setObjectName(QString::number(controlId));
    }
    setHorizontalHeader(header_);
    setVerticalScrollBar(vertical_);
    setHorizontalScrollBar(new CScrollbarCtrl(this, Qt::Horizontal));
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setItemDelegate(new ListExDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFont(SkinFont(9));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, kRowEven);
    palette.setColor(QPalette::Window, kRowEven);
    setPalette(palette);
    viewport()->setAutoFillBackground(true);
}

int CListExCtrl::InsertColumn(int index, const QString& title, int width) {
    const int at = (index < 0 || index > columnCount()) ? columnCount() : index;
    insertColumn(at);
    setHorizontalHeaderItem(at, new QTableWidgetItem(title));
    setColumnWidth(at, width);
    columnColours_.insert(columnColours_.begin() + at, kRowText);
    return at;
}

QString CListExCtrl::ColumnTitle(int column) const {
    const QTableWidgetItem* item = horizontalHeaderItem(column);
    return item != nullptr ? item->text() : QString();
}

int CListExCtrl::InsertItem(int row, const QString& text) {
    if (columnCount() == 0) {
        return -1;
    }
    const int at = (row < 0 || row > rowCount()) ? rowCount() : row;
    insertRow(at);
    setItem(at, 0, new QTableWidgetItem(text));
    return at;
}

bool CListExCtrl::SetItemText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        return false;
    }
    QTableWidgetItem* cell = item(row, column);
    if (cell == nullptr) {
        setItem(row, column, new QTableWidgetItem(text));
    } else {
        cell->setText(text);
    }
    return true;
}

QString CListExCtrl::GetItemText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

void CListExCtrl::DeleteAllItems() { setRowCount(0); }

void CListExCtrl::SetColumnTextColor(int column, QColor colour) {
    if (column >= 0 && column < static_cast<int>(columnColours_.size())) {
        columnColours_[static_cast<size_t>(column)] = colour;
        viewport()->update();
    }
}

QColor CListExCtrl::ColumnTextColor(int column) const {
    return column >= 0 && column < static_cast<int>(columnColours_.size()) ? columnColours_[static_cast<size_t>(column)] : kRowText;
}

}  // namespace tarvex::ui
