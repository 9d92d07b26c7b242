#pragma once
// What the window owns to reach its owner away from the desk: the tray icon,
// desktop notifications, remote alerts and the journal (wired in
// fmMainReach.cpp).

#include "alerts/AlertSender.h"
#include "alerts/ReportFeed.h"
#include "desktop/Notifications.h"
#include "desktop/TrayIcon.h"

#include <QTimer>

struct ReachServices
{
    ReachServices(const QString &queuePath, ReportFeed::ArmedTest armed)
        : sender(queuePath, [] { return AlertConfig::Load(); }), feed(std::move(armed))
    {
    }

    TrayIcon tray;
    Notifications notifications;
    AlertSender sender;
    ReportFeed feed;
    QTimer alarmEnd; // watches for the end of an alarm's run
};
