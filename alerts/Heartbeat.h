#pragma once
// "Still armed": while the alarm is armed, a GET to the owner's monitor (a
// Healthchecks check or an Uptime Kuma push monitor) at arming and then
// every interval. When the pings stop, the monitor raises its own alarm,
// which covers power-off, theft, a cut network and a killed program alike.
// A failed ping (also one whose answer passes AlertAnswer::MaxAnswerBytes)
// is tried once more; pings are never queued (a late ping would only hide
// the gap the monitor is there to see). A ping that fails its retry too is
// told once, not again until a ping goes through.
//
// Kept in the store beside the alerts: "Heartbeat URL" and
// "Heartbeat Minutes" (1..1440, default 5).

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

class QNetworkReply;

struct HeartbeatConfig
{
    static constexpr int DefaultMinutes = 5;
    static constexpr int MinMinutes = 1;
    static constexpr int MaxMinutes = 1440;

    QString url;
    int minutes = DefaultMinutes;

    bool enabled() const { return !url.trimmed().isEmpty(); }
    bool operator==(const HeartbeatConfig &) const = default;
    // Empty when url can be pinged; otherwise why not.
    static QString UrlProblem(const QString &url);

    static HeartbeatConfig Load();
    // Throws RegistryError when the store cannot be written.
    void save() const;
};

class Heartbeat : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        int minuteMs = 60 * 1000; // tests shorten the minute
        int retryMs = 20 * 1000;  // pause before the one retry
        int timeoutMs = 30 * 1000;
    };
    using ConfigSource = std::function<HeartbeatConfig()>;

    explicit Heartbeat(ConfigSource config, QObject *parent = nullptr);
    Heartbeat(ConfigSource config, Options options, QObject *parent = nullptr);
    ~Heartbeat() override;

    // Armed: ping now and then every interval; disarmed: stop.
    void setArmed(bool armed);
    // The settings changed: while armed, start over with them.
    void reload();
    bool isBeating() const { return m_interval.isActive(); }

Q_SIGNALS:
    // After each ping and after its retry; answer says what came back.
    void pinged(bool ok, const QString &answer);
    // The first failure that its retry did not mend, since arming or the
    // last ping that went through; text names the monitor's host only.
    void failed(const QString &text);

private:
    void ping(bool retry);
    void onFinished(QNetworkReply *reply, bool retry, bool tooLarge);
    void tellFailure(const QString &url, const QString &answer);

    ConfigSource m_config;
    Options m_options;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    QTimer m_interval;
    QTimer m_retry;
    bool m_armed = false;
    bool m_failureTold = false;
};
