#pragma once
// An alert as the report feed makes it, from the desk "desk-7".

#include "alerts/AlertEvent.h"

inline AlertEvent DeskEvent(const QString &message, bool alarm)
{
    AlertEvent event;
    event.host = QStringLiteral("desk-7");
    event.event = message;
    event.time = AlertEvent::CurrentTime();
    event.line = QStringLiteral("[07.12.26 10:00] ") + message;
    event.alarm = alarm;
    return event;
}
