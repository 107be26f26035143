#include "ui/controls/skin.h"

#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QProcessEnvironment>
#include <QRadialGradient>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <set>

#include "ui/controls/skin_backgrounds.h"
#include "ui/controls/skin_paint.h"

namespace tarvex::ui {
namespace {

using art::Face;
using art::Glyph;

enum class Art {
    Window, PageBackground, Popup, PageButton, DriveTab, TitleStrip, Arrow, Round, Close,
    TextButton, Spin, CheckBox, GaugeTrack, GaugeFill, DrivePicture, CaptionPlate,
    WrittenIcon, Thermometer, HealthBadge,
};

// Where a picture is shown: the background it lies on and its place there. Its soft edges are
// blended with the background's colour at that place.
struct Backdrop {
    int id;
    int x;
    int y;
};

struct SkinEntry {
    int id;
    int width;
    int height;
    Art art;
    Face face = Face::Normal;
    Glyph glyph = Glyph::Drive;
    int variant = 0;  // fill colour, temperature band, health state, check state
    Backdrop backdrop = {0, 0, 0};
};

constexpr Backdrop kOnColumn{135, 20, 120};
constexpr Backdrop kOnToolbar{135, 694, 161};
constexpr Backdrop kOnHeader{135, 815, 11};
constexpr Backdrop kOnDriveInfo{177, 32, 178};
constexpr Backdrop kOnSysOpt{187, 21, 250};
constexpr Backdrop kOnUtilities{179, 10, 304};
constexpr Backdrop kOnTrack{174, 0, 0};

constexpr int kGaugeWidth = 230;
constexpr int kGaugeHeight = 22;

// Every bitmap resource of the window and its pages, at the size its place needs.
const SkinEntry kEntries[] = {
    {135, 860, 640, Art::Window},
    {137, 190, 58, Art::PageButton, Face::Normal, Glyph::Drive, 0, kOnColumn},
    {138, 190, 58, Art::PageButton, Face::Pressed, Glyph::Drive, 0, kOnColumn},
    {139, 190, 58, Art::PageButton, Face::Normal, Glyph::Pulse, 0, kOnColumn},
    {140, 190, 58, Art::PageButton, Face::Pressed, Glyph::Pulse, 0, kOnColumn},
    {141, 190, 58, Art::PageButton, Face::Normal, Glyph::Wrench, 0, kOnColumn},
    {142, 190, 58, Art::PageButton, Face::Pressed, Glyph::Wrench, 0, kOnColumn},
    {143, 190, 58, Art::PageButton, Face::Normal, Glyph::Gear, 0, kOnColumn},
    {144, 190, 58, Art::PageButton, Face::Pressed, Glyph::Gear, 0, kOnColumn},
    {145, 190, 58, Art::PageButton, Face::Normal, Glyph::Info, 0, kOnColumn},
    {146, 190, 58, Art::PageButton, Face::Pressed, Glyph::Info, 0, kOnColumn},
    {147, 32, 28, Art::Arrow, Face::Normal, Glyph::ArrowLeft, 0, kOnToolbar},
    {148, 32, 28, Art::Arrow, Face::Pressed, Glyph::ArrowLeft, 0, kOnToolbar},
    {149, 32, 28, Art::Arrow, Face::Disabled, Glyph::ArrowLeft, 0, kOnToolbar},
    {150, 32, 28, Art::Arrow, Face::Normal, Glyph::ArrowRight, 0, kOnToolbar},
    {151, 32, 28, Art::Arrow, Face::Pressed, Glyph::ArrowRight, 0, kOnToolbar},
    {152, 32, 28, Art::Arrow, Face::Disabled, Glyph::ArrowRight, 0, kOnToolbar},
    {153, 34, 34, Art::Round, Face::Normal, Glyph::Refresh, 0, kOnToolbar},
    {154, 34, 34, Art::Round, Face::Pressed, Glyph::Refresh, 0, kOnToolbar},
    {155, 34, 34, Art::Round, Face::Normal, Glyph::House, 0, kOnToolbar},
    {156, 34, 34, Art::Round, Face::Pressed, Glyph::House, 0, kOnToolbar},
    {157, 128, 44, Art::DriveTab, Face::Normal, Glyph::Drive, 0, kOnToolbar},
    {158, 128, 44, Art::DriveTab, Face::Pressed, Glyph::Drive, 0, kOnToolbar},
    {159, 148, 68, Art::DrivePicture, Face::Normal, Glyph::Drive, 0, {177, 272, 5}},
    {160, 136, 24, Art::CaptionPlate, Face::Normal, Glyph::Drive, 0, {177, 273, 122}},
    {161, 420, 30, Art::TitleStrip},
    {162, 34, 34, Art::WrittenIcon, Face::Normal, Glyph::Written, 0, {177, 285, 164}},
    {163, 28, 44, Art::Thermometer, Face::Normal, Glyph::Drive, 0, {177, 440, 155}},
    {164, 28, 44, Art::Thermometer, Face::Normal, Glyph::Drive, 1, {177, 440, 155}},
    {165, 28, 44, Art::Thermometer, Face::Normal, Glyph::Drive, 2, {177, 440, 155}},
    {166, 230, 92, Art::HealthBadge, Face::Normal, Glyph::Check, 0, {177, 34, 292}},
    {167, 230, 92, Art::HealthBadge, Face::Normal, Glyph::Alert, 1, {177, 34, 292}},
    {168, 230, 92, Art::HealthBadge, Face::Normal, Glyph::Cross, 2, {177, 34, 292}},
    {169, 150, 32, Art::TextButton, Face::Normal, Glyph::Drive, 0, {177, 425, 26}},
    {170, 26, 22, Art::Arrow, Face::Normal, Glyph::ArrowLeft, 0, {177, 198, 115}},
    {171, 26, 22, Art::Arrow, Face::Pressed, Glyph::ArrowLeft, 0, {177, 198, 115}},
    {172, 26, 22, Art::Arrow, Face::Normal, Glyph::ArrowRight, 0, {177, 230, 115}},
    {173, 26, 22, Art::Arrow, Face::Pressed, Glyph::ArrowRight, 0, {177, 230, 115}},
    {174, kGaugeWidth, kGaugeHeight, Art::GaugeTrack, Face::Normal, Glyph::Drive, 0, kOnDriveInfo},
    {175, kGaugeWidth, kGaugeHeight, Art::GaugeFill, Face::Normal, Glyph::Drive, 0, kOnTrack},
    {176, kGaugeWidth, kGaugeHeight, Art::GaugeFill, Face::Normal, Glyph::Drive, 1, kOnTrack},
    {177, 620, 430, Art::PageBackground},
    {178, 620, 430, Art::PageBackground},
    {179, 620, 430, Art::PageBackground},
    {180, 620, 430, Art::PageBackground},
    {182, 170, 40, Art::TextButton, Face::Normal, Glyph::Drive, 0, kOnUtilities},
    {183, 26, 22, Art::Arrow, Face::Disabled, Glyph::ArrowLeft, 0, {177, 198, 115}},
    {184, 26, 22, Art::Arrow, Face::Disabled, Glyph::ArrowRight, 0, {177, 230, 115}},
    {187, 620, 430, Art::PageBackground},
    {191, 88, 30, Art::TextButton, Face::Normal, Glyph::Drive, 0, {180, 30, 240}},
    {193, 90, 32, Art::TextButton, Face::Normal, Glyph::Drive, 0, kOnSysOpt},
    {194, 90, 32, Art::TextButton, Face::Pressed, Glyph::Drive, 0, kOnSysOpt},
    {202, 78, 30, Art::TextButton, Face::Pressed, Glyph::Drive, 0, {187, 25, 166}},
    {203, 78, 30, Art::TextButton, Face::Disabled, Glyph::Drive, 0, {187, 25, 166}},
    {207, 650, 446, Art::Popup},
    {231, 78, 30, Art::TextButton, Face::Normal, Glyph::Drive, 0, {187, 25, 166}},
    {233, 20, 20, Art::CheckBox, Face::Normal, Glyph::Check, 1, {180, 25, 357}},
    {234, 20, 20, Art::CheckBox, Face::Normal, Glyph::Check, 0, {180, 25, 357}},
    {235, kGaugeWidth, kGaugeHeight, Art::GaugeFill, Face::Normal, Glyph::Drive, 2, kOnTrack},
    {236, 30, 30, Art::Close, Face::Normal, Glyph::Close, 0, kOnHeader},
    {237, 30, 30, Art::Close, Face::Pressed, Glyph::Close, 0, kOnHeader},
    {238, 18, 16, Art::Spin, Face::Normal, Glyph::ArrowUp, 0, {187, 450, 166}},
    {239, 18, 16, Art::Spin, Face::Pressed, Glyph::ArrowUp, 0, {187, 450, 166}},
    {240, 18, 16, Art::Spin, Face::Normal, Glyph::ArrowDown, 0, {187, 450, 183}},
    {241, 18, 16, Art::Spin, Face::Pressed, Glyph::ArrowDown, 0, {187, 450, 183}},
};

std::mutex missingMutex;
std::set<int> missingIds;
bool missingFromEnvironmentRead = false;

bool IsMarkedMissing(int id) {
    std::lock_guard lock(missingMutex);
    if (!missingFromEnvironmentRead) {
        missingFromEnvironmentRead = true;
        const QString list = QProcessEnvironment::systemEnvironment().value(QStringLiteral("TARVEX_SKIN_MISSING"));
        for (const QString& part : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const int value = part.trimmed().toInt(&ok);
            if (ok) {
                missingIds.insert(value);
            }
        }
    }
    return missingIds.count(id) != 0;
}

const SkinEntry* Find(int id) {
    const auto* it = std::find_if(std::begin(kEntries), std::end(kEntries), [id](const SkinEntry& e) { return e.id == id; });
    return it == std::end(kEntries) ? nullptr : it;
}

QImage Cached(int id);

// The colour of the background a picture lies on, at the centre of its place.
QColor BackdropColour(const SkinEntry& entry) {
    const QImage background = Cached(entry.backdrop.id);
    if (background.isNull()) {
        return art::kPage;
    }
    const QPoint centre(entry.backdrop.x + entry.width / 2, entry.backdrop.y + entry.height / 2);
    const QPoint inside(std::clamp(centre.x(), 0, background.width() - 1), std::clamp(centre.y(), 0, background.height() - 1));
    return background.pixelColor(inside);
}

QColor BandColour(int band) {
    switch (band) {
        case 0: return art::kCold;
        case 1: return art::kNormal;
        default: return art::kHot;
    }
}

QColor HealthColour(int state) {
    switch (state) {
        case 0: return art::kAccent;
        case 1: return art::kAttention;
        default: return art::kHot;
    }
}

// `from` moved towards `to` by `share` (0..1), opaque. Soft effects on a transparent canvas
// are drawn in such blends with the backdrop: a faint translucent pixel would be keyed out.
QColor Mix(const QColor& from, const QColor& to, qreal share) {
    const auto blend = [share](int a, int b) { return static_cast<int>(a + (b - a) * share + 0.5); };
    return QColor(blend(from.red(), to.red()), blend(from.green(), to.green()), blend(from.blue(), to.blue()));
}

void DrawPageButton(QPainter& p, const SkinEntry& e) {
    const QRectF rect(0, 0, e.width, e.height);
    art::DrawButtonFace(p, rect, e.face, 8);
    if (e.face == Face::Pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(art::kAccent);
        p.drawRoundedRect(QRectF(3, 10, 3.5, e.height - 20), 1.75, 1.75);
    }
    // The icon's well, then a hairline between icon and caption (caption area 56..182).
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, e.face == Face::Pressed ? 60 : 45));
    p.drawEllipse(QPointF(30, e.height / 2.0), 19, 19);
    art::DrawGlyph(p, e.glyph, QRectF(16, e.height / 2.0 - 14, 28, 28),
                   e.face == Face::Pressed ? art::kAccent.lighter(120) : art::kGlyph);
    p.setPen(QPen(QColor(255, 255, 255, 18), 1.0));
    p.drawLine(QPointF(52.5, 14), QPointF(52.5, e.height - 14));
}

