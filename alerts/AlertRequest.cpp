#include "alerts/AlertRequest.h"

bool AlertRequest::Build(const AlertConfig &config, const AlertEvent &event, AlertRequest &out,
                         QString *problem, const AlertPhoto::Jpeg &photo)
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
