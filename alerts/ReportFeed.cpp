#include "alerts/ReportFeed.h"

#include <QTimer>

ReportFeed::ReportFeed(ArmedTest armed, QObject *parent)
    : QObject(parent), m_armed(std::move(armed))
{
}

void ReportFeed::lineWritten(const QString &message, const QString &line)
{
    AlertEvent event;
    event.host = AlertEvent::HostName();
    event.event = message;
    event.time = AlertEvent::CurrentTime();
    event.line = line;
    m_held.append({event, m_armed ? m_armed(message) : false});
    if (!m_flushPosted) {
        m_flushPosted = true;
        QTimer::singleShot(0, this, &ReportFeed::flush);
    }
}

void ReportFeed::alarmRaised(const QString &message)
{
    for (auto it = m_held.rbegin(); it != m_held.rend(); ++it) {
        if (it->event.event == message && !it->event.alarm) {
            it->event.alarm = true;
            return;
        }
    }
}

void ReportFeed::flush()
{
    m_flushPosted = false;
    const QList<Held> held = std::exchange(m_held, {});
    for (const Held &h : held)
        Q_EMIT line(h.event, h.armed);
}
