#include "alerts/MailSender.h"
#include "alerts/CurlLibrary.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <netdb.h>
#include <pwd.h>
#include <unistd.h>

namespace {
bool IsLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// RFC 2047 for a header with more than ASCII in it.
QByteArray HeaderWord(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f)
            return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
    return text.toLatin1();
}

// "Name <address>" or a bare address: the address, for the envelope.
QString Address(const QString &mailbox)
{
    const qsizetype open = mailbox.indexOf(QLatin1Char('<'));
    const qsizetype close = mailbox.indexOf(QLatin1Char('>'), open);
    return open >= 0 && close > open ? mailbox.mid(open + 1, close - open - 1).trimmed()
                                     : mailbox.trimmed();
}

// Only a display name may be an encoded word, never the address.
QByteArray MailboxHeader(const QString &mailbox)
{
    const qsizetype open = mailbox.indexOf(QLatin1Char('<'));
    if (open <= 0)
        return HeaderWord(mailbox);
    return HeaderWord(mailbox.left(open).trimmed()) + " <" + Address(mailbox).toUtf8() + ">";
}

// Base64 in lines of 76 characters, each ended by CRLF.
QByteArray Base64Lines(const QByteArray &data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 38 + 2);
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        out += encoded.mid(at, 76) + "\r\n";
    return out;
}

struct Upload
{
    QByteArray data;
    qsizetype offset = 0;
};

size_t ReadUpload(char *buffer, size_t size, size_t count, void *user)
{
    auto *upload = static_cast<Upload *>(user);
    const size_t n = std::min<size_t>(size * count, upload->data.size() - upload->offset);
    memcpy(buffer, upload->data.constData() + upload->offset, n);
    upload->offset += static_cast<qsizetype>(n);
    return n;
}

int Progress(void *cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<std::atomic_bool *>(cancel)->load() ? 1 : 0;
}

// libcurl's own texts ("MAIL failed: 504") drop the server's reason: the
// last refusal (4xx, 5xx) the server sent keeps it (its "221 Bye" follows).
int KeepServerLine(CURL *, curl_infotype type, char *data, size_t size, void *lastLine)
{
    if (type != CURLINFO_HEADER_IN || size == 0 || (data[0] != '4' && data[0] != '5'))
        return 0;
    QByteArray line(data, qsizetype(std::min<size_t>(size, 300)));
    line = line.trimmed();
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    if (!line.isEmpty())
        *static_cast<QByteArray *>(lastLine) = line;
    return 0;
}

QString g_fullHostNameForTests;

AlertAnswer Verdict(const CurlLibrary &curl, CURLcode code, long smtpCode, const char *error,
                    const QByteArray &serverLine, int deadlineMs)
{
    AlertAnswer answer;
    answer.status = static_cast<int>(smtpCode);
    if (code == CURLE_OK) {
        answer.verdict = AlertAnswer::Verdict::Delivered;
        answer.body = QByteArrayLiteral("The mail server took the message.");
        return answer;
    }
    if (code == CURLE_OPERATION_TIMEDOUT) {
        answer.text = AlertAnswer::NoAnswerWithin(deadlineMs);
        return answer;
    }
    const QString detail = QString::fromUtf8(*error ? error : curl.easyStrerror(code));
    if (smtpCode > 0 && serverLine.startsWith(QByteArray::number(smtpCode)))
        answer.text = QStringLiteral("the mail server answered ") + QString::fromUtf8(serverLine);
    else
        answer.text =
            smtpCode > 0
                ? QStringLiteral("the mail server answered %1 (%2)").arg(smtpCode).arg(detail)
                : detail;
    // A refused login or a permanent (5xx) answer will not change by itself;
    // a 4xx answer from a mail server means "try later".
    if (code == CURLE_LOGIN_DENIED || (smtpCode >= 500 && smtpCode < 600))
        answer.verdict = AlertAnswer::Verdict::Refused;
    return answer;
}

