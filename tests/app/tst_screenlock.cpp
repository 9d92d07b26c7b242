// The screen lock at arming and the unlock that disarms, against
// python3-dbusmock's logind template on a private bus that stands in for the
// system bus (and for the session bus, where the screen saver mock goes).

#include "common/TestMain.h"

#include "ArmableWindow.h"
#include "alarm/Autostart.h"
#include "common/PrivateBus.h"
#include "common/StopProcess.h"
#include "desktop/MockSystemBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDialog>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <unistd.h>

using ArmState = AlarmControl::ArmState;

namespace {

const QString Login1 = QStringLiteral("org.freedesktop.login1");
const QString ManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString SessionPath = QStringLiteral("/org/freedesktop/login1/session/c1");
const QString SessionIface = QStringLiteral("org.freedesktop.login1.Session");
const QString MockIface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString ScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString ScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString Python = QStringLiteral("/usr/bin/python3");
const QString LogindLock = QStringLiteral("self.EmitSignal('', 'Lock', '', [])");
const QString Refuse = QStringLiteral("raise dbus.exceptions.DBusException('refused', "
                                      "name='org.freedesktop.DBus.Error.AccessDenied')");

} // namespace

class TestScreenLock : public QObject
{
    Q_OBJECT
    tarvo::test::PrivateBus m_bus;
    QProcess m_logind, m_screenSaver;
    QString m_address;
    std::unique_ptr<QTemporaryDir> m_dir;

    QDBusConnection control() const
    {
        return QDBusConnection::connectToBus(m_address, QStringLiteral("tarvo-test-control"));
    }
    QDBusMessage callMock(const QString &service, const QString &path, const QString &iface,
                          const QString &method, const QVariantList &args = {})
    {
        return tarvo::test::MockSystemBus::callOn(control(), service, path, iface, method, args);
    }
    bool setMethod(const QString &service, const QString &path, const QString &iface,
                   const QString &name, const QString &in, const QString &out, const QString &code)
    {
        return callMock(service, path, MockIface, QStringLiteral("AddMethod"),
                        {iface, name, in, out, code})
                   .type() == QDBusMessage::ReplyMessage;
    }
    int lockCalls()
    {
        const QDBusMessage reply =
            callMock(Login1, SessionPath, MockIface, QStringLiteral("GetMethodCalls"),
                     {QStringLiteral("Lock")});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return -1;
        const QDBusArgument calls = reply.arguments().first().value<QDBusArgument>();
        int count = 0;
        calls.beginArray();
        while (!calls.atEnd()) {
            calls.asVariant();
            ++count;
        }
        calls.endArray();
        return count;
    }
    bool startMock(QProcess &process, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(Python, QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock")} + args);
        return process.waitForStarted(10000);
    }
    bool waitForName(const QString &name)
    {
        return QTest::qWaitFor(
            [&] { return control().interface()->isServiceRegistered(name).value(); }, 30000);
    }
    std::unique_ptr<TfrmMain> armedWindow(bool lockOption)
    {
        auto w = tarvo::test::makeArmableWindow(m_dir->path() + QLatin1Char('/'));
        if (!w)
            return nullptr;
        w->protection().setLockEnabled(lockOption);
        w->ActActivateToggle->trigger();
        return w;
    }
    static QString report(TfrmMain &w) { return w.report().lines().join(QLatin1Char('\n')); }

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty() ||
            !QFile::exists(Python))
            QSKIP("dbus-daemon or python3 missing");
        if (QProcess::execute(Python, {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) !=
            0)
            QSKIP("python3-dbusmock missing");
        QVERIFY(m_bus.start());
        m_address = m_bus.address();
        // The program's buses are this one from here on.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toLocal8Bit());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toLocal8Bit());
        qputenv("XDG_SESSION_ID", "c1");
        QVERIFY(startMock(m_logind, {QStringLiteral("--system"), QStringLiteral("--template"),
                                     QStringLiteral("logind")}));
        QVERIFY(waitForName(Login1));
        const QDBusMessage added =
            callMock(Login1, ManagerPath, MockIface, QStringLiteral("AddSession"),
                     {QStringLiteral("c1"), QStringLiteral("seat0"), quint32(::getuid()),
                      QStringLiteral("owner"), true});
        QVERIFY2(added.type() == QDBusMessage::ReplyMessage, qPrintable(added.errorMessage()));
    }
    void cleanupTestCase()
    {
        tarvo::test::stopProcess(m_screenSaver);
        tarvo::test::stopProcess(m_logind);
        m_bus.stop();
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
        QVERIFY(setMethod(Login1, SessionPath, SessionIface, QStringLiteral("Lock"), QString(),
                          QString(), LogindLock));
        callMock(Login1, SessionPath, MockIface, QStringLiteral("ClearCalls"));
        callMock(Login1, SessionPath, SessionIface, QStringLiteral("SetLockedHint"), {false});
    }
    void cleanup() { RemoveAutostartEntry(); }

