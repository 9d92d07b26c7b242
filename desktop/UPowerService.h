#pragma once
// UPower on the system bus: whether the machine runs on its battery (the
// charger unplugged), whether it has a battery and whether it has a lid.
//
// Every call is asynchronous; a bus without UPower, an error or a reply of
// the wrong type leaves the service "not available" and nothing else.

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class QDBusPendingCallWatcher;

class UPowerService : public QObject
{
    Q_OBJECT
public:
    enum class Availability
    {
        Unknown,
        Available,
        Unavailable
    };

    explicit UPowerService(const QDBusConnection &bus, QObject *parent = nullptr);

    void start();
    Availability availability() const { return m_availability; }
    bool onBattery() const { return m_onBattery; }
    bool lidPresent() const { return m_lidPresent; }
    bool batteryPresent() const { return m_batteryPresent; }

Q_SIGNALS:
    void availabilityChanged(UPowerService::Availability availability);
    void onBatteryChanged(bool onBattery);
    void lidPresentChanged(bool present);
    void batteryPresentChanged(bool present);

private Q_SLOTS:
    // QtDBus connects bus signals by signature only.
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                             const QStringList &invalidated);

private:
    void readProperties();
    void readDisplayDevice();
    void applyProperties(const QVariantMap &properties);
    void setAvailability(Availability availability);

    QDBusConnection m_bus;
    Availability m_availability = Availability::Unknown;
    bool m_onBattery = false;
    bool m_lidPresent = false;
    bool m_batteryPresent = false;
};
