// Wiring of the tray icon, desktop notifications, remote alerts and the
// journal to the alarm and the report.

#include "app/fmMainReach.h"
#include "app/AfterFirstPaint.h"
#include "app/fmAlerts.h"
#include "app/fmMain.h"
#include "desktop/SessionLock.h"

#include "alerts/Journal.h"
#include "settings/gRegistry.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>

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

void TfrmMain::wireReach()
{
    // A line counts as written while armed from the first line of arming to
    // the disarm line, which is written just after the switch went off.
    m_reach = std::make_unique<ReachServices>(RegistryFilePath(), [this](const QString &message) {
        return m_alarm->isOn(AlarmControl::Switch::Alarm) || message == DisarmLine;
    });
    ReachServices &reach = *m_reach;
    // Following the network asks the system bus: not before the window shows.
    m_afterFirstPaint->add([this] { m_reach->sender.watchNetwork(); });

    // The alert queue keeps an armed line before the report file gets it.
    m_report.addLineKeeper([this](const QString &message, const QString &line) {
        if (m_reach)
            m_reach->feed.lineWritten(message, line);
    });
    // A saved photo goes along with its line; the file stays where it is.
    reach.feed.setAttachmentOf([this](const QString &message) {
        return m_evidence ? m_evidence->folder().photoOfMessage(message) : QString();
    });
    connect(&reach.feed, &ReportFeed::line, this, [](const AlertEvent &event, bool) {
        Journal::Write(event.event, event.line, event.alarm);
    });
    connect(&reach.sender, &AlertSender::failed, this, [this](const QString &text) {
        m_report.AddToReport(text);
        m_reach->notifications.failure(text);
    });
    if (m_sessionLock)
        connect(m_sessionLock, &SessionLock::lockFailed, this,
                [this](const QString &message) { m_reach->notifications.failure(message); });
    connect(&m_microphone, &MicrophoneMonitor::captureLost, this, [this] {
        m_reach->notifications.failure(QStringLiteral("The microphone stopped recording."));
    });

    connect(m_alarm.get(), &AlarmControl::alarmAccepted, &reach.feed, &ReportFeed::alarmAccepted);
    connect(m_alarm.get(), &AlarmControl::alarmRaised, this, [this](const QString &message) {
        m_reach->feed.alarmRaised(message);
        m_reach->tray.setAlarm(true);
        m_reach->notifications.alarmRaised(message);
        m_reach->alarmEnd.start();
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
    });

    // The tray acts only through the window's own steps.
    connect(&reach.tray, &TrayIcon::showRequested, this,
            [this] { RestoreFromMessage(QByteArray()); });
    connect(&reach.tray, &TrayIcon::toggleRequested, ActActivateToggle, &QAction::trigger);
    connect(&reach.tray, &TrayIcon::exitRequested, this, &TfrmMain::ExitProgram);
    connect(ActActivateToggle, &QAction::changed, this,
            [this] { m_reach->tray.setToggleEnabled(ActActivateToggle->isEnabled()); });
    reach.tray.setToggleEnabled(ActActivateToggle->isEnabled());
    reach.tray.setArmState(TrayState(m_alarm->armState()));
    reach.tray.show();

    connect(addOptionsAction(QStringLiteral("Alerts…"), "mnuAlerts"), &QAction::triggered, this,
            [this] {
                // Window-modal and not exec(): the alarm goes on meanwhile,
                // and the dialog closes when arming with a PIN holds it.
                auto *dialog = new TfrmAlerts(m_reach->sender, this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->open();
                holdDialog(ArmedReach::Place::Alerts, dialog);
                connect(dialog, &QDialog::accepted, this, [this] { m_reach->heartbeat.reload(); });
            });
    wireStopNotices();
}
