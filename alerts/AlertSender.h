#pragma once
// Sends the queued alerts one at a time, alarms ahead of plain lines, each
// kind oldest first, under the receiver's known rate (RatePace), and removes
// each when the receiver took it: delivery is at least once. Answers worth a
// retry (no network, a timeout, 408, 429, 5xx) keep the alert and retry after
// a growing pause (capped, never shorter than the wait the receiver asked
// for, in Retry-After or a 429's body, itself capped at maxPauseMs and told
// once); the pause ends early when the network comes back (a receiver's own
// wait still holds) or at once when a new alarm is queued. An answer longer
// than AlertAnswer::MaxAnswerBytes is cut off and counts as a failure. An answer
// that says the settings are wrong (any other 4xx, a refused mail login)
// drops that alert and is told once. Everything runs on the owner's event
// loop; e-mail runs on a worker thread that only hands back its answer.
//
// A failure is told once per run of failures (not once per retry), a rate
// limit not at all; a refusal is told once and its line is never queued as
// an alert itself. The token never appears in what is told.

#include "alerts/AlertAnswer.h"
#include "alerts/AlertConfig.h"
#include "alerts/AlertPhoto.h"
#include "alerts/AlertQueue.h"
#include "alerts/AlertRequest.h"
#include "alerts/RatePace.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

class AlertSender : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        int timeoutMs = 30000;  // no data for this long = failure
        int deadlineMs = 30000; // the whole request, however it trickles
        int firstRetryMs = 2000;
        int maxRetryMs = 5 * 60 * 1000;
        int maxPauseMs = 10 * 60 * 1000; // the longest wait a receiver may ask for
        int capacity = AlertQueue::DefaultCapacity;
        QString caFile; // certificates the mail server may use beside the system's
        // Reads and shrinks a picture (photo, screen); runs on a worker thread.
        // A sound clip goes as it is (AlertPhoto::PrepareSound).
        std::function<AlertPhoto::File(const QString &path, qint64 maxBytes)> preparePhoto =
            AlertPhoto::Prepare;
    };
    using ConfigSource = std::function<AlertConfig()>;

    AlertSender(const QString &queuePath, ConfigSource config, QObject *parent = nullptr);
    AlertSender(const QString &queuePath, ConfigSource config, Options options,
                QObject *parent = nullptr);
    ~AlertSender() override;

    // Queues one alert (nothing when no receiver is set, or when it is a
    // line this sender told itself) and sends when it can.
    void enqueue(const AlertEvent &event);
    // The settings changed: forget the pause and try again at once.
    void retryNow();
    // The network came back: what waits goes out without the pause.
    void networkBack();
    // From now on a network that comes back calls networkBack(). Loading
    // the watch asks the system bus (or GLib's modules), so its owner
    // chooses the moment; once is enough.
    void watchNetwork();
    bool watchingNetwork() const { return m_watchingNetwork; }

    // The program ends: sends what waits at once (skipping a pause), the
    // guard notices (ArmedMarker) first, beside an alert already on its way,
    // and returns when all went out or boundMs passed; what is left stays
    // queued for the next start. True when nothing is left.
    bool deliverWithin(int boundMs);
    // Why the queue file found at start was set aside; empty when it was not.
    QString queueProblem() const { return m_queue.problem(); }

    int pending() const { return m_queue.size(); }
    quint64 dropped() const { return m_queue.dropped(); }
    bool isFailing() const { return m_failing; }
    int currentRetryMs() const { return m_retryMs; }
    // The last failure or refusal, empty once an alert went through.
    QString lastProblem() const { return m_lastProblem; }

    // One request outside the queue with the given settings; the answer
    // comes with testFinished.
    void sendTest(const AlertConfig &config, const AlertEvent &event);

    // Removes the token (and a URL's user info) from a text that is shown.
    static QString Scrub(const QString &text, const AlertConfig &config);

Q_SIGNALS:
    void failed(const QString &text);
    void recovered();
    void delivered(int remaining);
    void testFinished(bool ok, const QString &answer);

private:
    using AnswerHandler = std::function<void(const AlertAnswer &)>;
    // One try; the handler gets the answer on this object's thread.
    void start(const AlertConfig &config, const AlertEvent &event, AnswerHandler handler);
    void send(const AlertConfig &config, const AlertEvent &event, const AlertPhoto::File &photo,
              const AnswerHandler &handler);
    void post(AlertRequest request, const AnswerHandler &handler);
    void transmit(AlertRequest request, const AnswerHandler &handler);
    void endPause();
    void sendNext();
    void sendAlongside();
    void onAnswer(const AlertAnswer &answer);
    void scheduleRetry(int retryAfterMs);
    void resetBackoff();
    void tellRefusal(const QString &text);
    void tellPhotoRefusal(const QString &why);

    ConfigSource m_config;
    Options m_options;
    AlertQueue m_queue;
    QNetworkAccessManager m_network;
    std::shared_ptr<std::atomic_bool> m_cancel = std::make_shared<std::atomic_bool>(false);
    bool m_busy = false;
    AlertConfig m_sendingConfig;
    AlertEvent m_sendingEvent;
    bool m_alongside = false; // a guard notice on its way beside m_sendingEvent
    AlertEvent m_alongsideEvent;
    // The photo of the last alert that had one, kept for its retries.
    struct PreparedPhoto
    {
        QString path;
        qint64 maxBytes = 0;
        AlertPhoto::File jpeg;
    } m_photo;
    QTimer m_retry;
    QTimer m_paced;              // the receiver's rate: the next choice waits for its turn
    bool m_alarmWaiting = false; // queued since the last alarm went out
    int m_retryMs = 0;
    qint64 m_notBefore = 0; // ms since the epoch, from a Retry-After
    bool m_failing = false;
    bool m_longPauseTold = false;
    RatePace m_pace;
    bool m_watchingNetwork = false;
    QString m_lastProblem;
    QString m_lastRefusal;
    QString m_photoRefusal; // told already
    QStringList m_toldLines;
};
