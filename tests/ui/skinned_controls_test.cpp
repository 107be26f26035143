// The gauge, the report list with its header and scroll bars, and the transparent edit box.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <climits>

#include "ui/controls/bitmap_slider.h"
#include "ui/controls/edit_trans.h"
#include "ui/controls/header_ex_ctrl.h"
#include "ui/controls/list_ex_ctrl.h"
#include "ui/controls/scrollbar_ctrl.h"
#include "ui/controls/skin.h"

using namespace tarvex::ui;

class SkinnedControlsTest : public QObject {
    Q_OBJECT
private slots:
    void GaugeClampsAndMapsItsPosition() {
        CBitmapSlider gauge(nullptr, 1027);
        QVERIFY(gauge.LoadBitmaps(174, 175));
        QCOMPARE(gauge.size(), SkinBitmapSize(174));
        QCOMPARE(gauge.objectName(), QStringLiteral("1027"));
        QCOMPARE(gauge.RangeMin(), 0);
        QCOMPARE(gauge.RangeMax(), 100);
        const int width = gauge.width();
        gauge.SetPos(75);
        QCOMPARE(gauge.GetPos(), 75);
        QCOMPARE(gauge.FillWidth(), width * 75 / 100);
        gauge.SetPos(0);
        QCOMPARE(gauge.FillWidth(), 0);
        gauge.SetPos(100);
        QCOMPARE(gauge.FillWidth(), width);
        gauge.SetPos(250);
        QCOMPARE(gauge.GetPos(), 100);
        gauge.SetPos(-5);
        QCOMPARE(gauge.GetPos(), 0);
        // A narrower range keeps the position inside it.
        gauge.SetPos(90);
        gauge.SetRange(10, 50);
        QCOMPARE(gauge.GetPos(), 50);
        QCOMPARE(gauge.FillWidth(), width);
        gauge.SetPos(30);
        QCOMPARE(gauge.FillWidth(), width / 2);
        // An empty or reversed range shows no fill, and a huge one does not overflow.
        gauge.SetRange(40, 40);
        QCOMPARE(gauge.FillWidth(), 0);
        gauge.SetRange(60, 20);
        QCOMPARE(gauge.RangeMax(), 60);
        QCOMPARE(gauge.GetPos(), 60);
        gauge.SetRange(INT_MIN, INT_MAX);
        gauge.SetPos(INT_MAX);
        QCOMPARE(gauge.FillWidth(), width);
        gauge.SetPos(0);
        QVERIFY(qAbs(gauge.FillWidth() - width / 2) <= 1);
        // A missing picture is reported.
        CBitmapSlider broken;
        QVERIFY(!broken.LoadBitmaps(174, 99999));
    }

    void GaugeShowsItsFillUpToThePosition() {
        CBitmapSlider gauge;
        QVERIFY(gauge.LoadBitmaps(174, 176));
        gauge.SetPos(50);
        const QImage shot = gauge.grab().toImage();
        const int y = gauge.height() / 2;
        // Left of the cut the green fill, right of it the dark track.
        const QColor filled = shot.pixelColor(gauge.width() / 4, y);
        const QColor empty = shot.pixelColor(gauge.width() * 3 / 4, y);
        QVERIFY2(filled.green() > 120 && filled.green() > filled.blue() + 40, qPrintable(filled.name()));
        QVERIFY2(qGray(empty.rgb()) < 50, qPrintable(empty.name()));
    }

    void ListShowsColumnsRowsAndTitles() {
        CListExCtrl list(nullptr, 1062);
        QCOMPARE(list.InsertItem(0, QStringLiteral("orphan")), -1);  // no column yet
        QCOMPARE(list.InsertColumn(0, QStringLiteral("ID"), 40), 0);
        QCOMPARE(list.InsertColumn(5, QStringLiteral("Raw"), 150), 1);   // past the end: appended
        QCOMPARE(list.InsertColumn(1, QStringLiteral("Hex"), 50), 1);   // between the two
        QCOMPARE(list.GetColumnCount(), 3);
        QCOMPARE(list.ColumnTitle(0), QStringLiteral("ID"));
        QCOMPARE(list.ColumnTitle(1), QStringLiteral("Hex"));
        QCOMPARE(list.ColumnTitle(2), QStringLiteral("Raw"));
        QCOMPARE(list.GetColumnWidth(1), 50);
        QCOMPARE(list.GetColumnWidth(2), 150);
        QCOMPARE(list.horizontalHeader(), list.Header());
        QCOMPARE(list.verticalScrollBar(), list.VerticalBar());

        QCOMPARE(list.InsertItem(0, QStringLiteral("194")), 0);
        QVERIFY(list.SetItemText(0, 1, QStringLiteral("0xC2")));
        QVERIFY(list.SetItemText(0, 2, QStringLiteral("0x000037000E0024")));
        QCOMPARE(list.InsertItem(99, QStringLiteral("9")), 1);
        QCOMPARE(list.InsertItem(0, QStringLiteral("5")), 0);  // before the first
        QCOMPARE(list.GetItemCount(), 3);
        QCOMPARE(list.GetItemText(0, 0), QStringLiteral("5"));
        QCOMPARE(list.GetItemText(1, 0), QStringLiteral("194"));
        QCOMPARE(list.GetItemText(1, 2), QStringLiteral("0x000037000E0024"));
        QCOMPARE(list.GetItemText(2, 1), QString());
        QVERIFY(!list.SetItemText(3, 0, QStringLiteral("x")));
        QVERIFY(!list.SetItemText(0, 3, QStringLiteral("x")));
        QVERIFY(!list.SetItemText(-1, 0, QStringLiteral("x")));
        QCOMPARE(list.GetItemText(7, 7), QString());

        // Column colours follow their column when one is inserted before it.
        list.SetColumnTextColor(2, QColor::fromRgb(kValueColour));
        list.InsertColumn(0, QStringLiteral("First"), 30);
        QCOMPARE(list.ColumnTextColor(3), QColor::fromRgb(kValueColour));
        QVERIFY(list.ColumnTextColor(0) != QColor::fromRgb(kValueColour));

        // Rows are shown, not edited.
        QCOMPARE(list.editTriggers(), QAbstractItemView::NoEditTriggers);
        list.DeleteAllItems();
        QCOMPARE(list.GetItemCount(), 0);
        QCOMPARE(list.GetColumnCount(), 4);
    }

