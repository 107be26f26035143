#include "ui/controls/skin.h"

#include <QPainter>
#include <QProcessEnvironment>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <mutex>
#include <set>

namespace tarvex::ui {
namespace {

struct SkinEntry {
    int id;
    int width;
    int height;
    QRgb fill;
};

// Resource ids and the sizes the layout gives them.
constexpr SkinEntry kEntries[] = {
    {135, 860, 640, 0xFF1B1E24},  // main window background
    {137, 190, 58, 0xFF262B33},   {138, 190, 58, 0xFF33404D},  // page buttons: normal, pressed
    {139, 190, 58, 0xFF262B33},   {140, 190, 58, 0xFF33404D},
    {141, 190, 58, 0xFF262B33},   {142, 190, 58, 0xFF33404D},
    {143, 190, 58, 0xFF262B33},   {144, 190, 58, 0xFF33404D},
    {145, 190, 58, 0xFF262B33},   {146, 190, 58, 0xFF33404D},
    {147, 32, 28, 0xFF2C313A},    {148, 32, 28, 0xFF3A4450},   {149, 32, 28, 0xFF202329},
    {150, 32, 28, 0xFF2C313A},    {151, 32, 28, 0xFF3A4450},   {152, 32, 28, 0xFF202329},
    {153, 34, 34, 0xFF2C313A},    {154, 34, 34, 0xFF3A4450},
    {155, 34, 34, 0xFF2C313A},    {156, 34, 34, 0xFF3A4450},
    {157, 128, 44, 0xFF262B33},   {158, 128, 44, 0xFF33404D},  // drive tab: released, pressed
    {161, 420, 30, 0xFF1B1E24},   // title label
    {177, 620, 430, 0xFF20242B},  // page backgrounds
    {178, 620, 430, 0xFF20242B},  {179, 620, 430, 0xFF20242B}, {187, 620, 430, 0xFF20242B},
    {236, 30, 30, 0xFF2C313A},    {237, 30, 30, 0xFF8A2A35},   // close
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

QImage Draw(const SkinEntry& entry) {
    QImage image(entry.width, entry.height, QImage::Format_RGB32);
    image.fill(entry.fill);
    QPainter painter(&image);
    if (entry.id == 135) {
        // Rounded corners: what lies outside them takes the key colour and is cut away.
        image.fill(kKeyColour);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgb(entry.fill));
        painter.drawRoundedRect(QRect(0, 0, entry.width, entry.height), 14, 14);
    } else {
        painter.setPen(QColor(0x3A, 0x42, 0x4E));
        painter.drawRect(0, 0, entry.width - 1, entry.height - 1);
    }
    return image;
}

}  // namespace

QImage LoadSkinImage(int resourceId) {
    const SkinEntry* entry = Find(resourceId);
    if (entry == nullptr || IsMarkedMissing(resourceId)) {
        return {};
    }
    return Draw(*entry);
}

QPixmap LoadSkinBitmap(int resourceId) {
    const QImage image = LoadSkinImage(resourceId);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QSize SkinBitmapSize(int resourceId) {
    const SkinEntry* entry = Find(resourceId);
    return entry == nullptr ? QSize() : QSize(entry->width, entry->height);
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
