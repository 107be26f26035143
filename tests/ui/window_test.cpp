// The main window on emulated PCs, clicked as a user would: start-up and its trace, the pages
// and the title label, the drive tabs and arrows over 1, 2, 3 and 5 drives, the busy guard on
// every button while a self-test runs, the routing of progress messages, the failure paths of
// start-up, and the System Info page. Screenshots of every page are kept as artefacts.
#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QStringList>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/progress_message.h"
#include "app/string_table.h"
#include "app/trace.h"
#include "app/ui_language.h"
#include "device/ata_command.h"
#include "drives/drive_table.h"
#include "health/self_test.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/text.h"
#include "platform/platform.h"
#include "ui/controls/skin.h"
#include "support/test_machine.h"
#include "window_fixture.h"
#include "sysinfo/system_info.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/korvane_app.h"
#include "ui/pages/diagnostics_page.h"
#include "ui/pages/sys_info_page.h"

using namespace tarvex;
using tarvex::ui::CVARNO_KorvaneDlg;

namespace {

using test::DemoProfile;
using test::DrivesProfile;
using test::Q;

// "Disk<number>\n<size>GB" of table entry `index` as the scan found it.
QString CaptionOf(int index) {
    const PhysicalDriveInfo& drive = PhysicalDriveTable()[static_cast<size_t>(index)];
    return QStringLiteral("Disk%1\n%2GB").arg(drive.driveIndex).arg(drive.capacityGB);
}

}  // namespace

class WindowTest : public QObject, public test::WindowFixture {
    Q_OBJECT

    void Click(int id) { QVERIFY2(WindowFixture::Click(id), qPrintable(QStringLiteral("no control %1").arg(id))); }
    void SaveArtefact(const QString& name) { QVERIFY(WindowFixture::SaveArtefact(name)); }

private slots:
    void cleanup() {
        Stop();
        ui::SetMissingSkinBitmaps({});
    }

    // Start-up's check of a TRIM an earlier run left behind, on the start-up key: a run that
    // started 3599 s ago (or in the future) is still under way and keeps its folders; one that
    // started 3600 s ago is over, so its folder goes and the flag is cleared.
    void AnInterruptedTrimIsCleanedUpOnlyWhenItIsOver() {
        const int64_t now = 1767225600;  // the tests' clock start
        struct Case {
            int64_t startAt;
            bool cleaned;
        };
        for (const Case& c : {Case{now - 3599, false}, Case{now - 3600, true}, Case{now + 60, false}}) {
            nlohmann::json profile = DemoProfile();
            profile["registry"] = nlohmann::json::array(
                {{{"key", "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUELK\\SSDVelmora"},
                  {"values", {{{"name", "TrimInProgress"}, {"type", "REG_DWORD"}, {"data", 1}},
                              {{"name", "TrimStartAt"}, {"type", "REG_QWORD"}, {"data", c.startAt}}}}}});
            std::filesystem::path leftover;
            QVERIFY(Start(profile, [&] {
                leftover = machine_->Host(u"C:\\tmpxxxvarno");
                std::filesystem::create_directories(leftover);
                std::ofstream(leftover / "xxxtmpxxxvarnoxxxwtf0.tmp") << "fill";
            }));
            const QString what = QStringLiteral("start %1 s before now").arg(now - c.startAt);
            QVERIFY2(std::filesystem::exists(leftover) != c.cleaned, qPrintable(what));
            platform::Registry& registry = *platform::Current().registry;
            platform::RegKey key = platform::kNullRegKey;
            QCOMPARE(registry.RegOpenKeyEx(0x80000002u, u"SOFTWARE\\QUELK\\SSDVelmora", 0, 0xF003F, &key), 0u);
            uint32_t value = 7;
            uint32_t size = sizeof(value);
            uint32_t type = 0;
            QCOMPARE(registry.RegQueryValueEx(key, u"TrimInProgress", &type, reinterpret_cast<uint8_t*>(&value), &size), 0u);
            (void)registry.RegCloseKey(key);
            QVERIFY2(value == (c.cleaned ? 0u : 1u), qPrintable(what));
            const std::string trace = TraceText();
            QVERIFY(trace.find("Check tmp folder done!") != std::string::npos);
            QCOMPARE(trace.find("Enter ATACommand::DeleteTrimTempFolder()") != std::string::npos, c.cleaned);
        }
    }

