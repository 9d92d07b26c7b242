#include "alerts/AlertSender.h"

#include "alerts/AlertRequest.h"
#include "alerts/ArmedMarker.h"
#include "alerts/MailSender.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QNetworkInformation>
#include <QNetworkReply>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace {
// Alarms, and the news that the alarm no longer guards, before plain lines.
bool GoesFirst(const AlertEvent &event)
{
    return event.alarm || ArmedMarker::IsGuardNotice(event.event);
}
} // namespace

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
    m_paced.setSingleShot(true);
    connect(&m_paced, &QTimer::timeout, this, &AlertSender::sendNext);
    // Alerts left from the last run go out once the event loop runs.
    if (!m_queue.isEmpty())
        QTimer::singleShot(0, this, &AlertSender::sendNext);
}

void AlertSender::watchNetwork()
{
    if (m_watchingNetwork)
        return;
    m_watchingNetwork = true;
    // NetworkManager tells a changed connection at once; GLib's monitor
    // (the other backend here) follows only the routes.
    static const bool reachability =
        QNetworkInformation::loadBackendByName(u"networkmanager") ||
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    if (reachability && QNetworkInformation::instance())
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability reachable) {
                    if (reachable == QNetworkInformation::Reachability::Online)
                        networkBack();
                });
}

AlertSender::~AlertSender()
{
    m_cancel->store(true);
    for (QFutureWatcherBase *watcher : findChildren<QFutureWatcherBase *>())
        watcher->disconnect(this);
    for (QNetworkReply *reply : m_network.findChildren<QNetworkReply *>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

void AlertSender::enqueue(const AlertEvent &event)
{
    if (!m_config().enabled() || m_toldLines.removeOne(event.event))
        return;
    m_queue.push(event);
    if (event.alarm) {
        m_alarmWaiting = true;
        endPause(); // a fresh alarm never waits, not even for a receiver's own pause
    }
    if (!m_retry.isActive())
        QTimer::singleShot(0, this, &AlertSender::sendNext);
}

void AlertSender::endPause()
{
    m_retry.stop();
    m_retryMs = 0;
    m_notBefore = 0;
}

void AlertSender::retryNow()
{
    endPause();
    m_failing = false;
    m_lastRefusal.clear();
    QTimer::singleShot(0, this, &AlertSender::sendNext);
}

void AlertSender::networkBack()
{
    resetBackoff();
}

void AlertSender::resetBackoff()
{
    m_retryMs = 0;
    if (m_retry.isActive()) // a receiver's own Retry-After still holds
        m_retry.start(static_cast<int>(
            std::max<qint64>(0, m_notBefore - QDateTime::currentMSecsSinceEpoch())));
}

void AlertSender::start(const AlertConfig &config, const AlertEvent &event, AnswerHandler handler)
{
    const auto unusable = [&handler](const QString &problem) {
        AlertAnswer answer;
        answer.text = problem; // kept and retried: the settings may be fixed
        handler(answer);
    };
    if (config.kind == AlertConfig::Kind::Email) {
        const QString problem = MailSender::Problem(config);
        if (!problem.isEmpty())
            return unusable(problem);
        auto *watcher = new QFutureWatcher<AlertAnswer>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [watcher, handler] {
            watcher->deleteLater();
            handler(watcher->result());
        });
        watcher->setFuture(
            MailSender::Send(config, event, {m_options.deadlineMs, m_options.caFile}, m_cancel));
        return;
    }
    const bool sound = event.attachmentKind == AlertEvent::FileKind::Sound;
    const qint64 maxBytes = AlertRequest::FileLimit(config.kind, event.attachmentKind);
    if (event.attachment.isEmpty() || maxBytes == 0)
        return send(config, event, {}, handler);
    if (m_photo.path == event.attachment && m_photo.maxBytes == maxBytes)
        return send(config, event, m_photo.jpeg, handler); // a retry
    // Reading and shrinking a large picture takes long enough to hold up
    // the window or an alarm: a worker does it.
    auto *watcher = new QFutureWatcher<AlertPhoto::File>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, config, event, maxBytes, handler] {
                watcher->deleteLater();
                m_photo = {event.attachment, maxBytes, watcher->result()};
                send(config, event, m_photo.jpeg, handler);
            });
    const std::function<AlertPhoto::File(const QString &, qint64)> prepare =
        sound ? AlertPhoto::PrepareSound : m_options.preparePhoto;
    watcher->setFuture(QtConcurrent::run(prepare, event.attachment, maxBytes));
}

