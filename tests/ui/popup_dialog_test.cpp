// The detail popup over the demo PC: the IDENTIFY and SMART lists of a SATA and an NVMe drive
// (columns, row counts, values read back from the drive record), the header with the storage
// controller line, the window's shape, placement and dragging, the close button, a missing
// background, and screenshots of both modes in English and Chinese.
#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidgetItem>
#include <QTest>
#include <QTimer>

#include <fmt/format.h>

#include "app/progress_message.h"
#include "drives/drive_table.h"
#include "health/smart_names.h"
#include "platform/text.h"
#include "sysinfo/system_info.h"
#include "ui/controls/bmp_btn_ctrl.h"
#include "ui/controls/label.h"
#include "ui/controls/list_ex_ctrl.h"
#include "ui/controls/skin.h"
#include "ui/pages/popup_dialog.h"
#include "window_fixture.h"

using namespace tarvex;
using tarvex::ui::CPopupDialog;

namespace {

using test::DemoProfile;
using test::Q;

constexpr int kSata = 0;
constexpr int kNvme = 2;

QString Column(const CPopupDialog& popup, int column) { return popup.List()->ColumnTitle(column); }

std::vector<int> Widths(const CPopupDialog& popup) {
    std::vector<int> widths;
    for (int c = 0; c < popup.List()->GetColumnCount(); ++c) {
        widths.push_back(popup.List()->GetColumnWidth(c));
    }
    return widths;
}

// A press at `from` in `widget`, a move to `to` and the release there, delivered as the
// window system would: to the widget under the mouse, passed on to its parent if it ignores
// them. The global positions follow the window as it moves.
void Drag(QWidget* widget, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton) {
    auto send = [widget, button](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    };
    send(QEvent::MouseButtonPress, from, button);
    send(QEvent::MouseMove, to, button);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

int RowWithFirstCell(const CPopupDialog& popup, const QString& text) {
    for (int r = 0; r < popup.List()->GetItemCount(); ++r) {
        if (popup.List()->GetItemText(r, 0) == text) {
            return r;
        }
    }
    return -1;
}

}  // namespace

class PopupDialogTest : public QObject, public test::WindowFixture {
    Q_OBJECT

    void StartDemo(int language = 1033) {
        nlohmann::json profile = DemoProfile();
        profile["uiLanguage"] = language;
        QVERIFY(Start(profile));
        QVERIFY(PhysicalDriveTable().size() > static_cast<size_t>(kNvme));
        QCOMPARE(PhysicalDriveTable()[kNvme].interfaceKind, static_cast<int32_t>(NvmeInterface));
    }

private slots:
    void cleanup() {
        Stop();
        ui::SetMissingSkinBitmaps({});
    }

