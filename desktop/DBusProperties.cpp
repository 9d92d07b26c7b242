#include "desktop/DBusProperties.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace desktop {

namespace {
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
} // namespace

void ReadAllProperties(const QDBusConnection &bus, const QString &service, const QString &path,
                       const QString &interface, QObject *context,
                       std::function<void(std::optional<QVariantMap>)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, PropertiesInterface,
                                                       QStringLiteral("GetAll"));
    call << interface;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, CallTimeout), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         const QDBusPendingReply<QVariantMap> reply = *w;
                         if (reply.isError())
                             done(std::nullopt);
                         else
                             done(reply.value());
                     });
}

bool FollowProperties(QDBusConnection &bus, const QString &service, const QString &path,
                      QObject *receiver, const char *slot)
{
    return bus.connect(service, path, PropertiesInterface, QStringLiteral("PropertiesChanged"),
                       receiver, slot);
}

bool TakeBool(const QVariantMap &properties, const QString &name, bool &value)
{
    const QVariant v = properties.value(name);
    if (v.typeId() != QMetaType::Bool || v.toBool() == value)
        return false;
    value = v.toBool();
    return true;
}

} // namespace desktop
