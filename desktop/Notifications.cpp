#include "desktop/Notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDebug>
#include <QVariantMap>

Notifications::Notifications(QObject *parent) : QObject(parent)
{
}

bool Notifications::notify(const QString &summary, const QString &body, Urgency urgency)
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
        {QStringLiteral("desktop-entry"), QStringLiteral("tarvo2")}};
    call << QStringLiteral("Tarvo2") << quint32(0) << QStringLiteral("tarvo2") << summary << body
         << QStringList() << hints << qint32(-1);
    // The answer (or the error of a missing service) is not awaited: a
    // notification is a courtesy, never a reason to wait.
    bus.asyncCall(call);
    ++m_sent;
    return true;
}
