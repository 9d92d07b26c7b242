#include "alerts/AlertSender.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QUrl>
#include <algorithm>

AlertSender::AlertSender(const QString &queuePath, ConfigSource config, QObject *parent)
    : AlertSender(queuePath, std::move(config), Options(), parent)
{
}

AlertSender::AlertSender(const QString &queuePath, ConfigSource config, Options options,
                         QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_options(options),
      m_queue(queuePath, options.capacity)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &AlertSender::sendNext);
    // Alerts left from the last run go out once the event loop runs.
    if (!m_queue.isEmpty())
        QTimer::singleShot(0, this, &AlertSender::sendNext);
}

AlertSender::~AlertSender()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
}

void AlertSender::enqueue(const AlertEvent &event)
{
    if (!m_config().enabled())
        return;
    m_queue.push(event);
    if (!m_retry.isActive())
        QTimer::singleShot(0, this, &AlertSender::sendNext);
}

void AlertSender::retryNow()
{
    m_retry.stop();
    m_retryMs = 0;
    m_failing = false;
    QTimer::singleShot(0, this, &AlertSender::sendNext);
}

bool AlertSender::deliverWithin(int boundMs)
{
    if (m_queue.isEmpty() || !m_config().enabled())
        return m_queue.isEmpty();
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto done = connect(this, &AlertSender::delivered, &loop, [&loop](int remaining) {
        if (remaining == 0)
            loop.quit();
    });
    bound.start(boundMs);
    m_retry.stop();
    sendNext();
    if (!m_queue.isEmpty())
        loop.exec();
    disconnect(done);
    return m_queue.isEmpty();
}

void AlertSender::sendNext()
{
    if (m_reply || m_queue.isEmpty() || m_retry.isActive())
        return;
    const AlertConfig config = m_config();
    if (!config.enabled())
        return; // kept until an address is set again
    AlertRequest request;
    QString problem;
    if (!AlertRequest::Build(config, m_queue.head(), request, &problem)) {
        fail(problem, config);
        return;
    }
    request.request.setTransferTimeout(m_options.timeoutMs);
    m_replyConfig = config;
    m_reply = m_network.post(request.request, request.body);
    QNetworkReply *reply = m_reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
}

bool AlertSender::Accepted(QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
}

QString AlertSender::Describe(QNetworkReply *reply, int timeoutMs)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300) {
        const QString phrase =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return QStringLiteral("the server answered %1 %2").arg(status).arg(phrase).trimmed();
    }
    switch (reply->error()) {
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return QStringLiteral("no answer within %1 s").arg((timeoutMs + 999) / 1000);
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("secure connection refused (%1)").arg(reply->errorString());
    default:
        return reply->errorString();
    }
}

void AlertSender::onFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    if (Accepted(reply)) {
        m_queue.popHead();
        m_retryMs = 0;
        if (m_failing) {
            m_failing = false;
            Q_EMIT recovered();
        }
        Q_EMIT delivered(m_queue.size());
        sendNext();
        return;
    }
    fail(Describe(reply, m_options.timeoutMs), m_replyConfig);
}

void AlertSender::fail(const QString &reason, const AlertConfig &config)
{
    m_retryMs =
        m_retryMs == 0 ? m_options.firstRetryMs : std::min(m_retryMs * 2, m_options.maxRetryMs);
    m_retry.start(m_retryMs);
    if (m_failing)
        return;
    m_failing = true;
    Q_EMIT failed(Scrub(QStringLiteral("Alert to %1 not sent: %2")
                            .arg(AlertRequest::DisplayUrl(config.url), reason),
                        config));
}

QString AlertSender::Scrub(const QString &text, const AlertConfig &config)
{
    QString out = text;
    const QString token = config.token.trimmed();
    if (!token.isEmpty())
        out.replace(token, QStringLiteral("***"));
    const QUrl url(config.url.trimmed());
    if (!url.userInfo().isEmpty())
        out.replace(url.userInfo(), QStringLiteral("***"));
    return out;
}

void AlertSender::sendTest(const AlertConfig &config, const AlertEvent &event)
{
    AlertRequest request;
    QString problem;
    if (!AlertRequest::Build(config, event, request, &problem)) {
        Q_EMIT testFinished(false, Scrub(problem, config));
        return;
    }
    request.request.setTransferTimeout(m_options.timeoutMs);
    QNetworkReply *reply = m_network.post(request.request, request.body);
    connect(reply, &QNetworkReply::finished, this, [this, reply, config] {
        reply->deleteLater();
        const bool ok = Accepted(reply);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        QString answer =
            ok ? QStringLiteral("The server accepted the alert (%1).").arg(status)
               : QStringLiteral("Not sent: %1.").arg(Describe(reply, m_options.timeoutMs));
        const QByteArray body = reply->readAll().left(2000);
        if (!body.isEmpty())
            answer += QLatin1Char('\n') + QString::fromUtf8(body);
        Q_EMIT testFinished(ok, Scrub(answer, config));
    });
}
