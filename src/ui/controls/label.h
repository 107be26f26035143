#pragma once
// CLabel: a text on the page's background, in its own colour and font, clipped to its
// rectangle (a 20-pixel label shows the first line of a text that has two).
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace tarvex::ui {

class CLabel : public QWidget {
    Q_OBJECT
public:
    explicit CLabel(QWidget* parent = nullptr, int controlId = 0);

    void SetText(const QString& text);
    [[nodiscard]] QString Text() const { return text_; }
    void SetTextColor(QColor colour);
    [[nodiscard]] QColor TextColor() const { return colour_; }
    void SetFontName(const QString& face);
    void SetFontSize(int pointSize);
    void SetFontBold(bool bold);
    [[nodiscard]] QFont LabelFont() const;
    // A picture drawn under the text (the main window's title label); none by default.
    void SetBackground(const QPixmap& picture);
    // Qt::AlignLeft | Qt::AlignTop by default.
    void SetAlignment(Qt::Alignment alignment);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor colour_{0, 0, 0};
    QString face_;
    int pointSize_ = 9;
    bool bold_ = false;
    QPixmap background_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignTop;
};

}  // namespace tarvex::ui
