// Wiring of the heartbeat, the armed marker and the stop notices: the owner
// hears when the alarm stops guarding, by a notice when the program is asked
// to end while armed, and at the next start when it ended without a word.

#include "app/fmMain.h"
#include "app/fmMainReach.h"

#include <QCoreApplication>
#include <QDBusConnection>

void TfrmMain::wireStopNotices()
{
    ReachServices &reach = *m_reach;
    connect(m_alarm.get(), &AlarmControl::armStateChanged, this,
            [this](AlarmControl::ArmState state) {
                const bool guarding = state != AlarmControl::ArmState::Disarmed;
                if (guarding == m_reach->guarding)
                    return;
                m_reach->guarding = guarding;
                m_reach->stopTold = false;
                m_reach->marker.setArmed(guarding);
                m_reach->heartbeat.setArmed(guarding);
                m_reach->stops.holdShutdown(guarding);
            });
    // A signal ends the program in order; a log-out or a shutdown will end
    // it soon, so the owner is told now, while the network still works.
    connect(&reach.stops, &StopRequests::stopRequested, this,
            [this](const QString &reason, bool quit) {
                tellStop(reason);
                // exit(), not quit(): a window kept in the tray or held by
                // the PIN must not refuse an end the system asked for.
                if (quit)
                    QCoreApplication::exit(0);
            });
    // A monitor that cannot be reached raises no alarm of its own when the
    // pings stop: the owner hears of it as of a refused alert.
    connect(&reach.heartbeat, &Heartbeat::failed, this, [this](const QString &text) {
        m_report.AddToReport(text);
        m_reach->notifications.failure(text);
    });
    reach.stops.watchShutdown(QDBusConnection::systemBus());
    // Any other orderly end while armed (the window closed, Exit in the tray).
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        tellStop(QStringLiteral("program closed"));
        m_reach->marker.remove();
    });
}

void TfrmMain::tellStop(const QString &reason)
{
    if (!m_reach || m_reach->stopTold || !m_alarm->isOn(AlarmControl::Switch::Alarm))
        return;
    m_reach->stopTold = true;
    reportAlarm(ArmedMarker::StopText(reason));
    m_reach->feed.flush(); // the journal, too, before the event loop ends
    m_reach->sender.deliverWithin(ReachServices::StopNoticeBoundMs);
    // Told: the end that follows is no unexpected one, and need not wait.
    m_reach->marker.remove();
    m_reach->stops.holdShutdown(false);
}

void TfrmMain::takeUpLastRun()
{
    const QString queueProblem = m_reach->sender.queueProblem();
    if (!queueProblem.isEmpty()) {
        m_report.AddToReport(queueProblem);
        m_reach->notifications.failure(queueProblem);
    }
    if (const auto lastSignOfLife = m_reach->marker.leftBehind()) {
        reportAlarm(ArmedMarker::UnexpectedEndText(*lastSignOfLife));
        m_reach->marker.remove();
    }
}

void TfrmMain::reportAlarm(const QString &text)
{
    m_reach->feed.alarmAccepted(text);
    m_report.AddToReport(text);
    m_reach->feed.alarmRaised(text);
}
