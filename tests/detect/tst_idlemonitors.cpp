// The session-bus activity sources against services on a private bus: a
// small mutter idle monitor and a freedesktop screen saver, served from a
// thread of the test so that the sources' start-up calls are answered.

#include "common/PrivateBus.h"
#include "common/TestMain.h"
#include "detect/IdleMonitorActivity.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QThread>
#include <atomic>

namespace {
const QString MutterName = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString SaverName = QStringLiteral("org.freedesktop.ScreenSaver");

class MutterService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")
public:
    std::atomic<uint> lastWatch{0};
    std::atomic<int> watchesAdded{0};
    std::atomic<int> watchesRemoved{0};

public Q_SLOTS:
    uint AddUserActiveWatch()
    {
        ++watchesAdded;
        return ++lastWatch;
    }
    void RemoveWatch(uint) { ++watchesRemoved; }
    void fire(uint id) { Q_EMIT WatchFired(id); }

Q_SIGNALS:
    void WatchFired(uint id);
};

class SaverService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<uint> idle{0};
    std::atomic<int> asked{0};

public Q_SLOTS:
    uint GetSessionIdleTime()
    {
        ++asked;
        return idle.load();
    }
};
} // namespace

class TestIdleMonitors : public QObject
{
    Q_OBJECT

private:
    tarvo::test::PrivateBus m_bus;
    QString m_address;
    QThread m_serviceThread;
    MutterService *m_mutter = nullptr;
    SaverService *m_saver = nullptr;
    int m_clients = 0;

    QDBusConnection client()
    {
        return QDBusConnection::connectToBus(m_address,
                                             QStringLiteral("client%1").arg(++m_clients));
    }
    QDBusConnection serviceBus()
    {
        return QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<ActivitySource::Kind>();
        if (!m_bus.start())
            QSKIP("dbus-daemon is not available");
        m_address = m_bus.address();
        QVERIFY(serviceBus().isConnected());

        m_serviceThread.start();
        m_mutter = new MutterService;
        m_saver = new SaverService;
        // Registered first: the signal relay QtDBus adds becomes a child
        // and moves along with the object.
        const auto all = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals;
        QVERIFY(serviceBus().registerObject(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
                                            m_mutter, all));
        QVERIFY(serviceBus().registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), m_saver,
                                            all));
        m_mutter->moveToThread(&m_serviceThread);
        m_saver->moveToThread(&m_serviceThread);
    }

    void cleanupTestCase()
    {
        if (m_serviceThread.isRunning()) {
            m_serviceThread.quit();
            m_serviceThread.wait();
        }
        // Their thread has ended; a deleteLater posted to it might never run.
        delete m_mutter;
        delete m_saver;
        m_mutter = nullptr;
        m_saver = nullptr;
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        m_bus.stop();
    }

    void missingServicesAreUnavailable()
    {
        QElapsedTimer clock;
        clock.start();
        MutterIdleActivity mutter(client());
        ScreenSaverActivity saver(client());
        QVERIFY(!mutter.available());
        QVERIFY(!saver.available());
        QVERIFY(clock.elapsed() < 3000); // no service: an error at once, no wait
    }

    void mutterWatchFiresAndIsArmedAgain()
    {
        QVERIFY(serviceBus().interface()->registerService(MutterName).isValid());
        MutterIdleActivity source(client());
        QVERIFY(source.available());
        QVERIFY(!source.distinguishesKeys());
        QSignalSpy spy(&source, &ActivitySource::activity);
        const int added = m_mutter->watchesAdded;

        // Someone else's watch is not ours.
        QMetaObject::invokeMethod(m_mutter, "fire", Q_ARG(uint, m_mutter->lastWatch + 100));
        for (int round = 0; round < 3; ++round) {
            const uint watch = m_mutter->lastWatch;
            QMetaObject::invokeMethod(m_mutter, "fire", Q_ARG(uint, watch));
            QTRY_COMPARE_WITH_TIMEOUT(spy.size(), round + 1, 10000);
            QCOMPARE(spy.last().at(0).value<ActivitySource::Kind>(), ActivitySource::Kind::Unknown);
            // A fired watch is gone: a new one is asked for.
            QTRY_COMPARE_WITH_TIMEOUT(m_mutter->watchesAdded.load(), added + round + 1, 10000);
            QTRY_VERIFY(source.available());
        }
        const int removed = m_mutter->watchesRemoved;
        {
            MutterIdleActivity other(client());
            QVERIFY(other.available());
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_mutter->watchesRemoved.load(), removed + 1, 10000);
        QVERIFY(serviceBus().interface()->unregisterService(MutterName).isValid());
    }

    void idleTimeRule_data()
    {
        QTest::addColumn<QList<uint>>("readings");
        QTest::addColumn<int>("activities");
        QTest::newRow("always 0: a service that does not count") << QList<uint>{0, 0, 0, 0} << 0;
        QTest::newRow("idle, growing") << QList<uint>{1, 2, 3, 4} << 0;
        QTest::newRow("idle, then input") << QList<uint>{5, 6, 0} << 1;
        QTest::newRow("input goes on") << QList<uint>{5, 0, 0, 0} << 3;
        QTest::newRow("set back, not to 0 (milliseconds)")
            << QList<uint>{4000, 4500, 120, 600} << 1;
    }

    void idleTimeRule()
    {
        QFETCH(QList<uint>, readings);
        QFETCH(int, activities);
        ScreenSaverActivity source(client()); // no service: the rule alone
        QSignalSpy spy(&source, &ActivitySource::activity);
        for (uint idle : readings)
            source.OnIdleTime(idle);
        QCOMPARE(spy.size(), activities);
    }

    void screenSaverIsPolled()
    {
        m_saver->idle = 7;
        QVERIFY(serviceBus().interface()->registerService(SaverName).isValid());
        ScreenSaverActivity source(client());
        QVERIFY(source.available());
        QSignalSpy spy(&source, &ActivitySource::activity);
        const int asked = m_saver->asked;
        QTRY_VERIFY_WITH_TIMEOUT(m_saver->asked > asked + 1, 10000);
        QCOMPARE(spy.size(), 0);
        m_saver->idle = 0; // someone touched the machine
        QTRY_VERIFY_WITH_TIMEOUT(!spy.isEmpty(), 10000);

        // The service going away makes the source unavailable, not broken.
        QSignalSpy availability(&source, &ActivitySource::availabilityChanged);
        QVERIFY(serviceBus().interface()->unregisterService(SaverName).isValid());
        QTRY_VERIFY_WITH_TIMEOUT(!availability.isEmpty(), 10000);
        QVERIFY(!source.available());
    }
};

TARVO_TEST_MAIN(TestIdleMonitors)
#include "tst_idlemonitors.moc"
