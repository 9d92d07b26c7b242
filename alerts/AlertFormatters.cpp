// One formatter per receiver kind: each builds the request its service
// accepts (the field it requires, its way of taking the token).

#include "alerts/AlertPhoto.h"
#include "alerts/AlertRequest.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
// The token, and To where the service names one, that it cannot do without.
bool HasNeeds(const AlertConfig &config, QString *problem, const QString &token,
              const QString &to = QString())
{
    const QString missing = config.token.trimmed().isEmpty()                 ? token
                            : !to.isEmpty() && config.to.trimmed().isEmpty() ? to + " (To)"
                                                                             : QString();
    if (problem && !missing.isEmpty())
        *problem = QStringLiteral("the %1 is missing").arg(missing);
    return missing.isEmpty();
}

// The service's path under the configured base address.
QUrl Under(const QUrl &server, const QString &encodedPath)
{
    QUrl url = server;
    QString path = url.path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + encodedPath, QUrl::TolerantMode);
    return url;
}

void SetJson(AlertRequest &out, const QJsonObject &object)
{
    out.request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    out.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Bearer, or basic auth with User when the token is a password (ntfy's
// access tokens start with tk_). User info in the URL comes first.
void TokenAuth(const AlertConfig &config, AlertRequest &out)
{
    const QString token = config.token.trimmed();
    if (token.isEmpty() || out.request.hasRawHeader("Authorization"))
        return;
    const QString user = config.user.trimmed();
    if (!user.isEmpty() && !token.startsWith(QLatin1String("tk_")))
        out.request.setRawHeader("Authorization",
                                 "Basic " + (user + QLatin1Char(':') + token).toUtf8().toBase64());
    else
        out.request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
}

// A form of the fields and the file (photo, screen picture or sound clip) as
// its file part (the kinds that take a file that way); null when the file
// cannot be read, so the text goes.
std::shared_ptr<QHttpMultiPart> PhotoForm(const AlertPhoto::File &photo, const QString &fileField,
                                          std::initializer_list<std::pair<QString, QString>> fields)
{
    if (photo.isEmpty())
        return nullptr;
    auto form = std::make_shared<QHttpMultiPart>(QHttpMultiPart::FormDataType);
    const auto disposition = [](const QString &name) {
        return QStringLiteral("form-data; name=\"%1\"").arg(name);
    };
    for (const auto &[name, value] : fields) {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition(name));
        part.setBody(value.toUtf8());
        form->append(part);
    }
    QString fileName = photo.name;
    for (QChar &c : fileName)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-'))
            c = QLatin1Char('_'); // nothing that could end the quoted name
    QHttpPart file;
    file.setHeader(QNetworkRequest::ContentTypeHeader, photo.type);
    file.setHeader(QNetworkRequest::ContentDispositionHeader,
                   disposition(fileField) + QStringLiteral("; filename=\"%1\"").arg(fileName));
    file.setBody(photo.bytes);
    form->append(file);
    return form;
}

// ntfy takes non-ASCII header values as RFC 2047 encoded words.
QByteArray HeaderText(const QString &text)
{
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    if (ascii)
        return text.toLatin1();
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray TagsFor(const AlertEvent &event)
{
    if (event.alarm)
        return "rotating_light,tarvo2";
    if (event.event == QLatin1String("Alarm - Stoped"))
        return "unlock,tarvo2";
    if (event.event == QLatin1String("Alarm - Activated"))
        return "lock,tarvo2";
    return "tarvo2";
}

// The publish API: the line as the body, the rest in headers. The X- names
// survive proxies that strip or replace a plain "Priority". A file (picture
// or sound) is the body of a PUT instead (ntfy's attachment), with the line
// in X-Message; a file that cannot be read leaves the plain line.
class Ntfy : public AlertFormatter
{
    qint64 photoLimit() const override { return 15 * 1024 * 1024; } // ntfy's default limit
    qint64 soundLimit() const override { return photoLimit(); }

    bool format(const AlertConfig &config, const QUrl &, const AlertEvent &event,
                const AlertPhoto::File &photo, AlertRequest &out, QString *) const override
    {
        TokenAuth(config, out);
        out.request.setRawHeader("X-Title", HeaderText(event.title()));
        out.request.setRawHeader("X-Priority", event.alarm ? "5" : "3");
        out.request.setRawHeader("X-Tags", TagsFor(event));
        if (!photo.isEmpty()) {
            out.verb = "PUT";
            out.request.setHeader(QNetworkRequest::ContentTypeHeader, photo.type);
            out.request.setRawHeader("Filename", HeaderText(photo.name));
            out.request.setRawHeader("X-Message", HeaderText(event.line));
            out.body = photo.bytes;
            return true;
        }
        out.request.setHeader(QNetworkRequest::ContentTypeHeader,
                              QStringLiteral("text/plain; charset=utf-8"));
        out.body = event.line.toUtf8();
        return true;
    }
};

// Generic receivers find the fields they usually look for. A file goes as
// base64 in the field of its kind ("photo", "screen": a JPEG made small
// enough for any JSON receiver; "sound"), with "<kind>_name" and "<kind>_type".
class Webhook : public AlertFormatter
{
    qint64 photoLimit() const override { return 512 * 1024; }
    qint64 soundLimit() const override { return photoLimit(); }

    bool format(const AlertConfig &config, const QUrl &, const AlertEvent &event,
                const AlertPhoto::File &photo, AlertRequest &out, QString *) const override
    {
        TokenAuth(config, out);
        QJsonObject fields{
            {QStringLiteral("host"), event.host},     {QStringLiteral("event"), event.event},
            {QStringLiteral("time"), event.time},     {QStringLiteral("line"), event.line},
            {QStringLiteral("text"), event.text()},   {QStringLiteral("message"), event.line},
            {QStringLiteral("title"), event.title()}, {QStringLiteral("alarm"), event.alarm}};
        if (!photo.isEmpty()) {
            const QString field = AlertEvent::FileKindName(event.attachmentKind);
            fields.insert(field, QString::fromLatin1(photo.bytes.toBase64()));
            fields.insert(field + QStringLiteral("_name"), photo.name);
            fields.insert(field + QStringLiteral("_type"), photo.type);
        }
        SetJson(out, fields);
        return true;
    }
};

// Slack, Mattermost and Rocket.Chat incoming webhooks.
class Slack : public AlertFormatter
{
    bool format(const AlertConfig &, const QUrl &, const AlertEvent &event,
                const AlertPhoto::File &, AlertRequest &out, QString *) const override
    {
        SetJson(out, {{QStringLiteral("text"), event.text()}});
        return true;
    }
};

class Discord : public AlertFormatter
{
    qint64 photoLimit() const override { return 8 * 1024 * 1024; }
    qint64 soundLimit() const override { return photoLimit(); }

    bool format(const AlertConfig &, const QUrl &, const AlertEvent &event,
                const AlertPhoto::File &photo, AlertRequest &out, QString *) const override
    {
        // Discord refuses content over 2000 characters.
        const QJsonObject message{{QStringLiteral("content"), event.text().left(2000)}};
        out.form =
            PhotoForm(photo, QStringLiteral("files[0]"),
                      {{QStringLiteral("payload_json"),
                        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact))}});
        if (!out.form)
            SetJson(out, message);
        return true;
    }
};

