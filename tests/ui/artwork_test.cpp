// The artwork: every resource the window and its pages use exists at a size that fits its
// place, places do not collide, the window's shape keeps its body and cuts its corners, and
// pictures are drawn once and shared between threads. It also saves a contact sheet and the
// main window and pages put together, for a person to look at.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <thread>
#include <vector>

#include "ui/controls/skin.h"

using namespace tarvex::ui;

namespace {

// Where each picture is shown: on which background, at which top-left corner.
struct Place {
    int id;
    int background;
    int x;
    int y;
    const char* what;
};

constexpr int W = 860;

// The main window's controls (pictures of their normal face).
const Place kWindowPlaces[] = {
    {137, 135, 20, 120, "page button 1000"},  {139, 135, 20, 186, "page button 1001"},
    {141, 135, 20, 252, "page button 1002"},  {143, 135, 20, 318, "page button 1003"},
    {145, 135, 20, 384, "page button 1004"},  {145, 135, 20, 450, "page button 1013"},
    {157, 135, 235, 152, "drive tab 1005"},   {157, 135, 368, 152, "drive tab 1006"},
    {157, 135, 501, 152, "drive tab 1007"},   {147, 135, W - 166, 161, "previous 1008"},
    {150, 135, W - 128, 161, "next 1009"},    {153, 135, W - 90, 158, "refresh 1010"},
    {155, 135, W - 52, 158, "home 1011"},     {236, 135, W - 45, 11, "close 2"},
    {161, 135, 234, 120, "title 1012"},       {177, 135, 228, 200, "property sheet 600"},
};

const Place kDriveInfoPlaces[] = {
    {159, 177, 272, 5, "picture 1020"},      {169, 177, 425, 26, "Drive Details 1018"},
    {169, 177, 425, 358, "SMART Details 1041"}, {170, 177, 198, 115, "previous partition 1024"},
    {172, 177, 230, 115, "next partition 1025"}, {174, 177, 32, 178, "usage gauge 1027"},
    {160, 177, 273, 122, "icon 1028"},      {162, 177, 285, 164, "icon 1030"},
    {160, 177, 418, 122, "icon 1032"},      {163, 177, 440, 155, "temperature 1034"},
    {166, 177, 34, 292, "health 1038"},     {174, 177, 303, 292, "life gauge 1039"},
};

const Place kUtilitiesPlaces[] = {
    {231, 179, 35, 225, "Run 1041"},          {182, 179, 10, 304, "Firmware Update 1058"},
    {182, 179, 195, 304, "Upgrade 1059"},     {182, 179, 380, 304, "Export Log 1060"},
    {182, 179, 380, 364, "Decrypt Log 1062"},
};

const Place kSysOptPlaces[] = {
    {174, 187, 24, 140, "progress 1127"},  {231, 187, 25, 166, "Run 1041"},
    {193, 187, 21, 250, "Basic 1104"},     {193, 187, 117, 250, "Advance 1105"},
    {231, 187, 86, 361, "Restore 1108"},   {231, 187, 170, 361, "Apply 1109"},
    {234, 187, 290, 166, "schedule 1118"}, {238, 187, 450, 166, "up 1123"},
    {240, 187, 450, 183, "down 1124"},
};

const Place kDiagnosticsPlaces[] = {
    {174, 180, 21, 210, "quick bar 1119"}, {174, 180, 301, 210, "full bar 1120"},
    {191, 180, 30, 240, "Run 1041"},       {191, 180, 125, 240, "Cancel 1072"},
    {191, 180, 300, 240, "Run 1073"},      {191, 180, 395, 240, "Cancel 1074"},
    {234, 180, 25, 357, "service 1116"},   {191, 180, 225, 362, "Apply 1131"},
    {191, 180, 437, 362, "Apply 1132"},
};

const Place kAtaSummaryPlaces[] = {
    {182, 178, 35, 325, "Check ATA CMD 1130"},
};

QRect PlaceRect(const Place& place) { return QRect(QPoint(place.x, place.y), SkinBitmapSize(place.id)); }

// Every place lies inside its background, and no two places of one surface overlap.
void CheckPlaces(const Place* begin, const Place* end) {
    for (const Place* a = begin; a != end; ++a) {
        const QRect rect = PlaceRect(*a);
        QVERIFY2(!rect.isEmpty(), a->what);
        QVERIFY2(QRect(QPoint(0, 0), SkinBitmapSize(a->background)).contains(rect), a->what);
        for (const Place* b = a + 1; b != end; ++b) {
            QVERIFY2(!rect.intersects(PlaceRect(*b)), qPrintable(QStringLiteral("%1 overlaps %2").arg(a->what, b->what)));
        }
    }
}

QImage Compose(int background, const Place* begin, const Place* end) {
    QImage surface = LoadSkinImage(background).convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&surface);
    for (const Place* place = begin; place != end; ++place) {
        QImage picture = LoadSkinImage(place->id).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < picture.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                if ((row[x] | 0xFF000000) == kKeyColour) {
                    row[x] = 0;
                }
            }
        }
        painter.drawImage(place->x, place->y, picture);
    }
    return surface;
}

