// The Diagnostics page in the main window on the demo PC, clicked as a user would: its controls,
// texts, fonts and places in English, Chinese and Russian; whole quick scans on the emulated
// drive's virtual clock (success, a failing drive, Cancel), the progress that reaches the page
// only while it is current, the busy refusals, and the alert thresholds and service switch.
#include <QTest>
#include <functional>
#include <thread>

#include "app/progress_message.h"
#include "app/string_table.h"
#include "app/ui_language.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/diagnostics_page.h"
#include "health/service_control.h"
#include "platform/text.h"
#include "platform/win32_values.h"
#include "ui/controls/bitmap_slider.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/edit_trans.h"
#include "ui/controls/label.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/diagnostics_page.h"
#include "window_fixture.h"

using namespace tarvex;
using tarvex::ui::CDiagnoticsPage;
using test::DemoProfile;
using test::Q;

namespace {

// What the quick scan's controls showed at one moment.
struct QuickState {
    bool runEnabled;
    bool cancelEnabled;
    bool barVisible;
    QPoint barPlace;
    int barPosition;
};

// Calls `onMessage(k)` just before the k-th posted message (0 = the first) is handled on the
// GUI thread: the workers' posts arrive as queued calls on the application object.
class PostWatcher : public QObject {
public:
    explicit PostWatcher(std::function<void(int)> onMessage) : onMessage_(std::move(onMessage)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall) {
            onMessage_(count_++);
        }
        return false;
    }
    [[nodiscard]] int Count() const { return count_; }

private:
    std::function<void(int)> onMessage_;
    int count_ = 0;
};

}  // namespace

class DiagnosticsPageTest : public QObject, public test::WindowFixture {
    Q_OBJECT

    CDiagnoticsPage* Page() const { return qobject_cast<CDiagnoticsPage*>(Dlg()->Page(kPageDiagnostics)); }
    template <class T = QWidget>
    T* Control(int id) const {
        return Page()->findChild<T*>(QString::number(id));
    }
    void ClickControl(int id) {
        QWidget* control = Control(id);
        QVERIFY2(control != nullptr, qPrintable(QStringLiteral("no control %1").arg(id)));
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(10, 10));
    }
    // The demo PC with the Diagnostics page shown.
    bool OpenPage(const nlohmann::json& profile) {
        return Start(profile) && Click(1001) && Dlg()->CurrentPage() == kPageDiagnostics;
    }
    QuickState Quick() const {
        auto* bar = Control<ui::CBitmapSlider>(1119);
        return {Control(1041)->isEnabled(), Control(1072)->isEnabled(), bar->isVisible(), bar->pos(), bar->GetPos()};
    }
    std::vector<QString> Messages() const {
        std::vector<QString> texts;
        for (const auto& shown : Shown()) {
            texts.push_back(Q(shown.text));
        }
        return texts;
    }
    static QString String(int id) { return Q(LoadResourceString(id)); }
    // Lets the page's workers end, then handles everything they posted.
    void FinishWorkers() {
        Page()->Logic().JoinWorkers();
        QTRY_COMPARE_WITH_TIMEOUT(BusyOperation.load(), 0, 10000);
    }
    void ExpectIdle() {
        for (int s = 0; s < 2; ++s) {
            QVERIFY(Control(CDiagnoticsPage::kRunIds[s])->isEnabled());
            QVERIFY(!Control(CDiagnoticsPage::kCancelIds[s])->isEnabled());
            QVERIFY(!Control(CDiagnoticsPage::kBarIds[s])->isVisible());
        }
        QCOMPARE(BusyOperation.load(), 0);
        QCOMPARE(SelfTestAbortRequested.load(), 0);
    }
    static nlohmann::json LongQuickScan() {
        nlohmann::json profile = DemoProfile();
        profile["disks"][0]["sata"]["selfTest"]["shortSeconds"] = 15240;
        return profile;
    }

