// E-mail alerts against a real SMTP server on 127.0.0.1: plain to this
// computer, STARTTLS with a login, TLS from the start; a wrong password is
// refused once and not retried.

#include "DeskEvent.h"
#include "MailServer.h"
#include "TestPhoto.h"
#include "alerts/AlertSender.h"
#include "alerts/MailSender.h"
#include "common/TestMain.h"

#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>

namespace {
bool CurlMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/libcurl");
}
} // namespace

class TestAlertMail : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static AlertConfig PlainMail(const MailServer &server)
    {
        AlertConfig config;
        config.kind = AlertConfig::Kind::Email;
        config.url = QStringLiteral("smtp://127.0.0.1:%1").arg(server.port());
        config.to = QStringLiteral("owner@example.org");
        return config;
    }
    static AlertEvent Alarm() { return DeskEvent(QStringLiteral("Mouse detected"), true); }

private Q_SLOTS:
    void initTestCase()
    {
        MailSender::SetFullHostNameForTests(QStringLiteral("desk-7.example.org"));
    }

    // First: libcurl is not in the process until a mail goes out.
    void libraryLoadsWithTheFirstMail()
    {
        MailServer server;
        QVERIFY(server.start(MailServer::Mode::Plain));
        const AlertConfig config = PlainMail(server);
        AlertSender sender(m_dir.filePath(QStringLiteral("first.json")),
                           [config] { return config; });
        QVERIFY(!CurlMapped());
        sender.enqueue(Alarm());
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        QVERIFY(CurlMapped());
        QTRY_COMPARE_WITH_TIMEOUT(server.messages().size(), 1, 5000);
    }

    void delivery_data()
    {
        QTest::addColumn<MailServer::Mode>("mode");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("plain to loopback") << MailServer::Mode::Plain << "smtp"
                                           << "" << true;
        QTest::newRow("starttls, login") << MailServer::Mode::StartTls << "smtp"
                                         << "good-token" << true;
        QTest::newRow("smtps, login") << MailServer::Mode::Smtps << "smtps"
                                      << "good-token" << true;
        QTest::newRow("wrong password") << MailServer::Mode::StartTls << "smtp"
                                        << "bad" << false;
    }
    void delivery()
    {
        QFETCH(MailServer::Mode, mode);
        QFETCH(QString, scheme);
        QFETCH(QString, password);
        QFETCH(bool, delivered);
        MailServer server;
        QVERIFY(server.start(mode,
                             password.isEmpty() ? QString() : QStringLiteral("owner:good-token")));
        AlertConfig config;
        config.kind = AlertConfig::Kind::Email;
        config.url = QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server.port());
        config.to = QStringLiteral("owner@example.org; desk@example.org");
        config.user = password.isEmpty() ? QString() : QStringLiteral("owner");
        config.token = password;
        AlertSender::Options options;
        options.firstRetryMs = 50;
        options.caFile = server.certificate();
        static int run = 0;
        AlertSender sender(
            m_dir.filePath(QStringLiteral("q%1.json").arg(++run)), [config] { return config; },
            options);
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(Alarm());
        sender.enqueue(Alarm());
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        QTest::qWait(200);
        const QList<QJsonObject> messages = server.messages();
        if (!delivered) {
            QVERIFY(messages.isEmpty());
            QCOMPARE(failed.size(), 1); // told once, not per alert
            const QString text = failed.first().first().toString();
            QVERIFY2(text.contains(QStringLiteral("refused")), qPrintable(text));
            QVERIFY(!text.contains(QStringLiteral("bad")));
            return;
        }
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
        QCOMPARE(messages.size(), 2);
        const QJsonObject mail = messages.first();
        QCOMPARE(mail.value(QStringLiteral("tls")).toBool(), mode != MailServer::Mode::Plain);
        // The login at the computer's full name.
        QVERIFY(mail.value(QStringLiteral("from")).toString().endsWith(u"@desk-7.example.org"));
        QCOMPARE(mail.value(QStringLiteral("from")).toString(), MailSender::Sender(config));
        QCOMPARE(
            mail.value(QStringLiteral("to")).toVariant().toStringList(),
            (QStringList{QStringLiteral("owner@example.org"), QStringLiteral("desk@example.org")}));
        QCOMPARE(mail.value(QStringLiteral("subject")).toString(),
                 QStringLiteral("Tarvo2 on desk-7: Mouse detected"));
        QCOMPARE(mail.value(QStringLiteral("body")).toString().trimmed(), Alarm().line);
        if (!password.isEmpty())
            QCOMPARE(mail.value(QStringLiteral("login")).toString(), QStringLiteral("owner"));
    }

    void photoAttached_data()
    {
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        const QString photo = QStringLiteral("2026-12-07_10-00-00_photo.jpg");
        QTest::newRow("photo") << true << photo << "image/jpeg";
        QTest::newRow("photo gone") << false << photo << "image/jpeg";
        QTest::newRow("screen picture") << true << "2026-12-07_10-00-00_screen.png"
                                        << "image/png";
        QTest::newRow("sound clip") << true << "2026-12-07_10-00-00_sound.oga"
                                    << "audio/ogg";
    }
    void photoAttached()
    {
        QFETCH(bool, readable);
        QFETCH(QString, name);
        QFETCH(QString, type);
        MailServer server;
        QVERIFY(server.start(MailServer::Mode::Plain));
        const AlertConfig config = PlainMail(server);
        AlertEvent event = DeskEvent(QStringLiteral("Photo saved"), false);
        event.attachment = m_dir.filePath(name);
        event.attachmentKind = name.endsWith(QLatin1String(".oga")) ? AlertEvent::FileKind::Sound
                                                                    : AlertEvent::FileKind::Photo;
        QVERIFY(name.endsWith(QLatin1String(".oga"))
                    ? WriteOggClip(event.attachment)
                    : WriteNoisyJpeg(event.attachment, 640, 480,
                                     name.endsWith(QLatin1String(".png")) ? "PNG" : "JPEG"));
        const QByteArray bytes = FileBytes(event.attachment);
        if (!readable)
            QVERIFY(QFile::remove(event.attachment));
        AlertSender sender(m_dir.filePath(QStringLiteral("photo.json")),
                           [config] { return config; });
        sender.enqueue(event);
        QTRY_COMPARE_WITH_TIMEOUT(server.messages().size(), 1, 20000);
        // Gone from the queue before the next row reads the same file.
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        const QJsonObject mail = server.messages().first();
        const QJsonArray files = mail.value(QStringLiteral("attachments")).toArray();
        QCOMPARE(files.size(), readable ? 1 : 0);
        QCOMPARE(mail.value(QStringLiteral("body"))
                     .toString()
                     .contains(QStringLiteral("could not be attached")),
                 !readable);
        if (readable) {
            const QJsonObject file = files.first().toObject();
            QCOMPARE(file.value(QStringLiteral("name")).toString(), name);
            QCOMPARE(file.value(QStringLiteral("type")).toString(), type);
            QCOMPARE(file.value(QStringLiteral("size")).toInt(), bytes.size());
            QCOMPARE(file.value(QStringLiteral("sha256")).toString().toLatin1(), Sha256Hex(bytes));
        }
    }

    void testAlertAndProblems()
    {
        MailServer server;
        QVERIFY(server.start(MailServer::Mode::Plain));
        AlertConfig config = PlainMail(server);
        config.to.clear();
        config.from = QStringLiteral("Tarvo2 Desk <alarm@example.org>");
        AlertSender sender(m_dir.filePath(QStringLiteral("test.json")),
                           [] { return AlertConfig(); });
        QSignalSpy tested(&sender, &AlertSender::testFinished);
        sender.sendTest(config, Alarm()); // no recipient
        QCOMPARE(tested.size(), 1);
        QVERIFY(tested.first().at(1).toString().contains(QStringLiteral("(To) is missing")));
        config.to = QStringLiteral("owner@example.org");
        sender.sendTest(config, Alarm());
        QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 2, 20000);
        QCOMPARE(tested.last().first().toBool(), true);
        QCOMPARE(server.messages().size(), 1);
        QCOMPARE(server.messages().first().value(QStringLiteral("header_from")).toString(),
                 config.from);
        // The server's own reason, not libcurl's "MAIL failed: 504".
        config.from = QStringLiteral("alarm@desk-7");
        sender.sendTest(config, Alarm());
        QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 3, 20000);
        QVERIFY2(tested.last().at(1).toString().contains(
                     QStringLiteral("answered 504 5.5.2 <alarm@desk-7>: Sender address rejected")),
                 qPrintable(tested.last().at(1).toString()));
        // No From and a computer name without a domain: no address to make.
        config.from.clear();
        MailSender::SetFullHostNameForTests(QStringLiteral("desk-7"));
        sender.sendTest(config, Alarm());
        QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 4, 20000);
        MailSender::SetFullHostNameForTests(QStringLiteral("desk-7.example.org"));
        QVERIFY2(tested.last().at(1).toString().contains(QStringLiteral("(From) is missing")),
                 qPrintable(tested.last().at(1).toString()));
        QCOMPARE(server.messages().size(), 1);
    }
};

TARVO_TEST_MAIN(TestAlertMail)
#include "tst_alertmail.moc"
