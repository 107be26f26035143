#include "ui/controls/skin_backgrounds.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "ui/controls/skin.h"
#include "ui/controls/skin_paint.h"

namespace tarvex::ui::art {
namespace {

const QColor kBody{0x16, 0x19, 0x1E};

QColor Transparent(QColor colour, int alpha) {
    colour.setAlpha(alpha);
    return colour;
}

// The rounded outline of a shaped window, filled without anti-aliasing so that every pixel is
// either the body or the key colour and the cut edge stays clean.
QPainterPath OuterShape(int width, int height, qreal radius) {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0, 0, width, height), radius, radius);
    return shape;
}

void FillShape(QImage& image, const QPainterPath& shape, QColor colour) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(shape);
}

// A faint glyph behind the controls, giving a page its theme.
void DrawWatermark(QPainter& painter, Glyph glyph, const QRectF& box) {
    // Solid glyphs cover more surface than outlined ones: they get a fainter tone.
    const bool solid = glyph == Glyph::Gear || glyph == Glyph::Drive;
    DrawGlyph(painter, glyph, box, QColor(255, 255, 255, solid ? 4 : 11));
}

void DrawPageBase(QPainter& painter, int width, int height) {
    QLinearGradient base(QPointF(0, 0), QPointF(0, height));
    base.setColorAt(0, kPage.lighter(104));
    base.setColorAt(1, kPage.darker(106));
    painter.fillRect(QRect(0, 0, width, height), base);
}

void DrawDriveInfoPage(QPainter& p) {
    DrawPanel(p, QRectF(16, 74, 588, 166));
    DrawPanel(p, QRectF(16, 246, 268, 178));
    DrawPanel(p, QRectF(288, 246, 316, 178));
    // Partition part and drive figures part of the upper panel.
    p.setPen(QPen(kLine, 1.0));
    p.drawLine(QPointF(266.5, 112), QPointF(266.5, 226));
    DrawTitleMark(p, QPointF(21, 84));
    DrawTitleMark(p, QPointF(21, 254));
    DrawTitleMark(p, QPointF(292, 254));
    DrawWatermark(p, Glyph::LifeRing, QRectF(318, 332, 70, 70));
}

void DrawSystemInfoPage(QPainter& p) {
    DrawPanel(p, QRectF(6, 16, 608, 250));
    // The column line between captions and values.
    p.setPen(QPen(kLine, 1.0));
    p.drawLine(QPointF(205.5, 28), QPointF(205.5, 254));
    DrawWatermark(p, Glyph::Chip, QRectF(500, 300, 100, 100));
}

void DrawUtilitiesPage(QPainter& p) {
    DrawTitleMark(p, QPointF(20, 11));
    DrawPanel(p, QRectF(18, 38, 584, 232));
    DrawPanel(p, QRectF(4, 290, 612, 134));
    DrawWatermark(p, Glyph::Shield, QRectF(510, 60, 80, 80));
}

void DrawDiagnosticsPage(QPainter& p) {
    DrawTitleMark(p, QPointF(13, 13));
    DrawTitleMark(p, QPointF(282, 13));
    DrawTitleMark(p, QPointF(13, 298));
    DrawPanel(p, QRectF(12, 36, 262, 242));
    DrawPanel(p, QRectF(282, 36, 326, 242));
    DrawPanel(p, QRectF(12, 322, 596, 102));
    DrawWatermark(p, Glyph::Pulse, QRectF(540, 210, 56, 56));
}

void DrawSysOptimizationPage(QPainter& p) {
    DrawTitleMark(p, QPointF(13, 13));
    DrawTitleMark(p, QPointF(13, 225));
    DrawPanel(p, QRectF(12, 38, 276, 166));
    DrawPanel(p, QRectF(12, 244, 596, 182));
    DrawWatermark(p, Glyph::Gear, QRectF(430, 50, 140, 140));
}

}  // namespace

