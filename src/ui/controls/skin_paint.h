#pragma once
// Drawing helpers of the artwork: the palette, button faces, panels, the logo and the vector
// glyphs. Everything is drawn on an ARGB canvas with anti-aliasing and then flattened onto the
// colour the picture will sit on, so that its soft edges match that backdrop and what lies
// outside its shape takes the key colour.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

namespace tarvex::ui::art {

// The palette of the dark look.
inline const QColor kWindowTop{0x1D, 0x21, 0x28};
inline const QColor kWindowBottom{0x14, 0x17, 0x1C};
inline const QColor kColumn{0x17, 0x1A, 0x1F};
inline const QColor kPage{0x1B, 0x1F, 0x25};
inline const QColor kPanel{0x21, 0x26, 0x2E};
inline const QColor kPanelBorder{0x30, 0x37, 0x42};
inline const QColor kLine{0x2A, 0x30, 0x39};
inline const QColor kGlyph{0xB4, 0xBE, 0xCA};
inline const QColor kGlyphDisabled{0x4C, 0x52, 0x5B};
inline const QColor kAccent{109, 189, 12};
inline const QColor kValue{1, 182, 251};
inline const QColor kCold{86, 209, 255};
inline const QColor kNormal{158, 226, 116};
inline const QColor kHot{255, 81, 110};
inline const QColor kAttention{255, 176, 32};

enum class Glyph {
    Drive, Pulse, Wrench, Gear, Chip, Info, Refresh, House, Close, ArrowLeft, ArrowRight,
    ArrowUp, ArrowDown, Check, Alert, Cross, Written, Shield, LifeRing,
};

enum class Face { Normal, Pressed, Disabled };

// A transparent ARGB canvas of the given size.
QImage NewCanvas(int width, int height);
// The canvas laid over `backdrop`; pixels it leaves (almost) uncovered take the key colour.
QImage Flatten(const QImage& canvas, QColor backdrop);

// A painter on `canvas` with anti-aliasing on.
void BeginPainter(QPainter& painter, QImage& canvas);

// A glyph drawn in a 24 x 24 design grid scaled into `box`.
void DrawGlyph(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& colour);

// The body of a button: rounded, with a soft top light; pressed faces carry the accent edge
// and a glow, disabled ones are flat and dim.
void DrawButtonFace(QPainter& painter, const QRectF& rect, Face face, qreal radius);
// The colour a glyph takes on a face.
QColor GlyphColour(Face face);

// A raised panel with a hairline border, on which a page groups its controls.
void DrawPanel(QPainter& painter, const QRectF& rect, qreal radius = 8);
// The short accent mark that stands left of a section title.
void DrawTitleMark(QPainter& painter, QPointF topLeft, qreal height = 14);

// The program's logo: an emblem and the word "Tarvex", `height` pixels tall.
void DrawLogo(QPainter& painter, QPointF topLeft, qreal height);

// A thermometer filled to `level` (0..1) in `colour`.
void DrawThermometer(QPainter& painter, const QRectF& box, qreal level, const QColor& colour);

}  // namespace tarvex::ui::art
