#pragma once
// What the guard owns to reach its owner away from the desk: the tray icon,
// desktop notifications, remote alerts and the journal (wired in
// GuardReach.cpp), the heartbeat, the armed marker and the stop notices.

#include "alerts/AlertSender.h"
#include "alerts/AlertSettingsHold.h"
#include "alerts/ArmedMarker.h"
#include "alerts/Heartbeat.h"
#include "alerts/ReportFeed.h"
#include "desktop/Notifications.h"
#include "desktop/StopRequests.h"
#include "desktop/TrayIcon.h"

#include <QTimer>

struct ReachServices
{
    ReachServices(const QString &settingsFile, ReportFeed::ArmedTest armed)
        : sender(AlertQueue::DefaultPath(settingsFile), [this] { return hold.alerts(); }),
          feed(std::move(armed), [this](const AlertEvent &event) { sender.enqueue(event); }),
          heartbeat([this] { return hold.heartbeat(); }),
          marker(ArmedMarker::DefaultPath(settingsFile))
    {
    }

    static constexpr int StopNoticeBoundMs = 3000;

    // Armed with a PIN, the alert settings in force are those of the arming.
    AlertSettingsHold hold;
    TrayIcon tray;
    Notifications notifications;
    AlertSender sender;
    ReportFeed feed;
    Heartbeat heartbeat;
    ArmedMarker marker;
    StopRequests stops;
    QTimer alarmEnd; // watches for the end of an alarm's run
    bool guarding = false; // the alarm switch is on
    bool stopTold = false; // this run's stop notice went out
    bool telling = false;      // a stop request is being told
    bool quitWhenTold = false; // a stop request asked to end the program
};
