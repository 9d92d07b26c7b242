// Desktop notifications reach python-dbusmock's notification daemon on a
// private session bus; without a bus or a daemon nothing blocks or fails.

#include "common/PrivateBus.h"
#include "common/StopProcess.h"
#include "common/TestMain.h"
#include "desktop/Notifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

class TestNotifications : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    tarvo::test::PrivateBus m_bus;
    QProcess m_daemon;

    static QString Python()
    {
        // The distribution's interpreter carries python3-dbusmock.
        return QFile::exists(QStringLiteral("/usr/bin/python3"))
                   ? QStringLiteral("/usr/bin/python3")
                   : QStringLiteral("python3");
    }
    QString logPath() const { return m_dir.filePath(QStringLiteral("notify.log")); }
    QByteArray log() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool startDaemon()
    {
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(Python(),
                       {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                        QStringLiteral("--template"), QStringLiteral("notification_daemon"),
                        QStringLiteral("-l"), logPath()});
        if (!m_daemon.waitForStarted(10000))
            return false;
        return QTest::qWaitFor(
            [] {
                return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.Notifications"));
            },
            20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon is not installed");
        QVERIFY(m_bus.start());
        QVERIFY(!m_bus.address().isEmpty());
        // Before the first use of the session bus in this process.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
        QVERIFY(QDBusConnection::sessionBus().isConnected());
    }
    void cleanupTestCase()
    {
        tarvo::test::stopProcess(m_daemon);
        m_bus.stop();
    }

    void noDaemonNeverBlocks()
    {
        Notifications notifications;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 20; ++i)
            QVERIFY(notifications.notify(QStringLiteral("x"), QStringLiteral("y")));
        QVERIFY(clock.elapsed() < 2000); // no call waits for an answer
        QCOMPARE(notifications.sent(), 20);
    }

    void eventsReachTheDaemon()
    {
        QVERIFY(startDaemon());
        Notifications notifications;
        notifications.armed();
        notifications.alarmRaised(QStringLiteral("Mouse detected"));
        notifications.disarmed();
        notifications.failure(QStringLiteral("Alert to http://x not sent: timeout"));
        QTRY_VERIFY_WITH_TIMEOUT(log().count("Notify") >= 4, 20000);
        QList<QByteArray> calls;
        for (const QByteArray &line : log().split('\n'))
            if (line.contains("Notify"))
                calls << line;
        QVERIFY(calls.at(0).contains("Tarvo2 armed"));
        QVERIFY(calls.at(1).contains("Tarvo2 alarm"));
        QVERIFY(calls.at(1).contains("Mouse detected"));
        QVERIFY(calls.at(1).contains("urgency"));
        QVERIFY(calls.at(2).contains("Tarvo2 disarmed"));
        QVERIFY(calls.at(3).contains("not sent: timeout"));
        for (const QByteArray &call : calls) {
            QVERIFY2(call.contains("\"Tarvo2\""), call.constData()); // app name
            // The icon and the desktop-entry hint name the installed desktop id.
            QVERIFY2(call.count("example.vekor.Tarvo2") == 2, call.constData());
        }
    }

    void disarmingClosesTheAlarms_data()
    {
        QTest::addColumn<bool>("answeredFirst"); // the service answered before the disarming
        QTest::newRow("answered") << true;
        QTest::newRow("disarmed before the answer") << false;
    }
    void disarmingClosesTheAlarms()
    {
        QFETCH(bool, answeredFirst);
        if (m_daemon.state() != QProcess::Running)
            QVERIFY(startDaemon());
        const int closedBefore = log().count("CloseNotification");
        Notifications notifications;
        notifications.alarmRaised(QStringLiteral("Mouse detected"));
        notifications.alarmRaised(QStringLiteral("Microphone detected"));
        if (answeredFirst)
            QTRY_COMPARE(notifications.openAlarms(), 2);
        notifications.disarmed();
        QCOMPARE(notifications.openAlarms(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(log().count("CloseNotification") - closedBefore, 2, 20000);
        QTest::qWait(200);
        QCOMPARE(notifications.openAlarms(), 0); // late answers are not kept
        // Disarmed again with nothing on screen: nothing more to close.
        notifications.disarmed();
        QTest::qWait(300);
        QCOMPARE(log().count("CloseNotification") - closedBefore, 2);
    }

    // One notice per kind of problem, replaced in place, not critical, gone
    // with the problem or at the disarming.
    void problemsAreReplacedAndClosed()
    {
        if (m_daemon.state() != QProcess::Running)
            QVERIFY(startDaemon());
        const int notifiedBefore = log().count("Notify");
        const int closedBefore = log().count("CloseNotification");
        using Problem = Notifications::Problem;
        Notifications notifications;
        notifications.failure(QStringLiteral("Alert not sent: timeout"), Problem::Alerts);
        QTRY_COMPARE_WITH_TIMEOUT(notifications.openProblems(), 1, 20000);
        notifications.failure(QStringLiteral("Alert not sent: refused"), Problem::Alerts);
        notifications.failure(QStringLiteral("Heartbeat not sent"), Problem::Heartbeat);
        QTRY_COMPARE_WITH_TIMEOUT(log().count("Notify") - notifiedBefore, 3, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(notifications.openProblems(), 2, 20000);
        QList<QByteArray> calls;
        for (const QByteArray &line : log().split('\n'))
            if (line.contains("Notify \"Tarvo2\""))
                calls << line;
        calls = calls.mid(calls.size() - 3);
        QVERIFY2(calls.at(0).contains("\"Tarvo2\" 0 "), calls.at(0).constData());
        QVERIFY2(!calls.at(1).contains("\"Tarvo2\" 0 "), calls.at(1).constData()); // in place
        QVERIFY2(calls.at(2).contains("\"Tarvo2\" 0 "), calls.at(2).constData());
        for (const QByteArray &call : calls)
            QVERIFY2(!call.contains("\"urgency\": 2"), call.constData());
        notifications.problemGone(Problem::Alerts);
        QCOMPARE(notifications.openProblems(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(log().count("CloseNotification") - closedBefore, 1, 20000);
        notifications.disarmed();
        QCOMPARE(notifications.openProblems(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(log().count("CloseNotification") - closedBefore, 2, 20000);
    }

    void daemonGoneMidway()
    {
        tarvo::test::stopProcess(m_daemon);
        Notifications notifications;
        QVERIFY(notifications.notify(QStringLiteral("still"), QStringLiteral("fine")));
        QTest::qWait(100);
    }
};

TARVO_TEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
