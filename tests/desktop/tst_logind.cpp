// The logind service against dbusmock's logind on a private bus: the sleep
// inhibitor taken and given back, the lid followed, and a bus without
// logind or with a logind that answers nonsense.

#include "common/TestMain.h"
#include "desktop/LogindService.h"
#include "desktop/MockSystemBus.h"

#include <QSignalSpy>

using tarvo::test::Inhibitor;
using tarvo::test::ListInhibitors;
using tarvo::test::MockSystemBus;

namespace {
const QString Login1 = QStringLiteral("org.freedesktop.login1");
const QString Path = QStringLiteral("/org/freedesktop/login1");
const QString Manager = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

class TestLogind : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lockTakenAndReleased()
    {
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("logind"), Login1));
        LogindService logind(bus.connection());
        QSignalSpy locks(&logind, &LogindService::lockChanged);
        logind.start();
        QTRY_COMPARE_WITH_TIMEOUT(logind.availability(), LogindService::Availability::Available,
                                  10000);
        QVERIFY(ListInhibitors(bus).isEmpty());

        logind.takeLock();
        QTRY_VERIFY_WITH_TIMEOUT(logind.holdsLock(), 10000);
        QCOMPARE(locks.count(), 1);
        const QList<Inhibitor> held = ListInhibitors(bus);
        QCOMPARE(held.size(), 1);
        QCOMPARE(held.first().what, QStringLiteral("sleep:handle-lid-switch"));
        QCOMPARE(held.first().who, QStringLiteral("Tarvo2"));
        QCOMPARE(held.first().why, QStringLiteral("The alarm is armed"));
        QCOMPARE(held.first().mode, QStringLiteral("block"));

        logind.takeLock(); // a second arming step takes no second lock
        QTest::qWait(300);
        QCOMPARE(ListInhibitors(bus).size(), 1);

        logind.releaseLock();
        QVERIFY(!logind.holdsLock());
        QTRY_VERIFY_WITH_TIMEOUT(ListInhibitors(bus).isEmpty(), 10000);
        QCOMPARE(locks.count(), 2);
    }

    void releasedBeforeTheReply()
    {
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("logind"), Login1));
        LogindService logind(bus.connection());
        QSignalSpy locks(&logind, &LogindService::lockChanged);
        logind.start();
        logind.takeLock();
        logind.releaseLock(); // disarmed while the request is on its way
        logind.takeLock();
        logind.releaseLock();
        // Both replies arrive and their descriptors are closed at once.
        QTRY_COMPARE_WITH_TIMEOUT(bus.methodCalls(Login1, Path, QStringLiteral("Inhibit")), 2,
                                  20000);
        QTRY_VERIFY_WITH_TIMEOUT(ListInhibitors(bus).isEmpty(), 20000);
        QVERIFY(!logind.holdsLock());
        QCOMPARE(locks.count(), 0);
    }

    void closedWithTheService()
    {
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("logind"), Login1));
        {
            LogindService logind(bus.connection());
            logind.takeLock();
            QTRY_VERIFY_WITH_TIMEOUT(logind.holdsLock(), 10000);
            QCOMPARE(ListInhibitors(bus).size(), 1);
        }
        QTRY_VERIFY_WITH_TIMEOUT(ListInhibitors(bus).isEmpty(), 10000);
    }

    void lidFollowed()
    {
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("logind"), Login1));
        QVERIFY(bus.setProperty(Login1, Path, Manager, QStringLiteral("LidPresent"), true));
        QVERIFY(bus.setProperty(Login1, Path, Manager, QStringLiteral("LidClosed"), false));
        LogindService logind(bus.connection());
        QSignalSpy present(&logind, &LogindService::lidPresentChanged);
        QSignalSpy closed(&logind, &LogindService::lidClosedChanged);
        logind.start();
        QTRY_VERIFY_WITH_TIMEOUT(logind.lidPresent(), 10000);
        QCOMPARE(present.count(), 1);
        QVERIFY(!logind.lidClosed());

        QVERIFY(bus.changeProperty(Login1, Path, Manager, QStringLiteral("LidClosed"), true));
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 10000);
        QCOMPARE(closed.first().first().toBool(), true);
        QVERIFY(bus.changeProperty(Login1, Path, Manager, QStringLiteral("LidClosed"), false));
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 2, 10000);
        QCOMPARE(closed.last().first().toBool(), false);
    }

    void lidPolledWithoutSignal()
    {
        // Adding a property sends no PropertiesChanged: only the poll sees it.
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("logind"), Login1));
        LogindService logind(bus.connection());
        QSignalSpy closed(&logind, &LogindService::lidClosedChanged);
        logind.start();
        QTRY_COMPARE_WITH_TIMEOUT(logind.availability(), LogindService::Availability::Available,
                                  10000);
        logind.setWatching(true);
        QVERIFY(bus.setProperty(Login1, Path, Manager, QStringLiteral("LidClosed"), true));
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 3 * LogindService::LidPollInterval + 5000);
        QVERIFY(logind.lidClosed());
    }

    void notAvailable_data()
    {
        QTest::addColumn<bool>("busThere");
        QTest::newRow("no system bus") << false;
        QTest::newRow("bus without logind") << true;
    }
    void notAvailable()
    {
        QFETCH(bool, busThere);
        MockSystemBus bus;
        const QDBusConnection connection =
            busThere ? bus.connection() : QDBusConnection(QStringLiteral("no-such-bus"));
        LogindService logind(connection);
        QSignalSpy refused(&logind, &LogindService::lockRefused);
        logind.start();
        logind.takeLock();
        QTRY_COMPARE_WITH_TIMEOUT(logind.availability(), LogindService::Availability::Unavailable,
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 10000);
        QVERIFY(!logind.holdsLock());
        QVERIFY(!logind.lidPresent());
    }

    void nonsenseReplies()
    {
        // A login1 whose Inhibit returns a string and whose lid properties
        // are strings: refused and ignored, nothing else happens.
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("logind"), Login1));
        const QDBusMessage added = bus.call(
            Login1, Path, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddMethod"),
            {Manager, QStringLiteral("Inhibit"), QStringLiteral("ssss"), QStringLiteral("s"),
             QStringLiteral("ret = 'not a descriptor'")});
        QCOMPARE(added.type(), QDBusMessage::ReplyMessage);
        QVERIFY(bus.setProperty(Login1, Path, Manager, QStringLiteral("LidPresent"),
                                QStringLiteral("yes")));
        LogindService logind(bus.connection());
        QSignalSpy refused(&logind, &LogindService::lockRefused);
        logind.start();
        logind.takeLock();
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 10000);
        QCOMPARE(refused.first().first().toString(), QStringLiteral("unexpected reply"));
        QVERIFY(!logind.holdsLock());
        QVERIFY(!logind.lidPresent());
    }
};

TARVO_TEST_MAIN(TestLogind)
#include "tst_logind.moc"
