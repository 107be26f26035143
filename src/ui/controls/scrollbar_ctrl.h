#pragma once
// CScrollbarCtrl: the skinned scroll bar of the report list (vertical, and horizontal for a
// list wider than its window): a dark groove, a rounded thumb that takes the accent while it is
// dragged, and small arrow marks at both ends. The
// style still decides where the parts lie, so clicks and drags behave as on any scroll bar.
#include <QScrollBar>

namespace tarvex::ui {

class CScrollbarCtrl : public QScrollBar {
    Q_OBJECT
public:
    explicit CScrollbarCtrl(QWidget* parent = nullptr, Qt::Orientation orientation = Qt::Vertical);

    // Where the thumb is drawn now, in the bar's coordinates.
    [[nodiscard]] QRect ThumbRect() const;
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tarvex::ui
