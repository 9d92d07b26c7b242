// The real program, armed: asked to end by a signal it tells the owner
// before it goes; killed without a word, its next start tells it. The
// heartbeat pings at arming, and a FIFO at the queue's path does not hold up
// the start.

#include "AlertServer.h"
#include "alerts/AlertConfig.h"
#include "alerts/AlertQueue.h"
#include "alerts/ArmedMarker.h"
#include "alerts/Heartbeat.h"
#include "common/StopProcess.h"
#include "common/ProgramCopy.h"
#include "common/TestMain.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QPasswordDigestor>
#include <csignal>
#include <sys/stat.h>

class TestStopNotices : public QObject
{
    Q_OBJECT

    QTemporaryDir m_app; // a copy of the program: its Reports/ land here
    QString m_binary;
    tarvo::test::ProgramCopy m_copy;
    QProcess m_program;

    // The priorities of the alerts whose body holds text.
    static QStringList alertsWith(const AlertServer &server, const QString &text)
    {
        QStringList out;
        for (const QJsonObject &request : server.requests(QStringLiteral("POST")))
            if (request.value(QStringLiteral("body")).toString().contains(text))
                out << AlertServer::priorityOf(request);
        return out;
    }
    bool start()
    {
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        m_program.start(m_binary, {});
        return m_program.waitForStarted(10000);
    }
    QString report() const { return m_copy.report(); }

private Q_SLOTS:
    void initTestCase()
    {
        m_binary = m_copy.make(m_app.path());
        if (m_binary.isEmpty())
            QSKIP(qPrintable(m_copy.why()));
        // What an armed program leaves in the store: it resumes at start.
        WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::Settings, QStringLiteral("ActSimToggle"), StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::Settings, StoreKeys::MsgThanx, StoreKeys::SwitchOn);
        WriteRegString(StoreKeys::ResetableSettings, QStringLiteral("frmMainspnActivationDelay"),
                       QStringLiteral("0"));
        // A disarm PIN (2468): closing the window asks for it, a signal does not.
        const QByteArray salt("0123456789abcdef");
        const QByteArray key =
            QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, "2468", salt, 1000, 32);
        WriteRegString(
            StoreKeys::Settings, QStringLiteral("Disarm PIN"),
            QStringLiteral("pbkdf2-sha256$1000$%1$%2")
                .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64())));
    }
    void cleanup() { tarvo::test::stopProcess(m_program); }

    void signalAndKillWhileArmed()
    {
        AlertServer server;
        QVERIFY(server.start());
        AlertServer monitor; // refuses the pings
        monitor.setMode("404");
        QVERIFY(monitor.start());
        WriteRegString(AlertConfig::KeyPath, QStringLiteral("URL"), server.url());
        WriteRegString(AlertConfig::KeyPath, QStringLiteral("Heartbeat URL"),
                       monitor.url(QStringLiteral("/ping/secret")));
        const QString marker = ArmedMarker::DefaultPath(RegistryFilePath());
        const QString queue = AlertQueue::DefaultPath(RegistryFilePath());
        QVERIFY(::mkfifo(QFile::encodeName(queue).constData(), 0600) == 0);

        // Armed at start despite the FIFO; the heartbeat pings at arming.
        QVERIFY(start());
        QTRY_COMPARE_WITH_TIMEOUT(alertsWith(server, QStringLiteral("Alarm - Activated")).size(), 1,
                                  30000);
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.requests(QStringLiteral("GET")).isEmpty(), 30000);
        QVERIFY(QFileInfo::exists(marker));
        QVERIFY(report().contains(QStringLiteral("set aside")));
        // The ping and its retry 20 s later refused: told once, as an alert too.
        const QString heartbeatFailed =
            QStringLiteral("Heartbeat to %1 failed: ").arg(monitor.url(QString()));
        QTRY_COMPARE_WITH_TIMEOUT(alertsWith(server, heartbeatFailed).size(), 1, 40000);
        QCOMPARE(monitor.requests(QStringLiteral("GET")).size(), 2);
        QCOMPARE(report().count(heartbeatFailed), 1);
        QVERIFY(!report().contains(QStringLiteral("/ping/secret")));

        // SIGTERM: the notice arrives at alarm priority, the program ends.
        ::kill(pid_t(m_program.processId()), SIGTERM);
        QVERIFY(m_program.waitForFinished(15000));
        QCOMPARE(m_program.exitStatus(), QProcess::NormalExit); // in order, not by the watchdog
        QCOMPARE(m_program.exitCode(), 0);
        QCOMPARE(alertsWith(server, QStringLiteral("Tarvo2 stopped while armed (SIGTERM)")),
                 QStringList{QStringLiteral("5")});
        QVERIFY(!QFileInfo::exists(marker));

        // SIGKILL: the next start writes the line and sends it.
        QVERIFY(start());
        QTRY_COMPARE_WITH_TIMEOUT(alertsWith(server, QStringLiteral("Alarm - Activated")).size(), 2,
                                  30000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 10000);
        m_program.kill();
        QVERIFY(m_program.waitForFinished(15000));
        QVERIFY(QFileInfo::exists(marker));
        const QString unexpected = QStringLiteral("Tarvo2 ended unexpectedly while armed");
        QVERIFY(start());
        QTRY_COMPARE_WITH_TIMEOUT(alertsWith(server, unexpected), QStringList{QStringLiteral("5")},
                                  30000);
        QVERIFY2(report().contains(unexpected + QStringLiteral(" (last sign of life ")),
                 qPrintable(report()));
        QCOMPARE(report().count(unexpected), 1);
    }
};

TARVO_TEST_MAIN(TestStopNotices)
#include "tst_stopnotices.moc"
