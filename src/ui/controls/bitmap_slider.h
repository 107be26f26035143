#pragma once
// CBitmapSlider: a gauge drawn from two bitmap resources, a background and a fill. The fill is
// shown from the left edge up to the share of the range the position stands at; the usage and
// life gauges of the Drive Info page and the skinned progress bars are such gauges.
#include <QPixmap>
#include <QWidget>

namespace tarvex::ui {

class CBitmapSlider : public QWidget {
    Q_OBJECT
public:
    explicit CBitmapSlider(QWidget* parent = nullptr, int controlId = 0);

    // The control takes the background's size. False when either picture cannot be loaded.
    bool LoadBitmaps(int background, int fill);

    // An empty or reversed range is taken as the single value `low`.
    void SetRange(int low, int high);
    [[nodiscard]] int RangeMin() const { return low_; }
    [[nodiscard]] int RangeMax() const { return high_; }
    // The position is held inside the range.
    void SetPos(int position);
    [[nodiscard]] int GetPos() const { return position_; }

    // How many pixels of the fill are shown at the current position.
    [[nodiscard]] int FillWidth() const;
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap background_;
    QPixmap fill_;
    int low_ = 0;
    int high_ = 100;
    int position_ = 0;
};

}  // namespace tarvex::ui
