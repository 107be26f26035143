// The Drive Info page inside the window: the identity texts of SATA and NVMe drives, the
// partition labels, gauge and stepping, a drive without partitions, the temperature bands,
// the written total, the health icon and the life gauge (also after a resize), a tab change,
// the two popups, a missing page background, a page over an empty drive table, and texts that
// fit their places in every language. Screenshots are kept as artefacts.
#include <QApplication>
#include <QFontMetrics>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "app/drive_tabs.h"
#include "app/progress_message.h"
#include "app/string_table.h"
#include "drives/drive_table.h"
#include "health/drive_info_figures.h"
#include "ui/controls/bitmap_ctrl.h"
#include "ui/controls/bitmap_slider.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/controls/skin.h"
#include "ui/pages/drive_info_page.h"
#include "ui/pages/popup_dialog.h"
#include "window_fixture.h"

using namespace tarvex;
using tarvex::ui::CDriveInfoPage;
using test::DemoProfile;
using test::Q;

namespace {

constexpr uint64_t kMiB = 1024ull * 1024;

nlohmann::json Attribute(int id, int current, uint64_t raw, int threshold = 0) {
    return {{"id", id}, {"current", current}, {"raw", raw}, {"threshold", threshold}};
}

nlohmann::json SataDisk(int number, const std::string& model, nlohmann::json attributes) {
    return {{"number", number},
            {"kind", "sata"},
            {"model", model},
            {"serial", "VR0000000" + std::to_string(number)},
            {"firmware", "1.08"},
            {"capacityBytes", 256060514304ull},
            {"sata", {{"smart", {{"attributes", std::move(attributes)}}}}}};
}

nlohmann::json Volume(const std::string& letter, int disk, int partition, uint64_t sizeMb, uint64_t freeMb) {
    return {{"letter", letter}, {"disk", disk}, {"partition", partition}, {"sizeBytes", sizeMb * kMiB},
            {"freeBytes", freeMb * kMiB}};
}

// Disk 0 holds the program's C:; disk 1 three partitions, the first of 102400 MiB with 25600
// MiB free; disk 2 none.
nlohmann::json PartitionsProfile() {
    nlohmann::json p = test::BaseProfile();
    const nlohmann::json attrs = nlohmann::json::array({Attribute(194, 100, 36)});
    p["disks"] = {SataDisk(0, "VARNO TL30A 256GB", attrs), SataDisk(1, "VARNO TL30A 256GB", attrs),
                  SataDisk(2, "VARNO TL30A 256GB", attrs)};
    p["volumes"] = {Volume("C", 0, 1, 40960, 20480), Volume("D", 1, 1, 102400, 25600),
                    Volume("E", 1, 2, 51200, 51200), Volume("F", 1, 3, 20480, 0)};
    return p;
}

}  // namespace

class DriveInfoPageTest : public QObject, public test::WindowFixture {
    Q_OBJECT