    // The program's mutex exists while it runs, and the runtime took the PC's locale.
    void TheMutexAndTheLocaleAreThePcs() {
        QVERIFY(Start(DemoProfile()));
        QVERIFY(platform::Current().kernelObjects->OpenMutex(kMainWindowTitle) != 0);
        const auto locale = platform::Current().system->SetLocale(platform::kLcAll, std::nullopt);
        QVERIFY(locale.has_value());
        QCOMPARE(QString::fromStdString(*locale), QStringLiteral("English_United States.1252"));
    }

    // A missing window background is reported and start-up goes on; a missing page
    // background is reported by its page.
    void MissingBitmapsAreReportedAndStartUpGoesOn() {
        ui::SetMissingSkinBitmaps({135, 178});
        QVERIFY(Start(DemoProfile()));
        const auto shown = Shown();
        QStringList texts;
        for (const auto& box : shown) {
            texts << Q(box.text);
        }
        QVERIFY2(texts.contains(QStringLiteral("Error loading bitmap")), qPrintable(texts.join(u'|')));
        // Pages 4 and 5 both paint bitmap 178.
        QCOMPARE(texts.count(QStringLiteral("Error Loading Bitmap!!")), 2);
        QVERIFY(TraceText().find("Error loading bitmap!") != std::string::npos);
        QCOMPARE(Dlg()->PageCount(), 6);
        QVERIFY(Dlg()->Button(1005)->PressedLook());
    }

    // On Windows XP Refresh first re-enumerates the device tree; when that fails the table
    // stays as it was.
    void XpRefreshReportsAFailedReenumeration() {
        nlohmann::json profile = DrivesProfile(2);
        profile["os"] = {{"major", 5}, {"minor", 1}, {"build", 2600}, {"servicePack", "Service Pack 3"}, {"servicePackMajor", 3}};
        profile["deviceTree"] = {{"failReenumerate", 0x33}};
        QVERIFY(Start(profile));
        // Start-up's own Refresh met the failure already; its first scan stands.
        QCOMPARE(DriveCount, 2);
        const size_t before = Shown().size();
        QVERIFY(before >= 1);
        QCOMPARE(Q(Shown().back().text), QStringLiteral("Refreshing device manager fail"));
        Click(1010);
        QCOMPARE(Shown().size(), before + 1);
        QCOMPARE(Q(Shown().back().text), QStringLiteral("Refreshing device manager fail"));
        QCOMPARE(DriveCount, 2);
        QVERIFY(Dlg()->Button(1010)->isEnabled());
    }

