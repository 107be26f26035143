#pragma once
// CBitmapCtrl: a picture from bitmap resources that shows one of several states (a health
// icon, a temperature icon). The key colour is transparent.
#include <QPixmap>
#include <QWidget>
#include <vector>

namespace tarvex::ui {

class CBitmapCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CBitmapCtrl(QWidget* parent = nullptr, int controlId = 0);

    // One picture per state; the control takes the first one's size. False when one is missing.
    bool LoadBitmaps(const std::vector<int>& resourceIds);
    void SetState(int state);
    [[nodiscard]] int State() const { return state_; }
    [[nodiscard]] int StateCount() const { return static_cast<int>(states_.size()); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<QPixmap> states_;
    int state_ = 0;
};

}  // namespace tarvex::ui
