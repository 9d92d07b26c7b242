#include "alerts/AlertEvent.h"

#include <QDateTime>
#include <QHostInfo>
#include <QJsonDocument>
#include <QUrl>

QJsonObject AlertEvent::toJson() const
{
    return QJsonObject{{QStringLiteral("host"), host},
                       {QStringLiteral("event"), event},
                       {QStringLiteral("time"), time},
                       {QStringLiteral("line"), line},
                       {QStringLiteral("alarm"), alarm}};
}

AlertEvent AlertEvent::FromJson(const QJsonObject &object)
{
    AlertEvent event;
    event.host = object.value(QStringLiteral("host")).toString();
    event.event = object.value(QStringLiteral("event")).toString();
    event.time = object.value(QStringLiteral("time")).toString();
    event.line = object.value(QStringLiteral("line")).toString();
    event.alarm = object.value(QStringLiteral("alarm")).toBool();
    return event;
}

QString AlertEvent::CurrentTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    // An explicit offset, so the receiver knows the desk's local time.
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
}

QString AlertEvent::HostName()
{
    const QString name = QHostInfo::localHostName();
    return name.isEmpty() ? QStringLiteral("unknown host") : name;
}

namespace {
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
} // namespace

bool AlertRequest::Build(const AlertConfig &config, const AlertEvent &event, AlertRequest &out,
                         QString *problem)
{
    const QUrl url(config.url.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        if (problem)
            *problem = QStringLiteral("the URL is not an http:// or https:// address");
        return false;
    }
    QNetworkRequest request(url);
    // A redirect would turn the POST into a GET on some servers; it is told
    // as an answer instead, so the address gets fixed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (!config.token.trimmed().isEmpty())
        request.setRawHeader("Authorization", "Bearer " + config.token.trimmed().toUtf8());
    if (config.kind == AlertConfig::Kind::Webhook) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        const QJsonObject object{{QStringLiteral("host"), event.host},
                                 {QStringLiteral("event"), event.event},
                                 {QStringLiteral("time"), event.time},
                                 {QStringLiteral("line"), event.line}};
        out.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("text/plain; charset=utf-8"));
        request.setRawHeader("Title", HeaderText(QStringLiteral("Tarvo2 on ") + event.host));
        request.setRawHeader("Priority", event.alarm ? "5" : "3");
        request.setRawHeader("Tags", TagsFor(event));
        out.body = event.line.toUtf8();
    }
    out.request = request;
    return true;
}

QString AlertRequest::DisplayUrl(const QString &url)
{
    const QUrl parsed(url.trimmed());
    if (!parsed.isValid() || parsed.host().isEmpty())
        return QStringLiteral("\"%1\"").arg(url.trimmed().left(60).section(QLatin1Char('@'), -1));
    return parsed
        .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                  QUrl::RemoveFragment)
        .toString();
}