private slots:
    void cleanup() {
        Stop();
        ui::SetMissingSkinBitmaps({});
    }

    // Texts, colours, fonts and places of the idle page; the CJK run takes the Chinese strings
    // and keeps the alert captions English; Russian buttons take the smaller font.
    void IdlePageShowsItsControlsInEveryLanguage() {
        for (int language : {1033, 2052, 1049}) {
            nlohmann::json profile = DemoProfile();
            profile["uiLanguage"] = language;
            QVERIFY(OpenPage(profile));
            QCOMPARE(int(UiLanguageId), language);
            const QString model = Q(platform::FixedText(PhysicalDriveTable()[0].modelNumber));
            QCOMPARE(model, QStringLiteral("VARNO TL30A 256GB"));
            for (int s = 0; s < 2; ++s) {
                auto* title = Control<ui::CLabel>(CDiagnoticsPage::kTitleIds[s]);
                auto* description = Control<ui::CLabel>(CDiagnoticsPage::kDescriptionIds[s]);
                QCOMPARE(title->Text(), String(261 + s));
                QCOMPARE(title->TextColor(), QColor(Qt::white));
                QCOMPARE(description->Text(), String(263 + s));
                QCOMPARE(description->TextColor(), QColor::fromRgb(ui::kCaptionColour));
                QVERIFY(description->LabelFont().pixelSize() < title->LabelFont().pixelSize());
                QCOMPARE(Control<ui::CLabel>(CDiagnoticsPage::kModelIds[s])->Text(), model);
                auto* run = Control<ui::CBmpBtnCtrl>(CDiagnoticsPage::kRunIds[s]);
                QCOMPARE(run->text(), String(266));
                QCOMPARE(Control<ui::CBmpBtnCtrl>(CDiagnoticsPage::kCancelIds[s])->text(), String(267));
                QCOMPARE(run->TextFont().pixelSize(), ui::SkinFont(language == 1049 ? 9 : 11).pixelSize());
                QCOMPARE(run->size(), ui::SkinBitmapSize(191));
            }
            QCOMPARE(Control<ui::CLabel>(1075)->Text(), QStringLiteral("Alert Setting"));
            QCOMPARE(Control<ui::CLabel>(1076)->Text(), QStringLiteral("Temperature Over"));
            QCOMPARE(Control<ui::CLabel>(1077)->Text(), QStringLiteral("Service"));
            QCOMPARE(Control<ui::CLabel>(1078)->Text(), QStringLiteral("Estimated Life Under"));
            QCOMPARE(Control<ui::CBmpBtnCtrl>(1131)->text(), QStringLiteral("Apply"));
            // Places.
            QCOMPARE(Control(1064)->geometry(), QRect(21, 10, 200, 20));
            QCOMPARE(Control(1086)->geometry(), QRect(295, 45, 250, 34));
            QCOMPARE(Control(1069)->geometry(), QRect(295, 80, 250, 150));
            QCOMPARE(Control(1073)->pos(), QPoint(300, 240));
            QCOMPARE(Control(1074)->pos(), QPoint(395, 240));
            QCOMPARE(Control(1119)->pos(), QPoint(21, 208));
            QCOMPARE(Control(1120)->pos(), QPoint(290, 208));
            QCOMPARE(Control(1116)->pos(), QPoint(25, 357));
            QCOMPARE(Control(1112)->geometry(), QRect(120, 359, 50, 30));
            QCOMPARE(Control(1132)->pos(), QPoint(437, 362));
            // The demo service runs: box ticked, thresholds shown but locked.
            auto* box = Control<ui::CBmpBtnCtrl>(1116);
            QVERIFY(box->isChecked());
            QCOMPARE(Control<ui::CEditTrans>(1112)->text(), QStringLiteral("70"));
            QCOMPARE(Control<ui::CEditTrans>(1114)->text(), QStringLiteral("10"));
            ExpectIdle();
            QVERIFY(Shown().empty());
            if (language != 1049) {
                QVERIFY(SaveArtefact(language == 1033 ? QStringLiteral("diagnostics-idle-en")
                                                      : QStringLiteral("diagnostics-idle-zh")));
            }
            Stop();
        }
    }

    void MissingButtonBitmapIsReportedOnce() {
        ui::SetMissingSkinBitmaps({191});
        QVERIFY(OpenPage(DemoProfile()));
        QCOMPARE(Messages(), std::vector<QString>{QStringLiteral("Error Loading Bitmap!!")});
    }

    // Run to END: Cancel enabled at once, the bar placed and shown at START, moving with the
    // progress, then message 268 and the page idle again.
    void QuickScanRunsToItsEnd() {
        for (int language : {1033, 2052}) {
            nlohmann::json profile = DemoProfile();
            profile["uiLanguage"] = language;
            QVERIFY(OpenPage(profile));
            std::vector<QuickState> seen;
            PostWatcher watcher([&](int k) {
                seen.push_back(Quick());
                if (k == 3) {
                    (void)SaveArtefact(language == 1033 ? QStringLiteral("diagnostics-scan-en")
                                                        : QStringLiteral("diagnostics-scan-zh"));
                }
            });
            app_->installEventFilter(&watcher);
            ClickControl(1041);
            const QuickState started = Quick();
            QVERIFY(!started.runEnabled);
            QVERIFY(started.cancelEnabled);
            QVERIFY(!started.barVisible);
            QCOMPARE(BusyOperation.load(), int(kOperationQuickScan));
            FinishWorkers();
            app_->removeEventFilter(&watcher);

            // 120 s of test polled every 5 s: START, the in-progress reports, END.
            QVERIFY2(seen.size() > 10, qPrintable(QString::number(seen.size())));
            QVERIFY(seen[1].barVisible);
            QCOMPARE(seen[1].barPlace, QPoint(21, 210));
            QCOMPARE(seen[1].barPosition, 0);
            int last = 0;
            for (size_t k = 2; k < seen.size(); ++k) {
                QVERIFY(seen[k].barVisible && seen[k].cancelEnabled && !seen[k].runEnabled);
                QVERIFY2(seen[k].barPosition >= last, qPrintable(QStringLiteral("message %1").arg(k)));
                last = seen[k].barPosition;
            }
            // The drive reports 90 % last (less than a tenth left), then its final status.
            QCOMPARE(last, 90);
            QCOMPARE(Messages(), std::vector<QString>{String(268)});
            QCOMPARE(Quick().barPosition, 100);
            ExpectIdle();
            Stop();
        }
    }

    // The full scan drives its own bar and buttons; the quick side stays as it was.
    void FullScanUsesItsOwnControls() {
        QVERIFY(OpenPage(DemoProfile()));
        auto* bar = Control<ui::CBitmapSlider>(1120);
        QPoint startPlace;
        bool startVisible = false;
        bool quickUntouched = true;
        PostWatcher watcher([&](int k) {
            if (k == 1) {
                startPlace = bar->pos();
                startVisible = bar->isVisible();
            }
            const QuickState quick = Quick();
            quickUntouched = quickUntouched && quick.runEnabled && !quick.cancelEnabled && !quick.barVisible;
        });
        app_->installEventFilter(&watcher);
        ClickControl(1073);
        QVERIFY(!Control(1073)->isEnabled());
        QVERIFY(Control(1074)->isEnabled());
        FinishWorkers();
        app_->removeEventFilter(&watcher);
        QVERIFY(startVisible);
        QCOMPARE(startPlace, QPoint(301, 210));
        QVERIFY(quickUntouched);
        QCOMPARE(Messages(), std::vector<QString>{String(271)});
        QCOMPARE(bar->GetPos(), 100);
        ExpectIdle();
    }

    void FailingQuickScanShowsTheFailure() {
        nlohmann::json profile = DemoProfile();
        profile["disks"][0]["sata"]["selfTest"]["failures"] =
            nlohmann::json::parse(R"([{"test": "short", "status": 3, "atPercent": 30}])");
        QVERIFY(OpenPage(profile));
        ClickControl(1041);
        FinishWorkers();
        QCOMPARE(Messages(), std::vector<QString>{String(270)});
        ExpectIdle();
    }

    // The page buttons refuse while a scan runs, so the test switches pages with the busy flag
    // lowered for that moment. What arrives meanwhile is dropped; the bar catches up with the
    // first message after the return.
    void ProgressReachesThePageOnlyWhileItIsCurrent() {
        QVERIFY(OpenPage(DemoProfile()));
        const auto switchTo = [this](int page) {
            const int busy = BusyOperation.exchange(0);
            Dlg()->OnPageButton(page);
            BusyOperation = busy;
        };
        int positionBeforeReturn = -1;
        int positionAfterReturn = -1;
        PostWatcher watcher([&](int k) {
            if (k == 1) {
                switchTo(kPageDriveInfo);
            } else if (k == 4) {
                positionBeforeReturn = Quick().barPosition;
                switchTo(kPageDiagnostics);
            } else if (k == 5) {
                positionAfterReturn = Quick().barPosition;
            }
        });
        app_->installEventFilter(&watcher);
        ClickControl(1041);
        FinishWorkers();
        app_->removeEventFilter(&watcher);
        QCOMPARE(positionBeforeReturn, 0);
        QVERIFY2(positionAfterReturn > 0, qPrintable(QString::number(positionAfterReturn)));
        QCOMPARE(Messages(), std::vector<QString>{String(268)});
        ExpectIdle();
    }

    // While the quick scan runs, the full-scan Run and the service box answer with 247 and
    // change nothing (the box returns to its state).
    void PageActionsAreRefusedWhileAScanRuns() {
        QVERIFY(OpenPage(LongQuickScan()));
        ClickControl(1041);
        ClickControl(1073);
        ClickControl(1116);
        QCOMPARE(Messages(), (std::vector<QString>{String(247), String(247)}));
        QVERIFY(Control(1073)->isEnabled());
        QVERIFY(!Control(1074)->isEnabled());
        QCOMPARE(Page()->Logic().ThreadData(kOperationFullScan).operationKind, 0);
        QVERIFY(Control<ui::CBmpBtnCtrl>(1116)->isChecked());
        QCOMPARE(BusyOperation.load(), int(kOperationQuickScan));
        ClickControl(1072);
        FinishWorkers();
        ExpectIdle();
    }

    void CancelAbortsTheQuickScan() {
        QVERIFY(OpenPage(LongQuickScan()));
        ClickControl(1041);
        // Wait (in real time) until the worker has polled once, so the test runs on the drive.
        while (machine_->Machine().Windows().PostedMessages().size() < 2) {
            std::this_thread::yield();
        }
        ClickControl(1072);
        QCOMPARE(SelfTestAbortRequested.load(), 1);
        FinishWorkers();
        QCOMPARE(Messages(), std::vector<QString>{String(269)});
        ExpectIdle();
    }

    // While the service runs the thresholds are locked; the box switched off stops it as a
    // background operation (340, 341), then Apply stores what was typed, and "error input"
    // stores nothing. Switched on again, the service starts and the thresholds lock.
    void ThresholdsAreAppliedOnlyWhileTheServiceIsStopped() {
        QVERIFY(OpenPage(DemoProfile()));
        ATACommand& ata = GlobalAtaCommand();
        for (int id : {1112, 1114, 1131, 1132}) {
            QVERIFY2(!Control(id)->isEnabled(), qPrintable(QString::number(id)));
        }
        ClickControl(1131);
        QCOMPARE(ata.ReadTemperatureAlert(), -1);

        ClickControl(1116);
        QVERIFY(!Control<ui::CBmpBtnCtrl>(1116)->isChecked());
        QCOMPARE(BusyOperation.load(), int(kOperationServiceStop));
        FinishWorkers();
        QCOMPARE(Messages(), (std::vector<QString>{String(340), String(341)}));
        platform::ServiceStatus status;
        QVERIFY(ata.QueryServiceState(kMonitoringServiceName, &status));
        QCOMPARE(int(status.currentState), int(win::SERVICE_STOPPED));

        auto* temperature = Control<ui::CEditTrans>(1112);
        auto* life = Control<ui::CEditTrans>(1114);
        QVERIFY(temperature->isEnabled() && life->isEnabled());
        temperature->selectAll();
        QTest::keyClicks(temperature, QStringLiteral("75"));
        ClickControl(1131);
        QCOMPARE(ata.ReadTemperatureAlert(), 75);
        life->setText(QStringLiteral("5%"));
        ClickControl(1132);
        QCOMPARE(Messages().back(), QStringLiteral("error input"));
        QCOMPARE(ata.ReadLifeAlert(), -1);
        life->setText(QStringLiteral(" 5"));
        ClickControl(1132);
        QCOMPARE(ata.ReadLifeAlert(), 5);
        // The page refresh shows what is stored.
        Page()->RefreshPage();
        QCOMPARE(temperature->text(), QStringLiteral("75"));
        QCOMPARE(life->text(), QStringLiteral("5"));

        ClickControl(1116);
        QVERIFY(Control<ui::CBmpBtnCtrl>(1116)->isChecked());
        QCOMPARE(BusyOperation.load(), 0);
        QVERIFY(ata.QueryServiceState(kMonitoringServiceName, &status));
        QVERIFY(status.currentState != win::SERVICE_STOPPED);
        for (int id : {1112, 1114, 1131, 1132}) {
            QVERIFY2(!Control(id)->isEnabled(), qPrintable(QString::number(id)));
        }
    }
};

QTEST_MAIN(DiagnosticsPageTest)
#include "diagnostics_page_test.moc"