void DrawDriveTab(QPainter& p, const SkinEntry& e) {
    // Rounded at the top only: the tab stands on the rule of the page frame.
    p.save();
    p.setClipRect(QRectF(0, 0, e.width, e.height));
    art::DrawButtonFace(p, QRectF(0, 0, e.width, e.height + 10), e.face, 7);
    p.restore();
    if (e.face == Face::Pressed) {
        QLinearGradient bar(QPointF(0, 0), QPointF(e.width, 0));
        bar.setColorAt(0, QColor(109, 189, 12, 60));
        bar.setColorAt(0.5, art::kAccent);
        bar.setColorAt(1, QColor(109, 189, 12, 60));
        p.fillRect(QRectF(2, e.height - 3, e.width - 4, 3), bar);
    }
    art::DrawGlyph(p, Glyph::Drive, QRectF(7, e.height / 2.0 - 9, 18, 18),
                   e.face == Face::Pressed ? art::kAccent.lighter(120) : art::kGlyph.darker(120));
}

void DrawGauge(QPainter& p, const SkinEntry& e) {
    const QRectF rect(0.5, 0.5, e.width - 1, e.height - 1);
    const qreal radius = e.height / 2.0 - 0.5;
    if (e.art == Art::GaugeTrack) {
        QLinearGradient well(rect.topLeft(), rect.bottomLeft());
        well.setColorAt(0, QColor(0x0C, 0x0E, 0x12));
        well.setColorAt(1, QColor(0x15, 0x18, 0x1D));
        p.setPen(QPen(QColor(0x33, 0x3A, 0x45), 1.0));
        p.setBrush(well);
        p.drawRoundedRect(rect, radius, radius);
        // Tick marks at each quarter.
        p.setPen(QPen(QColor(255, 255, 255, 18), 1.0));
        for (int k = 1; k < 4; ++k) {
            const qreal x = std::floor(e.width * k / 4.0) + 0.5;
            p.drawLine(QPointF(x, 5), QPointF(x, e.height - 5));
        }
        return;
    }
    QColor top;
    QColor bottom;
    switch (e.variant) {
        case 0: top = QColor(0x4C, 0xD2, 0xFF); bottom = QColor(0x00, 0x7F, 0xC2); break;
        case 1: top = QColor(0x9C, 0xE2, 0x3E); bottom = QColor(0x46, 0x8A, 0x05); break;
        default: top = QColor(0x3E, 0xE0, 0xD0); bottom = QColor(0x01, 0x8E, 0xC8); break;
    }
    const QRectF bar = rect.adjusted(2.5, 2.5, -2.5, -2.5);
    const qreal barRadius = bar.height() / 2.0;
    QLinearGradient fill(bar.topLeft(), bar.bottomLeft());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(bar, barRadius, barRadius);
    if (e.variant == 2) {
        // The progress bar's diagonal stripes.
        QPainterPath clip;
        clip.addRoundedRect(bar, barRadius, barRadius);
        p.save();
        p.setClipPath(clip);
        p.setPen(QPen(QColor(255, 255, 255, 34), 4.0));
        for (qreal x = -e.height; x < e.width + e.height; x += 12) {
            p.drawLine(QPointF(x, e.height), QPointF(x + e.height, 0));
        }
        p.restore();
    }
    // Gloss on the upper half.
    p.setBrush(QColor(255, 255, 255, 46));
    p.drawRoundedRect(QRectF(bar.left() + 3, bar.top() + 1, bar.width() - 6, bar.height() * 0.42), 3, 3);
}

