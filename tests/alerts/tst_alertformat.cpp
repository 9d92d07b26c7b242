#include "AlertServer.h"
#include "alerts/AlertSender.h"
#include "alerts/Journal.h"
#include "alerts/ReportFeed.h"
#include "common/TestMain.h"
#include "settings/gRegistry.h"

#include <QRegularExpression>
#include <QSignalSpy>

namespace {
AlertEvent Event(const QString &message, bool alarm)
{
    AlertEvent event;
    event.host = QStringLiteral("desk-7");
    event.event = message;
    event.time = AlertEvent::CurrentTime();
    event.line = QStringLiteral("[07.12.26 10:00] ") + message;
    event.alarm = alarm;
    return event;
}
} // namespace

class TestAlertFormat : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QJsonObject SendOne(AlertConfig config, const AlertEvent &event)
    {
        AlertServer server;
        if (!server.start())
            return {};
        config.url = server.url(QStringLiteral("/lab-desks"));
        static int run = 0;
        AlertSender sender(m_dir.filePath(QStringLiteral("q%1.json").arg(++run)),
                           [config] { return config; });
        sender.enqueue(event);
        if (!QTest::qWaitFor([&] { return sender.pending() == 0; }, 20000))
            return {};
        const QList<QJsonObject> requests = server.requests();
        return requests.size() == 1 ? requests.first() : QJsonObject();
    }

