// The dialogs inside the window: a box a worker thread asks for is shown on the GUI thread
// while the worker waits, with the application's caption; the file dialog takes a name that
// does not exist yet and hands back the PC's path of it; scripted answers and the message log.
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/machine_control.h"
#include "platform/win32_values.h"
#include "ui/gui_dialogs.h"

using namespace tarvex;
using tarvex::ui::GuiDialogs;

class GuiDialogsTest : public QObject {
    Q_OBJECT

    // Acts on the modal dialog of type T once it is up; the check runs on a timer, so it also
    // runs inside the dialog's own event loop.
    template <typename T, typename Act>
    static void WhenShown(Act act) {
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, act] {
            if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
                timer->stop();
                timer->deleteLater();
                act(dialog);
            }
        });
        timer->start();
    }

private slots:
    void init() {
        ::unsetenv("TARVEX_GUI_ANSWERS");
        ::unsetenv("TARVEX_GUI_FILE_ANSWERS");
        ::unsetenv("TARVEX_GUI_MESSAGE_LOG");
    }

    void FiltersAndCautiousAnswers() {
        QCOMPARE(ui::QtFileFilter(u"Log File(*.log)|*.log|All Files(*.*)|*.*||"),
                 QStringLiteral("Log File(*.log) (*.log);;All Files(*.*) (*.*)"));
        QCOMPARE(ui::QtFileFilter(u"Firmware (*.bin)|*.bin;*.fw||"), QStringLiteral("Firmware (*.bin) (*.bin *.fw)"));
        QCOMPARE(ui::CautiousAnswer(win::MB_OK | win::MB_ICONERROR), win::IDOK);
        QCOMPARE(ui::CautiousAnswer(win::MB_YESNO), win::IDNO);
        QCOMPARE(ui::CautiousAnswer(win::MB_OKCANCEL), win::IDCANCEL);
        QCOMPARE(ui::CautiousAnswer(win::MB_YESNOCANCEL), win::IDCANCEL);
        QCOMPARE(ui::CautiousAnswer(win::MB_RETRYCANCEL), win::IDCANCEL);
    }

    void AWorkersBoxIsShownOnTheGuiThreadAndWaitsForTheAnswer() {
        GuiDialogs dialogs(nullptr);
        QVERIFY(!dialogs.Scripted());
        std::atomic<int> answer{-1};
        QString title, text;
        bool onGuiThread = false;
        bool questionIcon = false;
        int answerWhileShown = 0;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            onGuiThread = box->thread() == QApplication::instance()->thread();
            questionIcon = box->icon() == QMessageBox::Question;
            answerWhileShown = answer.load();
            box->button(QMessageBox::Yes)->click();
        });
        std::thread worker([&] { answer = dialogs.MessageBox(u"Erase the drive?", u"", win::MB_YESNO | win::MB_ICONQUESTION); });
        QTRY_VERIFY_WITH_TIMEOUT(answer.load() != -1, 20000);
        worker.join();
        QCOMPARE(answer.load(), win::IDYES);
        QCOMPARE(answerWhileShown, -1);  // the worker waited for the answer
        QVERIFY(onGuiThread);
        QVERIFY(questionIcon);
        QCOMPARE(title, QStringLiteral("Tarvex"));
        QCOMPARE(text, QStringLiteral("Erase the drive?"));

        // On the GUI thread itself the box is modal there.
        WhenShown<QMessageBox>([](QMessageBox* shown) { shown->button(QMessageBox::Cancel)->click(); });
        QCOMPARE(dialogs.MessageBox(u"Go on?", u"", win::MB_OKCANCEL), win::IDCANCEL);
    }

    void TheFileDialogTakesANewNameAndGivesThePcsPath() {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        platform::MachineRequest request;
        request.machine = "demo";
        request.state = (temp.path() + QStringLiteral("/state")).toStdString();
        request.moduleName = u"Tarvex.exe";
        std::string error;
        auto machine = platform::OpenMachine(request, &error);
        QVERIFY2(machine != nullptr, error.c_str());
        GuiDialogs dialogs(machine.get());
        const QString target = temp.filePath(QStringLiteral("new-report.log"));
        QVERIFY(!QFile::exists(target));
        WhenShown<QFileDialog>([target](QFileDialog* dialog) {
            dialog->selectFile(target);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const auto chosen = dialogs.GetOpenFileName(u"Export Log", u"Log File(*.log)|*.log||", u"");
        QVERIFY(chosen.has_value());
        const auto host = machine->HostPath(*chosen);
        QVERIFY(host.has_value());
        QCOMPARE(QString::fromStdString(host->string()), target);
        QVERIFY(chosen->ends_with(u":\\new-report.log"));
    }

    void ScriptedAnswersAndTheMessageLog() {
        QTemporaryDir temp;
        const QString log = temp.filePath(QStringLiteral("boxes.log"));
        ::setenv("TARVEX_GUI_ANSWERS", "yes,2", 1);
        ::setenv("TARVEX_GUI_FILE_ANSWERS", "cancel", 1);
        ::setenv("TARVEX_GUI_MESSAGE_LOG", log.toLocal8Bit().constData(), 1);
        GuiDialogs dialogs(nullptr);
        QVERIFY(dialogs.Scripted());
        QCOMPARE(dialogs.MessageBox(u"one", u"", win::MB_YESNO), win::IDYES);
        QCOMPARE(dialogs.MessageBox(u"two\nlines", u"Caption", win::MB_OKCANCEL), win::IDCANCEL);
        QCOMPARE(dialogs.MessageBox(u"three", u"", win::MB_YESNO), win::IDNO);  // the list ran out
        QVERIFY(!dialogs.GetOpenFileName(u"Open", u"", u"").has_value());
        QVERIFY(!dialogs.GetOpenFileName(u"Open", u"", u"").has_value());  // nothing left: cancelled
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QStringLiteral("Tarvex\tone"));
        QCOMPARE(lines[1], QStringLiteral("Caption\ttwo\\nlines"));
    }
};

QTEST_MAIN(GuiDialogsTest)
#include "gui_dialogs_test.moc"
