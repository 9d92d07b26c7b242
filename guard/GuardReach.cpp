// Wiring of the tray icon, desktop notifications, remote alerts and the
// journal to the alarm and the report; the heartbeat, the armed marker and
// the stop notices: the owner hears when the alarm stops guarding, by a
// notice when the program is asked to end while armed, and at the next
// start when it ended without a word.

#include "guard/Guard.h"
#include "guard/ReachServices.h"

#include "alerts/Journal.h"
#include "desktop/SessionLock.h"
#include "evidence/EvidenceSettings.h"
#include "settings/gRegistry.h"

#include <QCoreApplication>
#include <QDBusConnection>

namespace {
TrayIcon::State TrayState(AlarmControl::ArmState state)
{
    switch (state) {
    case AlarmControl::ArmState::Arming:
        return TrayIcon::State::Arming;
    case AlarmControl::ArmState::Armed:
        return TrayIcon::State::Armed;
    case AlarmControl::ArmState::Disarmed:
        break;
    }
    return TrayIcon::State::Disarmed;
}
const QString DisarmLine = QStringLiteral("Alarm - Stoped");
} // namespace

void Guard::wireReach()
{
    // A line counts as written while armed from the first line of arming to
    // the disarm line, which is written just after the switch went off.
    m_reach = std::make_unique<ReachServices>(RegistryFilePath(), [this](const QString &message) {
        return m_alarm->isOn(AlarmControl::Switch::Alarm) || message == DisarmLine;
    });
    ReachServices &reach = *m_reach;

    // The alert queue keeps an armed line before the report file gets it.
    m_report.addLineKeeper([this](const QString &message, const QString &line) {
        if (m_reach)
            m_reach->feed.lineWritten(message, line);
    });
    // A saved photo, screen picture or sound clip goes along with its line
    // (the file stays where it is), unless the owner keeps them on the machine.
    reach.feed.setAttachmentOf([this](const QString &message) {
        ReportFeed::Attached attached;
        QString source;
        const QString path =
            m_evidence ? m_evidence->folder().savedFileOfMessage(message, &source) : QString();
        if (path.isEmpty() || !EvidenceSettings::Load().send)
            return attached;
        attached.path = path;
        attached.kind = AlertEvent::FileKindFromName(source.toLower());
        return attached;
    });
    connect(&reach.feed, &ReportFeed::line, this, [](const AlertEvent &event, bool) {
        Journal::Write(event.event, event.line, event.alarm);
    });
    // Settings edited on disk while armed with a PIN wait for the disarming,
    // and the owner hears of the edit where the alerts still go.
    connect(&reach.hold, &AlertSettingsHold::changedOutside, this, [this](const QString &text) {
        m_report.AddToReport(text);
        m_reach->notifications.failure(text);
    });
    connect(&reach.hold, &AlertSettingsHold::takenAfterHold, this, [this] {
        m_reach->sender.retryNow();
        m_reach->heartbeat.reload();
    });
    connect(m_alarm.get(), &AlarmControl::armStateChanged, this,
            [this](AlarmControl::ArmState state) {
                m_reach->hold.setHeld(state != AlarmControl::ArmState::Disarmed &&
                                      m_protection->pinEnabled());
            });
    connect(&reach.sender, &AlertSender::failed, this, [this](const QString &text) {
        m_report.AddToReport(text);
        m_reach->notifications.failure(text, Notifications::Problem::Alerts);
    });
    connect(&reach.sender, &AlertSender::delivered, this,
            [this] { m_reach->notifications.problemGone(Notifications::Problem::Alerts); });
    connect(m_sessionLock, &SessionLock::lockFailed, this, [this](const QString &text) {
        m_reach->notifications.failure(text, Notifications::Problem::ScreenLock);
    });
    connect(&m_microphone, &MicrophoneMonitor::captureLost, this, [this] {
        m_reach->notifications.failure(QStringLiteral("The microphone stopped recording."),
                                       Notifications::Problem::Microphone);
    });

    connect(m_alarm.get(), &AlarmControl::alarmAccepted, &reach.feed, &ReportFeed::alarmAccepted);
    connect(m_alarm.get(), &AlarmControl::alarmRaised, this, [this](const QString &message) {
        m_lastAlarmLine = message;
        m_reach->feed.alarmRaised(message);
        m_reach->tray.setAlarm(true);
        m_reach->notifications.alarmRaised(message);
        m_reach->alarmEnd.start();
        updateState();
    });
    connect(m_alarm.get(), &AlarmControl::armStateChanged, this,
            [this](AlarmControl::ArmState state) {
                const bool wasDisarmed = m_reach->tray.state() == TrayIcon::State::Disarmed;
                m_reach->tray.setArmState(TrayState(state));
                if (state == AlarmControl::ArmState::Armed)
                    m_reach->notifications.armed();
                else if (state == AlarmControl::ArmState::Disarmed && !wasDisarmed)
                    m_reach->notifications.disarmed();
            });
    // The run of an alarm ends when its delay, its queue and its sounds are
    // all done; the tray then shows plain "armed" again.
    reach.alarmEnd.setInterval(1000);
    connect(&reach.alarmEnd, &QTimer::timeout, this, [this] {
        if (m_alarm->TimTriggerDelay.isActive() || !m_alarm->tasks().isEmpty() ||
            m_playback.IsPlaying())
            return;
        m_reach->alarmEnd.stop();
        m_reach->tray.setAlarm(false);
        updateState();
    });

    // The tray asks; the view decides (the PIN, showing the window).
    connect(&reach.tray, &TrayIcon::showRequested, this, &Guard::showRequested);
    connect(&reach.tray, &TrayIcon::toggleRequested, this, [this] {
        if (m_alarm->isOn(AlarmControl::Switch::Alarm))
            requestDisarm(Origin::Tray);
        else
            arm(Origin::Tray);
    });
    connect(&reach.tray, &TrayIcon::exitRequested, this, &Guard::exitRequested);
    reach.tray.setArmState(TrayState(m_alarm->armState()));
    reach.tray.show();
    wireStopNotices();
}

void Guard::wireStopNotices()
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
                // Requests come together at a log-out (the display, a
                // signal): the notice on its way is not cut short by the
                // next one, which only adds its wish to end.
                m_reach->quitWhenTold = m_reach->quitWhenTold || quit;
                if (m_reach->telling)
                    return;
                m_reach->telling = true;
                tellStop(reason);
                m_reach->telling = false;
                // exit(), not quit(): a window kept in the tray or held by
                // the PIN must not refuse an end the system asked for.
                if (m_reach->quitWhenTold)
                    QCoreApplication::exit(0);
            });
    // A monitor that cannot be reached raises no alarm of its own when the
    // pings stop: the owner hears of it as of a refused alert.
    connect(&reach.heartbeat, &Heartbeat::failed, this, [this](const QString &text) {
        m_report.AddToReport(text);
        m_reach->notifications.failure(text, Notifications::Problem::Heartbeat);
    });
    connect(&reach.heartbeat, &Heartbeat::pinged, this, [this](bool ok) {
        if (ok)
            m_reach->notifications.problemGone(Notifications::Problem::Heartbeat);
    });
    reach.stops.watchShutdown(QDBusConnection::systemBus());
    // Any other orderly end while armed (the window closed, Exit in the tray).
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        tellStop(QStringLiteral("program closed"));
        m_reach->marker.remove();
    });
}

void Guard::tellStop(const QString &reason)
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

void Guard::reportAlarm(const QString &text)
{
    m_reach->feed.alarmAccepted(text);
    m_report.AddToReport(text);
    m_reach->feed.alarmRaised(text);
}