    void locksAtArmingAndUnlockDisarms()
    {
        auto w = armedWindow(true);
        QVERIFY(w);
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        QTRY_COMPARE(lockCalls(), 1);
        QTRY_COMPARE(w->sessionLock().state(), SessionLock::State::Locked);
        QCOMPARE(w->sessionLock().sessionPath(), SessionPath);
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        QVERIFY(!report(*w).contains(SessionLock::FailedText));

        // loginctl unlock-session, or the desktop's own unlock through logind.
        callMock(Login1, SessionPath, SessionIface, QStringLiteral("Unlock"));
        QTRY_COMPARE(w->alarm().armState(), ArmState::Disarmed);
        QVERIFY(report(*w).contains(QStringLiteral("] Screen unlocked\n")));
        QVERIFY(w->report().lines().last().endsWith(QStringLiteral("] Alarm - Stoped")));
        QVERIFY(!AlarmControl::StoredAlarmActive());
    }

    void lockedHintFallingDisarmsWithoutPin()
    {
        auto w = tarvo::test::makeArmableWindow(m_dir->path() + QLatin1Char('/'));
        QVERIFY(w);
        w->protection().setLockEnabled(true);
        QVERIFY(w->protection().setPin(QStringLiteral("2580"), 1000));
        w->ActActivateToggle->trigger();
        QTRY_COMPARE(w->sessionLock().state(), SessionLock::State::Locked);
        // The locker reports the lock taking hold, then the owner's unlock.
        callMock(Login1, SessionPath, SessionIface, QStringLiteral("SetLockedHint"), {true});
        QTest::qWait(200);
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        callMock(Login1, SessionPath, SessionIface, QStringLiteral("SetLockedHint"), {false});
        QTRY_COMPARE(w->alarm().armState(), ArmState::Disarmed);
        QVERIFY(!w->findChild<QDialog *>(QStringLiteral("frmPinAsk")));
    }

    void noLockWithTheOptionOff()
    {
        auto w = armedWindow(false);
        QVERIFY(w);
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        // A later arming with the option on locks: the first had its chance.
        w->protection().setLockEnabled(true);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        w->ActActivateToggle->trigger();
        QTRY_COMPARE(lockCalls(), 1);
        QTRY_COMPARE(w->sessionLock().state(), SessionLock::State::Locked);
        // The lock is its own: an unlock after disarming changes nothing.
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(w->sessionLock().state(), SessionLock::State::Idle);
        w->ActActivateToggle->trigger();
        QTRY_COMPARE(lockCalls(), 2);
    }

    void refusedLockStaysArmed()
    {
        QVERIFY(setMethod(Login1, SessionPath, SessionIface, QStringLiteral("Lock"), QString(),
                          QString(), Refuse));
        auto w = tarvo::test::makeArmableWindow(m_dir->path() + QLatin1Char('/'));
        QVERIFY(w);
        w->protection().setLockEnabled(true);
        QSignalSpy failed(&w->sessionLock(), &SessionLock::lockFailed);
        w->ActActivateToggle->trigger();
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), QStringLiteral("Screen could not be locked"));
        QVERIFY(failed.first().at(1).toString().contains(QStringLiteral("AccessDenied")));
        QVERIFY(report(*w).contains(QStringLiteral("] Screen could not be locked")));
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
        QCOMPARE(w->sessionLock().state(), SessionLock::State::Idle);
        // Nothing that follows the (absent) lock disarms.
        callMock(Login1, SessionPath, SessionIface, QStringLiteral("Unlock"));
        QTest::qWait(300);
        QCOMPARE(w->alarm().armState(), ArmState::Armed);
    }

    void sessionFoundByProcessId()
    {
        qunsetenv("XDG_SESSION_ID");
        const QString pid = QString::number(QCoreApplication::applicationPid());
        QVERIFY(setMethod(
            Login1, ManagerPath, QStringLiteral("org.freedesktop.login1.Manager"),
            QStringLiteral("GetSessionByPID"), QStringLiteral("u"), QStringLiteral("o"),
            QStringLiteral("ret = '%1' if args[0] == %2 else '/none'").arg(SessionPath, pid)));
        auto w = armedWindow(true);
        qputenv("XDG_SESSION_ID", "c1");
        QVERIFY(w);
        QTRY_COMPARE(lockCalls(), 1);
        QCOMPARE(w->sessionLock().sessionPath(), SessionPath);
    }

    void screenSaverWhereLogindRefuses()
    {
        QVERIFY(setMethod(Login1, SessionPath, SessionIface, QStringLiteral("Lock"), QString(),
                          QString(), Refuse));
        QVERIFY(startMock(m_screenSaver, {ScreenSaver, ScreenSaverPath, ScreenSaver}));
        QVERIFY(waitForName(ScreenSaver));
        QVERIFY(setMethod(ScreenSaver, ScreenSaverPath, ScreenSaver, QStringLiteral("Lock"),
                          QString(), QString(), QString()));
        auto w = armedWindow(true);
        QVERIFY(w);
        QTRY_COMPARE(w->sessionLock().state(), SessionLock::State::Locked);
        QCOMPARE(w->sessionLock().backend(), QStringLiteral("screensaver"));
        QVERIFY(!report(*w).contains(SessionLock::FailedText));
        callMock(ScreenSaver, ScreenSaverPath, MockIface, QStringLiteral("EmitSignal"),
                 {ScreenSaver, QStringLiteral("ActiveChanged"), QStringLiteral("b"),
                  QVariantList{QVariant::fromValue(QDBusVariant(false))}});
        QTRY_COMPARE(w->alarm().armState(), ArmState::Disarmed);
        tarvo::test::stopProcess(m_screenSaver);
    }
};

TARVO_TEST_MAIN(TestScreenLock)
#include "tst_screenlock.moc"
