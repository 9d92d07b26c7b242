#include "desktop/LogindService.h"

#include "desktop/DBusProperties.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace {
const QString Service = QStringLiteral("org.freedesktop.login1");
const QString Path = QStringLiteral("/org/freedesktop/login1");
const QString Manager = QStringLiteral("org.freedesktop.login1.Manager");
using desktop::CallTimeout;
} // namespace

LogindService::LogindService(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    m_lidPoll.setInterval(LidPollInterval);
    connect(&m_lidPoll, &QTimer::timeout, this, &LogindService::readProperties);
}

LogindService::~LogindService() = default;

void LogindService::start()
{
    if (!m_bus.isConnected()) {
        setAvailability(Availability::Unavailable);
        return;
    }
    desktop::FollowProperties(m_bus, Service, Path, this,
                              SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    readProperties();
}

void LogindService::readProperties()
{
    if (!m_bus.isConnected())
        return;
    desktop::ReadAllProperties(m_bus, Service, Path, Manager, this,
                               [this](const std::optional<QVariantMap> &properties) {
                                   if (!properties) {
                                       setAvailability(Availability::Unavailable);
                                       return;
                                   }
                                   setAvailability(Availability::Available);
                                   applyProperties(*properties);
                               });
}

void LogindService::applyProperties(const QVariantMap &properties)
{
    if (desktop::TakeBool(properties, QStringLiteral("LidPresent"), m_lidPresent))
        Q_EMIT lidPresentChanged(m_lidPresent);
    if (desktop::TakeBool(properties, QStringLiteral("LidClosed"), m_lidClosed))
        Q_EMIT lidClosedChanged(m_lidClosed);
}

void LogindService::onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                        const QStringList &invalidated)
{
    if (interface != Manager)
        return;
    applyProperties(changed);
    if (invalidated.contains(QStringLiteral("LidClosed")) ||
        invalidated.contains(QStringLiteral("LidPresent")))
        readProperties();
}

void LogindService::setWatching(bool watching)
{
    if (watching && m_availability != Availability::Unavailable)
        m_lidPoll.start();
    else
        m_lidPoll.stop();
}

void LogindService::takeLock()
{
    if (m_wantLock)
        return;
    m_wantLock = true;
    const quint64 request = ++m_lockRequest;
    if (!m_bus.isConnected()) {
        // Told from the event loop, as a reply would be.
        QMetaObject::invokeMethod(
            this,
            [this, request] {
                if (request == m_lockRequest && m_wantLock)
                    Q_EMIT lockRefused(QStringLiteral("no system bus"));
            },
            Qt::QueuedConnection);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Manager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:handle-lid-switch") << QStringLiteral("Tarvo2")
         << QStringLiteral("The alarm is armed") << QStringLiteral("block");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusMessage reply = w->reply();
                // A late reply to a released request: its descriptor goes
                // out of scope here, which releases that lock at once.
                if (request != m_lockRequest || !m_wantLock)
                    return;
                QDBusUnixFileDescriptor fd;
                if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1)
                    fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
                if (!fd.isValid()) {
                    Q_EMIT lockRefused(reply.type() == QDBusMessage::ErrorMessage
                                           ? reply.errorMessage()
                                           : QStringLiteral("unexpected reply"));
                    return;
                }
                m_lock = fd;
                Q_EMIT lockChanged(true);
            });
}

void LogindService::releaseLock()
{
    m_wantLock = false;
    ++m_lockRequest;
    if (!m_lock.isValid())
        return;
    // The descriptor is logind's record of the lock: closing it releases it.
    m_lock = QDBusUnixFileDescriptor();
    Q_EMIT lockChanged(false);
}

void LogindService::setAvailability(Availability availability)
{
    if (m_availability == availability)
        return;
    m_availability = availability;
    if (availability == Availability::Unavailable)
        m_lidPoll.stop();
    Q_EMIT availabilityChanged(availability);
}