    void StartUpRunsItsStepsInOrder() {
        QVERIFY(Start(DemoProfile()));
        const std::string trace = TraceText();
        const char* steps[] = {"This build was compiled at ",
                               "Build number:Q30D1431, Creation Time(UTC):2017 3 13 20 49!",
                               "Enter CVARNO_KorvaneDlg::OnInitDialog()",
                               "Enter ATACommand::DeleteTrimTempFolder()",
                               "Check tmp folder done!",
                               "Enter CVARNO_KorvaneDlg::InitControlBitmaps()",
                               "Enter CVARNO_KorvaneDlg::SetWindowRegionAndPosition()",
                               "Enter CVARNO_KorvaneDlg::InitPropertyPages()",
                               "Enter CVARNO_KorvaneDlg::SetControlPosition()",
                               "Enter CVARNO_KorvaneDlg::InitControlInfo()",
                               "Exit CVARNO_KorvaneDlg::InitControlInfo()",
                               "Exit CVARNO_KorvaneDlg::OnInitDialog()"};
        size_t at = 0;
        for (const char* step : steps) {
            const size_t found = trace.find(step, at);
            QVERIFY2(found != std::string::npos, step);
            at = found;
        }
        // The window is up on the Drive Info page with the first drive selected.
        QCOMPARE(Dlg()->windowTitle(), QStringLiteral("QUELT Tarvex"));
        QCOMPARE(Dlg()->CurrentPage(), 0);
        QCOMPARE(Dlg()->PageCount(), 6);
        QCOMPARE(Dlg()->Sheet()->objectName(), QStringLiteral("600"));
        QCOMPARE(Dlg()->Sheet()->windowTitle(), QStringLiteral("Tarvex Property Sheet"));
        QVERIFY(Dlg()->Button(1005)->PressedLook());
        QCOMPARE(SelectedDrive, 0);
        QVERIFY(Dlg()->Button(1013)->isHidden());
        // Shaped by the background: the corners are cut away, the middle is kept.
        QVERIFY(!Dlg()->mask().contains(QPoint(0, 0)));
        QVERIFY(Dlg()->mask().contains(QPoint(Dlg()->width() / 2, Dlg()->height() / 2)));
        QCOMPARE(Dlg()->Sheet()->pos(), QPoint(228, 200));
        QCOMPARE(Dlg()->Button(1004)->pos(), QPoint(20, 384));
        QCOMPARE(Dlg()->Button(2)->pos(), QPoint(Dlg()->width() - 45, 11));
        QCOMPARE(Dlg()->Button(1009)->pos(), QPoint(Dlg()->width() - 128, 161));
        QCOMPARE(Dlg()->Button(1000)->toolTip(), QStringLiteral("Show the drive information"));
        QVERIFY(Shown().empty());
        SaveArtefact(QStringLiteral("page0-drive-info"));
    }

    void PagesSwitchAndTheTitleFollows() {
        QVERIFY(Start(DemoProfile()));
        const char* names[] = {"page0-drive-info", "page1-diagnostics", "page2-utilities", "page3-system-optimization",
                               "page4-system-info"};
        for (int page : {1, 2, 3, 4, 0}) {
            Click(CVARNO_KorvaneDlg::kPageButtonIds[page]);
            QCOMPARE(Dlg()->CurrentPage(), page);
            QCOMPARE(Dlg()->Sheet()->ActiveIndex(), page);
            QCOMPARE(Dlg()->TitleLabel()->Text(), QStringLiteral("       ") + Q(LoadResourceString(242 + page)));
            for (int other = 0; other < 5; ++other) {
                QCOMPARE(Dlg()->Button(CVARNO_KorvaneDlg::kPageButtonIds[other])->PressedLook(), other == page);
            }
            // System Info hides the drive controls; the others show them.
            QCOMPARE(Dlg()->Button(1005)->isVisible(), page != 4);
            QCOMPARE(Dlg()->Button(1010)->isVisible(), page != 4);
            SaveArtefact(QString::fromLatin1(names[page]));
        }
        // Home: the Drive Info page and the first tab.
        Click(1006);
        QCOMPARE(SelectedDrive, 1);
        Click(1002);
        Click(1011);
        QCOMPARE(Dlg()->CurrentPage(), 0);
        QCOMPARE(SelectedDrive, 0);
        QVERIFY(Dlg()->Button(1005)->PressedLook());
        QVERIFY(!Dlg()->Button(1006)->PressedLook());
    }

    void WindowsXpNamesTheOptimizationPageItsOwnWay() {
        nlohmann::json profile = DrivesProfile(2);
        profile["os"] = {{"major", 5}, {"minor", 1}, {"build", 2600}, {"servicePack", "Service Pack 3"}, {"servicePackMajor", 3}};
        QVERIFY(Start(profile));
        Click(1003);
        QCOMPARE(Dlg()->TitleLabel()->Text(), QStringLiteral("       ") + Q(LoadResourceString(330)));
    }