class Gotify : public AlertFormatter
{
    bool format(const AlertConfig &config, const QUrl &server, const AlertEvent &event,
                const AlertPhoto::File &, AlertRequest &out, QString *problem) const override
    {
        if (!HasNeeds(config, problem, QStringLiteral("application token")))
            return false;
        out.request.setUrl(Under(server, QStringLiteral("/message")));
        out.request.setRawHeader("X-Gotify-Key", config.token.trimmed().toUtf8());
        SetJson(out, {{QStringLiteral("title"), event.title()},
                      {QStringLiteral("message"), event.line},
                      {QStringLiteral("priority"), event.alarm ? 8 : 4}});
        return true;
    }
};

// The client-server API. Transaction ids come from the alert itself, so a
// retry after a lost answer is not posted twice. A file follows the line:
// uploaded to the media store, then sent as an m.image (a picture) or m.audio
// (a sound clip) event naming the content URI the upload gave.
class Matrix : public AlertFormatter
{
    qint64 photoLimit() const override { return 10 * 1024 * 1024; }
    qint64 soundLimit() const override { return photoLimit(); }

    bool format(const AlertConfig &config, const QUrl &server, const AlertEvent &event,
                const AlertPhoto::File &photo, AlertRequest &out, QString *problem) const override
    {
        if (!HasNeeds(config, problem, QStringLiteral("access token"), QStringLiteral("room id")))
            return false;
        const QString txn = QStringLiteral("tarvo2-") +
                            QString::fromLatin1(QCryptographicHash::hash(
                                                    (event.host + event.time + event.line).toUtf8(),
                                                    QCryptographicHash::Sha256)
                                                    .toHex()
                                                    .left(32));
        const QByteArray auth = "Bearer " + config.token.trimmed().toUtf8();
        const QNetworkRequest base = out.request;
        Send(server, config.to.trimmed(), txn, auth,
             {{QStringLiteral("msgtype"), QStringLiteral("m.text")},
              {QStringLiteral("body"), event.text()}},
             out);
        if (photo.isEmpty())
            return true;
        const QString room = config.to.trimmed();
        out.then = [server, room, txn, auth, base, photo](const QByteArray &, AlertRequest &upload,
                                                          QString *) {
            upload.request = base;
            QUrl url = Under(server, QStringLiteral("/_matrix/media/v3/upload"));
            url.setQuery(QStringLiteral("filename=") +
                         QString::fromLatin1(QUrl::toPercentEncoding(photo.name)));
            upload.request.setUrl(url);
            upload.request.setRawHeader("Authorization", auth);
            upload.request.setHeader(QNetworkRequest::ContentTypeHeader, photo.type);
            upload.body = photo.bytes;
            upload.photoOnly = true;
            upload.then = [server, room, txn, auth, base,
                           photo](const QByteArray &answer, AlertRequest &image, QString *problem) {
                const QString uri = QJsonDocument::fromJson(answer)
                                        .object()
                                        .value(QStringLiteral("content_uri"))
                                        .toString();
                if (!uri.startsWith(QLatin1String("mxc://"))) {
                    if (problem)
                        *problem = QStringLiteral("the upload gave no mxc:// content URI");
                    return false;
                }
                image.request = base;
                QJsonObject info{{QStringLiteral("mimetype"), photo.type},
                                 {QStringLiteral("size"), photo.bytes.size()}};
                if (photo.isPicture()) {
                    info.insert(QStringLiteral("w"), photo.size.width());
                    info.insert(QStringLiteral("h"), photo.size.height());
                }
                Send(server, room,
                     txn +
                         (photo.isPicture() ? QStringLiteral("-photo") : QStringLiteral("-sound")),
                     auth,
                     {{QStringLiteral("msgtype"),
                       photo.isPicture() ? QStringLiteral("m.image") : QStringLiteral("m.audio")},
                      {QStringLiteral("body"), photo.name},
                      {QStringLiteral("url"), uri},
                      {QStringLiteral("info"), info}},
                     image);
                image.photoOnly = true;
                return true;
            };
            return true;
        };
        return true;
    }

