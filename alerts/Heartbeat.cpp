#include "alerts/Heartbeat.h"

#include "alerts/AlertAnswer.h"
#include "alerts/AlertConfig.h"
#include "alerts/AlertRequest.h"
#include "settings/gRegistry.h"

#include <QNetworkReply>
#include <QUrl>
#include <algorithm>
#include <climits>

namespace {
const QString UrlName = QStringLiteral("Heartbeat URL");
const QString MinutesName = QStringLiteral("Heartbeat Minutes");
} // namespace

QString HeartbeatConfig::UrlProblem(const QString &url)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        parsed.host().isEmpty())
        return QStringLiteral("the heartbeat URL is not an http:// or https:// address");
    return {};
}

HeartbeatConfig HeartbeatConfig::Load()
{
    HeartbeatConfig config;
    config.url = ReadRegString(AlertConfig::KeyPath, UrlName).trimmed();
    bool ok = false;
    const int minutes = ReadRegString(AlertConfig::KeyPath, MinutesName).trimmed().toInt(&ok);
    config.minutes = ok ? std::clamp(minutes, MinMinutes, MaxMinutes) : DefaultMinutes;
    return config;
}

void HeartbeatConfig::save() const
{
    if (url.trimmed().isEmpty())
        DeleteRegValue(AlertConfig::KeyPath, UrlName);
    else
        WriteRegString(AlertConfig::KeyPath, UrlName, url.trimmed());
    WriteRegString(AlertConfig::KeyPath, MinutesName,
                   QString::number(std::clamp(minutes, MinMinutes, MaxMinutes)));
}

Heartbeat::Heartbeat(ConfigSource config, QObject *parent)
    : Heartbeat(std::move(config), Options(), parent)
{
}

Heartbeat::Heartbeat(ConfigSource config, Options options, QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_options(options)
{
    m_retry.setSingleShot(true);
    connect(&m_interval, &QTimer::timeout, this, [this] { ping(false); });
    connect(&m_retry, &QTimer::timeout, this, [this] { ping(true); });
}

Heartbeat::~Heartbeat()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
}

void Heartbeat::setArmed(bool armed)
{
    m_armed = armed;
    m_failureTold = false;
    m_interval.stop();
    m_retry.stop();
    if (!armed)
        return;
    const HeartbeatConfig config = m_config();
    if (!config.enabled())
        return;
    const int minutes =
        std::clamp(config.minutes, HeartbeatConfig::MinMinutes, HeartbeatConfig::MaxMinutes);
    m_interval.start(int(std::min<qint64>(qint64(minutes) * m_options.minuteMs, INT_MAX)));
    ping(false);
}

void Heartbeat::reload()
{
    if (m_armed)
        setArmed(true);
}

void Heartbeat::ping(bool retry)
{
    if (m_reply)
        return; // the last ping still waits; one is enough
    const HeartbeatConfig config = m_config();
    const QString problem = HeartbeatConfig::UrlProblem(config.url);
    if (!problem.isEmpty()) {
        Q_EMIT pinged(false, problem);
        tellFailure(config.url, problem);
        return;
    }
    QNetworkRequest request(QUrl(config.url.trimmed(), QUrl::StrictMode));
    request.setTransferTimeout(m_options.timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_network.get(request);
    QNetworkReply *reply = m_reply;
    auto tooLarge = std::make_shared<bool>(false);
    AlertAnswer::CapAnswer(reply, tooLarge);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, retry, tooLarge] { onFinished(reply, retry, *tooLarge); });
}

void Heartbeat::onFinished(QNetworkReply *reply, bool retry, bool tooLarge)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok =
        !tooLarge && reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    const QString answer = tooLarge     ? AlertAnswer::TooLargeText()
                           : status > 0 ? QStringLiteral("the monitor answered %1").arg(status)
                                        : reply->errorString();
    const bool retryComing = !ok && !retry && m_interval.isActive();
    if (retryComing)
        m_retry.start(m_options.retryMs);
    Q_EMIT pinged(ok, answer);
    if (ok)
        m_failureTold = false;
    else if (!retryComing)
        tellFailure(reply->url().toString(), answer);
}

void Heartbeat::tellFailure(const QString &url, const QString &answer)
{
    if (m_failureTold)
        return;
    m_failureTold = true;
    // The path is the monitor's secret (a check's UUID, a push token).
    const QString where = AlertRequest::DisplayUrl(url);
    QString why = answer;
    why.replace(url.trimmed(), where);
    why = AlertRequest::ShortenUrls(why);
    Q_EMIT failed(QStringLiteral("Heartbeat to %1 failed: %2").arg(where, why));
}
