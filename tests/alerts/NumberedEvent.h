#pragma once
// Numbered alerts from the desk "desk-7", and sender options with short
// pauses, for the tests of the alert queue and its sender.

#include "alerts/AlertSender.h"

inline AlertEvent Event(int n, bool alarm = false)
{
    AlertEvent event;
    event.host = QStringLiteral("desk-7");
    event.event = QStringLiteral("Event %1").arg(n);
    event.time = QStringLiteral("2026-12-07T10:00:%1+01:00").arg(n, 2, 10, QLatin1Char('0'));
    event.line = QStringLiteral("[07.12.26 10:00] Event %1").arg(n);
    event.alarm = alarm;
    return event;
}

inline AlertSender::Options Fast(int timeoutMs = 5000)
{
    AlertSender::Options options;
    options.timeoutMs = timeoutMs;
    options.firstRetryMs = 50;
    options.maxRetryMs = 400;
    return options;
}
