#pragma once
// CEditTrans: an edit box drawn on the page's background: no box of its own, the text in the
// value colour and the program's font, with a thin rule under it that lights up in the accent
// while the box has the focus.
#include <QColor>
#include <QLineEdit>

namespace tarvex::ui {

class CEditTrans : public QLineEdit {
    Q_OBJECT
public:
    explicit CEditTrans(QWidget* parent = nullptr, int controlId = 0);

    void SetTextColor(QColor colour);
    [[nodiscard]] QColor TextColor() const { return colour_; }
    void SetFontSize(int pointSize, bool bold = false);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ApplyColours();

    QColor colour_;
};

}  // namespace tarvex::ui
