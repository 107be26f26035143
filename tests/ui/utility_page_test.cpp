// The Utilities page on emulated PCs: its controls in three UI languages, the buttons whose
// flows come later staying disabled, Decrypt Log offered by the command line, the model label
// following the drive tabs, Export Log and Decrypt Log writing their files through the scripted
// file dialog, and the refusal while another operation runs.
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/progress_message.h"
#include "app/string_table.h"
#include "app/ui_language.h"
#include "drives/drive_table.h"
#include "platform/platform.h"
#include "ui/controls/skin.h"
#include "ui/controls/skin_font.h"
#include "ui/pages/utility_page.h"
#include "window_fixture.h"

using namespace tarvex;
using tarvex::ui::CUtilityPage;
using tarvex::ui::kCaptionColour;
using tarvex::ui::kTitleColour;
using tarvex::ui::kValueColour;
using tarvex::ui::SkinBitmapSize;

namespace {

using test::DemoProfile;
using test::Q;

QString Resource(int id) { return Q(LoadResourceString(id)); }

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

class UtilityPageTest : public QObject, public test::WindowFixture {
    Q_OBJECT

    CUtilityPage* Page() const { return qobject_cast<CUtilityPage*>(Dlg()->Page(kPageUtilities)); }
    ui::CLabel* Label(int id) const { return Page()->findChild<ui::CLabel*>(QString::number(id)); }
    ui::CBmpBtnCtrl* PageButton(int id) const { return Page()->Button(id); }
    bool OpenPage(const nlohmann::json& profile) {
        if (!Start(profile)) {
            return false;
        }
        Click(1002);
        return Dlg()->CurrentPage() == kPageUtilities && Page() != nullptr;
    }
    static nlohmann::json WithArguments(const std::string& arguments) {
        nlohmann::json profile = DemoProfile();
        profile["commandLine"] = "\"" + profile["program"]["path"].get<std::string>() + "\"" + arguments;
        return profile;
    }
    std::filesystem::path Host(const std::u16string& windowsPath) const { return machine_->Host(windowsPath); }

private slots:
    void cleanup() { Stop(); }

    void ControlsTextsFontsAndPlaces() {
        struct Language {
            int id;
            const char* face;
            int buttonSize;
        };
        for (const Language& language : {Language{1033, "Ariel", 11}, Language{1049, "Ariel", 9},
                                         Language{1042, "Gulim", 11}, Language{2052, "Ariel", 11}}) {
            nlohmann::json profile = DemoProfile();
            profile["uiLanguage"] = language.id;
            QVERIFY(OpenPage(profile));
            QCOMPARE(int(UiLanguageId), language.id);
            const QString tag = QStringLiteral(" (language %1)").arg(language.id);

            struct LabelRow {
                int id;
                QString text;
                QRect place;
                QRgb colour;
                int size;
            };
            const LabelRow labels[] = {
                {1061, Resource(294), QRect(28, 8, 200, 20), kTitleColour, 11},
                {1052, QStringLiteral("VARNO TL30A 256GB"), QRect(35, 54, 310, 20), kValueColour, 11},
                {1053, Resource(298), QRect(35, 95, 460, 120), kCaptionColour, 9},
            };
            for (const LabelRow& row : labels) {
                ui::CLabel* label = Label(row.id);
                QVERIFY2(label != nullptr, qPrintable(QString::number(row.id) + tag));
                QCOMPARE(label->Text(), row.text);
                QCOMPARE(label->geometry(), row.place);
                QCOMPARE(label->TextColor(), QColor::fromRgb(row.colour));
                QCOMPARE(label->LabelFont().family(), QString::fromLatin1(language.face));
                QCOMPARE(label->LabelFont().pixelSize(), ui::SkinFont(row.size).pixelSize());
            }

            struct ButtonRow {
                int id;
                int stringId;
                QPoint place;
                bool enabled;
            };
            const ButtonRow buttons[] = {{1041, 266, QPoint(35, 225), false}, {1058, 295, QPoint(10, 304), false},
                                         {1059, 296, QPoint(195, 304), false}, {1060, 297, QPoint(380, 304), true},
                                         {1062, 319, QPoint(380, 364), true}};
            for (const ButtonRow& row : buttons) {
                ui::CBmpBtnCtrl* button = PageButton(row.id);
                QVERIFY2(button != nullptr, qPrintable(QString::number(row.id) + tag));
                QCOMPARE(button->text(), Resource(row.stringId));
                QCOMPARE(button->pos(), row.place);
                QCOMPARE(button->isEnabled(), row.enabled);
                QCOMPARE(button->TextFont().family(), QString::fromLatin1(language.face));
                QCOMPARE(button->TextFont().pixelSize(), ui::SkinFont(language.buttonSize).pixelSize());
            }
            // Run has its own faces; the other four share the wide face.
            QCOMPARE(PageButton(1041)->size(), SkinBitmapSize(231));
            QCOMPARE(PageButton(1060)->size(), SkinBitmapSize(182));
            QCOMPARE(PageButton(1041)->Face(), 3);  // the disabled face
            QVERIFY(PageButton(1062)->isHidden());
            // The description wraps inside its box: its text is taller than one line but fits.
            const QFontMetrics metrics(Label(1053)->LabelFont());
            const QRect needed = metrics.boundingRect(QRect(0, 0, 460, 10000), Qt::TextWordWrap, Resource(298));
            QVERIFY2(needed.height() > 20, qPrintable(tag));
            if (language.id == 1033 || language.id == 2052) {
                QVERIFY(SaveArtefact(QStringLiteral("utilities-%1").arg(language.id)));
            }
            Stop();
        }
    }

