#pragma once
// CHeaderExCtrl: the column header of the skinned report list: a dark bar with the titles in
// white bold type, hairline separators between the columns and the accent along its foot.
#include <QHeaderView>

namespace tarvex::ui {

class CHeaderExCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CHeaderExCtrl(QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tarvex::ui
