// The news that the alarm stops guarding reaches the owner in time: at the
// end of the program the stop notice goes ahead of a backlog of older
// alerts, also while one of them is on its way to a slow server. A
// heartbeat that does not reach its monitor is told, once per run of
// failures.

#include "AlertServer.h"
#include "DeskEvent.h"
#include "alerts/AlertSender.h"
#include "alerts/ArmedMarker.h"
#include "alerts/Heartbeat.h"
#include "common/TestMain.h"

#include <QSignalSpy>

class TestGuardNotices : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The messages of the alerts the receiver took, in the order they came.
    static QStringList taken(const AlertServer &server)
    {
        QStringList out;
        for (const QJsonObject &request : server.requests())
            out << QJsonDocument::fromJson(
                       request.value(QStringLiteral("body")).toString().toUtf8())
                       .object()
                       .value(QStringLiteral("event"))
                       .toString();
        return out;
    }

private Q_SLOTS:
    void stopNoticeGoesFirst_data()
    {
        QTest::addColumn<bool>("oldAlertOnItsWay");
        QTest::addColumn<int>("answerMs"); // how long the receiver takes for each
        // Two notices in 1.6 s, though the backlog would take 6.4 s.
        QTest::newRow("backlog from an outage") << false << 800;
        // Behind the alert on its way the notice would come after 4 s.
        QTest::newRow("an old alert on its way to a slow server") << true << 2000;
    }
    void stopNoticeGoesFirst()
    {
        QFETCH(bool, oldAlertOnItsWay);
        QFETCH(int, answerMs);
        AlertServer server;
        AlertConfig config;
        config.kind = AlertConfig::Kind::Webhook;
        config.url = server.url();
        AlertSender::Options options;
        options.firstRetryMs = 60000; // the outage's pause outlasts the test
        static int run = 0;
        const QString queue = m_dir.filePath(QStringLiteral("queue%1.json").arg(++run));
        AlertSender sender(
            queue, [&config] { return config; }, options);
        server.setMode("slow:" + QByteArray::number(answerMs));
        if (oldAlertOnItsWay)
            QVERIFY(server.start());
        const QString unexpectedEnd = ArmedMarker::UnexpectedEndText(QDateTime::currentDateTime());
        QStringList old;
        for (int i = 0; i < 8; ++i) {
            const bool notice = i == 4 && !oldAlertOnItsWay;
            if (!notice)
                old << QStringLiteral("Old alert %1").arg(i);
            sender.enqueue(DeskEvent(notice ? unexpectedEnd : old.last(), false));
        }
        if (oldAlertOnItsWay) {
            QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(sender.isFailing(), 10000);
            QVERIFY(server.start());
        }

        // As the window does it at the end: the notice, then at most 3 s.
        const QString stop = ArmedMarker::StopText(QStringLiteral("SIGTERM"));
        sender.enqueue(DeskEvent(stop, true));
        QVERIFY(!sender.deliverWithin(3000));

        const QStringList got = taken(server);
        QVERIFY2(got.contains(stop), qPrintable(got.join(QLatin1Char('|'))));
        if (oldAlertOnItsWay)
            QCOMPARE(got.at(1), stop);
        else
            QCOMPARE(got.mid(0, 2), QStringList({unexpectedEnd, stop}));
        // What is left waits for the next start, in its order.
        const AlertQueue left(queue);
        QCOMPARE(left.size(), sender.pending());
        QVERIFY(!left.isEmpty());
        QStringList leftOld;
        for (const AlertEvent &event : left.entries())
            leftOld << event.event;
        QCOMPARE(leftOld, old.mid(old.size() - leftOld.size()));
    }

    // Told when a ping fails its retry as well, not for a failure its retry
    // mends, not again while the pings keep failing, and again after one
    // went through. The monitor's secret path is never told.
    void heartbeatFailureToldOnce()
    {
        AlertServer server;
        server.setMode("404");
        QVERIFY(server.start());
        HeartbeatConfig config;
        config.url = server.url(QStringLiteral("/ping/5bf66975-d4c7-4bf5-bcc8"));
        Heartbeat::Options options;
        options.minuteMs = 600;
        options.retryMs = 250; // the test sets the answer before the retry
        Heartbeat heartbeat([&config] { return config; }, options);
        QSignalSpy pinged(&heartbeat, &Heartbeat::pinged);
        QSignalSpy failed(&heartbeat, &Heartbeat::failed);
        heartbeat.setArmed(true);
        QTRY_VERIFY_WITH_TIMEOUT(pinged.size() >= 6, 20000); // three pings and their retries
        QCOMPARE(failed.size(), 1);
        const QString told = failed.first().first().toString();
        QCOMPARE(told, QStringLiteral("Heartbeat to %1 failed: the monitor answered 404")
                           .arg(server.url(QString())));

        server.setMode("200");
        QTRY_VERIFY_WITH_TIMEOUT(pinged.last().first().toBool(), 20000);
        server.setMode("503"); // then a blip its retry mends
        QTRY_VERIFY_WITH_TIMEOUT(!pinged.last().first().toBool(), 20000);
        server.setMode("200");
        QTRY_VERIFY_WITH_TIMEOUT(pinged.last().first().toBool(), 20000);
        QCOMPARE(failed.size(), 1);
        server.stop(); // no answer at all
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 20000);
        QVERIFY2(!failed.last().first().toString().contains(QStringLiteral("5bf66975")),
                 qPrintable(failed.last().first().toString()));
    }
};

TARVO_TEST_MAIN(TestGuardNotices)
#include "tst_guardnotices.moc"
