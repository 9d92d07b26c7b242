#pragma once
// Sends the queued alerts one at a time, oldest first, and removes each only
// when the server answered 2xx: delivery is at least once. While the server
// cannot be reached it retries with a growing pause (capped). Everything runs
// on the owner's event loop through QNetworkAccessManager; nothing waits.
//
// A failure is told once per run of failures (not once per retry); the
// token never appears in what is told.

#include "alerts/AlertConfig.h"
#include "alerts/AlertQueue.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class QNetworkReply;

class AlertSender : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        int timeoutMs = 30000; // no answer within this = failure
        int firstRetryMs = 2000;
        int maxRetryMs = 5 * 60 * 1000;
        int capacity = AlertQueue::DefaultCapacity;
    };
    using ConfigSource = std::function<AlertConfig()>;

    AlertSender(const QString &queuePath, ConfigSource config, QObject *parent = nullptr);
    AlertSender(const QString &queuePath, ConfigSource config, Options options,
                QObject *parent = nullptr);
    ~AlertSender() override;

    // Queues one alert (nothing when no URL is set) and sends when it can.
    void enqueue(const AlertEvent &event);
    // The settings changed: forget the pause and try again at once.
    void retryNow();

    // The program ends: sends what waits at once (skipping a pause) and
    // returns when all went out or boundMs passed; what is left stays
    // queued for the next start. True when nothing is left.
    bool deliverWithin(int boundMs);
    // Why the queue file found at start was set aside; empty when it was not.
    QString queueProblem() const { return m_queue.problem(); }

    int pending() const { return m_queue.size(); }
    quint64 dropped() const { return m_queue.dropped(); }
    bool isFailing() const { return m_failing; }
    int currentRetryMs() const { return m_retryMs; }

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
    void sendNext();
    void onFinished(QNetworkReply *reply);
    void fail(const QString &reason, const AlertConfig &config);
    static QString Describe(QNetworkReply *reply, int timeoutMs);
    static bool Accepted(QNetworkReply *reply);

    ConfigSource m_config;
    Options m_options;
    AlertQueue m_queue;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    AlertConfig m_replyConfig;
    QTimer m_retry;
    int m_retryMs = 0;
    bool m_failing = false;
};
