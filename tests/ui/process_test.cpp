// Tarvex as whole processes on one emulated PC: a second copy ends at once while the first
// runs, a copy that died does not block the next start, two state directories are two PCs,
// and a PC without drives ends the program after its message.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kStartTimeoutMs = 60000;

}  // namespace

class ProcessTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp_;

    QProcessEnvironment Environment(const QString& state, const QString& screenshot, bool exitAfterFirstFrame) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TARVEX_STATE"), state);
        env.insert(QStringLiteral("TARVEX_MACHINE"), QStringLiteral("demo"));
        env.insert(QStringLiteral("TARVEX_GUI_ANSWERS"), QString());
        env.insert(QStringLiteral("TARVEX_GUI_MESSAGE_LOG"), temp_.filePath(QStringLiteral("messages.log")));
        env.insert(QStringLiteral("TARVEX_GUI_SCREENSHOT"), screenshot);
        if (exitAfterFirstFrame) {
            env.insert(QStringLiteral("TARVEX_GUI_EXIT_AFTER_FIRST_FRAME"), QStringLiteral("1"));
        }
        return env;
    }

    // Runs one copy to its end; its exit code.
    int RunToEnd(const QProcessEnvironment& env) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TARVEX_GUI_PATH), {});
        if (!process.waitForFinished(kStartTimeoutMs)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }

    static bool WaitForFile(const QString& path, QProcess& process) {
        for (int waited = 0; waited < kStartTimeoutMs; waited += 50) {
            if (QFile::exists(path) && QFile(path).size() > 0) {
                return true;
            }
            if (process.state() == QProcess::NotRunning) {
                return false;
            }
            QTest::qWait(50);
        }
        return false;
    }

private slots:
    void initTestCase() { QVERIFY(temp_.isValid()); }

    void OneCopyPerPc() {
        const QString state = temp_.filePath(QStringLiteral("pc"));
        const QString first = temp_.filePath(QStringLiteral("first.png"));
        QProcess running;
        running.setProcessEnvironment(Environment(state, first, false));
        running.start(QStringLiteral(TARVEX_GUI_PATH), {});
        QVERIFY2(WaitForFile(first, running), "the first copy shows its window");

        // A second copy on the same PC ends silently, without a window of its own.
        const QString second = temp_.filePath(QStringLiteral("second.png"));
        QCOMPARE(RunToEnd(Environment(state, second, true)), 0);
        QVERIFY(!QFile::exists(second));
        QVERIFY(running.state() == QProcess::Running);

        // Another PC is another world.
        const QString other = temp_.filePath(QStringLiteral("other.png"));
        QCOMPARE(RunToEnd(Environment(temp_.filePath(QStringLiteral("other-pc")), other, true)), 0);
        QVERIFY(QFile::exists(other));

        // A copy that died, however it died, leaves nothing that blocks the next one.
        running.kill();
        QVERIFY(running.waitForFinished(kStartTimeoutMs));
        const QString third = temp_.filePath(QStringLiteral("third.png"));
        QCOMPARE(RunToEnd(Environment(state, third, true)), 0);
        QVERIFY(QFile::exists(third));
    }

    // Two copies started at the same moment: exactly one gets the window.
    void TwoStartsAtOnceGiveOneWindow() {
        const QString state = temp_.filePath(QStringLiteral("race-pc"));
        const QString shots[2] = {temp_.filePath(QStringLiteral("race-a.png")), temp_.filePath(QStringLiteral("race-b.png"))};
        QProcess copies[2];
        for (int i = 0; i < 2; ++i) {
            copies[i].setProcessEnvironment(Environment(state, shots[i], false));
        }
        copies[0].start(QStringLiteral(TARVEX_GUI_PATH), {});
        copies[1].start(QStringLiteral(TARVEX_GUI_PATH), {});
        // The one that lost ends by itself, with exit code 0.
        int loser = -1;
        for (int waited = 0; waited < kStartTimeoutMs && loser < 0; waited += 50) {
            for (int i = 0; i < 2; ++i) {
                if (copies[i].state() == QProcess::NotRunning) {
                    loser = i;
                }
            }
            QTest::qWait(50);
        }
        QVERIFY2(loser >= 0, "one of the two copies ends");
        const int winner = 1 - loser;
        QCOMPARE(copies[loser].exitStatus(), QProcess::NormalExit);
        QCOMPARE(copies[loser].exitCode(), 0);
        QVERIFY2(WaitForFile(shots[winner], copies[winner]), "the other one shows its window");
        QVERIFY(copies[winner].state() == QProcess::Running);
        QVERIFY(!QFile::exists(shots[loser]));
        copies[winner].kill();
        QVERIFY(copies[winner].waitForFinished(kStartTimeoutMs));
    }

    void NoDriveShowsItsMessageAndEnds() {
        const QString profile = temp_.filePath(QStringLiteral("empty.json"));
        QFile file(profile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"formatVersion": 1, "os": {"major": 6, "minor": 1, "build": 7601,
                      "servicePack": "Service Pack 1", "servicePackMajor": 1}, "uiLanguage": 1033,
                      "program": {"path": "C:\\Tools\\Tarvex.exe"}})");
        file.close();
        QFile::remove(temp_.filePath(QStringLiteral("messages.log")));
        QProcessEnvironment env = Environment(temp_.filePath(QStringLiteral("empty-pc")),
                                              temp_.filePath(QStringLiteral("empty.png")), false);
        env.insert(QStringLiteral("TARVEX_MACHINE"), profile);
        QCOMPARE(RunToEnd(env), 0);
        QVERIFY(!QFile::exists(temp_.filePath(QStringLiteral("empty.png"))));
        QFile log(temp_.filePath(QStringLiteral("messages.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("No available SATA disk!")));
    }
};

QTEST_MAIN(ProcessTest)
#include "process_test.moc"
