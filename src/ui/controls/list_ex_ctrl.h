#pragma once
// CListExCtrl: an owner-drawn report list: columns with titles and widths, rows of texts, dark
// rows with alternate shading, full-row selection in the accent, the skinned header
// (CHeaderExCtrl) and skinned scroll bars (CScrollbarCtrl). Texts are shown, never edited.
#include <QColor>
#include <QTableWidget>
#include <vector>

namespace tarvex::ui {

class CHeaderExCtrl;
class CScrollbarCtrl;

class CListExCtrl : public QTableWidget {
    Q_OBJECT
public:
    explicit CListExCtrl(QWidget* parent = nullptr, int controlId = 0);

    // Inserts a column before `index` (at the end when out of range); returns its index.
    int InsertColumn(int index, const QString& title, int width);
    [[nodiscard]] int GetColumnCount() const { return columnCount(); }
    [[nodiscard]] QString ColumnTitle(int column) const;
    [[nodiscard]] int GetColumnWidth(int column) const { return columnWidth(column); }

    // Inserts a row before `row` (at the end when out of range) with `text` in its first
    // column; returns its index, or -1 when the list has no column yet.
    int InsertItem(int row, const QString& text);
    // False when the row or the column does not exist.
    bool SetItemText(int row, int column, const QString& text);
    [[nodiscard]] QString GetItemText(int row, int column) const;
    [[nodiscard]] int GetItemCount() const { return rowCount(); }
    void DeleteAllItems();

    // Texts of one column in their own colour (a value column); the others are light grey.
    void SetColumnTextColor(int column, QColor colour);
    [[nodiscard]] QColor ColumnTextColor(int column) const;

    [[nodiscard]] CHeaderExCtrl* Header() const { return header_; }
    [[nodiscard]] CScrollbarCtrl* VerticalBar() const { return vertical_; }

private:
    CHeaderExCtrl* header_;
    CScrollbarCtrl* vertical_;
    std::vector<QColor> columnColours_;
};

}  // namespace tarvex::ui