QString ArtefactDir() {
    const QString dir = qEnvironmentVariable("TARVEX_UI_ARTEFACTS", QDir::tempPath() + QStringLiteral("/tarvex-ui"));
    QDir().mkpath(dir);
    return dir;
}

}  // namespace

class ArtworkTest : public QObject {
    Q_OBJECT
private slots:
    void EveryNamedResourceLoads() {
        // The first use draws everything: printed, so that a slow picture shows (not asserted).
        QElapsedTimer timer;
        timer.start();
        for (int id : SkinResourceIds()) {
            QVERIFY(!LoadSkinImage(id).isNull());
        }
        qInfo("first drawing of all pictures: %lld ms", static_cast<long long>(timer.elapsed()));
        std::vector<int> named = {135, 177, 178, 179, 182, 183, 184, 187, 191, 193, 194, 202, 203, 207, 231};
        for (int id = 137; id <= 176; ++id) {
            named.push_back(id);
        }
        for (int id = 233; id <= 241; ++id) {
            named.push_back(id);
        }
        for (int id : named) {
            const QImage image = LoadSkinImage(id);
            QVERIFY2(!image.isNull(), qPrintable(QString::number(id)));
            QCOMPARE(image.size(), SkinBitmapSize(id));
        }
        QCOMPARE(SkinBitmapSize(135), QSize(860, 640));
        QCOMPARE(SkinBitmapSize(177), QSize(620, 430));
        // The faces of one control share one size, or the control would jump between states.
        const std::vector<std::vector<int>> families = {
            {137, 138, 139, 140, 141, 142, 143, 144, 145, 146}, {147, 148, 149, 150, 151, 152},
            {153, 154, 155, 156}, {157, 158}, {163, 164, 165}, {166, 167, 168}, {170, 171, 183, 172, 173, 184},
            {174, 175, 176, 235}, {177, 178, 179, 180, 187}, {193, 194}, {231, 202, 203}, {233, 234},
            {236, 237}, {238, 239, 240, 241}};
        for (const auto& family : families) {
            for (int id : family) {
                QVERIFY2(SkinBitmapSize(id) == SkinBitmapSize(family.front()), qPrintable(QString::number(id)));
            }
        }
        const std::vector<int> all = SkinResourceIds();
        QVERIFY(std::is_sorted(all.begin(), all.end()));
        QVERIFY(std::adjacent_find(all.begin(), all.end()) == all.end());
    }