    // Mode 1 on a SATA drive: the 256 IDENTIFY words with their names, the three columns, the
    // controls in their places; the header names the AHCI controller the drive hangs on.
    void DriveDetailsOfASataDrive() {
        StartDemo();
        CPopupDialog popup(1, kSata, Dlg());
        popup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));
        auto* list = popup.findChild<ui::CListExCtrl*>(QStringLiteral("1062"));
        auto* header = popup.findChild<ui::CLabel*>(QStringLiteral("1063"));
        auto* close = popup.findChild<ui::CBmpBtnCtrl*>(QStringLiteral("1"));
        QVERIFY(list != nullptr && header != nullptr && close != nullptr);
        QCOMPARE(list->geometry(), QRect(15, 95, 620, 335));
        QCOMPARE(header->geometry(), QRect(15, 40, 620, 55));
        QCOMPARE(close->geometry(), QRect(605, 4, 30, 30));
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);

        QCOMPARE(list->GetColumnCount(), 3);
        QCOMPARE(Column(popup, 0), QStringLiteral("Item"));
        QCOMPARE(Column(popup, 1), QStringLiteral("Value"));
        QCOMPARE(Column(popup, 2), QStringLiteral("Description"));
        QCOMPARE(Widths(popup), (std::vector<int>{80, 80, 440}));

        QCOMPARE(list->GetItemCount(), 256);
        const PhysicalDriveInfo& drive = PhysicalDriveTable()[kSata];
        for (int word : {0, 49, 60, 83, 106, 169, 217, 255}) {
            const int value = drive.identify[2 * word] | (drive.identify[2 * word + 1] << 8);
            QCOMPARE(list->GetItemText(word, 0), QStringLiteral("Word %1").arg(word));
            QCOMPARE(list->GetItemText(word, 1), QString::fromStdString(fmt::format("0x{:04X}", value)));
        }
        QCOMPARE(list->GetItemText(10, 2), QStringLiteral("Serial number (20 ASCII characters)"));
        QCOMPARE(list->GetItemText(46, 2), QStringLiteral("Model number (40 ASCII characters)"));
        QCOMPARE(list->GetItemText(255, 2), QStringLiteral("Integrity word"));
        // The drive's integrity word is not zero, so real data reached the list.
        QVERIFY(list->GetItemText(255, 1) != QStringLiteral("0x0000"));

        QCOMPARE(header->Text(), QStringLiteral("Drive Detail Information: VARNO TL30A 256GB\n"
                                                "HBA: Standard SATA AHCI Controller / AHCI\n"
                                                "Driver Version: 6.1.7601.18231 (Microsoft)"));
        QVERIFY(header->TextColor().lightness() > 180);
    }

    // Mode 1 on an NVMe drive: 502 rows of the Identify Controller data, long descriptions cut
    // by their column with the whole text in the tooltip, and a list that scrolls to its end
    // without a widget per row.
    void DriveDetailsOfAnNvmeDrive() {
        StartDemo();
        const PhysicalDriveInfo& drive = PhysicalDriveTable()[kNvme];
        CPopupDialog popup(1, kNvme, Dlg());
        popup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));
        ui::CListExCtrl* list = popup.List();
        QCOMPARE(Widths(popup), (std::vector<int>{150, 290, 160}));
        QCOMPARE(list->GetItemCount(), 502);
        QCOMPARE(list->GetItemText(0, 0), QStringLiteral("VID"));
        QCOMPARE(list->GetItemText(0, 1),
                 QString::fromStdString(fmt::format("0x{:04X}", drive.nvmeIdentify[0] | (drive.nvmeIdentify[1] << 8))));
        QCOMPARE(list->GetItemText(0, 2), QStringLiteral("PCI Vendor ID"));
        QCOMPARE(list->GetItemText(3, 0), QStringLiteral("MN"));
        // The model number field is padded with spaces, not NULs.
        QCOMPARE(list->GetItemText(3, 1).trimmed(), QStringLiteral("VARNO NV10 512GB"));
        QCOMPARE(list->GetItemText(501, 0), QStringLiteral("Vendor Specific (1008-1023)"));

        // A description wider than its column carries its whole text as the tooltip; a short
        // one does not need one.
        const QTableWidgetItem* longText = list->item(20, 2);
        QVERIFY(longText != nullptr);
        QVERIFY(longText->text().startsWith(QStringLiteral("Bit 0: support Security Send")));
        QCOMPARE(longText->toolTip(), longText->text());
        QVERIFY(list->item(0, 2)->toolTip().isEmpty());

        // Scrolled to the end, the last row is in view.
        list->scrollToBottom();
        QVERIFY(list->verticalScrollBar()->maximum() > 0);
        QCOMPARE(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
        const QRect last = list->visualRect(list->model()->index(501, 0));
        QVERIFY(list->viewport()->rect().intersects(last));
        QVERIFY(WindowFixture::SaveArtefact(&popup, QStringLiteral("popup_identify_nvme_scrolled")));

        // A list of 42 rows has as many widgets as one of 502.
        CPopupDialog shortList(2, kNvme, Dlg());
        QCOMPARE(shortList.List()->GetItemCount(), 42);
        QCOMPARE(list->findChildren<QWidget*>().size(), shortList.List()->findChildren<QWidget*>().size());
    }

    // Mode 2 on a SATA drive: one row per attribute with its ID, name, values, threshold and
    // the raw bytes with the reserved byte first.
    void SmartDetailsOfASataDrive() {
        StartDemo();
        const PhysicalDriveInfo& drive = PhysicalDriveTable()[kSata];
        CPopupDialog popup(2, kSata, Dlg());
        ui::CListExCtrl* list = popup.List();
        QCOMPARE(popup.HeaderLabel()->Text(), QStringLiteral("SMART Detail Information: VARNO TL30A 256GB"));
        QCOMPARE(Widths(popup), (std::vector<int>{40, 50, 150, 70, 60, 80, 150}));
        QCOMPARE(Column(popup, 0), QStringLiteral("ID"));
        QCOMPARE(Column(popup, 6), QStringLiteral("Raw"));
        QVERIFY(drive.attributeCount > 0);
        QCOMPARE(list->GetItemCount(), static_cast<int>(drive.attributeCount));

        const int row = RowWithFirstCell(popup, QStringLiteral("194"));
        QVERIFY2(row >= 0, "the drive reports attribute 194");
        const SmartAttributeEntry& a = drive.attributes[row];
        QCOMPARE(static_cast<int>(a.id), 194);
        QCOMPARE(list->GetItemText(row, 1), QStringLiteral("0xC2"));
        QCOMPARE(list->GetItemText(row, 2), Q(LookupSmartAttributeName(drive, 194)));
        QCOMPARE(list->GetItemText(row, 3), QString::number(a.current));
        QCOMPARE(list->GetItemText(row, 4), QString::number(a.worst));
        QCOMPARE(list->GetItemText(row, 5), QString::number(drive.thresholdEntries[row].threshold));
        const std::string raw = fmt::format("0x{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}", a.reserved, a.raw[5], a.raw[4],
                                            a.raw[3], a.raw[2], a.raw[1], a.raw[0]);
        QCOMPARE(list->GetItemText(row, 6), QString::fromStdString(raw));
        // Seven columns of 600 pixels fit beside the scroll bar: nothing scrolls sideways.
        popup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));
        QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
    }

    // Mode 2 on an NVMe drive: the 42 rows of the SMART / Health log in two columns wider than
    // the list, so it scrolls sideways.
    void SmartDetailsOfAnNvmeDrive() {
        StartDemo();
        const PhysicalDriveInfo& drive = PhysicalDriveTable()[kNvme];
        CPopupDialog popup(2, kNvme, Dlg());
        popup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));
        ui::CListExCtrl* list = popup.List();
        QCOMPARE(list->GetItemCount(), 42);
        QCOMPARE(Widths(popup), (std::vector<int>{280, 620}));
        QCOMPARE(Column(popup, 0), QStringLiteral("Value"));
        QCOMPARE(Column(popup, 1), QStringLiteral("Description"));
        QCOMPARE(list->GetItemText(6, 0), QString::number(drive.smartData[1] | (drive.smartData[2] << 8)));
        QCOMPARE(list->GetItemText(6, 1), QStringLiteral("Temperature"));
        QCOMPARE(list->GetItemText(9, 0), QString::number(drive.smartData[5]));
        QVERIFY(list->GetItemText(13, 0).startsWith(QStringLiteral("0x")));
        QCOMPARE(list->GetItemText(41, 1), QStringLiteral("Reserved 2 (304-319)."));
        QVERIFY(list->horizontalScrollBar()->maximum() > 0);
        QCOMPARE(popup.HeaderLabel()->Text(), QStringLiteral("SMART Detail Information: VARNO NV10 512GB"));
    }

    // The header takes the last controller that lists the drive, reading only the attached
    // slots that are in use and matched a disk.
    void TheHeaderNamesTheLastControllerOfTheDrive() {
        StartDemo();
        auto controller = [](const char16_t* name, const char16_t* classCode, std::vector<int> disks) {
            HbaInfo hba{};
            platform::CopyToFixed(hba.Name, name);
            platform::CopyToFixed(hba.ClassCode, classCode);
            platform::CopyToFixed(hba.DriverVersion, u"2.0");
            platform::CopyToFixed(hba.DriverProvider, u"Maker");
            for (HbaAttachedDevice& d : hba.AttachedDevices) {
                d.PhysicalDriveIndex = -1;
            }
            hba.AttachedDeviceCount = static_cast<int32_t>(disks.size());
            for (size_t i = 0; i < disks.size(); ++i) {
                hba.AttachedDevices[i].PhysicalDriveIndex = disks[i];
            }
            return hba;
        };
        auto& list = GlobalSystemInfo().HbaList;
        list.clear();
        list.push_back(controller(u"First", u"0101", {0}));
        list.push_back(controller(u"Second", u"010802", {-1, 0}));
        list.push_back(controller(u"Other", u"010601", {3}));
        // A count beyond the slots, with disk 2 in no slot in use.
        HbaInfo odd = controller(u"Odd", u"0C0330", {});
        odd.AttachedDeviceCount = 99;
        list.push_back(odd);

        CPopupDialog sata(1, kSata, Dlg());
        QCOMPARE(sata.HeaderLabel()->Text(), QStringLiteral("Drive Detail Information: VARNO TL30A 256GB\n"
                                                            "HBA: Second / NVMe\nDriver Version: 2.0 (Maker)"));
        CPopupDialog nvme(1, kNvme, Dlg());
        QCOMPARE(nvme.HeaderLabel()->Text(), QStringLiteral("Drive Detail Information: VARNO NV10 512GB\n"));

        const std::vector<PopupController> mapped = CPopupDialog::StorageControllers();
        QCOMPARE(mapped.size(), size_t{4});
        QCOMPARE(mapped[1].diskNumbers, std::vector<int>{0});
        QVERIFY(mapped[3].diskNumbers.empty());
    }

    // Shaped by the key colour of its background, centred on the screen, moved by a press and
    // drag on the background (the header label too), closed by button 1 with result 1.
    void ShapePlacementDragAndClose() {
        StartDemo();
        CPopupDialog popup(1, kSata, Dlg());
        QCOMPARE(popup.size(), QSize(650, 446));
        const QImage background = ui::LoadSkinImage(207);
        QCOMPARE(background.pixel(0, 0), ui::kKeyColour);
        QVERIFY(!popup.mask().contains(QPoint(0, 0)));
        QVERIFY(!popup.mask().contains(QPoint(649, 445)));
        QVERIFY(popup.mask().contains(QPoint(325, 20)));
        QVERIFY(popup.mask().contains(QPoint(20, 430)));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(popup.geometry().center(), screen.center());
        popup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));

        const QPoint start = popup.pos();
        Drag(&popup, QPoint(300, 20), QPoint(340, 50));
        QCOMPARE(popup.pos(), start + QPoint(40, 30));
        Drag(popup.HeaderLabel(), QPoint(10, 10), QPoint(0, 0));
        QCOMPARE(popup.pos(), start + QPoint(30, 20));
        // Another button does not drag.
        Drag(&popup, QPoint(300, 20), QPoint(400, 120), Qt::RightButton);
        QCOMPARE(popup.pos(), start + QPoint(30, 20));

        QTest::mouseClick(popup.CloseButton(), Qt::LeftButton);
        QVERIFY(!popup.isVisible());
        QCOMPARE(popup.result(), 1);

        // Modal: the close button ends DoModal with 1.
        CPopupDialog modal(2, kNvme, Dlg());
        QTimer::singleShot(0, &modal, [&modal] { QTest::mouseClick(modal.CloseButton(), Qt::LeftButton); });
        QCOMPARE(modal.DoModal(), 1);
        QVERIFY(Shown().empty());
    }

    // Without its background the popup says so, keeps its size and still lists the drive; an
    // index outside the drive table lists an empty record.
    void AMissingBackgroundAndAnUnknownDrive() {
        StartDemo();
        ui::SetMissingSkinBitmaps({207});
        CPopupDialog popup(1, kSata, Dlg());
        const auto shown = Shown();
        QCOMPARE(shown.size(), size_t{1});
        QCOMPARE(Q(shown[0].text), QStringLiteral("Error loading bitmap"));
        QCOMPARE(popup.size(), QSize(650, 446));
        QVERIFY(popup.mask().isEmpty());
        QCOMPARE(popup.List()->GetItemCount(), 256);
        popup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popup));
        QVERIFY(WindowFixture::SaveArtefact(&popup, QStringLiteral("popup_missing_background")));
        ui::SetMissingSkinBitmaps({});

        CPopupDialog unknown(2, 99, Dlg());
        QCOMPARE(unknown.List()->GetItemCount(), 0);
        QCOMPARE(unknown.HeaderLabel()->Text(), QStringLiteral("SMART Detail Information: "));
    }

    // Both modes of the SATA and the NVMe drive in English and Simplified Chinese; the
    // header's lines fit its label.
    void Screenshots() {
        for (int language : {1033, 2052}) {
            StartDemo(language);
            for (int index : {kSata, kNvme}) {
                for (int mode : {1, 2}) {
                    CPopupDialog popup(mode, index, Dlg());
                    popup.show();
                    QVERIFY(QTest::qWaitForWindowExposed(&popup));
                    const QStringList lines = popup.HeaderLabel()->Text().split(u'\n');
                    const QFontMetrics metrics(popup.HeaderLabel()->LabelFont());
                    QVERIFY(metrics.lineSpacing() * lines.size() <= popup.HeaderLabel()->height());
                    for (const QString& line : lines) {
                        QVERIFY2(metrics.horizontalAdvance(line) <= popup.HeaderLabel()->width(), qPrintable(line));
                    }
                    const QString name = QStringLiteral("popup_%1_%2_%3")
                                             .arg(mode == 1 ? QStringLiteral("identify") : QStringLiteral("smart"))
                                             .arg(index == kSata ? QStringLiteral("sata") : QStringLiteral("nvme"))
                                             .arg(language == 1033 ? QStringLiteral("en") : QStringLiteral("zh"));
                    QVERIFY(WindowFixture::SaveArtefact(&popup, name));
                }
            }
            Stop();
        }
    }
};

QTEST_MAIN(PopupDialogTest)
#include "popup_dialog_test.moc"
