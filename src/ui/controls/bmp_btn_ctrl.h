#pragma once
// CBmpBtnCtrl: a button drawn from bitmap resources, with a normal, a pressed, a hover and a
// disabled face (a face without its own bitmap is derived from the normal one). Pixels of the
// key colour are transparent. The button can keep the pressed look while released, as the
// page buttons and drive tabs do for the current page and drive, and take the hover look on
// request (a drive tab that has the keyboard focus).
#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QPixmap>

namespace tarvex::ui {

class CBmpBtnCtrl : public QAbstractButton {
    Q_OBJECT
public:
    explicit CBmpBtnCtrl(QWidget* parent = nullptr, int controlId = 0);

    // Faces from bitmap resources (0: none); the button takes the normal face's size. False
    // when the normal face cannot be loaded.
    bool LoadBitmaps(int normal, int pressed = 0, int hover = 0, int disabled = 0);

    void SetTextFont(const QFont& font);
    void SetTextColors(QColor normal, QColor pressed, QColor disabled);
    // Where the text goes and how it is aligned (the whole button, centred, by default).
    void SetTextPlace(QRect place, Qt::Alignment alignment);
    [[nodiscard]] const QFont& TextFont() const { return font_; }
    [[nodiscard]] QRect TextPlace() const { return textPlace_.isValid() ? textPlace_ : rect(); }

    // The pressed look while the button is up.
    void SetPressedLook(bool pressed);
    [[nodiscard]] bool PressedLook() const { return pressedLook_; }
    // The hover look without the mouse over it; cleared when the mouse leaves or the button
    // is redrawn released.
    void SetHoverLook(bool hover);
    [[nodiscard]] bool HoverLook() const { return hoverLook_ || underMouse_; }

    // Which face is shown now: 0 normal, 1 pressed, 2 hover, 3 disabled.
    [[nodiscard]] int Face() const;

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPixmap faces_[4];
    QFont font_;
    QRect textPlace_;
    Qt::Alignment textAlignment_ = Qt::AlignCenter;
    QColor textColors_[3] = {QColor(255, 255, 255), QColor(255, 255, 255), QColor(128, 128, 128)};
    bool pressedLook_ = false;
    bool hoverLook_ = false;
    bool underMouse_ = false;
};

// A picture from a resource with the key colour made transparent; null when missing.
QPixmap TransparentSkinBitmap(int resourceId);

}  // namespace tarvex::ui