AlertAnswer Exchange(const QByteArray &url, bool tlsRequired, const AlertConfig &config,
                     const AlertEvent &event, const MailSender::Settings &settings,
                     std::shared_ptr<std::atomic_bool> cancel)
{
    QList<QByteArray> recipients;
    for (const QString &to : MailSender::Recipients(config))
        recipients << "<" + to.toUtf8() + ">";
    QString problem;
    const CurlLibrary *library = CurlLibrary::Get(&problem);
    if (!library) {
        AlertAnswer answer; // a retry: the library may be installed meanwhile
        answer.text = problem;
        return answer;
    }
    const QString sender = MailSender::Sender(config);
    if (sender.isEmpty()) {
        AlertAnswer answer; // kept: From may be set meanwhile
        answer.text = MailSender::NoSenderText(event.host);
        return answer;
    }
    const QByteArray from = "<" + Address(sender).toUtf8() + ">";
    // Here on the worker thread, as it may read a photo.
    QByteArray message = MailSender::Compose(config, event, QDateTime::currentDateTime());
    const CurlLibrary &lib = *library;
    CURL *curl = lib.easyInit();
    if (!curl)
        return Verdict(lib, CURLE_FAILED_INIT, 0, "", {}, settings.deadlineMs);
    char error[CURL_ERROR_SIZE] = {};
    curl_slist *rcpt = nullptr;
    for (const QByteArray &to : recipients)
        rcpt = lib.slistAppend(rcpt, to.constData());
    Upload upload{std::move(message)};
    const QByteArray user = config.user.trimmed().toUtf8();
    const QByteArray password = config.token.trimmed().toUtf8();
    const QByteArray caFile = settings.caFile.toLocal8Bit();
    lib.easySetopt(curl, CURLOPT_URL, url.constData());
    lib.easySetopt(curl, CURLOPT_ERRORBUFFER, error);
    QByteArray serverLine;
    lib.easySetopt(curl, CURLOPT_DEBUGFUNCTION, KeepServerLine);
    lib.easySetopt(curl, CURLOPT_DEBUGDATA, &serverLine);
    lib.easySetopt(curl, CURLOPT_VERBOSE, 1L);
    lib.easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.easySetopt(curl, CURLOPT_USE_SSL,
                   static_cast<long>(tlsRequired ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    if (!caFile.isEmpty())
        lib.easySetopt(curl, CURLOPT_CAINFO, caFile.constData());
    if (!user.isEmpty()) {
        lib.easySetopt(curl, CURLOPT_USERNAME, user.constData());
        lib.easySetopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    lib.easySetopt(curl, CURLOPT_MAIL_FROM, from.constData());
    lib.easySetopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    lib.easySetopt(curl, CURLOPT_UPLOAD, 1L);
    lib.easySetopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    lib.easySetopt(curl, CURLOPT_READDATA, &upload);
    lib.easySetopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.data.size()));
    lib.easySetopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.deadlineMs));
    lib.easySetopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib.easySetopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    lib.easySetopt(curl, CURLOPT_XFERINFODATA, cancel.get());
    const CURLcode code = lib.easyPerform(curl);
    long smtpCode = 0;
    lib.easyGetinfo(curl, CURLINFO_RESPONSE_CODE, &smtpCode);
    lib.slistFreeAll(rcpt);
    lib.easyCleanup(curl);
    return Verdict(lib, code, smtpCode, error, serverLine, settings.deadlineMs);
}
} // namespace

QStringList MailSender::Recipients(const AlertConfig &config)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    return config.to.split(separators, Qt::SkipEmptyParts);
}

QString MailSender::Sender(const AlertConfig &config)
{
    if (!config.from.trimmed().isEmpty())
        return config.from.trimmed();
    QString login = qEnvironmentVariable("USER");
    char buffer[4096];
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        login = QString::fromLocal8Bit(found->pw_name);
    return DefaultSender(login, FullHostName());
}

QString MailSender::DefaultSender(const QString &login, const QString &fullHostName)
{
    const QString host = fullHostName.trimmed();
    if (login.trimmed().isEmpty() || !host.contains(QLatin1Char('.')) ||
        host.endsWith(QLatin1Char('.')))
        return {};
    return login.trimmed() + QLatin1Char('@') + host;
}