    void ScrollBarCoversTheRowsBeyondTheWindow() {
        CListExCtrl list;
        list.InsertColumn(0, QStringLiteral("Item"), 80);
        list.InsertColumn(1, QStringLiteral("Value"), 80);
        list.InsertColumn(2, QStringLiteral("Description"), 440);
        for (int n = 0; n < 256; ++n) {
            const int row = list.InsertItem(n, QStringLiteral("Word %1").arg(n));
            list.SetItemText(row, 1, QStringLiteral("0x%1").arg(n, 4, 16, QLatin1Char('0')));
        }
        list.resize(620, 335);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        CScrollbarCtrl* bar = list.VerticalBar();
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->minimum(), 0);
        // Per-item scrolling: the range is the rows that do not fit.
        const int visibleRows = list.viewport()->height() / list.rowHeight(0);
        QVERIFY(bar->maximum() >= 256 - visibleRows - 1 && bar->maximum() <= 256 - visibleRows + 1);
        const QRect top = bar->ThumbRect();
        bar->setValue(bar->maximum());
        const QRect bottom = bar->ThumbRect();
        QVERIFY(bottom.top() > top.top());
        QVERIFY(bar->rect().contains(bottom));
        QCOMPARE(list.rowAt(list.viewport()->height() - 2), 255);
        list.selectRow(250);
        const QString dir = qEnvironmentVariable("TARVEX_UI_ARTEFACTS", QDir::tempPath() + QStringLiteral("/tarvex-ui"));
        QDir().mkpath(dir);
        QVERIFY(list.grab().save(dir + QStringLiteral("/list-ex-ctrl.png")));
        // The header stands above the rows and paints its titles in the skin.
        QVERIFY(list.Header()->isVisible());
        QCOMPARE(list.Header()->height(), list.Header()->sizeHint().height());
        const QImage header = list.Header()->grab().toImage();
        const QColor foot = header.pixelColor(10, header.height() - 1);
        QCOMPARE(foot, QColor::fromRgb(kAccentColour));
        // Two columns of 440 and 80 wider than the window: the horizontal bar appears.
        list.InsertColumn(3, QStringLiteral("More"), 300);
        QCoreApplication::processEvents();
        QVERIFY(list.horizontalScrollBar()->maximum() > 0);
        QVERIFY(qobject_cast<CScrollbarCtrl*>(list.horizontalScrollBar()) != nullptr);
    }

    void EditBoxIsTransparentInTheValueColour() {
        CEditTrans edit(nullptr, 1112);
        QCOMPARE(edit.objectName(), QStringLiteral("1112"));
        QCOMPARE(edit.TextColor(), QColor::fromRgb(kValueColour));
        QCOMPARE(edit.palette().color(QPalette::Active, QPalette::Text), QColor::fromRgb(kValueColour));
        QCOMPARE(edit.palette().color(QPalette::Active, QPalette::Base).alpha(), 0);
        QVERIFY(!edit.hasFrame());
        edit.SetTextColor(QColor(255, 255, 255));
        QCOMPARE(edit.palette().color(QPalette::Inactive, QPalette::Text), QColor(255, 255, 255));
        edit.setMaxLength(3);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QTest::keyClicks(&edit, QStringLiteral("7012"));
        QCOMPARE(edit.text(), QStringLiteral("701"));
        QSignalSpy edited(&edit, &QLineEdit::textEdited);
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edited.count(), 1);
        QCOMPARE(edit.text(), QStringLiteral("70"));
    }
};

QTEST_MAIN(SkinnedControlsTest)
#include "skinned_controls_test.moc"
