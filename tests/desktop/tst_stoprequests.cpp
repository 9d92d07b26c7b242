// Requests to end from outside reach the UI thread as one signal each: a
// caught SIGTERM, SIGINT or SIGHUP (to quit now), and logind's
// PrepareForShutdown (to tell, not to quit), which a held delay lock makes
// wait for the notice.

#include "common/TestMain.h"
#include "desktop/MockSystemBus.h"
#include "desktop/StopRequests.h"

#include <QSignalSpy>
#include <csignal>

using tarvo::test::MockSystemBus;

class TestStopRequests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signalsReachTheEventLoop_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("reason");
        QTest::newRow("term") << int(SIGTERM) << QStringLiteral("SIGTERM");
        QTest::newRow("int") << int(SIGINT) << QStringLiteral("SIGINT");
        QTest::newRow("hup") << int(SIGHUP) << QStringLiteral("SIGHUP");
    }
    void signalsReachTheEventLoop()
    {
        QFETCH(int, number);
        QFETCH(QString, reason);
        {
            StopRequests stops;
            QSignalSpy requested(&stops, &StopRequests::stopRequested);
            ::raise(number);               // caught: this process goes on
            QCOMPARE(requested.size(), 0); // handed over, not called from the handler
            QTRY_COMPARE(requested.size(), 1);
            ::alarm(0); // the watchdog of an end that never came
            QCOMPARE(requested.first().at(0).toString(), reason);
            QCOMPARE(requested.first().at(1).toBool(), true);
        }
        struct sigaction now = {};
        sigaction(number, nullptr, &now);
        QVERIFY(now.sa_handler == SIG_DFL); // put back when the object goes
    }

    void shutdownIsToldNotQuit()
    {
        MockSystemBus bus;
        QVERIFY(
            bus.startTemplate(QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1")));
        StopRequests stops;
        stops.watchShutdown(bus.connection());
        // While armed a shutdown waits for the notice.
        stops.holdShutdown(true);
        QTRY_VERIFY_WITH_TIMEOUT(stops.holdsShutdown(), 10000);
        const QList<tarvo::test::Inhibitor> held = tarvo::test::ListInhibitors(bus);
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().what, QStringLiteral("shutdown"));
        QCOMPARE(held.first().mode, QStringLiteral("delay"));
        QSignalSpy requested(&stops, &StopRequests::stopRequested);
        const QDBusMessage emitted = bus.call(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"),
            {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForShutdown"),
             QStringLiteral("b"), QVariantList{QVariant(true)}});
        QCOMPARE(emitted.type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(requested.size(), 1, 10000);
        QCOMPARE(requested.first().at(0).toString(), QStringLiteral("system shutdown"));
        QCOMPARE(requested.first().at(1).toBool(), false);
        stops.holdShutdown(false);
        QTRY_VERIFY_WITH_TIMEOUT(tarvo::test::ListInhibitors(bus).isEmpty(), 10000);
    }
};

TARVO_TEST_MAIN(TestStopRequests)
#include "tst_stoprequests.moc"