void AlertSender::send(const AlertConfig &config, const AlertEvent &event,
                       const AlertPhoto::File &photo, const AnswerHandler &handler)
{
    AlertRequest request;
    QString problem;
    if (!AlertRequest::Build(config, event, request, &problem, photo)) {
        AlertAnswer answer;
        answer.text = problem; // kept and retried: the settings may be fixed
        return handler(answer);
    }
    m_pace.use(RatePace::Of(config.kind), config.serverUrl());
    post(std::move(request), handler);
}

void AlertSender::post(AlertRequest request, const AnswerHandler &handler)
{
    const qint64 waitMs = m_pace.take(QDateTime::currentMSecsSinceEpoch());
    if (waitMs <= 0)
        return transmit(std::move(request), handler);
    QTimer::singleShot(std::chrono::milliseconds(waitMs), this,
                       [this, request, handler] { transmit(request, handler); });
}

void AlertSender::transmit(AlertRequest request, const AnswerHandler &handler)
{
    request.request.setTransferTimeout(m_options.timeoutMs);
    QNetworkReply *reply =
        request.form
            ? m_network.sendCustomRequest(request.request, request.verb, request.form.get())
            : m_network.sendCustomRequest(request.request, request.verb, request.body);
    // The form is read while the request goes out: it lives as long as the reply.
    if (request.form)
        connect(reply, &QObject::destroyed, reply, [form = request.form] {});
    // The idle timeout alone lets a server that trickles hold the queue.
    auto deadlinePassed = std::make_shared<bool>(false);
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply, deadlinePassed] {
        *deadlinePassed = true;
        reply->abort();
    });
    deadline->start(m_options.deadlineMs);
    auto tooLarge = std::make_shared<bool>(false);
    AlertAnswer::CapAnswer(reply, tooLarge);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, deadlinePassed, tooLarge, handler, then = std::move(request.then),
             photoOnly = request.photoOnly] {
                reply->deleteLater();
                AlertAnswer answer = AlertAnswer::FromReply(
                    reply, *deadlinePassed,
                    *deadlinePassed ? m_options.deadlineMs : m_options.timeoutMs, *tooLarge);
                if (photoOnly && answer.verdict == AlertAnswer::Verdict::Refused) {
                    // The line went before: the alert is delivered all the same.
                    answer.verdict = AlertAnswer::Verdict::Delivered;
                    answer.photoRefused = answer.text;
                }
                if (!answer.delivered() || !then || !answer.photoRefused.isEmpty())
                    return handler(answer);
                AlertRequest next;
                QString problem;
                if (then(answer.body, next, &problem))
                    return post(std::move(next), handler);
                answer.photoRefused = problem; // what follows a line is its photo
                handler(answer);
            });
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
    // The news that the alarm no longer guards must not wait behind a
    // backlog of older alerts and miss the bound.
    m_queue.moveToFront(
        [](const AlertEvent &event) { return ArmedMarker::IsGuardNotice(event.event); });
    sendNext();
    sendAlongside();
    if (!m_queue.isEmpty())
        loop.exec();
    disconnect(done);
    return m_queue.isEmpty();
}