QImage DrawWindowBackground(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kKeyColour);
    const QPainterPath shape = OuterShape(width, height, 16);
    FillShape(image, shape, kBody);

    QPainter p(&image);
    p.setClipPath(shape);
    p.setRenderHint(QPainter::Antialiasing, true);
    // The header strip, with a soft green light behind the logo.
    QLinearGradient header(QPointF(0, 0), QPointF(0, kHeaderHeight));
    header.setColorAt(0, QColor(0x26, 0x2C, 0x36));
    header.setColorAt(1, QColor(0x1B, 0x1F, 0x26));
    p.fillRect(QRect(0, 0, width, kHeaderHeight), header);
    QRadialGradient light(QPointF(70, 52), 190);
    light.setColorAt(0, Transparent(kAccent, 34));
    light.setColorAt(1, Transparent(kAccent, 0));
    p.fillRect(QRect(0, 0, 420, kHeaderHeight), light);
    p.setPen(QPen(QColor(0x2E, 0x35, 0x40), 1.0));
    p.drawLine(QPointF(0, kHeaderHeight + 0.5), QPointF(width, kHeaderHeight + 0.5));
    p.setPen(QPen(QColor(255, 255, 255, 16), 1.0));
    p.drawLine(QPointF(16, 1.5), QPointF(width - 16, 1.5));
    DrawLogo(p, QPointF(22, 30), 48);

    // The left column that holds the page buttons.
    const QRectF column(0, kHeaderHeight + 1, kColumnWidth, height - kHeaderHeight - 1);
    p.fillRect(column, kColumn);
    p.setPen(QPen(QColor(0x26, 0x2C, 0x35), 1.0));
    p.drawLine(QPointF(kColumnWidth + 0.5, kHeaderHeight + 1), QPointF(kColumnWidth + 0.5, height));
    DrawGlyph(p, Glyph::Drive, QRectF(69, 540, 80, 80), QColor(255, 255, 255, 6));

    // The frame the property sheet sits in, with a faint halo, and the page area behind it.
    const QRectF frame(kSheetX - 3.5, kSheetY - 3.5, 620 + 7, 430 + 7);
    for (int k = 3; k >= 1; --k) {
        p.setPen(QPen(Transparent(kAccent, 6 * (4 - k)), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(frame.adjusted(-k, -k, k, k), 8 + k, 8 + k);
    }
    p.setPen(QPen(QColor(0x31, 0x39, 0x44), 1.0));
    p.setBrush(kPage);
    p.drawRoundedRect(frame, 8, 8);
    // The rule under the drive tabs, brighter where the tabs stand.
    QLinearGradient rule(QPointF(kSheetX, 0), QPointF(kSheetX + 620, 0));
    rule.setColorAt(0, Transparent(kAccent, 0));
    rule.setColorAt(0.15, Transparent(kAccent, 90));
    rule.setColorAt(0.65, Transparent(kAccent, 40));
    rule.setColorAt(1, Transparent(kAccent, 0));
    p.setPen(QPen(QBrush(rule), 1.0));
    p.drawLine(QPointF(kSheetX + 4, kSheetY - 3.5), QPointF(kSheetX + 616, kSheetY - 3.5));
    return image;
}

QImage DrawPageBackground(int resourceId, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    DrawPageBase(p, width, height);
    switch (resourceId) {
        case 177: DrawDriveInfoPage(p); break;
        case 178: DrawSystemInfoPage(p); break;
        case 179: DrawUtilitiesPage(p); break;
        case 180: DrawDiagnosticsPage(p); break;
        case 187: DrawSysOptimizationPage(p); break;
        default: break;
    }
    return image;
}

QImage DrawPopupBackground(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kKeyColour);
    const QPainterPath shape = OuterShape(width, height, 14);
    FillShape(image, shape, kBody);
    QPainter p(&image);
    p.setClipPath(shape);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient header(QPointF(0, 0), QPointF(0, 38));
    header.setColorAt(0, QColor(0x26, 0x2C, 0x36));
    header.setColorAt(1, QColor(0x1B, 0x1F, 0x26));
    p.fillRect(QRect(0, 0, width, 38), header);
    p.setPen(QPen(QColor(0x2E, 0x35, 0x40), 1.0));
    p.drawLine(QPointF(0, 38.5), QPointF(width, 38.5));
    DrawLogo(p, QPointF(14, 7), 24);
    // The header label's place and the list's frame.
    DrawPanel(p, QRectF(12, 41, width - 24, 52), 6);
    p.setPen(QPen(QColor(0x31, 0x39, 0x44), 1.0));
    p.setBrush(QColor(0x19, 0x1C, 0x21));
    p.drawRoundedRect(QRectF(13.5, 93.5, width - 27, 339), 4, 4);
    return image;
}

}  // namespace tarvex::ui::art
