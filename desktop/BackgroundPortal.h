#pragma once
// The desktop's background portal (org.freedesktop.portal.Background on the
// session bus): asks once that the program may go on running without a
// window, so the desktop lists it as running instead of taking it for
// stopped. A bus without the portal is a normal state ("unavailable").
//
// Every call is asynchronous (desktop::PortalRequest).

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class BackgroundPortal : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        NotAsked,
        Unavailable, // no bus, no portal, or the call failed
        Waiting,     // asked, no answer yet
        Granted,
        Refused
    };

    explicit BackgroundPortal(const QDBusConnection &bus, QObject *parent = nullptr);

    // Asks once: later calls do nothing. parentWindow is the portal's
    // window identifier ("x11:<hex id>"), empty when there is none.
    void request(const QString &reason, const QString &parentWindow = QString());
    State state() const { return m_state; }
    bool available() const { return m_state != State::Unavailable; }

    static QString RequestPath(const QString &uniqueName, const QString &token);

Q_SIGNALS:
    void stateChanged(BackgroundPortal::State state);

private:
    void setState(State state);

    QDBusConnection m_bus;
    State m_state = State::NotAsked;
};
