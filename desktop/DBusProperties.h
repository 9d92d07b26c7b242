#pragma once
// Reading a D-Bus object's properties the way the session services need it:
// asynchronously, with a short timeout, a changed-signal followed, and a
// property of an unexpected type taken as absent.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace desktop {

// A bus call that gets no answer must not leave a service "unknown" for the
// default 25 s.
constexpr int CallTimeout = 5000;

// Every property of interface on service's object at path. done runs on
// context's thread (and not at all once context is gone): the properties,
// or nullopt for an error or a reply of another type.
void ReadAllProperties(const QDBusConnection &bus, const QString &service, const QString &path,
                       const QString &interface, QObject *context,
                       std::function<void(std::optional<QVariantMap>)> done);

// Connects the object's PropertiesChanged signal to receiver's slot, which
// takes (QString interface, QVariantMap changed, QStringList invalidated).
bool FollowProperties(QDBusConnection &bus, const QString &service, const QString &path,
                      QObject *receiver, const char *slot);

// Takes properties[name] into value when it is a boolean that differs from
// value; true when value changed.
bool TakeBool(const QVariantMap &properties, const QString &name, bool &value);

} // namespace desktop
