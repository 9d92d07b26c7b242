#include "desktop/Notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QVariantMap>
#include <utility>

const QString Notifications::DesktopId = QStringLiteral("example.vekor.Tarvo2");

Notifications::Notifications(QObject *parent) : QObject(parent)
{
}

bool Notifications::notify(const QString &summary, const QString &body, Urgency urgency,
                           std::function<void(uint)> shown, uint replaces)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!m_warned)
            qDebug("Tarvo2: no session bus, desktop notifications are off");
        m_warned = true;
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(urgency))},
        {QStringLiteral("desktop-entry"), DesktopId}};
    call << QStringLiteral("Tarvo2") << quint32(replaces) << DesktopId << summary << body
         << QStringList() << hints << qint32(-1);
    // The answer (or the error of a missing service) is not awaited: a
    // notification is a courtesy, never a reason to wait.
    const QDBusPendingCall pending = bus.asyncCall(call);
    if (shown) {
        auto *watcher = new QDBusPendingCallWatcher(pending, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [shown = std::move(shown)](QDBusPendingCallWatcher *w) {
                    w->deleteLater();
                    const QDBusPendingReply<uint> id = *w;
                    if (!id.isError())
                        shown(id.value());
                });
    }
    ++m_sent;
    return true;
}

void Notifications::alarmRaised(const QString &event)
{
    const int disarmings = m_disarmings;
    notify(QStringLiteral("Tarvo2 alarm"), event, Urgency::Critical, [this, disarmings](uint id) {
        if (disarmings != m_disarmings)
            closeNotification(id); // disarmed before the service answered
        else
            m_alarmIds << id;
    });
}

void Notifications::failure(const QString &text, Problem kind)
{
    const int ends = m_problemEnds.value(kind);
    notify(
        QStringLiteral("Tarvo2 problem"), text, Urgency::Normal,
        [this, kind, ends](uint id) {
            if (ends != m_problemEnds.value(kind)) {
                closeNotification(id); // over before the service answered
                return;
            }
            // Two sent before the first answer: the newer one stays.
            const uint before = m_problemIds.value(kind);
            if (before != 0 && before != id)
                closeNotification(before);
            m_problemIds.insert(kind, id);
        },
        m_problemIds.value(kind));
}

void Notifications::problemGone(Problem kind)
{
    ++m_problemEnds[kind];
    if (const uint id = m_problemIds.take(kind))
        closeNotification(id);
}

void Notifications::disarmed()
{
    ++m_disarmings;
    for (const uint id : std::exchange(m_alarmIds, {}))
        closeNotification(id);
    for (const Problem kind : {Problem::Alerts, Problem::Heartbeat, Problem::ScreenLock,
                               Problem::Microphone, Problem::Other})
        problemGone(kind);
    notify(QStringLiteral("Tarvo2 disarmed"), QStringLiteral("The alarm is off."));
}

void Notifications::closeNotification(uint id)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("CloseNotification"));
    call << id;
    QDBusConnection::sessionBus().asyncCall(call);
}