    void PlacesFitTheirBackgroundsAndDoNotOverlap() {
        CheckPlaces(std::begin(kWindowPlaces), std::end(kWindowPlaces));
        CheckPlaces(std::begin(kDriveInfoPlaces), std::end(kDriveInfoPlaces));
        CheckPlaces(std::begin(kUtilitiesPlaces), std::end(kUtilitiesPlaces));
        CheckPlaces(std::begin(kSysOptPlaces), std::end(kSysOptPlaces));
        CheckPlaces(std::begin(kDiagnosticsPlaces), std::end(kDiagnosticsPlaces));
        CheckPlaces(std::begin(kAtaSummaryPlaces), std::end(kAtaSummaryPlaces));
        // The page buttons leave their caption area (56..182 of the face) inside the face, and
        // the column they stand in ends before the property sheet.
        QVERIFY(SkinBitmapSize(137).width() >= 182);
        QVERIFY(20 + SkinBitmapSize(137).width() < 228);
        // The title and the drive tabs stand above the sheet.
        QVERIFY(120 + SkinBitmapSize(161).height() <= 152);
        QVERIFY(152 + SkinBitmapSize(157).height() <= 200);
    }

    void WindowShapeCutsTheCornersAndKeepsTheBody() {
        const QImage background = LoadSkinImage(135);
        const QRegion region = RegionWithoutKeyColour(background);
        for (const QPoint corner : {QPoint(0, 0), QPoint(859, 0), QPoint(0, 639), QPoint(859, 639), QPoint(2, 2), QPoint(857, 637)}) {
            QVERIFY2(!region.contains(corner), qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
        }
        for (const QPoint inside : {QPoint(430, 320), QPoint(20, 0), QPoint(0, 320), QPoint(859, 320), QPoint(430, 639), QPoint(100, 60)}) {
            QVERIFY2(region.contains(inside), qPrintable(QStringLiteral("%1,%2").arg(inside.x()).arg(inside.y())));
        }
        QCOMPARE(region.boundingRect(), QRect(0, 0, 860, 640));
        // No key-colour hole inside the body: every row is one run from edge to edge.
        for (int y = 20; y < 620; y += 37) {
            QCOMPARE(region.intersected(QRect(0, y, 860, 1)).rectCount(), 1);
            QVERIFY(region.contains(QRect(0, y, 860, 1)));
        }
        // The popup is shaped the same way.
        const QRegion popup = RegionWithoutKeyColour(LoadSkinImage(207));
        QVERIFY(!popup.contains(QPoint(0, 0)));
        QVERIFY(popup.contains(QPoint(325, 220)));
    }

    void HeaderCarriesTheLogoAndTheTitleStripMatchesTheWindow() {
        const QImage background = LoadSkinImage(135);
        // Bright (white) letters of the logo stand in the header's top-left part.
        int bright = 0;
        for (int y = 20; y < 110; ++y) {
            for (int x = 60; x < 240; ++x) {
                bright += qGray(background.pixel(x, y)) > 200 ? 1 : 0;
            }
        }
        QVERIFY2(bright > 200, qPrintable(QString::number(bright)));
        // ... and nowhere below the header: the rest carries no text.
        for (int y = 111; y < 640; y += 3) {
            for (int x = 0; x < 860; x += 3) {
                QVERIFY(qGray(background.pixel(x, y)) < 200);
            }
        }
        // The title label's picture is the window's own pixels under it (except its rule).
        const QImage strip = LoadSkinImage(161);
        QCOMPARE(strip.copy(0, 0, 420, 26), background.copy(234, 120, 420, 26));
    }

    void FacesAreTransparentOutsideTheirShape() {
        // Rounded faces leave their corners to the key colour, their middle is drawn.
        for (int id : {137, 138, 147, 153, 157, 174, 175, 231, 236}) {
            const QImage face = LoadSkinImage(id);
            QCOMPARE(face.pixel(0, 0) | 0xFF000000, kKeyColour);
            QVERIFY(face.pixel(face.width() / 2, face.height() / 2) != kKeyColour);
        }
        // Shapes made of overlapping parts have no hole where the parts meet: the
        // thermometers are solid down their middle, from the tube's top to the bulb's foot.
        for (int id : {163, 164, 165}) {
            const QImage thermometer = LoadSkinImage(id);
            for (int y = 3; y < thermometer.height() - 3; ++y) {
                QVERIFY2((thermometer.pixel(thermometer.width() / 2, y) | 0xFF000000) != kKeyColour,
                         qPrintable(QStringLiteral("%1 at y %2").arg(id).arg(y)));
            }
        }
        // The pressed page button differs from the normal one, and its accent edge is green.
        const QImage normal = LoadSkinImage(137);
        const QImage pressed = LoadSkinImage(138);
        QVERIFY(normal != pressed);
        const QColor edge = pressed.pixelColor(4, 29);
        QVERIFY2(edge.green() > edge.red() + 40 && edge.green() > edge.blue() + 40, qPrintable(edge.name()));
        // Disabled arrows are dimmer than the normal ones.
        const auto brightness = [](const QImage& image) {
            long long sum = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if ((image.pixel(x, y) | 0xFF000000) != kKeyColour) {
                        sum += qGray(image.pixel(x, y));
                    }
                }
            }
            return sum;
        };
        QVERIFY(brightness(LoadSkinImage(149)) < brightness(LoadSkinImage(147)));
        QVERIFY(brightness(LoadSkinImage(203)) < brightness(LoadSkinImage(231)));
    }

    void PicturesAreDrawnOnceAndSharedBetweenThreads() {
        const std::vector<int> ids = SkinResourceIds();
        std::vector<std::vector<QImage>> seen(4);
        std::vector<std::thread> threads;
        for (auto& mine : seen) {
            threads.emplace_back([&ids, &mine] {
                for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
                    mine.push_back(LoadSkinImage(*it));
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            const QImage again = LoadSkinImage(ids[ids.size() - 1 - i]);
            for (const auto& mine : seen) {
                QVERIFY(!mine[i].isNull());
                // One drawing, shared: the very same pixel buffer.
                QCOMPARE(mine[i].constBits(), again.constBits());
            }
        }
        // A picture marked missing is missing even though it is cached.
        SetMissingSkinBitmaps({177});
        QVERIFY(LoadSkinImage(177).isNull());
        QVERIFY(SkinBitmapSize(177).isValid());
        SetMissingSkinBitmaps({});
        QVERIFY(!LoadSkinImage(177).isNull());
    }

    void SaveContactSheet() {
        const std::vector<int> ids = SkinResourceIds();

        // Small pictures in a grid, each over a checker so that transparent parts show.
        const int cell = 250;
        const int columns = 6;
        std::vector<int> small;
        for (int id : ids) {
            const QSize size = SkinBitmapSize(id);
            if (size.width() <= cell - 10 && size.height() <= 110) {
                small.push_back(id);
            }
        }
        const int rows = static_cast<int>((small.size() + columns - 1) / columns);
        QImage sheet(columns * cell, rows * 130, QImage::Format_RGB32);
        sheet.fill(QColor(0x40, 0x40, 0x40));
        QPainter painter(&sheet);
        for (size_t i = 0; i < small.size(); ++i) {
            const int x = static_cast<int>(i % columns) * cell + 5;
            const int y = static_cast<int>(i / columns) * 130 + 5;
            QImage picture = LoadSkinImage(small[i]).convertToFormat(QImage::Format_ARGB32);
            for (int py = 0; py < picture.height(); ++py) {
                auto* row = reinterpret_cast<QRgb*>(picture.scanLine(py));
                for (int px = 0; px < picture.width(); ++px) {
                    if ((row[px] | 0xFF000000) == kKeyColour) {
                        row[px] = ((px / 4 + py / 4) % 2) ? 0xFF5A5A5A : 0xFF707070;
                    }
                }
            }
            painter.setPen(Qt::white);
            painter.drawText(x, y + 10, QString::number(small[i]));
            painter.drawImage(x, y + 16, picture);
        }
        painter.end();
        QVERIFY(sheet.save(ArtefactDir() + QStringLiteral("/artwork-contact-sheet.png")));

        // The small pieces three times enlarged, to judge their icons.
        std::vector<int> tiny;
        for (int id : ids) {
            if (SkinBitmapSize(id).width() <= 44 && SkinBitmapSize(id).height() <= 44) {
                tiny.push_back(id);
            }
        }
        QImage zoom(8 * 150, static_cast<int>((tiny.size() + 7) / 8) * 150, QImage::Format_RGB32);
        zoom.fill(QColor(0x1B, 0x1F, 0x25));
        {
            QPainter zoomPainter(&zoom);
            for (size_t i = 0; i < tiny.size(); ++i) {
                const QImage picture = LoadSkinImage(tiny[i]);
                const int x = static_cast<int>(i % 8) * 150 + 5;
                const int y = static_cast<int>(i / 8) * 150 + 5;
                zoomPainter.setPen(Qt::white);
                zoomPainter.drawText(x, y + 10, QString::number(tiny[i]));
                zoomPainter.drawImage(QRect(x, y + 16, picture.width() * 3, picture.height() * 3), picture);
            }
        }
        QVERIFY(zoom.save(ArtefactDir() + QStringLiteral("/artwork-small-pieces.png")));

        // The window as it will look, with sample captions where the window writes them.
        QImage window = Compose(135, std::begin(kWindowPlaces), std::end(kWindowPlaces));
        {
            QPainter text(&window);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(15);
            text.setFont(font);
            text.drawImage(20, 120, LoadSkinImage(138));
            const char* captions[] = {"Drive Info", "Diagnostics", "Utilities", "System\nOptimization", "System Info"};
            for (int k = 0; k < 5; ++k) {
                text.setPen(k == 0 ? Qt::white : QColor(0xC8, 0xCE, 0xD6));
                text.drawText(QRect(20 + 56, 120 + 66 * k, 182 - 56, 58), Qt::AlignVCenter | Qt::AlignLeft, QString::fromLatin1(captions[k]));
            }
            text.drawImage(235, 152, LoadSkinImage(158));
            text.setPen(Qt::white);
            for (int k = 0; k < 3; ++k) {
                text.drawText(QRect(235 + 133 * k, 152, 128, 44), Qt::AlignCenter, QStringLiteral("Disk%1\n%2GB").arg(k).arg(256 * (k + 1)));
            }
            font.setPixelSize(18);
            font.setBold(true);
            text.setFont(font);
            text.drawText(QRect(234, 120, 420, 28), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("       Drive Info"));
        }
        QVERIFY(window.save(ArtefactDir() + QStringLiteral("/artwork-main-window.png")));
        QImage pages(620 * 3, 430 * 2, QImage::Format_ARGB32);
        pages.fill(Qt::black);
        QPainter pagePainter(&pages);
        pagePainter.drawImage(0, 0, Compose(177, std::begin(kDriveInfoPlaces), std::end(kDriveInfoPlaces)));
        pagePainter.drawImage(620, 0, Compose(180, std::begin(kDiagnosticsPlaces), std::end(kDiagnosticsPlaces)));
        pagePainter.drawImage(1240, 0, Compose(179, std::begin(kUtilitiesPlaces), std::end(kUtilitiesPlaces)));
        pagePainter.drawImage(0, 430, Compose(187, std::begin(kSysOptPlaces), std::end(kSysOptPlaces)));
        pagePainter.drawImage(620, 430, Compose(178, std::begin(kAtaSummaryPlaces), std::end(kAtaSummaryPlaces)));
        pagePainter.drawImage(1240, 430, LoadSkinImage(207).scaled(620, 430, Qt::KeepAspectRatio));
        pagePainter.end();
        QVERIFY(pages.save(ArtefactDir() + QStringLiteral("/artwork-pages.png")));
    }
};

QTEST_MAIN(ArtworkTest)
#include "artwork_test.moc"
