#pragma once
// systemd-logind on the system bus: the sleep and lid-switch inhibitor lock
// held while the alarm is armed, and the lid's state.
//
// Every call is asynchronous; a bus without logind, an error or a reply of
// the wrong type leaves the service "not available" and nothing else.

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

class LogindService : public QObject
{
    Q_OBJECT
public:
    enum class Availability
    {
        Unknown,
        Available,
        Unavailable
    };

    static constexpr int LidPollInterval = 3000; // ms, while watching

    explicit LogindService(const QDBusConnection &bus, QObject *parent = nullptr);
    ~LogindService() override;

    // Reads LidPresent / LidClosed and follows their changes.
    void start();
    Availability availability() const { return m_availability; }
    bool lidPresent() const { return m_lidPresent; }
    bool lidClosed() const { return m_lidClosed; }

    // Asks for the lock; lockChanged or lockRefused follows.
    void takeLock();
    // Closes the lock's descriptor (also one whose reply is still pending).
    void releaseLock();
    bool holdsLock() const { return m_lock.isValid(); }
    // Polls LidClosed while true, for a logind that does not signal it.
    void setWatching(bool watching);

Q_SIGNALS:
    void availabilityChanged(LogindService::Availability availability);
    void lidPresentChanged(bool present);
    void lidClosedChanged(bool closed);
    void lockChanged(bool held);
    void lockRefused(const QString &reason);

private Q_SLOTS:
    // QtDBus connects bus signals by signature only.
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                             const QStringList &invalidated);

private:
    void readProperties();
    void applyProperties(const QVariantMap &properties);
    void setAvailability(Availability availability);

    QDBusConnection m_bus;
    Availability m_availability = Availability::Unknown;
    bool m_lidPresent = false;
    bool m_lidClosed = false;
    bool m_wantLock = false;
    quint64 m_lockRequest = 0; // replies to older requests are dropped
    QDBusUnixFileDescriptor m_lock;
    QTimer m_lidPoll;
};