    CDriveInfoPage* Page() const { return qobject_cast<CDriveInfoPage*>(Dlg()->Page(0)); }
    template <typename T = ui::CLabel>
    T* Control(int id) const {
        return Page()->findChild<T*>(QString::number(id), Qt::FindDirectChildrenOnly);
    }
    QString Text(int id) const { return Control(id)->Text(); }
    void ClickOnPage(int id) {
        auto* button = Control<ui::CBmpBtnCtrl>(id);
        QVERIFY2(button != nullptr, qPrintable(QStringLiteral("no control %1").arg(id)));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // Shows the table entry `index` as a tab change would.
    void Select(int index) {
        SelectedDrive = index;
        SelectedPartition = 0;
        Page()->RefreshPage();
    }
    void SavePage(const QString& name) { QVERIFY(SaveArtefact(Page(), name)); }

    // The partition controls for the shown entry: name, sizes, gauge, buttons.
    void ExpectPartition(const char* name, const char* total, const char* free, const char* percent, int gauge,
                         bool previous, bool next) {
        QCOMPARE(Text(1021), QString::fromLatin1(name));
        QCOMPARE(Text(1022), QString::fromLatin1(total));
        QCOMPARE(Text(1023), QString::fromLatin1(free));
        QCOMPARE(Text(1026), QString::fromLatin1(percent));
        QCOMPARE(Control<ui::CBitmapSlider>(1027)->GetPos(), gauge);
        for (int id : {1022, 1023, 1026, 1027}) {
            QVERIFY(!Control<QWidget>(id)->isHidden());
        }
        QCOMPARE(Control<ui::CBmpBtnCtrl>(1024)->isEnabled(), previous);
        QCOMPARE(Control<ui::CBmpBtnCtrl>(1025)->isEnabled(), next);
    }

private slots:
    void cleanup() {
        Stop();
        ui::SetMissingSkinBitmaps({});
    }

    // The SATA drive 0 of the demo PC: identity rows, titles, styles, places and the trace of
    // the page's start.
    void TheSataDriveShowsItsIdentityInItsPlaces() {
        QVERIFY(Start(DemoProfile()));
        QVERIFY(Page() != nullptr);
        QCOMPARE(Text(1040), QStringLiteral("Model: VARNO TL30A 256GB"));
        QCOMPARE(Text(1013), QStringLiteral("Firmware version: 1.08"));
        QCOMPARE(Text(1014), QStringLiteral("Serial number: VR16A2C0014873"));
        QCOMPARE(Text(1015), QStringLiteral("WWN: 5001B44C7A1D0E21"));
        QCOMPARE(Text(1016), QStringLiteral("Connection speed: 6.0 Gb/s"));
        QCOMPARE(Text(1019), QStringLiteral("Logical Drive Info"));
        QCOMPARE(Text(1036), QStringLiteral("Drive Health"));
        QCOMPARE(Text(1037), QStringLiteral("Estimated Life Remaining"));
        QCOMPARE(Text(1029), QStringLiteral("Total Bytes Written"));
        QCOMPARE(Text(1033), QStringLiteral("Current Temperature"));
        QCOMPARE(Text(1035), QStringLiteral("36 \u00B0C"));
        QCOMPARE(Control<ui::CBmpBtnCtrl>(1018)->text(), QStringLiteral("Drive Details"));
        QCOMPARE(Control<ui::CBmpBtnCtrl>(1041)->text(), QStringLiteral("SMART Details"));
        QCOMPARE(Text(1021), QStringLiteral("C:"));

        struct Look {
            int id;
            QColor colour;
            int pixels;  // 8, 9, 11 points at 96 dpi
            bool bold;
        };
        const QColor grey(128, 128, 128);
        for (const Look& look : {Look{1040, grey, 12, false}, Look{1016, grey, 12, false},
                                 Look{1019, Qt::white, 15, true}, Look{1036, Qt::white, 15, true},
                                 Look{1037, Qt::white, 15, true}, Look{1031, QColor(109, 189, 12), 15, true},
                                 Look{1035, QColor(158, 226, 116), 15, true}, Look{1029, grey, 12, true},
                                 Look{1033, grey, 12, true}, Look{1021, grey, 12, true}, Look{1023, grey, 12, true},
                                 Look{1026, QColor(1, 168, 177), 11, true}}) {
            const ui::CLabel* label = Control(look.id);
            const QString what = QStringLiteral("label %1").arg(look.id);
            QVERIFY2(label->TextColor() == look.colour, qPrintable(what));
            QVERIFY2(label->LabelFont().pixelSize() == look.pixels, qPrintable(what));
            QVERIFY2(label->LabelFont().bold() == look.bold, qPrintable(what));
            QVERIFY2(label->LabelFont().family() == QStringLiteral("Ariel"), qPrintable(what));
        }
        QCOMPARE(Control<ui::CBmpBtnCtrl>(1018)->TextFont().pixelSize(), 13);

        struct Place {
            int id;
            QPoint at;
        };
        for (const Place& p : {Place{1040, {28, 0}}, Place{1013, {28, 14}}, Place{1016, {28, 56}}, Place{1020, {272, 5}},
                               Place{1019, {28, 82}}, Place{1023, {28, 153}}, Place{1026, {200, 146}},
                               Place{1024, {198, 115}}, Place{1025, {230, 115}}, Place{1027, {32, 178}},
                               Place{1028, {273, 122}}, Place{1029, {282, 125}}, Place{1030, {285, 164}},
                               Place{1031, {324, 166}}, Place{1032, {418, 122}}, Place{1033, {426, 125}},
                               Place{1034, {440, 155}}, Place{1035, {470, 166}}, Place{1036, {28, 252}},
                               Place{1037, {298, 252}}, Place{1038, {34, 292}}, Place{1039, {303, 292}},
                               Place{1018, {425, 26}}, Place{1041, {425, 358}}}) {
            QVERIFY2(Control<QWidget>(p.id)->pos() == p.at, qPrintable(QStringLiteral("control %1").arg(p.id)));
        }
        QCOMPARE(Control<QWidget>(1040)->size(), QSize(300, 15));
        QCOMPARE(Control<QWidget>(1020)->size(), ui::SkinBitmapSize(159));
        QCOMPARE(Control<QWidget>(1018)->size(), ui::SkinBitmapSize(169));
        QCOMPARE(Control<ui::CBitmapCtrl>(1034)->StateCount(), 3);

        const std::string trace = TraceText();
        size_t at = 0;
        for (const char* step : {"Enter CDriveInfoPage::OnInitDialog()", "GUI disk remaining life: ",
                                 "Enter CDriveInfoPage::InitControlInfo()",
                                 "Enter CDriveInfoPage::UpdatePartitionControlInfo()",
                                 "Exit CDriveInfoPage::UpdatePartitionControlInfo()",
                                 "Exit CDriveInfoPage::InitControlInfo()", "Exit CDriveInfoPage::OnInitDialog()"}) {
            const size_t found = trace.find(step, at);
            QVERIFY2(found != std::string::npos, step);
            at = found;
        }
        QVERIFY(Shown().empty());
        SavePage(QStringLiteral("drive-info-sata-en"));
    }

    // A tab change resets the partition and shows the NVMe drive, which has no IDENTIFY page
    // (zero WWN) and no SATA link.
    void ATabChangeShowsTheNvmeDrive() {
        QVERIFY(Start(DemoProfile()));
        ClickOnPage(1025);
        QCOMPARE(SelectedPartition, 1);
        QCOMPARE(Text(1021), QStringLiteral("D:"));
        Click(1007);
        QCOMPARE(SelectedDrive, 2);
        QCOMPARE(SelectedPartition, 0);
        QCOMPARE(Text(1040), QStringLiteral("Model: VARNO NV10 512GB"));
        QCOMPARE(Text(1015), QStringLiteral("WWN: 0000000000000000"));
        QCOMPARE(Text(1016), QStringLiteral("Connection speed: N/A"));
        QCOMPARE(Text(1021), QStringLiteral("H:"));
        QVERIFY(!Control<ui::CBmpBtnCtrl>(1024)->isEnabled());
        QVERIFY(!Control<ui::CBmpBtnCtrl>(1025)->isEnabled());
        const DriveInfoFigures figures = ComputeDriveInfoFigures(PhysicalDriveTable()[2]);
        QCOMPARE(Text(1031), Q(figures.totalWrittenText));
        QCOMPARE(Text(1035), Q(figures.temperatureText));
        QCOMPARE(Control<ui::CBitmapSlider>(1039)->GetPos(), figures.remainingLife);
        SavePage(QStringLiteral("drive-info-nvme-en"));
        // Back to the first drive with its first partition.
        Click(1005);
        QCOMPARE(Text(1040), QStringLiteral("Model: VARNO TL30A 256GB"));
        QCOMPARE(Text(1021), QStringLiteral("C:"));
    }

    // Three partitions: the figures of the first, the buttons at both ends, presses that do
    // nothing there; a drive without partitions hides the sizes.
    void PartitionsStepAndADriveWithoutPartitionsSaysSo() {
        QVERIFY(Start(PartitionsProfile()));
        Click(1006);
        QCOMPARE(Page()->PartitionCount(), 3);
        ExpectPartition("D:", "Total: 100.0 GB", "Free: 25.0 GB", "Free: 25.0 %", 75, false, true);
        ClickOnPage(1024);  // already at the first
        QCOMPARE(SelectedPartition, 0);
        ClickOnPage(1025);
        ExpectPartition("E:", "Total: 50.0 GB", "Free: 50.0 GB", "Free: 100.0 %", 0, true, true);
        ClickOnPage(1025);
        ExpectPartition("F:", "Total: 20.0 GB", "Free: 0.0 GB", "Free: 0.0 %", 100, true, false);
        // A disabled button takes no click; the handler itself refuses too.
        Page()->OnNextPartition();
        QCOMPARE(SelectedPartition, 2);
        ExpectPartition("F:", "Total: 20.0 GB", "Free: 0.0 GB", "Free: 0.0 %", 100, true, false);
        ClickOnPage(1024);
        ExpectPartition("E:", "Total: 50.0 GB", "Free: 50.0 GB", "Free: 100.0 %", 0, true, true);
        ClickOnPage(1024);
        ExpectPartition("D:", "Total: 100.0 GB", "Free: 25.0 GB", "Free: 25.0 %", 75, false, true);
        const std::string trace = TraceText();
        QVERIFY(trace.find("Enter CDriveInfoPage::OnNextPartition()") != std::string::npos);
        QVERIFY(trace.find("Exit CDriveInfoPage::OnPreviousPartition()") != std::string::npos);

        Click(1007);
        QCOMPARE(Page()->PartitionCount(), 0);
        QCOMPARE(Text(1021), Q(LoadResourceString(260)));
        for (int id : {1022, 1023, 1026, 1027}) {
            QVERIFY2(Control<QWidget>(id)->isHidden(), qPrintable(QString::number(id)));
        }
        QVERIFY(!Control<ui::CBmpBtnCtrl>(1024)->isEnabled());
        QVERIFY(!Control<ui::CBmpBtnCtrl>(1025)->isEnabled());
        Page()->OnPreviousPartition();
        Page()->OnNextPartition();
        QCOMPARE(SelectedPartition, 0);
        SavePage(QStringLiteral("drive-info-no-partition-en"));
        // The sizes come back with a drive that has partitions.
        Click(1005);
        ExpectPartition("C:", "Total: 40.0 GB", "Free: 20.0 GB", "Free: 50.0 %", 50, false, false);
    }

    // The temperature bands at their edges and without a sensor, the written total of the
    // maker's drives only, the health icon and the life gauge with its model rules.
    void FiguresFollowTheDriveOnTheirControls() {
        nlohmann::json p = test::BaseProfile();
        using nlohmann::json;
        // Reallocated sectors well above their threshold: nothing found.
        const json ok = Attribute(5, 100, 0, 10);
        p["disks"] = {
            SataDisk(0, "VARNO TL20 240GB", json::array({ok, Attribute(194, 100, 30), Attribute(241, 100, 2048)})),
            SataDisk(1, "VARNO TL30A 256GB", json::array({ok, Attribute(194, 100, 31), Attribute(231, 40, 0)})),
            SataDisk(2, "VARNO RB54 128GB", json::array({ok, Attribute(194, 100, 70), Attribute(231, 40, 0)})),
            SataDisk(3, "Kestrel KS500 500GB", json::array({ok, Attribute(194, 100, 71), Attribute(231, 40, 0)})),
            SataDisk(4, "VARNO TL30A 256GB", json::array({Attribute(5, 5, 0, 10), Attribute(9, 100, 10)}))};
        p["volumes"] = json::array({Volume("C", 0, 1, 40960, 20480)});
        QVERIFY(Start(p));
        QCOMPARE(DriveCount, 5);
        struct Case {
            const char* temperature;
            int band;
            QColor colour;
            const char* written;
            int health;
            int life;
        };
        const QColor cool(86, 209, 255), normal(158, 226, 116), hot(255, 81, 110);
        const Case cases[] = {
            {"30 \u00B0C", 0, cool, "2.00TB", 0, 100},
            {"31 \u00B0C", 1, normal, "N/A", 0, 40},  // this family counts writes in attribute 241
            {"70 \u00B0C", 1, normal, "N/A", 0, 100},   // RB54: the SMART life does not count
            {"71 \u00B0C", 2, hot, "N/A", 0, 100},      // another maker's drive
            {"N/A", 2, hot, "N/A", 1, 100},             // no sensor; attribute 5 below its threshold
        };
        for (int i = 0; i < 5; ++i) {
            Select(i);
            const Case& c = cases[i];
            const QString what = QStringLiteral("drive %1").arg(i);
            QVERIFY2(Text(1035) == QString::fromUtf8(c.temperature), qPrintable(what + QStringLiteral(": ") + Text(1035)));
            QVERIFY2(Control<ui::CBitmapCtrl>(1034)->State() == c.band, qPrintable(what));
            QVERIFY2(Control(1035)->TextColor() == c.colour, qPrintable(what));
            QVERIFY2(Text(1031) == QString::fromLatin1(c.written), qPrintable(what + QStringLiteral(": ") + Text(1031)));
            QVERIFY2(Control<ui::CBitmapCtrl>(1038)->State() == c.health, qPrintable(what));
            QVERIFY2(Control<ui::CBitmapSlider>(1039)->GetPos() == c.life, qPrintable(what));
        }

        // A resize lays the page out again; the RB54 drive keeps its full gauge, while the
        // trace gives the SMART figure.
        Select(2);
        QSize sheet = Dlg()->Sheet()->size();
        Dlg()->Sheet()->resize(sheet + QSize(10, 10));
        QCOMPARE(Page()->size(), sheet + QSize(10, 10));
        Dlg()->Sheet()->resize(sheet);
        QCOMPARE(Control<ui::CBitmapSlider>(1039)->GetPos(), 100);
        QCOMPARE(Control<QWidget>(1039)->pos(), QPoint(303, 292));
        QVERIFY(TraceText().find("GUI disk remaining life: 40") != std::string::npos);
    }

    // The two buttons open one popup each, of their kind and for the selected drive, made
    // for the click and gone when it closes.
    void PopupButtonsOpenTheirPopupForTheSelectedDrive() {
        QVERIFY(Start(DemoProfile()));
        struct Opened {
            int mode = -1;
            int drive = -1;
            bool page = false;
        };
        auto press = [&](int id) {
            Opened opened;
            QTimer closer;
            closer.setInterval(5);
            connect(&closer, &QTimer::timeout, this, [&] {
                if (auto* popup = qobject_cast<ui::CPopupDialog*>(QApplication::activeModalWidget())) {
                    opened = {popup->Mode(), popup->DriveIndex(), popup->parentWidget() == Page()};
                    closer.stop();
                    popup->reject();
                }
            });
            closer.start();
            ClickOnPage(id);
            closer.stop();
            return opened;
        };
        Opened details = press(1018);
        QCOMPARE(details.mode, 1);
        QCOMPARE(details.drive, 0);
        QVERIFY(details.page);
        QVERIFY(Page()->findChildren<ui::CPopupDialog*>().isEmpty());

        Click(1007);
        Opened smart = press(1041);
        QCOMPARE(smart.mode, 2);
        QCOMPARE(smart.drive, 2);
        QVERIFY(Page()->findChildren<ui::CPopupDialog*>().isEmpty());
        const std::string trace = TraceText();
        QVERIFY(trace.find("Exit CDriveInfoPage::OnDriveDetails()") != std::string::npos);
        QVERIFY(trace.find("Exit CDriveInfoPage::OnSmartDetails()") != std::string::npos);
    }

    // Without its background the page says so once and still fills its controls.
    void AMissingBackgroundIsReported() {
        ui::SetMissingSkinBitmaps({177});
        QVERIFY(Start(DemoProfile()));
        int boxes = 0;
        for (const auto& box : Shown()) {
            boxes += Q(box.text) == QStringLiteral("Error Loading Bitmap!!") ? 1 : 0;
        }
        QCOMPARE(boxes, 1);
        QVERIFY(Page()->Background().isNull());
        QCOMPARE(Text(1040), QStringLiteral("Model: VARNO TL30A 256GB"));
    }

    // A page over an empty drive table fills nothing and takes its button presses calmly.
    void NothingIsFilledWithoutDrives() {
        ResetGlobals();
        test::TestMachine machine(test::BaseProfile());
        CDriveInfoPage page;
        page.resize(ui::SkinBitmapSize(177));
        page.InitPage();
        for (int id : {1040, 1015, 1021, 1031, 1035}) {
            const auto* label = page.findChild<ui::CLabel*>(QString::number(id));
            QVERIFY2(label != nullptr && label->Text().isEmpty(), qPrintable(QString::number(id)));
        }
        QCOMPARE(page.PartitionCount(), 0);
        page.OnPreviousPartition();
        page.OnNextPartition();
        page.RefreshPage();
        QCOMPARE(SelectedPartition, 0);
        ResetGlobals();
    }

    // Every text of the page fits its place in each of the six languages, with and without
    // partitions; screenshots in Chinese and Korean.
    void TextsFitInEveryLanguage() {
        for (int language : {1033, 2052, 1042, 1028, 1041, 1049}) {
            nlohmann::json profile = PartitionsProfile();
            profile["uiLanguage"] = language;
            QVERIFY(Start(profile));
            const QString face = language == 1042 ? QStringLiteral("Gulim") : QStringLiteral("Ariel");
            QCOMPARE(Control(1040)->LabelFont().family(), face);
            QCOMPARE(Control<ui::CBmpBtnCtrl>(1041)->TextFont().pixelSize(), language == 1042 || language == 1049 ? 12 : 13);
            for (int drive : {1, 2}) {
                Select(drive);
                for (ui::CLabel* label : Page()->findChildren<ui::CLabel*>()) {
                    if (label->isHidden()) {
                        continue;
                    }
                    const QRect need = QFontMetrics(label->LabelFont())
                                           .boundingRect(label->rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                                                         label->Text());
                    QVERIFY2(label->rect().contains(need), qPrintable(QStringLiteral("%1 in %2: \"%3\" needs %4 x %5")
                                                                         .arg(label->objectName())
                                                                         .arg(language)
                                                                         .arg(label->Text())
                                                                         .arg(need.width())
                                                                         .arg(need.height())));
                }
                for (int id : {1018, 1041}) {
                    auto* button = Control<ui::CBmpBtnCtrl>(id);
                    const int width = QFontMetrics(button->TextFont()).horizontalAdvance(button->text());
                    QVERIFY2(width <= button->width() - 8, qPrintable(QStringLiteral("%1 in %2").arg(id).arg(language)));
                }
            }
            if (language == 2052 || language == 1042) {
                Click(1005);
                SavePage(QStringLiteral("drive-info-sata-%1").arg(language));
            }
            Stop();
        }
        nlohmann::json demo = DemoProfile();
        demo["uiLanguage"] = 2052;
        QVERIFY(Start(demo));
        SavePage(QStringLiteral("drive-info-sata-demo-2052"));
        Click(1007);
        SavePage(QStringLiteral("drive-info-nvme-2052"));
    }
};

QTEST_MAIN(DriveInfoPageTest)
#include "drive_info_page_test.moc"
