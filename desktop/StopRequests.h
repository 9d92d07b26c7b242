#pragma once
// Requests to end the program that come from outside: SIGTERM, SIGINT and
// SIGHUP (caught and handed to the UI thread through a pipe, so the program
// can end in order), the session's log-out (commitDataRequest), the end of
// the display (DisplayWatch) and logind's PrepareForShutdown. What a request
// means is decided by the owner.
//
// A second signal while the first is being handled ends the process at once,
// and so does a first one that the UI thread has not finished with after
// WatchdogSeconds: a hung event loop cannot keep the program from ending.

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class DisplayWatch;
class QSocketNotifier;

class StopRequests : public QObject
{
    Q_OBJECT
public:
    static constexpr unsigned WatchdogSeconds = 10;

    // Installs the signal handlers; one object at a time per process.
    explicit StopRequests(QObject *parent = nullptr);
    // Puts the default handlers back.
    ~StopRequests() override;

    // Follows logind's PrepareForShutdown on this (system) bus.
    void watchShutdown(const QDBusConnection &bus);
    // While held, a shutdown waits (up to logind's InhibitDelayMaxSec) until
    // it is released, so a notice can go out first.
    void holdShutdown(bool hold);
    bool holdsShutdown() const { return m_delay.isValid(); }
    // Whether the end of the display is seen in time to end in order.
    const DisplayWatch *displayWatch() const { return m_display; }

    static const QString SessionEnded;

Q_SIGNALS:
    // quit: the process is asked to end now (a signal); otherwise the
    // session or the machine is about to end it.
    void stopRequested(const QString &reason, bool quit);

private Q_SLOTS:
    // QtDBus connects bus signals by signature only.
    void onPrepareForShutdown(bool starting);

private:
    void readSignals();

    int m_pipe[2] = {-1, -1};
    QDBusConnection m_bus{QString()};
    QDBusUnixFileDescriptor m_delay;
    quint64 m_delayRequest = 0; // replies to older requests are dropped
    QSocketNotifier *m_notifier = nullptr;
    DisplayWatch *m_display = nullptr;
};