void DrawDrivePicture(QPainter& p, const SkinEntry& e) {
    // A 2.5-inch drive: case, label with the accent stripe, connector and activity light.
    const QColor backdrop = BackdropColour(e);
    QRadialGradient shadow(QPointF(70, 60.5), 64);
    shadow.setColorAt(0, Mix(backdrop, QColor(0, 0, 0), 0.45));
    shadow.setColorAt(1, backdrop);
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(QRectF(6, 54, 128, 13));
    const QRectF body(3.5, 5.5, 130, 52);
    QLinearGradient metal(body.topLeft(), body.bottomRight());
    metal.setColorAt(0, QColor(0x48, 0x51, 0x5E));
    metal.setColorAt(0.5, QColor(0x33, 0x3A, 0x45));
    metal.setColorAt(1, QColor(0x24, 0x29, 0x31));
    p.setPen(QPen(QColor(0x5C, 0x66, 0x73), 1.0));
    p.setBrush(metal);
    p.drawRoundedRect(body, 6, 6);
    const QRectF label(14.5, 14.5, 84, 34);
    QLinearGradient sticker(label.topLeft(), label.bottomLeft());
    sticker.setColorAt(0, QColor(0x1C, 0x20, 0x27));
    sticker.setColorAt(1, QColor(0x11, 0x13, 0x17));
    p.setPen(QPen(QColor(0x14, 0x16, 0x1A), 1.0));
    p.setBrush(sticker);
    p.drawRoundedRect(label, 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(art::kAccent);
    p.drawRect(QRectF(15, 15, 83, 4));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRoundedRect(QRectF(22, 27, 40, 3), 1.5, 1.5);
    p.drawRoundedRect(QRectF(22, 34, 60, 3), 1.5, 1.5);
    p.drawRoundedRect(QRectF(22, 41, 28, 3), 1.5, 1.5);
    // Screws in the corners of the case.
    p.setBrush(QColor(0x1A, 0x1E, 0x24));
    for (const QPointF& c : {QPointF(9, 11), QPointF(128, 11), QPointF(9, 52), QPointF(128, 52)}) {
        p.drawEllipse(c, 2, 2);
    }
    art::DrawGlyph(p, Glyph::Chip, QRectF(104, 20, 22, 22), QColor(0x9A, 0xA4, 0xB0));
    // The SATA connector on the right edge.
    p.setBrush(QColor(0x12, 0x14, 0x18));
    p.drawRoundedRect(QRectF(134, 16, 10, 32), 2, 2);
    p.setBrush(QColor(0xC8, 0xA0, 0x3C));
    for (int k = 0; k < 6; ++k) {
        p.drawRect(QRectF(136, 19 + k * 4.6, 6, 2));
    }
    QRadialGradient led(QPointF(120, 51), 5);
    led.setColorAt(0, art::kValue.lighter(150));
    led.setColorAt(1, QColor(1, 182, 251, 0));
    p.setBrush(led);
    p.drawEllipse(QPointF(120, 51), 5, 5);
}

void DrawHealthBadge(QPainter& p, const SkinEntry& e) {
    const QColor colour = HealthColour(e.variant);
    const QColor backdrop = BackdropColour(e);
    const QPointF centre(46, e.height / 2.0);
    QRadialGradient halo(centre, 44);
    halo.setColorAt(0.55, Mix(backdrop, colour, 0.3));
    halo.setColorAt(1, backdrop);
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(centre, 44, 44);
    p.setBrush(QColor(0x14, 0x17, 0x1C));
    p.setPen(QPen(colour, 3.5));
    p.drawEllipse(centre, 31, 31);
    art::DrawGlyph(p, e.glyph, QRectF(centre.x() - 20, centre.y() - 20, 40, 40), colour.lighter(115));
    // A trace of heartbeats that fades towards the right.
    QLinearGradient fade(QPointF(90, 0), QPointF(e.width - 8, 0));
    fade.setColorAt(0, colour);
    fade.setColorAt(1, Mix(colour, backdrop, 0.8));
    QPen trace(QBrush(fade), 2.2);
    trace.setJoinStyle(Qt::RoundJoin);
    trace.setCapStyle(Qt::RoundCap);
    p.setPen(QPen(Mix(backdrop, QColor(255, 255, 255), 0.06), 1.0));
    for (int k = 0; k < 3; ++k) {
        const qreal y = 26.5 + k * 20;
        p.drawLine(QPointF(92, y), QPointF(e.width - 10, y));
    }
    p.setPen(trace);
    QPolygonF line;
    const qreal y = e.height / 2.0;
    const qreal lift = e.variant == 2 ? 6 : 18;  // a failing drive beats weakly
    line << QPointF(92, y) << QPointF(112, y) << QPointF(118, y - lift) << QPointF(126, y + lift * 0.8)
         << QPointF(132, y) << QPointF(156, y) << QPointF(162, y - lift) << QPointF(170, y + lift * 0.8)
         << QPointF(176, y) << QPointF(e.width - 10.0, y);
    p.drawPolyline(line);
}

void DrawSmallPiece(QPainter& p, const SkinEntry& e) {
    const QRectF rect(0, 0, e.width, e.height);
    switch (e.art) {
        case Art::Arrow: {
            art::DrawButtonFace(p, rect, e.face, e.height > 24 ? 6 : 5);
            const qreal side = e.height - 6;
            art::DrawGlyph(p, e.glyph, QRectF((e.width - side) / 2, 3, side, side), art::GlyphColour(e.face));
            break;
        }
        case Art::Round: {
            art::DrawButtonFace(p, rect, e.face, e.width / 2.0);
            art::DrawGlyph(p, e.glyph, QRectF(7, 7, e.width - 14, e.height - 14), art::GlyphColour(e.face));
            break;
        }
        case Art::Close: {
            if (e.face == Face::Pressed) {
                QRadialGradient red(QPointF(e.width / 2.0, e.height / 2.0 - 3), e.width * 0.7);
                red.setColorAt(0, QColor(0xE8, 0x4A, 0x5F));
                red.setColorAt(1, QColor(0x9E, 0x1E, 0x33));
                p.setPen(QPen(QColor(0xF0, 0x6A, 0x7C), 1.0));
                p.setBrush(red);
                p.drawEllipse(rect.adjusted(0.5, 0.5, -0.5, -0.5));
            } else {
                art::DrawButtonFace(p, rect, Face::Normal, e.width / 2.0);
            }
            art::DrawGlyph(p, Glyph::Close, QRectF(5, 5, e.width - 10, e.height - 10),
                           e.face == Face::Pressed ? QColor(255, 255, 255) : art::kGlyph);
            break;
        }
        case Art::TextButton: art::DrawButtonFace(p, rect, e.face, 6); break;
        case Art::Spin: {
            art::DrawButtonFace(p, rect, e.face, 3);
            art::DrawGlyph(p, e.glyph, QRectF(2, 1, e.width - 4, e.height - 2), art::GlyphColour(e.face));
            break;
        }
        case Art::CheckBox: {
            const QRectF box = rect.adjusted(1.5, 1.5, -1.5, -1.5);
            if (e.variant == 1) {
                QLinearGradient fill(box.topLeft(), box.bottomLeft());
                fill.setColorAt(0, art::kAccent.lighter(115));
                fill.setColorAt(1, art::kAccent.darker(125));
                p.setPen(QPen(art::kAccent.lighter(130), 1.0));
                p.setBrush(fill);
                p.drawRoundedRect(box, 4, 4);
                art::DrawGlyph(p, Glyph::Check, box.adjusted(1, 1, -1, -1), QColor(255, 255, 255));
            } else {
                p.setPen(QPen(QColor(0x5A, 0x64, 0x70), 1.2));
                p.setBrush(QColor(0x12, 0x15, 0x19));
                p.drawRoundedRect(box, 4, 4);
            }
            break;
        }
        case Art::CaptionPlate: {
            QLinearGradient plate(rect.topLeft(), rect.topRight());
            plate.setColorAt(0, QColor(0x2A, 0x31, 0x3B));
            // Fades into the panel it lies on (opaque: a fade to nothing would be cut off
            // where it turns into the key colour).
            plate.setColorAt(1, BackdropColour(e));
            p.setPen(Qt::NoPen);
            p.setBrush(plate);
            p.drawRoundedRect(rect.adjusted(0, 1, 0, -1), 5, 5);
            p.setBrush(art::kAccent);
            p.drawRoundedRect(QRectF(0, 4, 3, e.height - 8), 1.5, 1.5);
            break;
        }
        case Art::WrittenIcon: {
            p.setPen(QPen(QColor(109, 189, 12, 150), 1.5));
            p.setBrush(QColor(0x14, 0x17, 0x1C));
            p.drawEllipse(rect.adjusted(1.5, 1.5, -1.5, -1.5));
            art::DrawGlyph(p, Glyph::Written, rect.adjusted(7, 7, -7, -7), art::kAccent.lighter(110));
            break;
        }
        case Art::Thermometer: {
            const qreal level = e.variant == 0 ? 0.25 : (e.variant == 1 ? 0.55 : 0.92);
            art::DrawThermometer(p, rect, level, BandColour(e.variant));
            break;
        }
        default: break;
    }
}

QImage Draw(const SkinEntry& e) {
    switch (e.art) {
        case Art::Window: return art::DrawWindowBackground(e.width, e.height);
        case Art::PageBackground: return art::DrawPageBackground(e.id, e.width, e.height);
        case Art::Popup: return art::DrawPopupBackground(e.width, e.height);
        case Art::TitleStrip: {
            // The window's own pixels under the title, with an accent rule beneath the text.
            QImage strip = Cached(135).copy(234, 120, e.width, e.height);
            QPainter p(&strip);
            QLinearGradient rule(QPointF(0, 0), QPointF(e.width, 0));
            rule.setColorAt(0, art::kAccent);
            rule.setColorAt(0.6, QColor(109, 189, 12, 60));
            rule.setColorAt(1, QColor(109, 189, 12, 0));
            p.fillRect(QRectF(0, e.height - 2, e.width, 2), rule);
            return strip;
        }
        default: break;
    }
    QImage canvas = art::NewCanvas(e.width, e.height);
    QPainter p;
    art::BeginPainter(p, canvas);
    switch (e.art) {
        case Art::PageButton: DrawPageButton(p, e); break;
        case Art::DriveTab: DrawDriveTab(p, e); break;
        case Art::GaugeTrack:
        case Art::GaugeFill: DrawGauge(p, e); break;
        case Art::DrivePicture: DrawDrivePicture(p, e); break;
        case Art::HealthBadge: DrawHealthBadge(p, e); break;
        default: DrawSmallPiece(p, e); break;
    }
    p.end();
    return art::Flatten(canvas, BackdropColour(e));
}

// Each picture is drawn once, on first use, and kept; pictures are shared read-only between
// threads (QImage copies share their pixels). Drawing runs outside the lock, so a picture may
// use another one (its backdrop) while it is drawn.
std::mutex cacheMutex;
std::map<int, QImage> cache;

QImage Cached(int id) {
    const SkinEntry* entry = Find(id);
    if (entry == nullptr) {
        return {};
    }
    {
        std::lock_guard lock(cacheMutex);
        const auto it = cache.find(id);
        if (it != cache.end()) {
            return it->second;
        }
    }
    QImage drawn = Draw(*entry);
    std::lock_guard lock(cacheMutex);
    // Two threads may have drawn it at once: the first one stored wins, so all callers share it.
    return cache.emplace(id, std::move(drawn)).first->second;
}

}  // namespace

