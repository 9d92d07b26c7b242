#include "alerts/AlertRequest.h"

#include <QRegularExpression>

bool AlertRequest::Build(const AlertConfig &config, const AlertEvent &event, AlertRequest &out,
                         QString *problem, const AlertPhoto::File &photo)
{
    const auto refuse = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    const QString refusal = config.refusal();
    if (!refusal.isEmpty())
        return refuse(refusal);
    const AlertFormatter *formatter = AlertFormatter::For(config.kind);
    if (!formatter)
        return refuse(QStringLiteral("e-mail does not go over HTTP"));
    QUrl url(config.serverUrl(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return refuse(QStringLiteral("the URL is not an http:// or https:// address"));
    // Qt sends user info only after a challenge, which ntfy and most
    // webhooks never make: it goes along as basic auth from the start.
    const QString userName = url.userName(QUrl::FullyDecoded);
    const QString password = url.password(QUrl::FullyDecoded);
    url.setUserInfo(QString());
    out = AlertRequest();
    out.request.setUrl(url);
    // A redirect would turn the POST into a GET on some servers; it is told
    // as an answer instead, so the address gets fixed.
    out.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
    if (!userName.isEmpty())
        out.request.setRawHeader("Authorization",
                                 "Basic " +
                                     (userName + QLatin1Char(':') + password).toUtf8().toBase64());
    return formatter->format(config, url, event, photo, out, problem);
}

qint64 AlertRequest::PhotoLimit(AlertConfig::Kind kind)
{
    const AlertFormatter *formatter = AlertFormatter::For(kind);
    return formatter ? formatter->photoLimit() : 0;
}

qint64 AlertRequest::FileLimit(AlertConfig::Kind kind, AlertEvent::FileKind file)
{
    const AlertFormatter *formatter = AlertFormatter::For(kind);
    if (!formatter)
        return 0;
    return file == AlertEvent::FileKind::Sound ? formatter->soundLimit() : formatter->photoLimit();
}

QString AlertRequest::DisplayUrl(const QString &url)
{
    const QString full = AlertConfig::WithScheme(url);
    const QUrl parsed(full);
    if (parsed.isValid() && !parsed.host().isEmpty())
        return parsed
            .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                      QUrl::RemoveFragment)
            .toString();
    // Unreadable: its scheme and what stands for the host, never a path.
    const qsizetype hostAt = full.indexOf(QLatin1String("://")) + 3;
    static const QRegularExpression pathStart(QStringLiteral("[/?#\\s]"));
    const qsizetype end = full.indexOf(pathStart, hostAt);
    const QString authority = full.mid(hostAt, end < 0 ? -1 : end - hostAt);
    return QStringLiteral("\"%1\"").arg(
        (full.left(hostAt) + authority.section(QLatin1Char('@'), -1)).left(80));
}

QString AlertRequest::ShortenUrls(const QString &text)
{
    static const QRegularExpression url(
        QStringLiteral("\\b[A-Za-z][A-Za-z0-9+.-]*://[^\\s\"'<>]*"));
    QString out;
    qsizetype at = 0;
    for (auto it = url.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += text.mid(at, match.capturedStart() - at);
        QString shown = DisplayUrl(match.captured());
        if (shown.startsWith(QLatin1Char('"')))
            shown = shown.mid(1, shown.size() - 2);
        out += shown;
        at = match.capturedEnd();
    }
    return out + text.mid(at);
}
