// The ATA Command Summary page on the demo PC: the key chord that opens it, readings of the
// JMF608 drive filling the labels, a drive of another controller refused, a second start that
// replaces the first reader, readings going on after the page was left, another page's thread
// data ignored, and the window closing while the reader runs.
#include <QTest>

#include "app/progress_message.h"
#include "app/string_table.h"
#include "drives/drive_table.h"
#include "health/self_test.h"
#include "ui/controls/skin.h"
#include "ui/pages/ata_cmd_summary_page.h"
#include "window_fixture.h"

using namespace tarvex;
using tarvex::ui::CAtaCmdSummaryPage;

namespace {

using test::DemoProfile;
using test::Q;

// The demo's JMF608 drive with counters that do not grow with time, so each reading of the
// 64 KB bucket adds exactly its configured 420 writes and 800 reads.
nlohmann::json SteadyProfile() {
    nlohmann::json profile = DemoProfile();
    auto& stats = profile["disks"][1]["sata"]["vendorStatistics"];
    stats["writesPerMinute"] = {0, 0, 0, 0};
    stats["readsPerMinute"] = {0, 0, 0, 0};
    return profile;
}

}  // namespace

class AtaSummaryPageTest : public QObject, public test::WindowFixture {
    Q_OBJECT

    CAtaCmdSummaryPage* Page() const { return qobject_cast<CAtaCmdSummaryPage*>(Dlg()->Page(kPageAtaCommandSummary)); }
    void Chord() { QTest::keyClick(Dlg(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier); }
    void Press() { QTest::mouseClick(Page()->StartButton(), Qt::LeftButton); }
    // The labels show the summary's totals.
    bool LabelsShowTotals() const {
        const AtaStatisticsTotals& t = Page()->Summary().Totals();
        bool same = Page()->Ratio()->Text() == Q(StatisticsRatioText(t));
        for (int b = 0; b < kStatisticsBucketCount; ++b) {
            same = same && Page()->ReadValue(b)->Text() == Q(StatisticsValueText(t, t.bucketReads[b])) &&
                   Page()->WriteValue(b)->Text() == Q(StatisticsValueText(t, t.bucketWrites[b]));
        }
        return same;
    }

private slots:
    void cleanup() { Stop(); }

    void TheChordOpensThePageWithItsControls() {
        QVERIFY(Start(DemoProfile()));
        QTest::keyClick(Dlg(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(Dlg()->CurrentPage(), 0);
        BusyOperation = kOperationTrim;
        Chord();
        QCOMPARE(Dlg()->CurrentPage(), 0);
        QCOMPARE(Q(Shown().back().text), Q(LoadResourceString(247)));
        BusyOperation = 0;
        Chord();
        QCOMPARE(Dlg()->CurrentPage(), int(kPageAtaCommandSummary));
        QCOMPARE(Dlg()->TitleLabel()->Text(), QStringLiteral("       ") + Q(LoadResourceString(333)));
        QVERIFY(Dlg()->TitleLabel()->toolTip().isEmpty());
        QVERIFY(Dlg()->Button(1005)->isVisible());
        QVERIFY(Dlg()->Button(1010)->isVisible());

        const int captionStrings[] = {332, 334, 335, 338, 336};
        QRect taken;
        for (int row = 0; row < 5; ++row) {
            ui::CLabel* caption = Page()->Caption(row);
            QCOMPARE(caption->objectName(), QString::number(CAtaCmdSummaryPage::kCaptionIds[size_t(row)]));
            QCOMPARE(caption->Text(), Q(LoadResourceString(captionStrings[row])));
            QCOMPARE(caption->geometry(), QRect(15, 28 + 48 * row, 190, 20));
            QCOMPARE(caption->TextColor(), QColor::fromRgb(ui::kCaptionColour));
        }
        std::vector<ui::CLabel*> values{Page()->Ratio()};
        for (int b = 0; b < kStatisticsBucketCount; ++b) {
            values.push_back(Page()->ReadValue(b));
            values.push_back(Page()->WriteValue(b));
            // Read and write columns line up, right of the captions, on the caption's row.
            QCOMPARE(Page()->ReadValue(b)->x(), Page()->ReadValue(0)->x());
            QCOMPARE(Page()->WriteValue(b)->x(), Page()->WriteValue(0)->x());
            QCOMPARE(Page()->ReadValue(b)->y(), Page()->Caption(b + 1)->y());
            QVERIFY(Page()->ReadValue(b)->geometry().right() < Page()->WriteValue(b)->x());
        }
        for (ui::CLabel* value : values) {
            QCOMPARE(value->Text(), QStringLiteral("N/A"));
            QCOMPARE(value->TextColor(), QColor::fromRgb(ui::kValueColour));
            QVERIFY(value->x() > Page()->Caption(0)->geometry().right());
        }
        QCOMPARE(Page()->StartButton()->pos(), QPoint(35, 325));
        QCOMPARE(Page()->StartButton()->text(), QStringLiteral("Check ATA CMD"));
        QCOMPARE(Page()->StartButton()->size(), ui::SkinBitmapSize(182));
    }

    void ReadingsFillTheLabelsAndGoOn() {
        QVERIFY(Start(SteadyProfile()));
        Chord();
        Click(1006);
        QCOMPARE(SelectedDrive, 1);
        Press();
        QTRY_VERIFY(Page()->Summary().ReadingsAdded() >= 1);
        QTRY_COMPARE(BusyOperation.load(), 0);
        QVERIFY(LabelsShowTotals());
        QVERIFY(Page()->StartButton()->isEnabled());
        QVERIFY(Page()->Ratio()->Text().contains(QStringLiteral("% Read, ")));
        const int first = Page()->Summary().ReadingsAdded();
        const uint32_t firstWrites = Page()->Summary().Totals().bucketWrites[3];
        QCOMPARE(firstWrites, 420u * uint32_t(first));
        QTRY_VERIFY(Page()->Summary().ReadingsAdded() >= first + 2);
        QVERIFY(LabelsShowTotals());
        QCOMPARE(Page()->Summary().Totals().bucketWrites[3], 420u * uint32_t(Page()->Summary().ReadingsAdded()));
        QCOMPARE(Page()->Summary().Totals().bucketReads[3], 800u * uint32_t(Page()->Summary().ReadingsAdded()));
        QVERIFY(SaveArtefact(QStringLiteral("ata-summary-1033")));

        // A second press starts over with one reader: one second of waiting per reading (a
        // second reader would age the clock twice as fast as readings are added).
        Press();
        const int64_t elapsedBefore = machine_->Machine().Clock().ElapsedMs();
        QTRY_VERIFY(Page()->Summary().ReadingsAdded() >= 4 && BusyOperation.load() == 0);
        const int added = Page()->Summary().ReadingsAdded();
        QCOMPARE(Page()->Summary().Totals().bucketReads[3], 800u * uint32_t(added));
        const int64_t waited = machine_->Machine().Clock().ElapsedMs() - elapsedBefore;
        QVERIFY2(waited <= int64_t(added + 1) * 1000,
                 qPrintable(QStringLiteral("%1 ms waited for %2 readings").arg(waited).arg(added)));

        // Left for another page, the reader waits; back on the page, it goes on.
        Click(1000);
        QTest::qWait(50);
        const int whileAway = Page()->Summary().ReadingsAdded();
        QTest::qWait(50);
        QCOMPARE(Page()->Summary().ReadingsAdded(), whileAway);
        Chord();
        QTRY_VERIFY(Page()->Summary().ReadingsAdded() > whileAway);
        QVERIFY(LabelsShowTotals());
    }

    void AnotherControllerAndForeignThreadData() {
        QVERIFY(Start(DemoProfile()));
        Chord();
        Press();  // table index 0 is not a JMF608 drive
        QCOMPARE(Q(Shown().back().text), QStringLiteral("Non-supported model"));
        QCOMPARE(BusyOperation.load(), 0);
        QVERIFY(!Page()->Summary().Running());
        QCOMPARE(Page()->Ratio()->Text(), QStringLiteral("N/A"));

        // A record that is not one of the page's runs has no kind here, whatever it holds.
        SelfTestThreadData other;
        other.operationKind = kOperationAtaStatistics;
        QCOMPARE(Page()->OperationKindOf(reinterpret_cast<intptr_t>(&other)), 0);
        BusyOperation = kOperationAtaStatistics;
        const platform::WindowMessage message{Dlg()->Hwnd(), KORVANEMSG_PROGRESS,
                                              ProgressWParam(KORVANEMSG_WPARAM_PROGRESSEND),
                                              reinterpret_cast<intptr_t>(&other)};
        QCOMPARE(Dlg()->OnKorvaneProgress(message), 1);
        QCOMPARE(BusyOperation.load(), int(kOperationAtaStatistics));
        QCOMPARE(Page()->Ratio()->Text(), QStringLiteral("N/A"));
        BusyOperation = 0;
    }

    void ChineseLabelsAfterReadings() {
        nlohmann::json profile = SteadyProfile();
        profile["uiLanguage"] = 2052;
        QVERIFY(Start(profile));
        Chord();
        Click(1006);
        Press();
        QTRY_VERIFY(Page()->Summary().ReadingsAdded() >= 2);
        QVERIFY(LabelsShowTotals());
        for (int row = 0; row < 5; ++row) {
            ui::CLabel* caption = Page()->Caption(row);
            QVERIFY(QFontMetrics(caption->LabelFont()).horizontalAdvance(caption->Text()) <= caption->width());
        }
        QVERIFY(SaveArtefact(QStringLiteral("ata-summary-2052")));
    }

    void ClosingWhileTheReaderRuns() {
        // Before the first reading is handled (the reader holds the busy claim) and after it.
        for (bool afterFirst : {false, true}) {
            QVERIFY(Start(SteadyProfile()));
            Chord();
            Click(1006);
            Press();
            QVERIFY(Page()->Summary().Running());
            if (afterFirst) {
                QTRY_VERIFY(Page()->Summary().ReadingsAdded() >= 1);
                Click(2);
                QVERIFY(Dlg()->Ended());
            }
            app_.reset();  // the window, its pages and the reader go; the PC stays
            QCOMPARE(BusyOperation.load(), 0);
            QTest::qWait(20);  // posts still queued for the window go nowhere
            Stop();
        }
    }
};

QTEST_MAIN(AtaSummaryPageTest)
#include "ata_summary_page_test.moc"