    void DecryptLogFollowsTheCommandLine() {
        struct Case {
            std::string arguments;
            bool offered;
        };
        for (const Case& c : {Case{"", false}, Case{" -a", true}, Case{" -all", true}, Case{" -UpgradeFw -a", true},
                              Case{" -A", false}, Case{" -UpgradeFw", false}}) {
            QVERIFY(OpenPage(WithArguments(c.arguments)));
            QVERIFY2(PageButton(1062)->isVisible() == c.offered, c.arguments.c_str());
            Stop();
        }
        // A program folder whose name holds "-a" is not an argument.
        nlohmann::json profile = DemoProfile();
        profile["program"]["path"] = "C:\\Tools-a\\Tarvex.exe";
        profile["commandLine"] = "\"C:\\Tools-a\\Tarvex.exe\"";
        QVERIFY(OpenPage(profile));
        QVERIFY(PageButton(1062)->isHidden());
        Stop();

        QVERIFY(OpenPage(WithArguments(" -a")));
        QVERIFY(SaveArtefact(QStringLiteral("utilities-decrypt-log")));
    }

    void TheModelFollowsTheSelectedDrive() {
        QVERIFY(OpenPage(DemoProfile()));
        const QString models[] = {QStringLiteral("VARNO TL30A 256GB"), QStringLiteral("VARNO VQRB77 128GB"),
                                  QStringLiteral("VARNO NV10 512GB")};
        for (int k : {1, 2, 0}) {
            Click(1005 + k);
            QCOMPARE(SelectedDrive, k);
            QCOMPARE(Label(1052)->Text(), models[k]);
            QCOMPARE(Label(1052)->TextColor(), QColor::fromRgb(kValueColour));
            QCOMPARE(Label(1052)->LabelFont().pixelSize(), ui::SkinFont(11).pixelSize());
        }
        // Coming back from another page shows the drive selected there.
        Click(1000);
        Click(1007);
        Click(1002);
        QCOMPARE(Label(1052)->Text(), models[2]);
        // A rescan selects the first drive again.
        Click(1010);
        QCOMPARE(Label(1052)->Text(), models[0]);
    }

    void ExportAndDecryptWriteTheChosenFiles() {
        QVERIFY(OpenPage(WithArguments(" -a")));
        machine_->Machine().Dialogs().QueueOpenFileAnswer(u"C:\\support.log");
        QTest::mouseClick(PageButton(1060), Qt::LeftButton);
        const std::string report = ReadFile(Host(u"C:\\support.log"));
        QVERIFY2(report.rfind("VARNO Velmora Version: ", 0) == 0, report.substr(0, 80).c_str());
        QVERIFY(report.find("VARNO VQRB77 128GB") != std::string::npos);
        auto shown = Shown();
        QVERIFY(shown.size() >= 2);
        QCOMPARE(shown[shown.size() - 2].kind, sim::SimDialogs::Shown::Kind::OpenFile);
        QCOMPARE(Q(shown.back().text), Resource(316));

        // A cancelled dialog writes nothing and says nothing.
        const size_t before = Shown().size();
        machine_->Machine().Dialogs().QueueOpenFileAnswer(std::nullopt);
        QTest::mouseClick(PageButton(1060), Qt::LeftButton);
        QCOMPARE(Shown().size(), before + 1);

        // Decrypt Log: each 16-bit unit of the file is 5 more than the text's.
        const std::u16string text = u"trace line \u00e9";
        std::string scrambled;
        for (const char16_t unit : text) {
            const auto shifted = static_cast<uint16_t>(unit + 5);
            scrambled += static_cast<char>(shifted & 0xFF);
            scrambled += static_cast<char>(shifted >> 8);
        }
        std::ofstream(Host(u"C:\\scrambled.log"), std::ios::binary) << scrambled;
        machine_->Machine().Dialogs().QueueOpenFileAnswer(u"C:\\scrambled.log");
        QTest::mouseClick(PageButton(1062), Qt::LeftButton);
        QCOMPARE(Q(Shown().back().text), Resource(320));
        const std::u16string current = platform::Current().files->GetCurrentDirectory();
        const std::u16string decrypted = current + (current.ends_with(u'\\') ? u"" : u"\\") + u"Decrypted.log";
        QCOMPARE(ReadFile(Host(decrypted)), std::string("trace line \xC3\xA9"));
    }

    void BothLogsAreRefusedWhileAnOperationRuns() {
        QVERIFY(OpenPage(WithArguments(" -a")));
        BusyOperation = kOperationAtaStatistics;
        for (int id : {1060, 1062}) {
            const size_t before = Shown().size();
            QTest::mouseClick(PageButton(id), Qt::LeftButton);
            const auto shown = Shown();
            QCOMPARE(shown.size(), before + 1);
            QCOMPARE(shown.back().kind, sim::SimDialogs::Shown::Kind::MessageBox);
            QCOMPARE(Q(shown.back().text), Resource(247));
        }
        // The drive tabs refuse too, so the model stays.
        Click(1006);
        QCOMPARE(Label(1052)->Text(), QStringLiteral("VARNO TL30A 256GB"));
        BusyOperation = 0;
    }
};

QTEST_MAIN(UtilityPageTest)
#include "utility_page_test.moc"
