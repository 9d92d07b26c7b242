// A kill at any moment of arming leaves a whole report: the previous one
// until the new lines replace it at once, never a missing or empty file.

#include "alarm/AlarmControl.h"
#include "common/TestMain.h"
#include "report/ReportLog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

const char *const ChildFolderVar = "TARVO_REPORT_KILL_CHILD";

// Arms and disarms for ever, as a user pressing the alarm button would;
// prints "ready" once the first report is on disk.
[[noreturn]] void RunChild(const QString &reportsFolder)
{
    ReportLog report(reportsFolder);
    report.Load();
    AlarmControl::Hooks hooks;
    hooks.activationDelay = [] { return 0; };
    hooks.checkedSounds = [] { return QStringList{QStringLiteral("a.wav")}; };
    hooks.executablePath = QStringLiteral("/opt/tarvo2/tarvo2");
    AlarmControl alarm(report, hooks);
    alarm.setTag(AlarmControl::Switch::Mouse, 1);
    alarm.setTag(AlarmControl::Switch::Simulation, 1);
    for (int round = 0;; ++round) {
        try {
            alarm.ActActivateToggleExecute(); // arm: the report starts anew
            alarm.ActActivateToggleExecute(); // disarm
        } catch (const std::exception &) {
        }
        if (round == 0) {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        }
    }
}

} // namespace

class TestReportKill : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

public:
    TestReportKill()
    {
        const QString folder = qEnvironmentVariable(ChildFolderVar);
        if (!folder.isEmpty())
            RunChild(folder);
    }

private Q_SLOTS:
    void killWhileArmingKeepsAWholeReport()
    {
        const QString folder = m_dir.path() + QStringLiteral("/Reports/");
        const QString path = folder + QStringLiteral("Report.txt");
        const QStringList whole{
            QStringLiteral("Mouse Detection - Enabled"), QStringLiteral("Simulation - Enabled"),
            QStringLiteral("Alarm - Activated"), QStringLiteral("Alarm - Stoped")};
        for (int kill = 0; kill < 40; ++kill) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QString::fromLatin1(ChildFolderVar), folder);
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForStarted());
            QVERIFY(child.waitForReadyRead(30000));
            QTest::qWait(QRandomGenerator::global()->bounded(25));
            child.kill();
            QVERIFY(child.waitForFinished(30000));

            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), "the report is gone");
            const QByteArray bytes = file.readAll();
            QVERIFY2(!bytes.isEmpty(), "the report is empty");
            QList<QByteArray> lines = bytes.split('\n');
            const QByteArray last = lines.takeLast(); // empty, or torn by the kill
            QVERIFY2(!lines.isEmpty(), bytes.constData());
            for (const QByteArray &line : std::as_const(lines)) {
                QVERIFY2(line.endsWith('\r'), bytes.constData());
                const QString message =
                    QString::fromUtf8(line.mid(line.indexOf("] ") + 2).chopped(1));
                QVERIFY2(whole.contains(message), bytes.constData());
            }
            QVERIFY2(lines.first().endsWith("] Mouse Detection - Enabled\r"), bytes.constData());
            // Only the line being appended may be cut short.
            QVERIFY2(QByteArray("[00.00.00 00:00] Alarm - Stoped\r").size() >= last.size(),
                     bytes.constData());
        }
    }
};

TARVO_TEST_MAIN(TestReportKill)
#include "tst_reportkill.moc"