QImage LoadSkinImage(int resourceId) {
    if (Find(resourceId) == nullptr || IsMarkedMissing(resourceId)) {
        return {};
    }
    return Cached(resourceId);
}

QPixmap LoadSkinBitmap(int resourceId) {
    const QImage image = LoadSkinImage(resourceId);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QSize SkinBitmapSize(int resourceId) {
    const SkinEntry* entry = Find(resourceId);
    return entry == nullptr ? QSize() : QSize(entry->width, entry->height);
}

std::vector<int> SkinResourceIds() {
    std::vector<int> ids;
    for (const SkinEntry& entry : kEntries) {
        ids.push_back(entry.id);
    }
    return ids;
}

void SetMissingSkinBitmaps(std::vector<int> ids) {
    std::lock_guard lock(missingMutex);
    missingFromEnvironmentRead = true;
    missingIds = std::set<int>(ids.begin(), ids.end());
}

QRegion RegionWithoutKeyColour(const QImage& image) {
    // Rows are added top to bottom and runs left to right, the banded order QRegion keeps.
    QList<QRect> runs;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        int x = 0;
        while (x < rgb.width()) {
            while (x < rgb.width() && (row[x] | 0xFF000000) == kKeyColour) {
                ++x;
            }
            const int start = x;
            while (x < rgb.width() && (row[x] | 0xFF000000) != kKeyColour) {
                ++x;
            }
            if (x > start) {
                runs.append(QRect(start, y, x - start, 1));
            }
        }
    }
    QRegion region;
    region.setRects(runs.constData(), static_cast<int>(runs.size()));
    return region;
}

}  // namespace tarvex::ui
