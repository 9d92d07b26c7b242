// The real program armed and disarmed from outside: the command line over
// the single-instance channel (no session bus) and over D-Bus, launcher
// actions through org.freedesktop.Application, the state signal, and the
// PIN that no outside request passes by itself.

#include "common/PrivateBus.h"
#include "common/StopProcess.h"
#include "common/ProgramCopy.h"
#include "common/TestMain.h"

#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QPasswordDigestor>
#include <QProcess>

namespace {
const QString Service = QStringLiteral("example.vekor.Tarvo2.Test_remote");
const QString Path = QStringLiteral("/example/vekor/Tarvo2");
} // namespace

class StateWatch : public QObject
{
    Q_OBJECT
public:
    QStringList states;
public Q_SLOTS:
    void changed(const QString &state) { states << state; }
};

class TestRemoteControl : public QObject
{
    Q_OBJECT

    QTemporaryDir m_app;
    QString m_binary;
    tarvo::test::ProgramCopy m_copy;
    QProcess m_program;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();

    // Runs the command line to its end; its exit code (-1: it hung).
    int run(const QStringList &arguments, QByteArray *out = nullptr)
    {
        QProcess cli;
        cli.setProcessEnvironment(m_env);
        cli.start(m_binary, arguments);
        if (!cli.waitForFinished(30000)) {
            cli.kill();
            cli.waitForFinished();
            return -1;
        }
        if (out)
            *out = cli.readAllStandardOutput();
        return cli.exitCode();
    }
    QString report() const { return m_copy.report(); }
    bool start(const QStringList &arguments)
    {
        m_program.setProcessEnvironment(m_env);
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        m_program.start(m_binary, arguments);
        return m_program.waitForStarted(10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_binary = m_copy.make(m_app.path());
        if (m_binary.isEmpty())
            QSKIP(qPrintable(m_copy.why()));
        QFile sound(m_app.filePath(QStringLiteral("Sounds/a.wav")));
        QVERIFY(sound.open(QIODevice::WriteOnly));
        WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav"), QStringLiteral("T"));
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::Settings, StoreKeys::MsgThanx, StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnActivationDelay"),
                       QStringLiteral("0"));
        m_env.insert(QStringLiteral("TARVO2_TEST_INSTANCE"), QStringLiteral("remote"));
    }
    void cleanup() { tarvo::test::stopProcess(m_program); }

    void commandLineWithoutBus()
    {
        QCOMPARE(run({QStringLiteral("--status")}), 1); // not running
        QCOMPARE(run({QStringLiteral("--disarm")}), 1);
        QVERIFY(start({QStringLiteral("--arm")})); // none running: starts armed
        QTRY_COMPARE_WITH_TIMEOUT(run({QStringLiteral("--status")}), 0, 60000);
        QByteArray json;
        QCOMPARE(run({QStringLiteral("--status"), QStringLiteral("--json")}, &json), 0);
        QVERIFY2(json.contains("\"state\":\"armed\"") && json.contains("simulation"), json);
        QCOMPARE(run({QStringLiteral("--arm")}), 0); // already armed
        QCOMPARE(run({QStringLiteral("--disarm")}), 0);
        QCOMPARE(run({QStringLiteral("--status")}), 3);
        QVERIFY(report().contains(QStringLiteral("Disarmed from the command line")));
        QCOMPARE(m_program.state(), QProcess::Running);
    }

    void desktopAndPinOverBus()
    {
        tarvo::test::PrivateBus bus;
        QVERIFY(bus.start());
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        const QByteArray salt("0123456789abcdef");
        const QByteArray key =
            QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, "2468", salt, 1000, 32);
        WriteRegString(
            StoreKeys::Settings, QStringLiteral("Disarm PIN"),
            QStringLiteral("pbkdf2-sha256$1000$%1$%2")
                .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64())));
        QVERIFY(start({}));

        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("remote-test"));
        QVERIFY(connection.isConnected());
        StateWatch watch;
        QVERIFY(connection.connect(Service, Path, QStringLiteral("example.vekor.Tarvo2"),
                                   QStringLiteral("StateChanged"), &watch,
                                   SLOT(changed(QString))));
        QTRY_VERIFY_WITH_TIMEOUT(connection.interface()->isServiceRegistered(Service).value(),
                                 60000);
        QDBusInterface application(Service, Path, QStringLiteral("org.freedesktop.Application"),
                                   connection);
        QDBusInterface guard(Service, Path, QStringLiteral("example.vekor.Tarvo2"), connection);
        QCOMPARE(guard.property("State").toString(), QStringLiteral("disarmed"));

        // A launcher's "Arm".
        application.call(QStringLiteral("ActivateAction"), QStringLiteral("arm"), QVariantList(),
                         QVariantMap());
        QTRY_VERIFY_WITH_TIMEOUT(watch.states.contains(QStringLiteral("armed")), 30000);
        QVERIFY(report().contains(QStringLiteral("Armed from the desktop")));

        // "Disarm" with a PIN set only asks; so does the command line without a terminal.
        application.call(QStringLiteral("ActivateAction"), QStringLiteral("disarm"), QVariantList(),
                         QVariantMap());
        QCOMPARE(run({QStringLiteral("--disarm")}), 1);
        QCOMPARE(guard.property("State").toString(), QStringLiteral("armed"));
        QVERIFY(report().contains(QStringLiteral("Disarm asked from the desktop")));

        // Wrong PINs count as in the window: the third raises the alarm.
        for (int i = 0; i < 3; ++i) {
            const QDBusReply<QString> reply =
                guard.call(QStringLiteral("Disarm"), QStringLiteral("1111"), false);
            QCOMPARE(reply.value(), QStringLiteral("wrong pin"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(watch.states.contains(QStringLiteral("alarm")), 30000);
        const QDBusReply<QString> right =
            guard.call(QStringLiteral("Disarm"), QStringLiteral("2468"), false);
        QCOMPARE(right.value(), QStringLiteral("disarmed"));
        QTRY_COMPARE_WITH_TIMEOUT(watch.states.constLast(), QStringLiteral("disarmed"), 30000);
        QCOMPARE(run({QStringLiteral("--status")}), 3);
        DeleteRegValue(StoreKeys::Settings, QStringLiteral("Disarm PIN"));
    }
};

TARVO_TEST_MAIN(TestRemoteControl)
#include "tst_remotecontrol.moc"
