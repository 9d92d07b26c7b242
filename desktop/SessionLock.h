#pragma once
// Locks the desktop session and tells when its owner unlocked it again.
//
// Through systemd-logind (system bus): the program's own session, found by
// XDG_SESSION_ID or by the process id, gets Session.Lock; its Unlock signal
// or LockedHint turning false is the unlock. Where there is no logind
// session, through org.freedesktop.ScreenSaver on the session bus: Lock, and
// ActiveChanged(false) is the unlock. Every call is asynchronous with a
// timeout; a missing service ends in lockFailed, never in a wait.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

class QDBusMessage;

class SessionLock : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Idle,    // no lock asked for, or released
        Locking, // asked, waiting for the answer
        Locked,  // the desktop took the request; an unlock is awaited
    };
    static constexpr int CallTimeoutMs = 5000;

    explicit SessionLock(QObject *parent = nullptr);

    State state() const { return m_state; }
    // How the last lock went through ("logind", "screensaver"), empty before.
    QString backend() const { return m_backend; }
    // The logind session's object path once found.
    QString sessionPath() const { return m_sessionPath; }

    // Asks the desktop to lock now; answers with locked() or lockFailed().
    void lock();
    // Forgets the lock: a later unlock is no longer reported.
    void release();

    static const QString FailedText;

Q_SIGNALS:
    void locked();
    // message: the text for the report and a notification; detail: why.
    void lockFailed(const QString &message, const QString &detail);
    // The session's owner unlocked the screen this object locked.
    void unlocked();

private Q_SLOTS:
    // QtDBus delivers bus signals only to slots named by their signature.
    void onLogindUnlock();
    void onSessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                    const QStringList &invalidated);
    void onScreenSaverActiveChanged(bool active);

private:
    void findSession();
    void lockSession();
    void lockScreenSaver(const QString &logindError);
    void fail(const QString &detail);
    void succeed(const QString &backend);
    void reportUnlock();
    // Sends a call and hands its reply to onReply, unless a newer lock or a
    // release came in between.
    void call(const QDBusConnection &bus, const QDBusMessage &message,
              std::function<void(const QDBusMessage &reply)> onReply);

    State m_state = State::Idle;
    QString m_backend;
    QString m_sessionPath;
    QString m_logindError;
    bool m_sessionSignalsConnected = false;
    bool m_screenSaverSignalsConnected = false;
    bool m_sawLockedHint = false;
    quint64 m_generation = 0; // a reply for an older request is dropped
};