    void TabsAndArrowsFollowTheDrives() {
        // One drive: only the first tab, no arrows; a hidden tab does nothing.
        QVERIFY(Start(DrivesProfile(1)));
        QVERIFY(Dlg()->Button(1005)->isVisible());
        QVERIFY(!Dlg()->Button(1006)->isVisible());
        QVERIFY(!Dlg()->Button(1007)->isVisible());
        QVERIFY(!Dlg()->Button(1008)->isEnabled());
        QVERIFY(!Dlg()->Button(1009)->isEnabled());
        QCOMPARE(Dlg()->Button(1005)->text(), CaptionOf(0));
        QVERIFY(Dlg()->Button(1005)->text().startsWith(QStringLiteral("Disk0\n")));
        Dlg()->OnTab(1);
        QCOMPARE(SelectedDrive, 0);
        QVERIFY(Dlg()->Button(1005)->PressedLook());

        QVERIFY(Start(DrivesProfile(2)));
        QVERIFY(Dlg()->Button(1006)->isVisible());
        QVERIFY(!Dlg()->Button(1007)->isVisible());
        Click(1006);
        QCOMPARE(SelectedDrive, 1);
        QCOMPARE(Dlg()->Button(1006)->text(), CaptionOf(1));

        QVERIFY(Start(DrivesProfile(3)));
        QVERIFY(Dlg()->Button(1007)->isVisible());
        QVERIFY(!Dlg()->Button(1009)->isEnabled());

        // Five drives: entries 0, 1, 2 and only the next-arrow; two clicks reach 2, 3, 4.
        QVERIFY(Start(DrivesProfile(5)));
        QCOMPARE(Dlg()->Button(1005)->text(), CaptionOf(0));
        QCOMPARE(Dlg()->Button(1007)->text(), CaptionOf(2));
        QVERIFY(!Dlg()->Button(1008)->isEnabled());
        QVERIFY(Dlg()->Button(1009)->isEnabled());
        Click(1009);
        Click(1009);
        QCOMPARE(Dlg()->Button(1005)->text(), CaptionOf(2));
        QCOMPARE(Dlg()->Button(1007)->text(), CaptionOf(4));
        QCOMPARE(SelectedDrive, 4);
        QVERIFY(Dlg()->Button(1007)->PressedLook());
        QVERIFY(!Dlg()->Button(1009)->isEnabled());
        QVERIFY(Dlg()->Button(1008)->isEnabled());
        Click(1008);
        Click(1008);
        QCOMPARE(SelectedDrive, 0);
        QVERIFY(Dlg()->Button(1005)->PressedLook());
        QVERIFY(!Dlg()->Button(1008)->isEnabled());
        QVERIFY(Dlg()->Button(1009)->isEnabled());
        // Refresh starts over at the first drive.
        Click(1009);
        Click(1010);
        QCOMPARE(SelectedDrive, 0);
        QCOMPARE(Dlg()->Button(1005)->text(), CaptionOf(0));
        QVERIFY(Shown().empty());
    }

    void EveryButtonIsRefusedWhileASelfTestRuns() {
        QVERIFY(Start(DemoProfile()));
        Click(1001);
        auto* diagnostics = qobject_cast<ui::CDiagnoticsPage*>(Dlg()->Page(kPageDiagnostics));
        QVERIFY(diagnostics != nullptr);
        diagnostics->Logic().Run(DiagnosticsPageLogic::kQuick);
        QCOMPARE(BusyOperation.load(), 1);
        const int page = Dlg()->CurrentPage();
        const int drive = SelectedDrive;
        const size_t before = Shown().size();
        const int ids[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 2};
        for (int id : ids) {
            Dlg()->Button(id)->setVisible(true);
            Dlg()->Button(id)->setEnabled(true);
            Click(id);
        }
        const auto shown = Shown();
        QCOMPARE(shown.size() - before, std::size(ids));
        for (size_t i = before; i < shown.size(); ++i) {
            QCOMPARE(Q(shown[i].text), Q(LoadResourceString(247)));
        }
        QCOMPARE(Dlg()->CurrentPage(), page);
        QCOMPARE(SelectedDrive, drive);
        QVERIFY(!Dlg()->Ended());
        // The test ends on the drive's clock; its progress reaches the page through the window.
        diagnostics->Logic().Cancel(DiagnosticsPageLogic::kQuick);
        diagnostics->Logic().JoinWorkers();
        QTRY_COMPARE_WITH_TIMEOUT(BusyOperation.load(), 0, 10000);
    }

