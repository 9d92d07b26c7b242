#include "alerts/AlertSettingsHold.h"

AlertSettingsHold::AlertSettingsHold(QObject *parent)
    : AlertSettingsHold(
          [] {
              return Settings{AlertConfig::Load(), HeartbeatConfig::Load()};
          },
          2000, parent)
{
}

AlertSettingsHold::AlertSettingsHold(Loader loader, int checkMs, QObject *parent)
    : QObject(parent), m_load(std::move(loader))
{
    m_check.setInterval(checkMs);
    connect(&m_check, &QTimer::timeout, this, &AlertSettingsHold::check);
}

void AlertSettingsHold::setHeld(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    if (held) {
        m_inForce = m_lastSeen = m_load();
        m_check.start();
        return;
    }
    m_check.stop();
    if (!(m_load() == m_inForce))
        Q_EMIT takenAfterHold();
}

AlertConfig AlertSettingsHold::alerts() const
{
    return m_held ? m_inForce.alerts : m_load().alerts;
}

HeartbeatConfig AlertSettingsHold::heartbeat() const
{
    return m_held ? m_inForce.heartbeat : m_load().heartbeat;
}

void AlertSettingsHold::check()
{
    if (!m_held)
        return;
    const Settings stored = m_load();
    if (stored == m_lastSeen)
        return;
    m_lastSeen = stored;
    if (!(stored == m_inForce)) // not merely changed back
        Q_EMIT changedOutside(ChangedText());
}
