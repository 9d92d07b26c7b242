#include "AlertServer.h"
#include "NumberedEvent.h"
#include "SenderFixture.h"
#include "alerts/AlertSender.h"
#include "alerts/ArmedMarker.h"
#include "alerts/Heartbeat.h"
#include "common/TestMain.h"
#include "settings/gRegistry.h"

#include <QSignalSpy>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int ModeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
} // namespace

class TestAlertDelivery : public QObject, SenderFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { NewQueue(); }

    void inOrderThroughOutageAndRestart()
    {
        AlertServer server;
        m_config.url = server.url();
        QStringList expected;
        {
            AlertSender sender(m_queue, Source(), Fast());
            QSignalSpy failed(&sender, &AlertSender::failed);
            for (int i = 0; i < 5; ++i) {
                sender.enqueue(Event(i));
                expected << Event(i).line;
            }
            // Down: every try fails, but the failure is told only once.
            QTRY_VERIFY_WITH_TIMEOUT(sender.currentRetryMs() == 400, 20000);
            QCOMPARE(failed.size(), 1);
            QVERIFY(failed.first().first().toString().contains(QStringLiteral("not sent")));
            QCOMPARE(sender.pending(), 5);
        } // the program ends while the server is down

        server.setMode("500");
        QVERIFY(server.start());
        AlertSender sender(m_queue, Source(), Fast());
        QCOMPARE(sender.pending(), 5);
        QSignalSpy failed(&sender, &AlertSender::failed);
        QSignalSpy recovered(&sender, &AlertSender::recovered);
        for (int i = 5; i < 8; ++i) {
            sender.enqueue(Event(i));
            expected << Event(i).line;
        }
        QTRY_VERIFY_WITH_TIMEOUT(server.bodies(500).size() >= 3, 20000);
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().first().toString().contains(QStringLiteral("500")));
        server.setMode("200");
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        QCOMPARE(recovered.size(), 1);

        QStringList accepted;
        for (const QString &body : server.bodies(200))
            accepted << QJsonDocument::fromJson(body.toUtf8())
                            .object()
                            .value(QStringLiteral("line"))
                            .toString();
        QCOMPARE(accepted, expected);
        // Every try went out in order: the head is retried until accepted.
        QStringList tried;
        for (const QJsonObject &r : server.requests())
            tried << QJsonDocument::fromJson(r.value(QStringLiteral("body")).toString().toUtf8())
                         .object()
                         .value(QStringLiteral("line"))
                         .toString();
        tried.removeDuplicates();
        QCOMPARE(tried, expected);

        AlertQueue reread(m_queue);
        QVERIFY(reread.isEmpty());
    }

    void badUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("no scheme") << QStringLiteral("ntfy.example/topic");
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/topic");
        QTest::newRow("no host") << QStringLiteral("http://");
        QTest::newRow("garbage") << QStringLiteral("http://exa mple.org/%%");
        QTest::newRow("unknown host") << QStringLiteral("http://tarvo2-no-such-host.invalid/t");
        QTest::newRow("closed port") << QStringLiteral("http://127.0.0.1:1/t");
    }
    void badUrl()
    {
        QFETCH(QString, url);
        m_config.url = url;
        m_config.token = QStringLiteral("SECRET-TOKEN-123");
        AlertSender sender(m_queue, Source(), Fast());
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(Event(1));
        sender.enqueue(Event(2));
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() == 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(sender.currentRetryMs() == 400, 20000);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(sender.pending(), 2);
        QVERIFY(!failed.first().first().toString().contains(QStringLiteral("SECRET")));
        const QUrl full(AlertConfig::WithScheme(url));
        if (full.path().size() > 1) // the path may be the secret (a topic)
            QVERIFY2(!failed.first().first().toString().contains(full.host() + full.path()),
                     qPrintable(failed.first().first().toString()));
    }

    void silentServer()
    {
        AlertServer server;
        server.setMode("silent");
        QVERIFY(server.start());
        m_config.url = server.url();
        AlertSender sender(m_queue, Source(), Fast(700));
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(Event(1));
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() == 1, 20000);
        QVERIFY(failed.first().first().toString().contains(QStringLiteral("no answer")));
        QCOMPARE(sender.pending(), 1);
        // It answers again: the alert arrives.
        server.setMode("200");
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        QVERIFY(server.bodies(200).size() == 1);
    }

    void errorAnswers_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("retried");
        QTest::newRow("moved") << QByteArray("301") << true;
        QTest::newRow("timeout") << QByteArray("408") << true;
        QTest::newRow("server error") << QByteArray("500") << true;
        QTest::newRow("unavailable") << QByteArray("503") << true;
        QTest::newRow("bad request") << QByteArray("400") << false;
        QTest::newRow("not found") << QByteArray("404") << false;
    }
    void errorAnswers()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, retried);
        AlertServer server;
        server.setMode(status);
        QVERIFY(server.start());
        m_config.url = server.url();
        AlertSender sender(m_queue, Source(), Fast());
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(Event(1));
        sender.enqueue(Event(2, true));
        if (retried)
            QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() >= 3, 20000);
        else
            QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        QCOMPARE(failed.size(), 1);
        const QString text = failed.first().first().toString();
        QVERIFY2(text.contains(QStringLiteral("answered ") + QString::fromLatin1(status)),
                 qPrintable(text));
        QCOMPARE(text.contains(QStringLiteral("refused")), !retried);
        QCOMPARE(sender.pending(), retried ? 2 : 0);
        if (!retried) { // each refused alert was tried once, none again
            QTest::qWait(300);
            QCOMPARE(server.requests().size(), 2);
            QCOMPARE(sender.lastProblem(), text.section(QStringLiteral("refused: "), 1)
                                               .section(QStringLiteral(" (check"), 0, 0));
        }
        for (const QJsonObject &r : server.requests()) // redirects are not followed
            QCOMPARE(r.value(QStringLiteral("path")).toString(), QStringLiteral("/tarvo-test"));
    }

    void toldLinesAreNotQueued()
    {
        AlertServer server;
        server.setMode("401");
        QVERIFY(server.start());
        m_config.url = server.url();
        AlertSender sender(m_queue, Source(), Fast());
        // As in the program: what is told becomes a report line, and every
        // report line written while armed comes back to be sent.
        connect(&sender, &AlertSender::failed, &sender, [&sender](const QString &text) {
            AlertEvent line = Event(9);
            line.event = text;
            sender.enqueue(line);
        });
        sender.enqueue(Event(1));
        QTRY_VERIFY_WITH_TIMEOUT(!sender.lastProblem().isEmpty(), 20000);
        QTest::qWait(300);
        QCOMPARE(sender.pending(), 0);
        QCOMPARE(server.requests().size(), 1);
    }

    void newAlarmEndsThePause()
    {
        AlertServer server;
        m_config.url = server.url(); // down for now
        AlertSender::Options options = Fast();
        options.firstRetryMs = 120000;
        AlertSender sender(m_queue, Source(), options);
        sender.enqueue(Event(1));
        QTRY_COMPARE_WITH_TIMEOUT(sender.currentRetryMs(), 120000, 20000);
        QVERIFY(server.start());
        sender.enqueue(Event(2, true));
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 10000);
        QCOMPARE(server.bodies(200).size(), 2);
    }

    void tricklingServerMeetsDeadline()
    {
        AlertServer server;
        server.setMode("trickle"); // 200, then one byte a second
        QVERIFY(server.start());
        m_config.url = server.url();
        AlertSender::Options options = Fast(5000);
        options.deadlineMs = 1500;
        AlertSender sender(m_queue, Source(), options);
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(Event(1));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 10000);
        QVERIFY2(failed.first().first().toString().contains(
                     QStringLiteral("no complete answer within 2 s")),
                 qPrintable(failed.first().first().toString()));
        QCOMPARE(sender.pending(), 1);
    }

    void tlsFailure()
    {
        AlertServer server; // speaks plain HTTP only
        QVERIFY(server.start());
        m_config.url = server.url().replace(QStringLiteral("http://"), QStringLiteral("https://"));
        AlertSender sender(m_queue, Source(), Fast());
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(Event(1));
        QTRY_VERIFY_WITH_TIMEOUT(sender.currentRetryMs() == 400, 20000);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(sender.pending(), 1);
        QVERIFY(server.bodies(200).isEmpty());
    }

    void tokenNeverShown()
    {
        AlertServer server;
        server.setMode("401");
        QVERIFY(server.start());
        m_config.url = server.url().replace(QStringLiteral("http://"),
                                            QStringLiteral("http://user:SECRET-PASS@"));
        m_config.token = QStringLiteral("SECRET-TOKEN-123");
        AlertSender sender(m_queue, Source(), Fast());
        QSignalSpy failed(&sender, &AlertSender::failed);
        QSignalSpy tested(&sender, &AlertSender::testFinished);
        sender.enqueue(Event(1));
        sender.sendTest(m_config, Event(2));
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() == 1 && tested.size() == 1, 20000);
        const QString text = failed.first().first().toString();
        QVERIFY2(text.contains(QStringLiteral("401")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("SECRET")));
        QVERIFY(!tested.first().at(1).toString().contains(QStringLiteral("SECRET")));
        QCOMPARE(tested.first().first().toBool(), false);
        QCOMPARE(sender.pending(), 0); // refused: not retried
    }

    void testAlertShowsAnswer()
    {
        AlertServer server;
        QVERIFY(server.start());
        m_config.url = server.url();
        AlertSender sender(m_queue, Source(), Fast());
        QSignalSpy tested(&sender, &AlertSender::testFinished);
        sender.sendTest(m_config, Event(1));
        QTRY_VERIFY_WITH_TIMEOUT(tested.size() == 1, 20000);
        QCOMPARE(tested.first().first().toBool(), true);
        QVERIFY(tested.first().at(1).toString().contains(QStringLiteral("\"id\"")));
        QCOMPARE(sender.pending(), 0); // outside the queue
    }

    void fullQueueDropsOldest()
    {
        m_config.url = QStringLiteral("http://127.0.0.1:1/t");
        AlertSender::Options options = Fast();
        options.capacity = 5;
        {
            AlertSender sender(m_queue, Source(), options);
            for (int i = 0; i < 8; ++i)
                sender.enqueue(Event(i));
            QCOMPARE(sender.pending(), 5);
            QCOMPARE(sender.dropped(), quint64(3));
        }
        AlertQueue reread(m_queue, 5);
        QCOMPARE(reread.size(), 5);
        QCOMPARE(reread.dropped(), quint64(3));
        QCOMPARE(reread.head(), Event(3));
        QCOMPARE(reread.entries().last(), Event(7));
    }

    void noUrlQueuesNothing()
    {
        AlertSender sender(m_queue, Source(), Fast());
        sender.enqueue(Event(1));
        QCOMPARE(sender.pending(), 0);
    }

    void fullQueueKeepsFirstAlarms()
    {
        AlertQueue queue(m_queue, 4);
        // alarms a1 a2 a3 a4 a5 (as entries 0, 2, 3, 5, 6), plain lines between
        const QList<bool> alarms{true, false, true, true, false, true, true, false};
        // Each plain line carries a photo: dropping its alert keeps the file.
        QStringList photos;
        QVERIFY(QDir().mkpath(QFileInfo(m_queue).absolutePath()));
        for (int i = 0; i < alarms.size(); ++i) {
            AlertEvent event = Event(i, alarms.at(i));
            if (!event.alarm) {
                event.attachment = m_queue + QStringLiteral(".photo%1.jpg").arg(i);
                QFile photo(event.attachment);
                QVERIFY(photo.open(QIODevice::WriteOnly) && photo.write("jpeg") == 4);
                photos << event.attachment;
            }
            queue.push(event);
        }
        QList<int> kept;
        for (const AlertEvent &event : queue.entries())
            kept << event.event.section(QLatin1Char(' '), 1).toInt();
        // Plain lines go first (the newest too, when only alarms are older);
        // then the oldest alarm that came after another, never a run's first.
        QCOMPARE(kept, (QList<int>{0, 2, 5, 6}));
        QCOMPARE(queue.dropped(), quint64(4));
        for (const QString &photo : photos)
            QVERIFY(QFileInfo(photo).isFile());
        // So it stays when only alarms are left and the runs keep coming.
        for (int run = 0; run < 6; ++run) {
            queue.push(Event(10 + 2 * run, true));
            queue.push(Event(11 + 2 * run, true));
            queue.push(Event(99));
        }
        kept.clear();
        for (const AlertEvent &event : queue.entries())
            kept << event.event.section(QLatin1Char(' '), 1).toInt();
        QCOMPARE(kept, (QList<int>{14, 16, 18, 20}));
        QVERIFY(AlertQueue(m_queue, 4).entries().first().runStart); // kept in the file
    }

    void damagedQueueFile()
    {
        QDir().mkpath(QFileInfo(m_queue).absolutePath());
        QFile file(m_queue);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"entries\": [ {\"line\": \"half");
        file.close();
        AlertQueue queue(m_queue);
        QVERIFY(queue.isEmpty());
        QVERIFY(QFile::exists(m_queue + QStringLiteral(".bad")));
        QVERIFY(queue.push(Event(1)));
        QCOMPARE(AlertQueue(m_queue).size(), 1);
    }

    // A queue written before the screen picture and the sound clip went
    // along reads its files as photos; a clip stays a clip over a restart.
    void queueFileOfTheLastVersion()
    {
        QDir().mkpath(QFileInfo(m_queue).absolutePath());
        QFile file(m_queue);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"dropped":0,"entries":[{"host":"desk-7","event":"Photo saved: p.jpg",)"
                   R"("line":"[07.12.26 10:00] Photo saved: p.jpg","attachment":"/e/p.jpg"}]})");
        file.close();
        AlertQueue queue(m_queue);
        QCOMPARE(queue.size(), 1);
        QCOMPARE(queue.head().attachment, QStringLiteral("/e/p.jpg"));
        QCOMPARE(queue.head().attachmentKind, AlertEvent::FileKind::Photo);
        AlertEvent clip = Event(2);
        clip.attachment = QStringLiteral("/e/c.oga");
        clip.attachmentKind = AlertEvent::FileKind::Sound;
        QVERIFY(queue.push(clip));
        QCOMPARE(AlertQueue(m_queue).entries().last(), clip);
    }

    // What stands at the queue's path is set aside, said once, and the
    // queue works on; an open that could block would hang this test.
    void queueFileSetAside_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("said");
        QTest::newRow("fifo") << QStringLiteral("fifo") << QStringLiteral("not a regular file");
        QTest::newRow("huge") << QStringLiteral("huge") << QStringLiteral("too large");
    }
    void queueFileSetAside()
    {
        QFETCH(QString, what);
        QFETCH(QString, said);
        ::alarm(60);
        QDir().mkpath(QFileInfo(m_queue).absolutePath());
        if (what == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(m_queue).constData(), 0600), 0);
        } else {
            QFile file(m_queue);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(AlertQueue::MaxFileBytes + 1)); // sparse: no disk used
        }
        AlertQueue queue(m_queue);
        ::alarm(0);
        QVERIFY(queue.isEmpty());
        QVERIFY2(queue.problem().contains(said), qPrintable(queue.problem()));
        QVERIFY(QFileInfo::exists(m_queue + QStringLiteral(".bad")));
        QVERIFY(queue.push(Event(1)));
        AlertQueue reread(m_queue);
        QCOMPARE(reread.size(), 1);
        QVERIFY(reread.problem().isEmpty());
        QCOMPARE(ModeOf(m_queue), 0600);
    }

    // A FIFO at the armed marker's place: its time is no sign of life of
    // any run, so no alarm, but one line; arming writes a real marker.
    void markerFifoSetAside()
    {
        const QString path = QFileInfo(m_queue).absolutePath() + QStringLiteral("/Tarvo2-armed");
        QDir().mkpath(QFileInfo(path).absolutePath());
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        ArmedMarker marker(path);
        QVERIFY(!marker.leftBehind());
        QVERIFY2(marker.problem().contains(QStringLiteral("not a regular")),
                 qPrintable(marker.problem()));
        QVERIFY(QFileInfo(path + QStringLiteral(".bad")).exists());
        QVERIFY(!ArmedMarker(path).leftBehind());
        marker.setArmed(true);
        QCOMPARE(ModeOf(path), 0600);
    }

    void leftoverTemporariesRemoved()
    {
        QDir().mkpath(QFileInfo(m_queue).absolutePath());
        const QStringList leftovers{m_queue + QStringLiteral(".aB3xYz"),
                                    m_queue + QStringLiteral(".tmp-k2j4h5")};
        for (const QString &path : leftovers) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\"entries\": []}");
        }
        const QString other = QFileInfo(m_queue).absolutePath() + QStringLiteral("/Tarvo2.conf");
        QFile keep(other);
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.close();
        AlertQueue queue(m_queue);
        for (const QString &path : leftovers)
            QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QVERIFY(QFileInfo::exists(other));
    }

    void heartbeatWhileArmed()
    {
        AlertServer server;
        QVERIFY(server.start());
        HeartbeatConfig config; // no URL yet
        config.minutes = 1;
        Heartbeat::Options options;
        options.minuteMs = 150;
        options.retryMs = 50;
        Heartbeat heartbeat([&config] { return config; }, options);
        heartbeat.setArmed(true);
        QVERIFY(!heartbeat.isBeating());
        // Set while armed: at once, then every interval.
        config.url = server.url(QStringLiteral("/ping/desk"));
        heartbeat.reload();
        QTRY_VERIFY_WITH_TIMEOUT(server.requests(QStringLiteral("GET")).size() >= 3, 20000);
        heartbeat.setArmed(false);
        QTest::qWait(300);
        const int pings = int(server.requests(QStringLiteral("GET")).size());
        QTest::qWait(600);
        QCOMPARE(server.requests(QStringLiteral("GET")).size(), pings);
        QCOMPARE(server.requests(QStringLiteral("POST")).size(), 0);
        QCOMPARE(server.requests().first().value(QStringLiteral("path")).toString(),
                 QStringLiteral("/ping/desk"));
    }

    void heartbeatRetriedOnceNeverQueued()
    {
        AlertServer server;
        server.setMode("500");
        QVERIFY(server.start());
        HeartbeatConfig config;
        config.url = server.url();
        config.minutes = 1;
        Heartbeat::Options options;
        options.minuteMs = 60 * 60 * 1000; // no interval ping within the test
        options.retryMs = 50;
        Heartbeat heartbeat([&config] { return config; }, options);
        QSignalSpy pinged(&heartbeat, &Heartbeat::pinged);
        heartbeat.setArmed(true);
        QTRY_COMPARE_WITH_TIMEOUT(pinged.size(), 2, 20000);
        QCOMPARE(pinged.at(0).at(0).toBool(), false);
        QVERIFY(pinged.at(0).at(1).toString().contains(QStringLiteral("500")));
        server.setMode("200");
        QTest::qWait(500);
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(heartbeat.isBeating());
    }

    void heartbeatStoredValues_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("minutes");
        QTest::newRow("missing") << QString() << 5;
        QTest::newRow("zero") << QStringLiteral("0") << 1;
        QTest::newRow("too many") << QStringLiteral("99999") << 1440;
        QTest::newRow("junk") << QStringLiteral("often") << 5;
        QTest::newRow("plain") << QStringLiteral(" 15 ") << 15;
    }
    void heartbeatStoredValues()
    {
        QFETCH(QString, stored);
        QFETCH(int, minutes);
        DeleteRegKey(AlertConfig::KeyPath);
        if (!stored.isNull())
            WriteRegString(AlertConfig::KeyPath, QStringLiteral("Heartbeat Minutes"), stored);
        QCOMPARE(HeartbeatConfig::Load().minutes, minutes);
        HeartbeatConfig config;
        config.url = QStringLiteral(" https://hc.example/ping/abc ");
        config.minutes = 0;
        config.save();
        QCOMPARE(ReadRegString(AlertConfig::KeyPath, QStringLiteral("Heartbeat URL")),
                 QStringLiteral("https://hc.example/ping/abc"));
        QCOMPARE(HeartbeatConfig::Load().minutes, 1);
    }

    void markerLifeCycle()
    {
        const QString path = QFileInfo(m_queue).absolutePath() + QStringLiteral("/Tarvo2-armed");
        {
            ArmedMarker marker(path);
            QVERIFY(!marker.leftBehind());
            marker.setArmed(true);
            QCOMPARE(ModeOf(path), 0600);
            const auto last = ArmedMarker(path).leftBehind();
            QVERIFY(last);
            QVERIFY(qAbs(last->secsTo(QDateTime::currentDateTime())) < 120);
            marker.setArmed(false);
            QVERIFY(!QFileInfo::exists(path));
            marker.setArmed(true);
        } // an orderly end
        QVERIFY(!QFileInfo::exists(path));
        // A marker written an hour ago by a run that never came back.
        const QDateTime hourAgo = QDateTime::currentDateTimeUtc().addSecs(-3600);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("armed, last sign of life " + hourAgo.toString(Qt::ISODate).toLatin1() + "\n");
        file.close();
        ArmedMarker marker(path);
        const auto last = marker.leftBehind();
        QVERIFY(last);
        QCOMPARE(last->toSecsSinceEpoch(), hourAgo.toSecsSinceEpoch());
        QVERIFY(ArmedMarker::UnexpectedEndText(*last).startsWith(
            QStringLiteral("Tarvo2 ended unexpectedly while armed (last sign of life ")));
    }
};

TARVO_TEST_MAIN(TestAlertDelivery)
#include "tst_alertdelivery.moc"
