#pragma once
// Activity as the session's idle services on the session bus report it:
// mutter's org.gnome.Mutter.IdleMonitor (a user-active watch, armed again
// after each fire) and org.freedesktop.ScreenSaver (its idle time, polled).
// Neither tells keys from the pointer.

#include "detect/ActivitySource.h"

#include <QDBusConnection>
#include <QTimer>

class MutterIdleActivity : public ActivitySource
{
    Q_OBJECT
public:
    static constexpr int CallTimeout = 2000;

    explicit MutterIdleActivity(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                QObject *parent = nullptr);
    ~MutterIdleActivity() override;

    bool available() const override { return m_watch != 0; }
    bool distinguishesKeys() const override { return false; }
    QString name() const override { return QStringLiteral("Mutter idle monitor"); }

private Q_SLOTS:
    void OnWatchFired(uint id);

private:
    void Arm();
    void SetWatch(uint id);

    QDBusConnection m_bus;
    uint m_watch = 0;
    bool m_arming = false;
};

class ScreenSaverActivity : public ActivitySource
{
    Q_OBJECT
public:
    static constexpr int PollMilliseconds = 500;
    static constexpr int CallTimeout = 2000;

    explicit ScreenSaverActivity(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                 QObject *parent = nullptr);

    bool available() const override { return m_available; }
    bool distinguishesKeys() const override { return false; }
    QString name() const override { return QStringLiteral("ScreenSaver idle time"); }

    // One idle-time reading; public for tests of the rule.
    void OnIdleTime(quint32 idle);

private:
    void Poll();

    QDBusConnection m_bus;
    QTimer m_poll;
    bool m_available = false;
    bool m_polling = false;
    bool m_seenIdle = false;
    quint32 m_previous = 0;
};
