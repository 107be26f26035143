// The skinned controls: the shape cut from a background, the faces a button shows, labels
// clipped to their rectangle, and the font the program asks for.
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "app/ui_language.h"
#include "ui/controls/bitmap_ctrl.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/controls/skin.h"

using namespace tarvex::ui;

class ControlsTest : public QObject {
    Q_OBJECT
private slots:
    void RegionLeavesOutTheKeyColour() {
        QImage image(6, 3, QImage::Format_RGB32);
        image.fill(0xFF102030);
        image.setPixel(0, 0, kKeyColour);
        image.setPixel(5, 0, kKeyColour);
        image.setPixel(2, 1, kKeyColour);
        const QRegion region = RegionWithoutKeyColour(image);
        QVERIFY(!region.contains(QPoint(0, 0)));
        QVERIFY(region.contains(QPoint(1, 0)));
        QVERIFY(!region.contains(QPoint(5, 0)));
        QVERIFY(!region.contains(QPoint(2, 1)));
        QVERIFY(region.contains(QPoint(3, 1)));
        QVERIFY(region.contains(QPoint(5, 2)));
        QCOMPARE(region.boundingRect(), QRect(0, 0, 6, 3));
    }

    void MissingBitmapsLoadAsNull() {
        QVERIFY(!LoadSkinBitmap(135).isNull());
        QVERIFY(LoadSkinBitmap(99999).isNull());
        SetMissingSkinBitmaps({135});
        QVERIFY(LoadSkinBitmap(135).isNull());
        SetMissingSkinBitmaps({});
        QVERIFY(!LoadSkinBitmap(135).isNull());
    }

    void ButtonFacesFollowItsState() {
        CBmpBtnCtrl button(nullptr, 1005);
        QVERIFY(button.LoadBitmaps(157, 158));
        QCOMPARE(button.size(), SkinBitmapSize(157));
        QCOMPARE(button.objectName(), QStringLiteral("1005"));
        QCOMPARE(button.Face(), 0);
        button.SetHoverLook(true);
        QCOMPARE(button.Face(), 2);
        button.SetPressedLook(true);
        QCOMPARE(button.Face(), 1);
        button.SetPressedLook(false);
        QCOMPARE(button.Face(), 0);  // released: the hover look goes too
        button.setEnabled(false);
        QCOMPARE(button.Face(), 3);
        button.setEnabled(true);
        QSignalSpy clicked(&button, &QAbstractButton::clicked);
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }

    void LabelAsksForTheFaceOfTheLanguage() {
        tarvex::UiLanguageId = 1033;
        CLabel label(nullptr, 1047);
        label.SetFontSize(11);
        QCOMPARE(label.LabelFont().family(), QStringLiteral("Ariel"));
        tarvex::UiLanguageId = 1042;
        CLabel korean;
        QCOMPARE(korean.LabelFont().family(), QStringLiteral("Gulim"));
        tarvex::UiLanguageId = 1033;
    }

    void StateIconShowsOneOfItsPictures() {
        CBitmapCtrl icon(nullptr, 1034);
        QVERIFY(icon.LoadBitmaps({157, 158}));
        icon.SetState(1);
        QCOMPARE(icon.State(), 1);
        icon.SetState(5);  // no such state: unchanged
        QCOMPARE(icon.State(), 1);
        QVERIFY(!icon.LoadBitmaps({157, 99999}));
    }
};

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
