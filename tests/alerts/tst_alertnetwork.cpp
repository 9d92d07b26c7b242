// The pause after a failure ends when NetworkManager (dbusmock's, on a
// private system bus) says the network is back.

#include "AlertServer.h"
#include "alerts/AlertSender.h"
#include "common/TestMain.h"
#include "desktop/MockSystemBus.h"

#include <QNetworkInformation>

using tarvo::test::MockSystemBus;

class TestAlertNetwork : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void networkBackEndsThePause()
    {
        const QString nm = QStringLiteral("org.freedesktop.NetworkManager");
        MockSystemBus bus;
        QVERIFY(bus.startTemplate(QStringLiteral("networkmanager"), nm,
                                  QStringLiteral("{\"State\": 20}"))); // disconnected
        // The first look at the system bus in this process is the sender's.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
        AlertServer server; // down for now
        AlertConfig config;
        config.kind = AlertConfig::Kind::Webhook;
        config.url = server.url();
        AlertSender::Options options;
        options.firstRetryMs = 120000;
        AlertSender sender(
            m_dir.filePath(QStringLiteral("q.json")), [config] { return config; }, options);
        sender.watchNetwork();
        QVERIFY(QNetworkInformation::instance());
        QCOMPARE(QNetworkInformation::instance()->backendName(), QStringLiteral("networkmanager"));
        AlertEvent event;
        event.event = QStringLiteral("Mouse detected");
        event.line = QStringLiteral("[07.12.26 10:00] Mouse detected");
        sender.enqueue(event);
        QTRY_COMPARE_WITH_TIMEOUT(sender.currentRetryMs(), 120000, 20000);
        QVERIFY(server.start());
        const QDBusMessage reply = bus.call(nm, QStringLiteral("/org/freedesktop"),
                                            QStringLiteral("org.freedesktop.DBus.Mock"),
                                            QStringLiteral("SetGlobalConnectionState"), {70u});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 10000);
        QCOMPARE(server.bodies(200).size(), 1);
    }
};

TARVO_TEST_MAIN(TestAlertNetwork)
#include "tst_alertnetwork.moc"
