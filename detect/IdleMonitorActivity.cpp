#include "detect/IdleMonitorActivity.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString MutterService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString MutterPath = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString MutterInterface = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString SaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString SaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString SaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");
} // namespace

// ---------------------------------------------------------------- mutter

MutterIdleActivity::MutterIdleActivity(const QDBusConnection &bus, QObject *parent)
    : ActivitySource(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(MutterService, MutterPath, MutterInterface, QStringLiteral("WatchFired"), this,
                  SLOT(OnWatchFired(uint)));
    // The first watch decides whether the service is there; bounded wait.
    QDBusMessage call = QDBusMessage::createMethodCall(MutterService, MutterPath, MutterInterface,
                                                       QStringLiteral("AddUserActiveWatch"));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, CallTimeout);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_watch = reply.arguments().constFirst().toUInt();
}

MutterIdleActivity::~MutterIdleActivity()
{
    if (m_watch != 0 && m_bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            MutterService, MutterPath, MutterInterface, QStringLiteral("RemoveWatch"));
        call << m_watch;
        m_bus.send(call);
    }
}

void MutterIdleActivity::OnWatchFired(uint id)
{
    if (id == 0 || id != m_watch)
        return; // someone else's watch
    // A user-active watch fires once; the next activity needs a new one.
    m_watch = 0;
    Arm();
    Q_EMIT activity(Kind::Unknown, 0);
}

void MutterIdleActivity::Arm()
{
    if (m_arming)
        return;
    m_arming = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        MutterService, MutterPath, MutterInterface, QStringLiteral("AddUserActiveWatch"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                m_arming = false;
                const QDBusPendingReply<uint> reply = *finished;
                SetWatch(reply.isError() ? 0 : reply.value());
            });
}

void MutterIdleActivity::SetWatch(uint id)
{
    const bool was = available();
    m_watch = id;
    if (was != available())
        Q_EMIT availabilityChanged(available());
}

// ---------------------------------------------------------------- screen saver

ScreenSaverActivity::ScreenSaverActivity(const QDBusConnection &bus, QObject *parent)
    : ActivitySource(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        SaverService, SaverPath, SaverInterface, QStringLiteral("GetSessionIdleTime"));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, CallTimeout);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return;
    m_available = true;
    OnIdleTime(reply.arguments().constFirst().toUInt());
    m_poll.setInterval(PollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &ScreenSaverActivity::Poll);
    m_poll.start();
}

void ScreenSaverActivity::Poll()
{
    if (m_polling) // a slow service is not asked twice at once
        return;
    m_polling = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        SaverService, SaverPath, SaverInterface, QStringLiteral("GetSessionIdleTime"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                m_polling = false;
                const QDBusPendingReply<uint> reply = *finished;
                const bool ok = !reply.isError();
                if (ok != m_available) {
                    m_available = ok;
                    Q_EMIT availabilityChanged(ok);
                }
                if (ok)
                    OnIdleTime(reply.value());
            });
}

void ScreenSaverActivity::OnIdleTime(quint32 idle)
{
    // Input since the last reading sets the idle time back. A counter that
    // has never counted may be a service that always answers 0, so 0 means
    // "active now" only once it has been seen above 0.
    const bool wentBack = m_seenIdle && idle < m_previous;
    const bool activeNow = m_seenIdle && idle == 0;
    if (idle > 0)
        m_seenIdle = true;
    m_previous = idle;
    if (wentBack || activeNow)
        Q_EMIT activity(Kind::Unknown, 0);
}
