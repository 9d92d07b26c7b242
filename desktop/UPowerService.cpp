#include "desktop/UPowerService.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString Service = QStringLiteral("org.freedesktop.UPower");
const QString Path = QStringLiteral("/org/freedesktop/UPower");
const QString Device = QStringLiteral("org.freedesktop.UPower.Device");
const QString Properties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int CallTimeout = 5000;
constexpr uint BatteryType = 2; // UPower's device type "Battery"

bool boolProperty(const QVariantMap &properties, const QString &name, bool &value)
{
    const QVariant v = properties.value(name);
    if (v.typeId() != QMetaType::Bool || v.toBool() == value)
        return false;
    value = v.toBool();
    return true;
}
} // namespace

UPowerService::UPowerService(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
}

void UPowerService::start()
{
    if (!m_bus.isConnected()) {
        setAvailability(Availability::Unavailable);
        return;
    }
    m_bus.connect(Service, Path, Properties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    readProperties();
}

void UPowerService::readProperties()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Properties, QStringLiteral("GetAll"));
    call << Service;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QVariantMap> reply = *w;
        // UPower without OnBattery is not one we understand.
        if (reply.isError() ||
            reply.value().value(QStringLiteral("OnBattery")).typeId() != QMetaType::Bool) {
            setAvailability(Availability::Unavailable);
            return;
        }
        setAvailability(Availability::Available);
        applyProperties(reply.value());
        readDisplayDevice();
    });
}

void UPowerService::readDisplayDevice()
{
    // The display device stands for the machine's batteries together.
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("GetDisplayDevice"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> path = *w;
        if (path.isError() || path.value().path().isEmpty())
            return;
        QDBusMessage get = QDBusMessage::createMethodCall(Service, path.value().path(), Properties,
                                                          QStringLiteral("GetAll"));
        get << Device;
        auto *props = new QDBusPendingCallWatcher(m_bus.asyncCall(get, CallTimeout), this);
        connect(props, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher *p) {
                    p->deleteLater();
                    const QDBusPendingReply<QVariantMap> reply = *p;
                    if (reply.isError())
                        return;
                    const QVariantMap device = reply.value();
                    bool ok = false;
                    const uint type = device.value(QStringLiteral("Type")).toUInt(&ok);
                    const bool present =
                        ok && type == BatteryType &&
                        device.value(QStringLiteral("IsPresent")).typeId() == QMetaType::Bool &&
                        device.value(QStringLiteral("IsPresent")).toBool();
                    if (present != m_batteryPresent) {
                        m_batteryPresent = present;
                        Q_EMIT batteryPresentChanged(present);
                    }
                });
    });
}

void UPowerService::applyProperties(const QVariantMap &properties)
{
    if (boolProperty(properties, QStringLiteral("LidIsPresent"), m_lidPresent))
        Q_EMIT lidPresentChanged(m_lidPresent);
    if (boolProperty(properties, QStringLiteral("OnBattery"), m_onBattery))
        Q_EMIT onBatteryChanged(m_onBattery);
}

void UPowerService::onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                        const QStringList &invalidated)
{
    if (interface != Service)
        return;
    applyProperties(changed);
    if (invalidated.contains(QStringLiteral("OnBattery")))
        readProperties();
}

void UPowerService::setAvailability(Availability availability)
{
    if (m_availability == availability)
        return;
    m_availability = availability;
    Q_EMIT availabilityChanged(availability);
}
