#include "alerts/ReportFeed.h"

#include "report/ReportLog.h"

#include <QDateTime>
#include <QTimer>

ReportFeed::ReportFeed(ArmedTest armed, Keep keep, QObject *parent)
    : QObject(parent), m_armed(std::move(armed)), m_keep(std::move(keep))
{
}

void ReportFeed::lineWritten(const QString &message, const QString &line)
{
    AlertEvent event;
    event.host = AlertEvent::HostName();
    event.event = message;
    event.time = AlertEvent::CurrentTime();
    event.line = line;
    if (m_attachmentOf) {
        const Attached attached = m_attachmentOf(message);
        event.attachment = attached.path;
        event.attachmentKind = attached.kind;
    }
    if (!m_comingAlarm.isNull() && message == m_comingAlarm) {
        event.alarm = !IsSimulated(message);
        m_comingAlarm.clear();
    }
    // An accepted alarm goes out whatever the switch says by then.
    take(event, event.alarm || (m_armed && m_armed(message)));
}

bool ReportFeed::IsSimulated(const QString &message)
{
    return message == QLatin1String("Alarm simulated");
}

void ReportFeed::alarmAccepted(const QString &message)
{
    m_comingAlarm = message;
}

void ReportFeed::alarmRaised(const QString &message)
{
    if (m_comingAlarm.isNull() || m_comingAlarm != message)
        return; // its line came and was kept as an alarm
    m_comingAlarm = QString();
    if (IsSimulated(message))
        return; // a repeat of a plain line, which the report dropped
    AlertEvent event;
    event.host = AlertEvent::HostName();
    event.event = message;
    event.time = AlertEvent::CurrentTime();
    event.line = ReportLog::FormatLine(QDateTime::currentDateTime(), message);
    event.alarm = true;
    take(event, true); // an accepted trigger: the alarm is on
}

void ReportFeed::take(const AlertEvent &event, bool armed)
{
    if (armed && m_keep)
        m_keep(event);
    m_held.append({event, armed});
    if (!m_flushPosted) {
        m_flushPosted = true;
        QTimer::singleShot(0, this, &ReportFeed::flush);
    }
}

void ReportFeed::flush()
{
    m_flushPosted = false;
    const QList<Held> held = std::exchange(m_held, {});
    for (const Held &h : held)
        Q_EMIT line(h.event, h.armed);
}
