// Every receiver kind against a local receiver that answers as its service
// does (receivers.py): the request is taken with the right settings, and a
// wrong token is refused, told once and not retried.

#include "AlertServer.h"
#include "DeskEvent.h"
#include "TestPhoto.h"
#include "alerts/AlertSender.h"
#include "common/TestMain.h"

#include <QJsonArray>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QThread>
#include <atomic>
#include <sys/stat.h>

class TestAlertReceivers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A "Photo saved" alert with its file, a noisy JPEG; no file when that
    // could not be written.
    AlertEvent photoAlert(const QString &name, int width, int height, bool alarm = false)
    {
        AlertEvent event = DeskEvent(QStringLiteral("Photo saved: ") + name, alarm);
        event.attachment = m_dir.filePath(name);
        if (!WriteNoisyJpeg(event.attachment, width, height))
            event.attachment.clear();
        return event;
    }

private Q_SLOTS:
    void kinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("urlPath"); // the configured URL's path
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("path"); // the request's path starts so
        QTest::addColumn<QString>("mark"); // the body holds this for an alarm
        using namespace Receiver;
        const QString matrixPath =
            QStringLiteral("/_matrix/client/v3/rooms/%21desks%3Aexample.org/send/"
                           "m.room.message/tarvo2-");
        QTest::newRow("ntfy, access token") << "ntfy"
                                            << "/desks"
                                            << "tk_" + Token << ""
                                            << ""
                                            << "/desks"
                                            << "";
        QTest::newRow("ntfy, user and password") << "ntfy"
                                                 << "/desks" << Token << "" << NtfyUser << "/desks"
                                                 << "";
        QTest::newRow("webhook") << "webhook"
                                 << "/hook"
                                 << ""
                                 << ""
                                 << ""
                                 << "/hook"
                                 << "\"alarm\":true";
        QTest::newRow("slack") << "slack"
                               << "/services/T1"
                               << ""
                               << ""
                               << ""
                               << "/services/T1"
                               << "\"text\":\"Tarvo2 on desk-7: [";
        QTest::newRow("discord") << "discord"
                                 << "/api/webhooks/1"
                                 << ""
                                 << ""
                                 << ""
                                 << "/api/webhooks/1"
                                 << "\"content\":\"Tarvo2 on desk-7: [";
        QTest::newRow("gotify") << "gotify"
                                << "/" << Token << ""
                                << ""
                                << "/message"
                                << "\"priority\":8";
        QTest::newRow("matrix") << "matrix"
                                << "" << Token << Room << "" << matrixPath
                                << "\"msgtype\":\"m.text\"";
        QTest::newRow("telegram") << "telegram"
                                  << "" << TelegramToken << Chat << ""
                                  << "/bot123456:good-token/sendMessage"
                                  << "\"chat_id\":\"4242\"";
        QTest::newRow("pushover") << "pushover"
                                  << "" << Token << UserKey << ""
                                  << "/1/messages.json"
                                  << "&priority=1";
    }
    void kinds()
    {
        QFETCH(QString, kind);
        QFETCH(QString, urlPath);
        QFETCH(QString, token);
        QFETCH(QString, to);
        QFETCH(QString, user);
        QFETCH(QString, path);
        QFETCH(QString, mark);
        AlertServer server;
        server.setMode("kind:" + kind.toLatin1());
        QVERIFY(server.start());
        AlertConfig config;
        config.kind = AlertConfig::KindFromName(kind);
        QCOMPARE(AlertConfig::KindName(config.kind), kind);
        config.url = server.url(urlPath);
        config.token = token;
        config.to = to;
        config.user = user;
        const AlertEvent alarm = DeskEvent(QStringLiteral("Mouse detected"), true);

        AlertSender::Options fast;
        fast.firstRetryMs = 50;
        static int run = 0;
        AlertSender sender(
            m_dir.filePath(QStringLiteral("q%1.json").arg(++run)), [&config] { return config; },
            fast);
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(alarm);
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        const QJsonObject request = server.requests().first();
        const QString body = request.value(QStringLiteral("body")).toString();
        QVERIFY2(request.value(QStringLiteral("status")).toInt() / 100 == 2, qPrintable(body));
        QVERIFY2(request.value(QStringLiteral("path")).toString().startsWith(path),
                 qPrintable(request.value(QStringLiteral("path")).toString()));
        QVERIFY2(body.contains(mark), qPrintable(body));
        QVERIFY(
            QUrl::fromPercentEncoding(body.toUtf8()).contains(QStringLiteral("Mouse detected")));
        QVERIFY(failed.isEmpty());

        if (token.isEmpty())
            return; // the address is the secret
        config.token = token.chopped(1) + QLatin1Char('X');
        sender.enqueue(alarm);
        sender.enqueue(alarm);
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 3, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        const int refusal = server.requests().last().value(QStringLiteral("status")).toInt();
        QVERIFY(refusal == 401 || refusal == 400);
        QCOMPARE(failed.size(), 1);
        QVERIFY2(failed.first().first().toString().contains(QString::number(refusal)),
                 qPrintable(failed.first().first().toString()));
        QVERIFY(!sender.lastProblem().isEmpty());
        QTest::qWait(300);
        QCOMPARE(server.requests().size(), 3); // refused alerts are not retried
    }

    // A "Photo saved" alert: ntfy gets the file as it is in a PUT with its
    // name, the webhook a base64 JPEG within 512 KB, Discord, Telegram and
    // Pushover a form with the file; without the file the plain line goes.
    // The screen picture goes the same way as a JPEG, the sound clip as it is
    // where the receiver takes it (Telegram as a document, Matrix as
    // m.audio); Pushover takes pictures only.
    void photoGoesAlong_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("file"); // photo, screen or sound
        QTest::addColumn<int>("width");    // of the picture; 0: the file is gone, -1: a FIFO
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("to");
        using namespace Receiver;
        const QString ntfyToken = "tk_" + Token;
        QTest::newRow("ntfy") << "ntfy"
                              << "photo" << 320 << ntfyToken << "";
        QTest::newRow("ntfy, photo gone") << "ntfy"
                                          << "photo" << 0 << ntfyToken << "";
        QTest::newRow("ntfy, a FIFO in the photo's place") << "ntfy"
                                                           << "photo" << -1 << ntfyToken << "";
        QTest::newRow("webhook, large photo") << "webhook"
                                              << "photo" << 2000 << ""
                                              << "";
        QTest::newRow("webhook, photo gone") << "webhook"
                                             << "photo" << 0 << ""
                                             << "";
        QTest::newRow("discord") << "discord"
                                 << "photo" << 320 << ""
                                 << "";
        QTest::newRow("telegram") << "telegram"
                                  << "photo" << 320 << TelegramToken << Chat;
        QTest::newRow("pushover") << "pushover"
                                  << "photo" << 320 << Token << UserKey;
        for (const QString &file : {QStringLiteral("screen"), QStringLiteral("sound")}) {
            const auto row = [&file](const char *kind) -> QTestData & {
                return QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(kind, file)))
                       << QString::fromLatin1(kind) << file << 1200;
            };
            row("ntfy") << ntfyToken << "";
            row("webhook") << ""
                           << "";
            row("discord") << ""
                           << "";
            row("telegram") << TelegramToken << Chat;
            row("pushover") << Token << UserKey;
            row("matrix") << Token << Room;
        }
    }
    void photoGoesAlong()
    {
        QFETCH(QString, kind);
        QFETCH(QString, file);
        QFETCH(int, width);
        QFETCH(QString, token);
        QFETCH(QString, to);
        AlertServer server;
        server.setMode("kind:" + kind.toLatin1());
        QVERIFY(server.start());
        AlertConfig config;
        config.kind = AlertConfig::KindFromName(kind);
        config.url = server.url(kind == QLatin1String("discord") ? QStringLiteral("/api/webhooks/1")
                                                                 : QStringLiteral("/desks"));
        if (!to.isEmpty()) // Telegram, Pushover and Matrix: the service's own paths
            config.url = server.url(QString());
        config.token = token;
        config.to = to;
        const bool sound = file == QLatin1String("sound");
        const QString name =
            QStringLiteral("2026-12-07_10-00-01_%1.%2")
                .arg(file, sound                             ? QStringLiteral("oga")
                           : file == QLatin1String("screen") ? QStringLiteral("png")
                                                             : QStringLiteral("jpg"));
        // Pictures go as JPEGs; a sound clip by its own name, where it goes.
        const QString sentName = sound ? name : name.chopped(3) + QStringLiteral("jpg");
        AlertEvent event = DeskEvent(
            file.left(1).toUpper() + file.mid(1) + QStringLiteral(" saved: ") + name, false);
        event.attachment = m_dir.filePath(name);
        event.attachmentKind = AlertEvent::FileKindFromName(file);
        QFile::remove(event.attachment);
        if (width > 0)
            QVERIFY(sound ? WriteOggClip(event.attachment)
                          : WriteNoisyJpeg(event.attachment, width, width * 3 / 4,
                                           file == QLatin1String("screen") ? "PNG" : "JPEG"));
        if (width < 0) // opening it would wait for a writer that never comes
            QCOMPARE(mkfifo(QFile::encodeName(event.attachment).constData(), 0600), 0);
        const auto removeFifo = qScopeGuard([&event] { QFile::remove(event.attachment); });
        const QByteArray bytes = width > 0 ? FileBytes(event.attachment) : QByteArray();
        const bool taken = width > 0 && !(sound && kind == QLatin1String("pushover"));

        static int run = 0;
        AlertSender sender(m_dir.filePath(QStringLiteral("photo%1.json").arg(++run)),
                           [&config] { return config; });
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(event);
        QTRY_VERIFY_WITH_TIMEOUT(!server.requests().isEmpty(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        QVERIFY(failed.isEmpty());
        const QList<QJsonObject> requests = server.requests();
        for (const QJsonObject &request : requests) // each checked by the receiver
            QVERIFY2(request.value(QStringLiteral("status")).toInt() / 100 == 2,
                     qPrintable(request.value(QStringLiteral("body")).toString()));
        const QJsonObject request = requests.last();
        const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
        const QString body = request.value(QStringLiteral("body")).toString();
        const QString path = request.value(QStringLiteral("path")).toString();
        if (kind == QLatin1String("matrix")) { // the line, the upload, the file's event
            QCOMPARE(requests.size(), 3);
            const QJsonObject content = QJsonDocument::fromJson(body.toUtf8()).object();
            QCOMPARE(content.value(QStringLiteral("msgtype")).toString(),
                     sound ? QStringLiteral("m.audio") : QStringLiteral("m.image"));
            QCOMPARE(content.value(QStringLiteral("body")).toString(), sentName);
            return;
        }
        QCOMPARE(requests.size(), 1);
        if (kind == QLatin1String("ntfy")) {
            QCOMPARE(request.value(QStringLiteral("method")).toString(),
                     width > 0 ? QStringLiteral("PUT") : QStringLiteral("POST"));
            QCOMPARE(headers.value(QStringLiteral("Filename")).toString(),
                     width > 0 ? sentName : QString());
            QCOMPARE(request.value(QStringLiteral("jpeg")).toBool(), width > 0 && !sound);
            QCOMPARE(request.value(QStringLiteral("ogg")).toBool(), sound);
            if (file != QLatin1String("screen"))
                QCOMPARE(request.value(QStringLiteral("size")).toInt(),
                         width > 0 ? bytes.size() : event.line.toUtf8().size());
            QCOMPARE(width > 0 ? headers.value(QStringLiteral("X-Message")).toString() : body,
                     event.line);
            QCOMPARE(headers.value(QStringLiteral("X-Priority")).toString(), QStringLiteral("3"));
            return;
        }
        if (kind != QLatin1String("webhook")) { // the receiver checked the form's file
            QCOMPARE(headers.value(QStringLiteral("Content-Type"))
                         .toString()
                         .startsWith(QStringLiteral("multipart/form-data; boundary=")),
                     taken);
            QVERIFY(!taken || request.value(QStringLiteral("size")).toInt() > 1000);
            if (kind == QLatin1String("telegram"))
                QVERIFY2(path.endsWith(sound ? QStringLiteral("/sendDocument")
                                             : QStringLiteral("/sendPhoto")),
                         qPrintable(path));
            return;
        }
        const QJsonObject fields = QJsonDocument::fromJson(body.toUtf8()).object();
        QCOMPARE(fields.value(QStringLiteral("line")).toString(), event.line);
        QCOMPARE(fields.contains(file), width > 0);
        if (!width)
            return;
        QCOMPARE(fields.value(file + QStringLiteral("_name")).toString(), sentName);
        const QByteArray sent = QByteArray::fromBase64(fields.value(file).toString().toLatin1());
        if (sound) {
            QCOMPARE(sent, bytes);
            return;
        }
        QVERIFY(bytes.size() > 512 * 1024); // so it had to be made smaller
        QVERIFY(sent.size() <= 512 * 1024);
        QImage image;
        QVERIFY(image.loadFromData(sent, "JPEG"));
        QVERIFY(image.width() < width && image.width() > 100);
        QVERIFY(qAbs(image.width() * 3 - image.height() * 4) <= 8); // the same shape
    }

    // The photo is read and made smaller on a worker thread, so a large one
    // never holds up the window or an alarm, and only once for all the
    // tries of its alert.
    void photoPreparedOnAWorkerOnce()
    {
        AlertServer server;
        server.setMode("503");
        QVERIFY(server.start());
        AlertConfig config;
        config.kind = AlertConfig::Kind::Webhook;
        config.url = server.url(QStringLiteral("/hook"));
        const AlertEvent event =
            photoAlert(QStringLiteral("big.jpg"), 1600, 1200, true); // must be made smaller
        QVERIFY(!event.attachment.isEmpty());
        std::atomic<int> prepared = 0;
        std::atomic<QThread *> preparedOn = nullptr;
        AlertSender::Options options;
        options.firstRetryMs = 50;
        options.preparePhoto = [&](const QString &path, qint64 maxBytes) {
            ++prepared;
            preparedOn = QThread::currentThread();
            return AlertPhoto::Prepare(path, maxBytes);
        };
        AlertSender sender(
            m_dir.filePath(QStringLiteral("worker.json")), [&config] { return config; }, options);
        sender.enqueue(event);
        QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() >= 3, 20000);
        server.setMode("kind:webhook");
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        QCOMPARE(prepared.load(), 1);
        QVERIFY(preparedOn.load() && preparedOn.load() != QThread::currentThread());
        for (const QJsonObject &request : server.requests())
            QVERIFY(request.value(QStringLiteral("body"))
                        .toString()
                        .contains(QStringLiteral("\"photo\":\"/9j/"))); // base64 of a JPEG's start
    }

    // Matrix: the line as m.text, then the photo uploaded to the media store
    // and sent as m.image naming the content URI the upload gave. A refused
    // upload costs the photo, told once, never the line; a busy one is
    // retried without posting the line twice.
    void matrixPhoto_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("uploadStatus"); // the first upload's answer
        QTest::newRow("taken") << "matrix" << 200;
        QTest::newRow("upload too large") << "matrix_small_uploads" << 413;
        QTest::newRow("uploads forbidden") << "matrix_no_media" << 403;
        QTest::newRow("media store busy once") << "matrix_busy_media" << 502;
    }
    void matrixPhoto()
    {
        QFETCH(QString, kind);
        QFETCH(int, uploadStatus);
        AlertServer server;
        server.setMode("kind:" + kind.toLatin1());
        QVERIFY(server.start());
        AlertConfig config;
        config.kind = AlertConfig::Kind::Matrix;
        config.url = server.url(QString());
        config.token = Receiver::Token;
        config.to = Receiver::Room;
        AlertSender::Options fast;
        fast.firstRetryMs = 50;
        static int run = 0;
        AlertSender sender(
            m_dir.filePath(QStringLiteral("matrix%1.json").arg(++run)),
            [&config] { return config; }, fast);
        QSignalSpy failed(&sender, &AlertSender::failed);
        QList<AlertEvent> alerts;
        for (const QString &name : {QStringLiteral("2026-12-07_10-00-01_photo.jpg"),
                                    QStringLiteral("2026-12-07_10-00-02_photo.jpg")}) {
            alerts << photoAlert(name, 160, 120);
            QVERIFY(!alerts.last().attachment.isEmpty());
            sender.enqueue(alerts.last());
        }
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);

        QStringList lines, images, uploads;
        for (const QJsonObject &request : server.requests()) {
            const QString path = request.value(QStringLiteral("path")).toString();
            const QJsonObject content =
                QJsonDocument::fromJson(request.value(QStringLiteral("body")).toString().toUtf8())
                    .object();
            const QJsonObject answer = request.value(QStringLiteral("answer")).toObject();
            if (path.startsWith(QStringLiteral("/_matrix/media/v3/upload?filename="))) {
                QCOMPARE(request.value(QStringLiteral("jpeg")).toBool(), true);
                uploads << QString::number(request.value(QStringLiteral("status")).toInt());
            } else if (content.value(QStringLiteral("msgtype")) == QStringLiteral("m.image")) {
                QCOMPARE(request.value(QStringLiteral("status")).toInt(), 200);
                const QJsonObject info = content.value(QStringLiteral("info")).toObject();
                QCOMPARE(info.value(QStringLiteral("w")).toInt(), 160);
                QCOMPARE(info.value(QStringLiteral("h")).toInt(), 120);
                QVERIFY(content.value(QStringLiteral("url")).toString().startsWith("mxc://"));
                QVERIFY(answer.value(QStringLiteral("posted")).toBool());
                images << content.value(QStringLiteral("body")).toString();
            } else if (answer.value(QStringLiteral("posted")).toBool()) {
                QCOMPARE(content.value(QStringLiteral("msgtype")).toString(), "m.text");
                lines << content.value(QStringLiteral("body")).toString();
            }
        }
        QCOMPARE(lines.size(), 2); // a retry's line is not posted again
        QVERIFY(lines.first().endsWith(alerts.first().line));
        QVERIFY(!uploads.isEmpty());
        QCOMPARE(uploads.first(), QString::number(uploadStatus));
        if (uploadStatus / 100 == 4) {
            QVERIFY(images.isEmpty());
            QCOMPARE(uploads.size(), 2);
            QCOMPARE(failed.size(), 1);
            const QString told = failed.first().first().toString();
            QVERIFY2(told.startsWith(QStringLiteral("Photo to ")) &&
                         told.contains(QString::number(uploadStatus)),
                     qPrintable(told));
            return;
        }
        QCOMPARE(images, QStringList({QFileInfo(alerts.first().attachment).fileName(),
                                      QFileInfo(alerts.last().attachment).fileName()}));
        QCOMPARE(uploads.size(), uploadStatus == 200 ? 2 : 3);
        QCOMPARE(failed.size(), uploadStatus == 200 ? 0 : 1); // "not sent" for the busy try
    }

    // A server that takes no files refuses the photo: its line goes alone,
    // at once, and the refusal is told once.
    void refusedPhotoSendsTheLine()
    {
        AlertServer server;
        server.setMode("kind:ntfy_without_files");
        QVERIFY(server.start());
        AlertConfig config;
        config.kind = AlertConfig::Kind::Ntfy;
        config.url = server.url(QStringLiteral("/desks"));
        config.token = "tk_" + Receiver::Token;
        const AlertEvent event = photoAlert(QStringLiteral("p.jpg"), 320, 240);
        QVERIFY(!event.attachment.isEmpty());
        AlertSender sender(m_dir.filePath(QStringLiteral("refused.json")),
                           [&config] { return config; });
        QSignalSpy failed(&sender, &AlertSender::failed);
        sender.enqueue(event);
        sender.enqueue(event);
        QTRY_COMPARE_WITH_TIMEOUT(sender.pending(), 0, 20000);
        const QList<QJsonObject> requests = server.requests();
        QCOMPARE(requests.size(), 4);
        for (int i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests.at(i).value(QStringLiteral("status")).toInt(), i % 2 ? 200 : 400);
            if (i % 2)
                QCOMPARE(requests.at(i).value(QStringLiteral("body")).toString(), event.line);
        }
        QCOMPARE(failed.size(), 1);
        const QString told = failed.first().first().toString();
        QVERIFY2(told.startsWith(QStringLiteral("Photo to ")) &&
                     told.contains(QStringLiteral("400")),
                 qPrintable(told));
        QVERIFY(QFileInfo(event.attachment).isFile());
    }
};

TARVO_TEST_MAIN(TestAlertReceivers)
#include "tst_alertreceivers.moc"