private Q_SLOTS:
    void ntfyRequest_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("priority");
        QTest::addColumn<QString>("tags");
        QTest::newRow("alarm, token")
            << QStringLiteral("Mouse detected") << true << QStringLiteral("tk_abc")
            << QStringLiteral("5") << QStringLiteral("rotating_light,tarvo2");
        QTest::newRow("armed") << QStringLiteral("Alarm - Activated") << false << QString()
                               << QStringLiteral("3") << QStringLiteral("lock,tarvo2");
        QTest::newRow("disarmed") << QStringLiteral("Alarm - Stoped") << false << QString()
                                  << QStringLiteral("3") << QStringLiteral("unlock,tarvo2");
    }
    void ntfyRequest()
    {
        QFETCH(QString, message);
        QFETCH(bool, alarm);
        QFETCH(QString, token);
        QFETCH(QString, priority);
        QFETCH(QString, tags);
        AlertConfig config;
        config.token = token;
        const AlertEvent event = Event(message, alarm);
        const QJsonObject request = SendOne(config, event);
        QCOMPARE(request.value(QStringLiteral("path")).toString(), QStringLiteral("/lab-desks"));
        QCOMPARE(request.value(QStringLiteral("body")).toString(), event.line);
        const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
        QCOMPARE(headers.value(QStringLiteral("Title")).toString(),
                 QStringLiteral("Tarvo2 on desk-7"));
        QCOMPARE(headers.value(QStringLiteral("Priority")).toString(), priority);
        QCOMPARE(headers.value(QStringLiteral("Tags")).toString(), tags);
        QCOMPARE(headers.value(QStringLiteral("Authorization")).toString(),
                 token.isEmpty() ? QString() : QStringLiteral("Bearer ") + token);
    }

    void ntfyTitleNotAscii()
    {
        AlertEvent event = Event(QStringLiteral("Mouse detected"), true);
        event.host = QStringLiteral("Työpöytä");
        AlertRequest request;
        AlertConfig config;
        config.url = QStringLiteral("https://ntfy.sh/x");
        QVERIFY(AlertRequest::Build(config, event, request, nullptr));
        const QByteArray title = request.request.rawHeader("Title");
        QVERIFY(title.startsWith("=?UTF-8?B?"));
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(title.mid(10).chopped(2))),
                 QStringLiteral("Tarvo2 on Työpöytä"));
    }

    void webhookJson()
    {
        AlertConfig config;
        config.kind = AlertConfig::Kind::Webhook;
        config.token = QStringLiteral("hook-token");
        const AlertEvent event = Event(QStringLiteral("Microphone detected \"loud\""), true);
        const QJsonObject request = SendOne(config, event);
        const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
        QCOMPARE(headers.value(QStringLiteral("Content-Type")).toString(),
                 QStringLiteral("application/json"));
        QCOMPARE(headers.value(QStringLiteral("Authorization")).toString(),
                 QStringLiteral("Bearer hook-token"));
        const QJsonObject body =
            QJsonDocument::fromJson(request.value(QStringLiteral("body")).toString().toUtf8())
                .object();
        QCOMPARE(body.keys(), (QStringList{QStringLiteral("event"), QStringLiteral("host"),
                                           QStringLiteral("line"), QStringLiteral("time")}));
        QCOMPARE(body.value(QStringLiteral("host")).toString(), event.host);
        QCOMPARE(body.value(QStringLiteral("event")).toString(), event.event);
        QCOMPARE(body.value(QStringLiteral("line")).toString(), event.line);
        const QString time = body.value(QStringLiteral("time")).toString();
        static const QRegularExpression iso(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$"));
        QVERIFY2(iso.match(time).hasMatch(), qPrintable(time));
        QVERIFY(QDateTime::fromString(time, Qt::ISODate).isValid());
    }

    void configInStore()
    {
        QCOMPARE(AlertConfig::Load().enabled(), false);
        QCOMPARE(AlertConfig::Load().kind, AlertConfig::Kind::Ntfy);
        WriteRegString(AlertConfig::KeyPath, QStringLiteral("url"),
                       QStringLiteral(" http://10.0.0.5/desks "));
        WriteRegString(AlertConfig::KeyPath, QStringLiteral("Kind"), QStringLiteral("WebHook"));
        AlertConfig config = AlertConfig::Load();
        QCOMPARE(config.url, QStringLiteral("http://10.0.0.5/desks"));
        QCOMPARE(config.kind, AlertConfig::Kind::Webhook);
        config.kind = AlertConfig::Kind::Ntfy;
        config.token = QStringLiteral("t1");
        config.save();
        QCOMPARE(ReadRegString(AlertConfig::KeyPath, QStringLiteral("Kind")),
                 QStringLiteral("ntfy"));
        QCOMPARE(AlertConfig::Load().token, QStringLiteral("t1"));
        WriteRegString(AlertConfig::KeyPath, QStringLiteral("Kind"), QStringLiteral("pigeon"));
        QCOMPARE(AlertConfig::Load().kind, AlertConfig::Kind::Ntfy);
    }

    void feedMarksAlarmAndArmed()
    {
        bool switchOn = true;
        QList<AlertEvent> kept;
        ReportFeed feed(
            [&](const QString &message) {
                return switchOn || message == QLatin1String("Alarm - Stoped");
            },
            [&kept](const AlertEvent &event) { kept << event; });
        QSignalSpy lines(&feed, &ReportFeed::line);
        feed.lineWritten(QStringLiteral("Alarm - Activated"),
                         QStringLiteral("[..] Alarm - Activated"));
        feed.alarmAccepted(QStringLiteral("Mouse detected"));
        feed.lineWritten(QStringLiteral("Mouse detected"), QStringLiteral("[..] Mouse detected"));
        feed.alarmRaised(QStringLiteral("Mouse detected"));
        // The report dropped the repeated line of an accepted alarm.
        feed.alarmAccepted(QStringLiteral("Wrong PIN"));
        feed.alarmRaised(QStringLiteral("Wrong PIN"));
        switchOn = false;
        feed.lineWritten(QStringLiteral("Alarm - Stoped"), QStringLiteral("[..] Alarm - Stoped"));
        feed.lineWritten(QStringLiteral("Sound added"), QStringLiteral("[..] Sound added"));
        // Armed lines are kept at once, before the report file gets them.
        QStringList keptEvents;
        QList<bool> keptAlarms;
        for (const AlertEvent &event : kept) {
            keptEvents << event.event;
            keptAlarms << event.alarm;
        }
        QCOMPARE(keptEvents,
                 (QStringList{QStringLiteral("Alarm - Activated"), QStringLiteral("Mouse detected"),
                              QStringLiteral("Wrong PIN"), QStringLiteral("Alarm - Stoped")}));
        QCOMPARE(keptAlarms, (QList<bool>{false, true, true, false}));
        QVERIFY(kept.at(2).line.endsWith(QStringLiteral("] Wrong PIN")));
        QCOMPARE(lines.size(), 0); // the journal's signal waits for the event loop
        QTRY_COMPARE(lines.size(), 5);
        QList<bool> alarms, armed;
        for (const QList<QVariant> &args : lines) {
            alarms << args.at(0).value<AlertEvent>().alarm;
            armed << args.at(1).toBool();
        }
        QCOMPARE(alarms, (QList<bool>{false, true, true, false, false}));
        QCOMPARE(armed, (QList<bool>{true, true, true, true, false}));
        QCOMPARE(lines.at(1).at(0).value<AlertEvent>().line, QStringLiteral("[..] Mouse detected"));
    }

    void journalFields_data()
    {
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<QByteArray>("priority");
        QTest::newRow("alarm") << true << QByteArray("PRIORITY=4");
        QTest::newRow("other") << false << QByteArray("PRIORITY=6");
    }
    void journalFields()
    {
        QFETCH(bool, alarm);
        QFETCH(QByteArray, priority);
        QList<QByteArray> seen;
        Journal::SetSinkForTests([&](const QList<QByteArray> &fields) { seen = fields; });
        Journal::Write(QStringLiteral("Mouse\ndetected"), QStringLiteral("[07.12.26 10:00] Mouse"),
                       alarm);
        Journal::SetSinkForTests({});
        QCOMPARE(seen, (QList<QByteArray>{priority, "SYSLOG_IDENTIFIER=tarvo2",
                                          "TARVO2_EVENT=Mouse detected",
                                          "MESSAGE=[07.12.26 10:00] Mouse"}));
    }
};

TARVO_TEST_MAIN(TestAlertFormat)
#include "tst_alertformat.moc"