void AlertSender::sendAlongside()
{
    if (!m_busy || m_alongside || m_queue.isEmpty() || m_queue.head() == m_sendingEvent ||
        !ArmedMarker::IsGuardNotice(m_queue.head().event))
        return;
    // An older alert is on its way (perhaps to a slow server): the notice
    // goes beside it rather than after it.
    m_alongside = true;
    m_alongsideEvent = m_queue.head();
    start(m_config(), m_alongsideEvent, [this](const AlertAnswer &answer) {
        m_alongside = false;
        // Anything but a delivery leaves it first in the queue, for the
        // usual round with its retries and refusals.
        if (answer.delivered() && m_queue.remove(m_alongsideEvent))
            Q_EMIT delivered(m_queue.size());
        sendNext();
        sendAlongside();
    });
}

void AlertSender::sendNext()
{
    if (m_busy || m_queue.isEmpty() || m_retry.isActive() || m_paced.isActive() ||
        (m_alongside && m_queue.next(GoesFirst) == m_alongsideEvent))
        return;
    const AlertConfig config = m_config();
    if (!config.enabled())
        return; // kept until a receiver is set again
    // Chosen only when its turn came: an alarm queued meanwhile goes first.
    m_pace.use(RatePace::Of(config.kind), config.serverUrl());
    if (const qint64 wait = m_pace.waitMs(QDateTime::currentMSecsSinceEpoch()); wait > 0)
        return m_paced.start(std::chrono::milliseconds(wait));
    m_busy = true;
    m_sendingConfig = config;
    m_sendingEvent = m_queue.next(GoesFirst);
    if (m_sendingEvent.alarm)
        m_alarmWaiting = false;
    start(config, m_sendingEvent, [this](const AlertAnswer &answer) {
        m_busy = false;
        onAnswer(answer);
    });
}

void AlertSender::onAnswer(const AlertAnswer &answer)
{
    // A full queue may have dropped the alert while it was on its way, and a
    // guard notice may have gone ahead of it.
    const auto done = [this] {
        m_queue.remove(m_sendingEvent);
        m_photo = {};
    };
    const QString where = AlertRequest::DisplayUrl(m_sendingConfig.serverUrl());
    switch (answer.verdict) {
    case AlertAnswer::Verdict::Delivered:
        done();
        if (!answer.photoRefused.isEmpty())
            tellPhotoRefusal(answer.photoRefused);
        m_retryMs = 0;
        m_longPauseTold = false;
        m_lastProblem.clear();
        m_lastRefusal.clear();
        if (m_failing) {
            m_failing = false;
            Q_EMIT recovered();
        }
        Q_EMIT delivered(m_queue.size());
        sendNext();
        return;
    case AlertAnswer::Verdict::Refused:
        if (!m_sendingEvent.attachment.isEmpty() && answer.status != 401 && answer.status != 403 &&
            m_queue.dropAttachment(m_sendingEvent)) {
            // A receiver that takes no files, or not one this large: the
            // line still goes, without the photo (a refused login would
            // refuse the line as well).
            tellPhotoRefusal(answer.text);
            m_photo = {};
            sendNext();
            return;
        }
        done();
        m_lastProblem = Scrub(answer.text, m_sendingConfig);
        if (answer.text != m_lastRefusal) {
            m_lastRefusal = answer.text;
            tellRefusal(Scrub(QStringLiteral("Alert to %1 refused: %2 (check the alert settings)")
                                  .arg(where, answer.text),
                              m_sendingConfig));
        }
        sendNext();
        return;
    case AlertAnswer::Verdict::Retry:
        break;
    }
    m_lastProblem = Scrub(answer.text, m_sendingConfig);
    scheduleRetry(answer.retryAfterMs);
    if (m_alarmWaiting) { // it came while this line was on its way
        endPause();
        QTimer::singleShot(0, this, &AlertSender::sendNext);
    }
    if (answer.retryAfterMs > m_options.maxPauseMs && !m_longPauseTold) {
        m_longPauseTold = true;
        const int asked = int(std::min<qint64>(answer.retryAfterMs / 60000, 24 * 60));
        Q_EMIT failed(Scrub(QStringLiteral("Alert to %1 paused for %2 minutes: the receiver "
                                           "asked to wait %3")
                                .arg(where)
                                .arg(m_options.maxPauseMs / 60000)
                                .arg(asked >= 24 * 60 ? QStringLiteral("a day or more")
                                                      : QStringLiteral("%1 minutes").arg(asked)),
                            m_sendingConfig));
    }
    if (m_failing || answer.rateLimited)
        return;
    m_failing = true;
    // This line does go out once the receiver is back: it tells of the outage.
    Q_EMIT failed(
        Scrub(QStringLiteral("Alert to %1 not sent: %2").arg(where, answer.text), m_sendingConfig));
}