    void ProgressOfAnotherPageIsDropped() {
        QVERIFY(Start(DemoProfile()));
        Click(1001);
        auto* diagnostics = qobject_cast<ui::CDiagnoticsPage*>(Dlg()->Page(kPageDiagnostics));
        // An erase END (kind 4) while the Diagnostics page is current goes nowhere.
        SelfTestThreadData data;
        data.operationKind = kOperationSecurityErase;
        BusyOperation = kOperationSecurityErase;
        platform::WindowMessage message{Dlg()->Hwnd(), KORVANEMSG_PROGRESS, ProgressWParam(KORVANEMSG_WPARAM_PROGRESSEND),
                                        reinterpret_cast<intptr_t>(&data)};
        QCOMPARE(Dlg()->OnKorvaneProgress(message), 1);
        QCOMPARE(BusyOperation.load(), int(kOperationSecurityErase));
        QVERIFY(diagnostics->Logic().Controls(DiagnosticsPageLogic::kQuick).runEnabled);
        BusyOperation = 0;
    }

    void ClosingIsRefusedWhileBusy() {
        QVERIFY(Start(DemoProfile()));
        BusyOperation = kOperationTrim;
        Dlg()->close();
        QVERIFY(!Dlg()->Ended());
        BusyOperation = 0;
        Click(2);
        QVERIFY(Dlg()->Ended());
    }

    void KeysThatWouldScrollAreSwallowed() {
        QVERIFY(Start(DemoProfile()));
        Dlg()->Button(1006)->setFocus();
        QTest::keyClick(Dlg()->Button(1006), Qt::Key_Right);
        QVERIFY(Dlg()->Button(1006)->HoverLook());
        QCOMPARE(SelectedDrive, 0);
        QCOMPARE(Dlg()->CurrentPage(), 0);
    }

    void NoDriveEndsTheProgramWithItsMessage() {
        QVERIFY(!Start(test::BaseProfile()));
        const auto shown = Shown();
        QCOMPARE(shown.size(), size_t{1});
        QCOMPARE(Q(shown[0].text), Q(LoadResourceString(360)));
        QVERIFY(app_->Dialog() == nullptr);
        // The title was given back: a new start may claim it.
        QVERIFY(machine_->Machine().Windows().FindWindow(kMainWindowTitle) == platform::kNullHwnd);
    }

    void FailedSystemInformationClosesWithoutAMessage() {
        nlohmann::json profile = DrivesProfile(1);
        profile["wmi"]["faults"] = nlohmann::json::parse(R"([{"on": "connectServer"}])");
        QVERIFY(!Start(profile));
        QVERIFY(Shown().empty());
        QVERIFY(!app_->SecondInstance());
    }

    void ASecondCopyEndsSilently() {
        QVERIFY(Start(DemoProfile()));
        ui::CVARNO_KorvaneApp second;
        QVERIFY(!second.Start());
        QVERIFY(second.SecondInstance());
        QVERIFY(second.Dialog() == nullptr);
        QVERIFY(Shown().empty());
    }