    // An m.room.message event to the room.
    static void Send(const QUrl &server, const QString &room, const QString &txn,
                     const QByteArray &auth, const QJsonObject &content, AlertRequest &out)
    {
        out.request.setUrl(
            Under(server, QStringLiteral("/_matrix/client/v3/rooms/%1/send/m.room.message/%2")
                              .arg(QString::fromLatin1(QUrl::toPercentEncoding(room)), txn)));
        out.verb = "PUT";
        out.request.setRawHeader("Authorization", auth);
        SetJson(out, content);
    }
};

// The Bot API: the bot token is part of the path, the chat id in To. A
// picture goes by sendPhoto; the sound clip by sendDocument, as sendAudio
// takes MP3 and M4A only and sendVoice Opus only.
class Telegram : public AlertFormatter
{
    qint64 photoLimit() const override { return 10 * 1000 * 1000; }
    qint64 soundLimit() const override { return photoLimit(); }

    bool format(const AlertConfig &config, const QUrl &server, const AlertEvent &event,
                const AlertPhoto::File &photo, AlertRequest &out, QString *problem) const override
    {
        if (!HasNeeds(config, problem, QStringLiteral("bot token"), QStringLiteral("chat id")))
            return false;
        const QString bot =
            QStringLiteral("/bot") +
            QString::fromLatin1(QUrl::toPercentEncoding(config.token.trimmed(), ":"));
        // A file's caption is cut at 1024 characters by the service.
        const bool picture = photo.isPicture();
        out.form = PhotoForm(photo, picture ? QStringLiteral("photo") : QStringLiteral("document"),
                             {{QStringLiteral("chat_id"), config.to.trimmed()},
                              {QStringLiteral("caption"), event.text().left(1024)}});
        const QString method = !out.form ? QStringLiteral("/sendMessage")
                               : picture ? QStringLiteral("/sendPhoto")
                                         : QStringLiteral("/sendDocument");
        out.request.setUrl(Under(server, bot + method));
        if (!out.form)
            SetJson(out, {{QStringLiteral("chat_id"), config.to.trimmed()},
                          {QStringLiteral("text"), event.text()}});
        return true;
    }
};

