#include "desktop/UPowerService.h"

#include "desktop/DBusProperties.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString Service = QStringLiteral("org.freedesktop.UPower");
const QString Path = QStringLiteral("/org/freedesktop/UPower");
const QString Device = QStringLiteral("org.freedesktop.UPower.Device");
constexpr uint BatteryType = 2; // UPower's device type "Battery"
using desktop::CallTimeout;
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
    desktop::FollowProperties(m_bus, Service, Path, this,
                              SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    readProperties();
}

void UPowerService::readProperties()
{
    desktop::ReadAllProperties(
        m_bus, Service, Path, Service, this, [this](const std::optional<QVariantMap> &properties) {
            // UPower without OnBattery is not one we understand.
            if (!properties ||
                properties->value(QStringLiteral("OnBattery")).typeId() != QMetaType::Bool) {
                setAvailability(Availability::Unavailable);
                return;
            }
            setAvailability(Availability::Available);
            applyProperties(*properties);
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
        desktop::ReadAllProperties(
            m_bus, Service, path.value().path(), Device, this,
            [this](const std::optional<QVariantMap> &device) {
                if (!device)
                    return;
                bool ok = false;
                const uint type = device->value(QStringLiteral("Type")).toUInt(&ok);
                const QVariant isPresent = device->value(QStringLiteral("IsPresent"));
                const bool present = ok && type == BatteryType &&
                                     isPresent.typeId() == QMetaType::Bool && isPresent.toBool();
                if (present != m_batteryPresent) {
                    m_batteryPresent = present;
                    Q_EMIT batteryPresentChanged(present);
                }
            });
    });
}

void UPowerService::applyProperties(const QVariantMap &properties)
{
    if (desktop::TakeBool(properties, QStringLiteral("LidIsPresent"), m_lidPresent))
        Q_EMIT lidPresentChanged(m_lidPresent);
    if (desktop::TakeBool(properties, QStringLiteral("OnBattery"), m_onBattery))
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