    // In every language the page captions, the title and the tab captions fit their places.
    void EveryLanguageFitsItsPlaces() {
        QStringList misfits;
        const auto fits = [&misfits](bool ok, const QString& what) {
            if (!ok) {
                misfits << what;
            }
        };
        for (uint32_t language : ResourceLanguageIds) {
            nlohmann::json profile = DemoProfile();
            profile["uiLanguage"] = language;
            QVERIFY(Start(profile));
            const QString name = QString::number(language);
            for (int id : CVARNO_KorvaneDlg::kPageButtonIds) {
                ui::CBmpBtnCtrl* button = Dlg()->Button(id);
                const QRect place = button->TextPlace();
                const QRect needed = QFontMetrics(button->TextFont())
                                         .boundingRect(place, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, button->text());
                fits(place.contains(needed), name + QStringLiteral(": ") + button->text());
            }
            for (int id : CVARNO_KorvaneDlg::kTabIds) {
                ui::CBmpBtnCtrl* tab = Dlg()->Button(id);
                const QRect needed =
                    QFontMetrics(tab->TextFont()).boundingRect(tab->rect(), Qt::AlignCenter | Qt::TextWordWrap, tab->text());
                fits(tab->rect().contains(needed), name + QStringLiteral(": ") + tab->text());
            }
            for (int page = 0; page < 5; ++page) {
                Click(CVARNO_KorvaneDlg::kPageButtonIds[page]);
                ui::CLabel* title = Dlg()->TitleLabel();
                fits(QFontMetrics(title->LabelFont()).horizontalAdvance(title->Text()) <= title->width(),
                         name + QStringLiteral(": ") + title->Text());
            }
            auto* info = qobject_cast<ui::CSysInfoPage*>(Dlg()->Page(kPageSystemInfo));
            for (int row = 0; row < 7; ++row) {
                ui::CLabel* caption = info->Caption(row);
                fits(QFontMetrics(caption->LabelFont()).horizontalAdvance(caption->Text()) <= caption->width(),
                         name + QStringLiteral(": ") + caption->Text());
            }
            SaveArtefact(QStringLiteral("language-") + name + QStringLiteral("-system-info"));
            Click(1000);
            SaveArtefact(QStringLiteral("language-") + name + QStringLiteral("-drive-info"));
        }
        QVERIFY2(misfits.isEmpty(), qPrintable(QStringLiteral("texts too wide for their places: ") + misfits.join(QStringLiteral(" | "))));
    }

    void SystemInfoInKoreanWithAnOsNameOfTwoLines() {
        nlohmann::json profile = DemoProfile();
        profile["uiLanguage"] = 1042;
        QVERIFY(Start(profile));
        Click(1004);
        auto* page = qobject_cast<ui::CSysInfoPage*>(Dlg()->Page(kPageSystemInfo));
        QVERIFY(page != nullptr);
        const SystemInfo& info = GlobalSystemInfo();
        QCOMPARE(page->Value(1)->Text(), QString::fromUtf16(info.OsName));
        QVERIFY2(page->Value(1)->Text().contains(QLatin1Char('\n')), "the OS name keeps its line break");
        QCOMPARE(page->Value(1)->height(), 20);
        QCOMPARE(page->Value(2)->Text(), QString::fromUtf16(info.CpuName));
        QCOMPARE(page->Caption(0)->Text(), Q(LoadResourceString(274, 1042)));
        for (int row = 0; row < 7; ++row) {
            QCOMPARE(page->Caption(row)->LabelFont().family(), QStringLiteral("Gulim"));
            QCOMPARE(page->Value(row)->LabelFont().family(), QStringLiteral("Gulim"));
            QCOMPARE(page->Caption(row)->TextColor(), QColor(128, 128, 128));
            QCOMPARE(page->Value(row)->TextColor(), QColor(1, 182, 251));
            QCOMPARE(page->Caption(row)->geometry(), ui::CSysInfoPage::Rows()[static_cast<size_t>(row)].captionPlace);
        }
        QCOMPARE(Dlg()->TitleLabel()->LabelFont().family(), QStringLiteral("Gulim"));
        // The page buttons and the title speak the user's language too.
        QCOMPARE(Dlg()->TitleLabel()->Text(), QStringLiteral("       ") + Q(LoadResourceString(246, 1042)));
        QCOMPARE(Dlg()->Button(1000)->text(), Q(LoadResourceString(242, 1042)));
        SaveArtefact(QStringLiteral("page4-system-info-korean"));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