// Its attachment is a picture only: a sound clip's line goes alone.
class Pushover : public AlertFormatter
{
    qint64 photoLimit() const override { return 2500 * 1000; } // the service's limit

    bool format(const AlertConfig &config, const QUrl &server, const AlertEvent &event,
                const AlertPhoto::File &photo, AlertRequest &out, QString *problem) const override
    {
        if (!HasNeeds(config, problem, QStringLiteral("application token"),
                      QStringLiteral("user key")))
            return false;
        out.request.setUrl(Under(server, QStringLiteral("/1/messages.json")));
        const std::initializer_list<std::pair<QString, QString>> fields = {
            {QStringLiteral("token"), config.token.trimmed()},
            {QStringLiteral("user"), config.to.trimmed()},
            {QStringLiteral("title"), event.title()},
            {QStringLiteral("message"), event.line},
            {QStringLiteral("priority"), event.alarm ? QStringLiteral("1") : QStringLiteral("0")}};
        out.form = PhotoForm(photo, QStringLiteral("attachment"), fields);
        if (out.form)
            return true;
        // A form, percent-encoded in full ('+' would read as a space).
        QByteArrayList form;
        for (const auto &[key, value] : fields)
            form << key.toLatin1() + '=' + QUrl::toPercentEncoding(value);
        out.request.setHeader(QNetworkRequest::ContentTypeHeader,
                              QStringLiteral("application/x-www-form-urlencoded"));
        out.body = form.join('&');
        return true;
    }
};
} // namespace

const AlertFormatter *AlertFormatter::For(AlertConfig::Kind kind)
{
    static const Ntfy ntfy;
    static const Webhook webhook;
    static const Slack slack;
    static const Discord discord;
    static const Gotify gotify;
    static const Matrix matrix;
    static const Telegram telegram;
    static const Pushover pushover;
    switch (kind) {
    case AlertConfig::Kind::Ntfy:
        return &ntfy;
    case AlertConfig::Kind::Webhook:
        return &webhook;
    case AlertConfig::Kind::Slack:
        return &slack;
    case AlertConfig::Kind::Discord:
        return &discord;
    case AlertConfig::Kind::Gotify:
        return &gotify;
    case AlertConfig::Kind::Matrix:
        return &matrix;
    case AlertConfig::Kind::Telegram:
        return &telegram;
    case AlertConfig::Kind::Pushover:
        return &pushover;
    case AlertConfig::Kind::Email:
        break;
    }
    return nullptr;
}
