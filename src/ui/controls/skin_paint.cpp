#include "ui/controls/skin_paint.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "ui/controls/skin.h"

namespace tarvex::ui::art {
namespace {

QPen StrokePen(const QColor& colour, qreal width) {
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QPainterPath ShieldPath() {
    QPainterPath path;
    path.moveTo(12, 2.5);
    path.lineTo(20, 5.5);
    path.lineTo(20, 11.5);
    path.cubicTo(20, 16.5, 16.5, 20, 12, 21.5);
    path.cubicTo(7.5, 20, 4, 16.5, 4, 11.5);
    path.lineTo(4, 5.5);
    path.closeSubpath();
    return path;
}

QPainterPath GearPath() {
    QPainterPath gear;
    constexpr int kTeeth = 8;
    const qreal pi = std::numbers::pi;
    QPolygonF outline;
    for (int i = 0; i < kTeeth * 4; ++i) {
        // Each tooth: rise, top, fall, valley, as four points around the circle.
        const qreal angle = (i - 0.5) * 2 * pi / (kTeeth * 4);
        const qreal radius = (i % 4 == 0 || i % 4 == 1) ? 10.5 : 7.6;
        outline << QPointF(12 + radius * std::cos(angle), 12 + radius * std::sin(angle));
    }
    gear.addPolygon(outline);
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(QPointF(12, 12), 3.4, 3.4);
    return gear.subtracted(hole);
}

void DrawRefresh(QPainter& p, const QColor& colour) {
    const qreal pi = std::numbers::pi;
    const QPointF centre(12, 12);
    const qreal radius = 7.5;
    QPainterPath arc;
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(circle, 50);
    arc.arcTo(circle, 50, 280);
    p.setPen(StrokePen(colour, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    // The head sits at the start of the arc and points the way the arrow turns (clockwise).
    const qreal a = 50 * pi / 180;
    const QPointF tip0(centre.x() + radius * std::cos(a), centre.y() - radius * std::sin(a));
    const QPointF tangent(std::sin(a), std::cos(a));
    const QPointF normal(std::cos(a), -std::sin(a));
    QPolygonF head;
    head << tip0 + tangent * 4.2 << tip0 + normal * 3.6 - tangent * 0.6 << tip0 - normal * 3.6 - tangent * 0.6;
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(head);
}

}  // namespace

QImage NewCanvas(int width, int height) {
    QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    return canvas;
}

QImage Flatten(const QImage& canvas, QColor backdrop) {
    QImage out(canvas.size(), QImage::Format_RGB32);
    out.fill(backdrop);
    {
        QPainter painter(&out);
        painter.drawImage(0, 0, canvas);
    }
    const QImage source = canvas.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        const auto* alpha = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if (qAlpha(alpha[x]) < 96) {
                row[x] = kKeyColour;
            } else if ((row[x] | 0xFF000000) == kKeyColour) {
                // A drawn pixel that happens to have the key colour would vanish: nudge it.
                row[x] = 0xFF818100;
            }
        }
    }
    return out;
}

void BeginPainter(QPainter& painter, QImage& canvas) {
    painter.begin(&canvas);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QColor GlyphColour(Face face) {
    switch (face) {
        case Face::Pressed: return QColor(0xF2, 0xF8, 0xEA);
        case Face::Disabled: return kGlyphDisabled;
        case Face::Normal: break;
    }
    return kGlyph;
}

void DrawGlyph(QPainter& p, Glyph glyph, const QRectF& box, const QColor& colour) {
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 24.0, box.height() / 24.0);
    p.setPen(StrokePen(colour, 2.0));
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
        case Glyph::Drive: {
            p.drawRoundedRect(QRectF(2.5, 5.5, 19, 13), 2.5, 2.5);
            p.drawLine(QPointF(2.5, 13.5), QPointF(21.5, 13.5));
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawEllipse(QPointF(18, 16), 1.2, 1.2);
            p.drawRoundedRect(QRectF(5, 8, 7, 2.2), 1, 1);
            break;
        }
        case Glyph::Pulse: {
            p.setPen(StrokePen(colour, 1.6));
            p.drawEllipse(QPointF(12, 12), 10, 10);
            p.setPen(StrokePen(colour, 2.0));
            QPolygonF line;
            line << QPointF(4.5, 12.5) << QPointF(8, 12.5) << QPointF(10, 7.5) << QPointF(13, 17)
                 << QPointF(15, 10.5) << QPointF(16.5, 12.5) << QPointF(19.5, 12.5);
            p.drawPolyline(line);
            break;
        }
        case Glyph::Wrench: {
            QPainterPath head;
            head.addEllipse(QPointF(15.5, 8.5), 5.5, 5.5);
            QPainterPath jaw;
            jaw.addRect(QRectF(13.9, 0.5, 3.2, 8));
            jaw = QTransform().translate(15.5, 8.5).rotate(45).translate(-15.5, -8.5).map(jaw);
            QPainterPath handle;
            QPolygonF bar;
            bar << QPointF(13.2, 9.3) << QPointF(15.3, 11.4) << QPointF(6.6, 20.1) << QPointF(4.5, 18);
            handle.addPolygon(bar);
            handle.closeSubpath();
            QPainterPath end;
            end.addEllipse(QPointF(5.55, 19.05), 1.5, 1.5);
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawPath(head.united(handle).united(end).subtracted(jaw));
            break;
        }
        case Glyph::Gear: {
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawPath(GearPath());
            break;
        }
        case Glyph::Chip: {
            p.drawRoundedRect(QRectF(6, 6, 12, 12), 1.8, 1.8);
            p.setPen(StrokePen(colour, 1.6));
            for (qreal k : {9.0, 12.0, 15.0}) {
                p.drawLine(QPointF(k, 2.5), QPointF(k, 5));
                p.drawLine(QPointF(k, 19), QPointF(k, 21.5));
                p.drawLine(QPointF(2.5, k), QPointF(5, k));
                p.drawLine(QPointF(19, k), QPointF(21.5, k));
            }
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRect(QRectF(9.5, 9.5, 5, 5));
            break;
        }
        case Glyph::Info: {
            p.setPen(StrokePen(colour, 1.8));
            p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
            p.setPen(StrokePen(colour, 2.4));
            p.drawLine(QPointF(12, 11), QPointF(12, 17));
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawEllipse(QPointF(12, 7.2), 1.5, 1.5);
            break;
        }
        case Glyph::Refresh: DrawRefresh(p, colour); break;
        case Glyph::House: {
            QPolygonF roof;
            roof << QPointF(3, 12) << QPointF(12, 4) << QPointF(21, 12);
            p.drawPolyline(roof);
            QPolygonF body;
            body << QPointF(6, 10.5) << QPointF(6, 20) << QPointF(18, 20) << QPointF(18, 10.5);
            p.drawPolyline(body);
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRoundedRect(QRectF(10.2, 14, 3.6, 6), 0.8, 0.8);
            break;
        }
        case Glyph::Close:
        case Glyph::Cross: {
            p.setPen(StrokePen(colour, glyph == Glyph::Cross ? 3.0 : 2.2));
            p.drawLine(QPointF(6.5, 6.5), QPointF(17.5, 17.5));
            p.drawLine(QPointF(17.5, 6.5), QPointF(6.5, 17.5));
            break;
        }
        case Glyph::ArrowLeft:
        case Glyph::ArrowRight: {
            p.setPen(StrokePen(colour, 2.6));
            QPolygonF chevron;
            if (glyph == Glyph::ArrowLeft) {
                chevron << QPointF(14.5, 5.5) << QPointF(8, 12) << QPointF(14.5, 18.5);
            } else {
                chevron << QPointF(9.5, 5.5) << QPointF(16, 12) << QPointF(9.5, 18.5);
            }
            p.drawPolyline(chevron);
            break;
        }
        case Glyph::ArrowUp:
        case Glyph::ArrowDown: {
            QPolygonF triangle;
            if (glyph == Glyph::ArrowUp) {
                triangle << QPointF(5, 16) << QPointF(12, 7) << QPointF(19, 16);
            } else {
                triangle << QPointF(5, 8) << QPointF(12, 17) << QPointF(19, 8);
            }
            p.setPen(StrokePen(colour, 1.0));
            p.setBrush(colour);
            p.drawPolygon(triangle);
            break;
        }
        case Glyph::Check: {
            p.setPen(StrokePen(colour, 3.0));
            QPolygonF tick;
            tick << QPointF(5, 12.5) << QPointF(10, 17.5) << QPointF(19.5, 7);
            p.drawPolyline(tick);
            break;
        }
        case Glyph::Alert: {
            QPolygonF triangle;
            triangle << QPointF(12, 3) << QPointF(22, 20.5) << QPointF(2, 20.5);
            p.setPen(StrokePen(colour, 2.0));
            p.drawPolygon(triangle);
            p.setPen(StrokePen(colour, 2.6));
            p.drawLine(QPointF(12, 9.5), QPointF(12, 14));
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawEllipse(QPointF(12, 17.3), 1.5, 1.5);
            break;
        }
        case Glyph::Written: {
            p.setPen(StrokePen(colour, 2.2));
            p.drawLine(QPointF(12, 3), QPointF(12, 13.5));
            QPolygonF head;
            head << QPointF(7.5, 9.5) << QPointF(12, 14) << QPointF(16.5, 9.5);
            p.drawPolyline(head);
            QPolygonF tray;
            tray << QPointF(3.5, 14) << QPointF(3.5, 20) << QPointF(20.5, 20) << QPointF(20.5, 14);
            p.drawPolyline(tray);
            break;
        }
        case Glyph::Shield: {
            p.setPen(StrokePen(colour, 2.0));
            p.drawPath(ShieldPath());
            break;
        }
        case Glyph::LifeRing: {
            p.setPen(StrokePen(colour, 1.6));
            p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
            p.drawEllipse(QPointF(12, 12), 4.5, 4.5);
            p.setPen(StrokePen(colour, 3.4));
            for (int k = 0; k < 4; ++k) {
                const qreal a = (45 + 90 * k) * std::numbers::pi / 180;
                p.drawLine(QPointF(12 + 5.5 * std::cos(a), 12 + 5.5 * std::sin(a)),
                           QPointF(12 + 8.6 * std::cos(a), 12 + 8.6 * std::sin(a)));
            }
            break;
        }
    }
    p.restore();
}

void DrawButtonFace(QPainter& p, const QRectF& rect, Face face, qreal radius) {
    p.save();
    const QRectF body = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    QColor border;
    switch (face) {
        case Face::Normal:
            fill.setColorAt(0, QColor(0x2E, 0x35, 0x40));
            fill.setColorAt(1, QColor(0x22, 0x27, 0x2F));
            border = QColor(0x3C, 0x45, 0x52);
            break;
        case Face::Pressed:
            fill.setColorAt(0, QColor(0x2A, 0x36, 0x24));
            fill.setColorAt(1, QColor(0x1B, 0x23, 0x18));
            border = kAccent;
            break;
        case Face::Disabled:
            fill.setColorAt(0, QColor(0x21, 0x24, 0x29));
            fill.setColorAt(1, QColor(0x1C, 0x1F, 0x23));
            border = QColor(0x2B, 0x2F, 0x35);
            break;
    }
    p.setPen(QPen(border, 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(body, radius, radius);
    if (face == Face::Pressed) {
        // The glow: the accent rising from the bottom edge, fading upwards.
        QRadialGradient glow(QPointF(body.center().x(), body.bottom()), body.width() * 0.6);
        QColor strong = kAccent;
        strong.setAlpha(70);
        QColor none = kAccent;
        none.setAlpha(0);
        glow.setColorAt(0, strong);
        glow.setColorAt(1, none);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawRoundedRect(body.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
    if (face != Face::Disabled && body.width() > 2 * radius + 4) {
        // A hairline of light under the top edge (round faces have no straight top for it).
        p.setPen(QPen(QColor(255, 255, 255, face == Face::Pressed ? 22 : 30), 1.0));
        p.drawLine(QPointF(body.left() + radius, body.top() + 1.5), QPointF(body.right() - radius, body.top() + 1.5));
    }
    p.restore();
}

void DrawPanel(QPainter& p, const QRectF& rect, qreal radius) {
    p.save();
    const QRectF body = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, kPanel);
    fill.setColorAt(1, kPanel.darker(112));
    p.setPen(QPen(kPanelBorder, 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(body, radius, radius);
    p.setPen(QPen(QColor(255, 255, 255, 14), 1.0));
    p.drawLine(QPointF(body.left() + radius, body.top() + 1.5), QPointF(body.right() - radius, body.top() + 1.5));
    p.restore();
}

void DrawTitleMark(QPainter& p, QPointF topLeft, qreal height) {
    p.save();
    QLinearGradient fill(topLeft, topLeft + QPointF(0, height));
    fill.setColorAt(0, kAccent.lighter(115));
    fill.setColorAt(1, kAccent.darker(130));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(topLeft, QSizeF(3, height)), 1.5, 1.5);
    p.restore();
}

void DrawLogo(QPainter& p, QPointF topLeft, qreal height) {
    p.save();
    p.translate(topLeft);
    const qreal s = height / 48.0;
    p.scale(s, s);
    // The emblem: a rounded hexagon, a drive's cell, with a rising stroke in it.
    QPolygonF hexagon;
    for (int k = 0; k < 6; ++k) {
        const qreal a = (60 * k - 90) * std::numbers::pi / 180;
        hexagon << QPointF(24 + 22 * std::cos(a), 24 + 22 * std::sin(a));
    }
    QLinearGradient emblem(QPointF(0, 0), QPointF(48, 48));
    emblem.setColorAt(0, kAccent.lighter(125));
    emblem.setColorAt(1, QColor(0x2F, 0x6E, 0x08));
    p.setPen(QPen(kAccent.lighter(140), 1.2));
    p.setBrush(emblem);
    p.drawPolygon(hexagon);
    p.setPen(StrokePen(QColor(0x10, 0x16, 0x0C), 4.6));
    QPolygonF stroke;
    stroke << QPointF(13, 30) << QPointF(20, 23) << QPointF(26, 28) << QPointF(35, 17);
    p.drawPolyline(stroke);
    p.setPen(StrokePen(QColor(255, 255, 255), 2.6));
    p.drawPolyline(stroke);

    // The word, drawn as an outline so that it looks the same on every system.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(34);
    font.setWeight(QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    QPainterPath word;
    word.addText(QPointF(60, 37), font, QStringLiteral("Tarvex"));
    QLinearGradient text(QPointF(0, 8), QPointF(0, 40));
    text.setColorAt(0, QColor(255, 255, 255));
    text.setColorAt(1, QColor(0xC9, 0xD1, 0xDB));
    p.setPen(Qt::NoPen);
    p.setBrush(text);
    p.drawPath(word);
    // An accent underline beneath the last letters.
    const QRectF bounds = word.boundingRect();
    QLinearGradient line(QPointF(bounds.left(), 0), QPointF(bounds.right(), 0));
    QColor clear = kAccent;
    clear.setAlpha(0);
    line.setColorAt(0, clear);
    line.setColorAt(1, kAccent);
    p.setBrush(line);
    p.drawRoundedRect(QRectF(bounds.left(), 43, bounds.width(), 2.5), 1.2, 1.2);
    p.restore();
}

void DrawThermometer(QPainter& p, const QRectF& box, qreal level, const QColor& colour) {
    p.save();
    const qreal cx = box.center().x();
    const qreal bulbRadius = box.width() * 0.30;
    const qreal tube = box.width() * 0.30;
    const QPointF bulb(cx, box.bottom() - bulbRadius - 1.5);
    const qreal top = box.top() + 2;
    // Tube and bulb overlap: the winding rule keeps the overlap filled.
    QPainterPath glass;
    glass.setFillRule(Qt::WindingFill);
    glass.addRoundedRect(QRectF(cx - tube / 2, top, tube, bulb.y() - top), tube / 2, tube / 2);
    glass.addEllipse(bulb, bulbRadius, bulbRadius);
    glass = glass.simplified();
    p.setPen(QPen(QColor(0x8A, 0x95, 0xA3), 1.4));
    p.setBrush(QColor(0x12, 0x15, 0x1A));
    p.drawPath(glass);
    // The column of liquid, from the bulb up to the level.
    const qreal inner = tube - 4;
    const qreal columnTop = bulb.y() - (bulb.y() - top - 3) * std::clamp(level, 0.0, 1.0);
    QPainterPath liquid;
    liquid.setFillRule(Qt::WindingFill);
    liquid.addRoundedRect(QRectF(cx - inner / 2, columnTop, inner, bulb.y() - columnTop), inner / 2, inner / 2);
    liquid.addEllipse(bulb, bulbRadius - 2.2, bulbRadius - 2.2);
    p.setPen(Qt::NoPen);
    QRadialGradient shine(bulb - QPointF(1.5, 1.5), bulbRadius * 1.4);
    shine.setColorAt(0, colour.lighter(135));
    shine.setColorAt(1, colour);
    p.setBrush(shine);
    p.drawPath(liquid.simplified());
    // Scale marks on the right of the tube.
    p.setPen(QPen(QColor(0x6A, 0x74, 0x80), 1.0));
    for (int k = 0; k < 4; ++k) {
        const qreal y = top + 4 + k * (bulb.y() - bulbRadius - top - 6) / 3.0;
        p.drawLine(QPointF(cx + tube / 2 + 2, y), QPointF(cx + tube / 2 + 5, y));
    }
    p.restore();
}

}  // namespace tarvex::ui::art