void MailSender::SetFullHostNameForTests(const QString &name)
{
    g_fullHostNameForTests = name;
}

QString MailSender::FullHostName()
{
    if (!g_fullHostNameForTests.isEmpty())
        return g_fullHostNameForTests;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    if (strchr(name, '.'))
        return QString::fromLocal8Bit(name);
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo *found = nullptr;
    QString full = QString::fromLocal8Bit(name);
    if (getaddrinfo(name, nullptr, &hints, &found) == 0 && found) {
        if (found->ai_canonname)
            full = QString::fromLocal8Bit(found->ai_canonname);
        freeaddrinfo(found);
    }
    return full;
}

QString MailSender::NoSenderText(const QString &hostName)
{
    return QStringLiteral("the sender (From) is missing: this computer's name %1 has no domain, "
                          "so it makes no address a mail server takes")
        .arg(hostName);
}

QString MailSender::Problem(const AlertConfig &config)
{
    const QString refusal = config.refusal();
    if (!refusal.isEmpty())
        return refusal;
    const QUrl url(config.url.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("smtp") && scheme != QLatin1String("smtps")) ||
        url.host().isEmpty())
        return QStringLiteral("the URL is not an smtp:// or smtps:// address");
    if (Recipients(config).isEmpty())
        return QStringLiteral("the recipient address (To) is missing");
    return {};
}

QByteArray MailSender::Compose(const AlertConfig &config, const AlertEvent &event,
                               const QDateTime &now)
{
    const QByteArray id =
        QCryptographicHash::hash((event.time + event.line).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(24);
    QString text = event.line;
    QByteArray file;
    const QFileInfo attachment(event.attachment);
    if (!event.attachment.isEmpty()) {
        QFile in(event.attachment);
        if (attachment.size() > MaxAttachment || !in.open(QIODevice::ReadOnly))
            text += QStringLiteral("\r\n(%1 could not be attached.)").arg(attachment.fileName());
        else
            file = in.readAll();
    }
    const QStringList to = Recipients(config);
    QByteArray out;
    out += "Date: " + now.toString(Qt::RFC2822Date).toLatin1();
    out += "\r\nFrom: " + MailboxHeader(Sender(config));
    out += "\r\nTo: " + HeaderWord(to.join(QStringLiteral(", ")));
    out += "\r\nSubject: " + HeaderWord(event.title() + QStringLiteral(": ") + event.event);
    out += "\r\nMessage-ID: <" + id + ".tarvo2@" + QUrl::toAce(event.host) + ">";
    out += "\r\nMIME-Version: 1.0\r\n";
    const QByteArray boundary = "tarvo2-" + id;
    if (!file.isEmpty())
        out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" + boundary +
               "\r\n";
    out += "Content-Type: text/plain; charset=utf-8\r\n";
    out += "Content-Transfer-Encoding: base64\r\n\r\n" + Base64Lines(text.toUtf8());
    if (file.isEmpty())
        return out;
    const QString mime = QMimeDatabase().mimeTypeForFileNameAndData(event.attachment, file).name();
    const QByteArray name = HeaderWord(attachment.fileName());
    out += "--" + boundary + "\r\nContent-Type: " + mime.toLatin1() + "; name=\"" + name + "\"";
    out += "\r\nContent-Disposition: attachment; filename=\"" + name + "\"";
    out += "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64Lines(file);
    out += "--" + boundary + "--\r\n";
    return out;
}

QFuture<AlertAnswer> MailSender::Send(const AlertConfig &config, const AlertEvent &event,
                                      const Settings &settings,
                                      std::shared_ptr<std::atomic_bool> cancel)
{
    QUrl url(config.url.trimmed());
    const bool tlsRequired =
        url.scheme().toLower() == QLatin1String("smtp") && !IsLoopback(url.host());
    if (url.scheme().toLower() == QLatin1String("smtp") && url.port() < 0)
        url.setPort(587);
    // Credentials go as options, never in the address libcurl may log.
    url.setUserInfo(QString());
    url.setPath(QString());
    return QtConcurrent::run(Exchange, url.toEncoded(), tlsRequired, config, event, settings,
                             std::move(cancel));
}