void AlertSender::scheduleRetry(int retryAfterMs)
{
    m_retryMs =
        m_retryMs == 0 ? m_options.firstRetryMs : std::min(m_retryMs * 2, m_options.maxRetryMs);
    // A longer wait would keep every later line (and its alarm, were there
    // no new one) until the program ends.
    const int pause = std::min(retryAfterMs, m_options.maxPauseMs);
    m_notBefore = QDateTime::currentMSecsSinceEpoch() + pause;
    m_retry.start(std::max(m_retryMs, pause));
}

void AlertSender::tellPhotoRefusal(const QString &why)
{
    if (why == m_photoRefusal)
        return; // told once per answer
    m_photoRefusal = why;
    const QString file = m_sendingEvent.attachmentKind == AlertEvent::FileKind::Sound
                             ? QStringLiteral("Sound clip")
                         : m_sendingEvent.attachmentKind == AlertEvent::FileKind::Screen
                             ? QStringLiteral("Screen picture")
                             : QStringLiteral("Photo");
    Q_EMIT failed(Scrub(QStringLiteral("%1 to %2 refused: %3")
                            .arg(file, AlertRequest::DisplayUrl(m_sendingConfig.serverUrl()), why),
                        m_sendingConfig));
}

void AlertSender::tellRefusal(const QString &text)
{
    // The report line this becomes comes back through enqueue: it is not
    // an alert of its own (the receiver would refuse it as well).
    m_toldLines.append(text);
    while (m_toldLines.size() > 20)
        m_toldLines.removeFirst();
    Q_EMIT failed(text);
}

QString AlertSender::Scrub(const QString &text, const AlertConfig &config)
{
    QString out = text;
    const QString token = config.token.trimmed();
    if (!token.isEmpty()) {
        out.replace(token, QStringLiteral("***"));
        out.replace(QString::fromLatin1(QUrl::toPercentEncoding(token, ":")),
                    QStringLiteral("***"));
    }
    const QUrl url(config.serverUrl());
    if (!url.userInfo().isEmpty())
        out.replace(url.userInfo(), QStringLiteral("***"));
    // A path may hold a secret as well (a ntfy topic, a webhook's key),
    // also in an address written without its scheme.
    out = AlertRequest::ShortenUrls(out);
    const QString written = config.url.trimmed();
    if (written.contains(QLatin1Char('/')) && !written.contains(QLatin1String("://")))
        out.replace(written, AlertRequest::DisplayUrl(written));
    return out;
}

void AlertSender::sendTest(const AlertConfig &config, const AlertEvent &event)
{
    start(config, event, [this, config](const AlertAnswer &result) {
        QString answer =
            result.delivered()
                ? QStringLiteral("The receiver accepted the alert (%1).").arg(result.status)
                : QStringLiteral("Not sent: %1.").arg(result.text);
        if (result.verdict == AlertAnswer::Verdict::Refused)
            answer += QStringLiteral(" The settings need a change.");
        if (!result.body.isEmpty())
            answer += QLatin1Char('\n') + QString::fromUtf8(result.body);
        Q_EMIT testFinished(result.delivered(), Scrub(answer, config));
    });
}
