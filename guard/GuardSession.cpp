// The guard's session services: the sleep inhibitor and the lid (logind),
// the power cable (UPower) and the guards of the output sink and of the
// microphone's source (libpulse). Each service only observes; the alarm
// control decides what a signal means.

#include "guard/Guard.h"

#include "audio/SinkGuard.h"
#include "desktop/LogindService.h"
#include "desktop/UPowerService.h"

#include <QDBusConnection>

// A child object of the guard; it holds only its own services.
struct Guard::SessionServices : QObject
{
    explicit SessionServices(QObject *parent)
        : QObject(parent), logind(QDBusConnection::systemBus()), power(QDBusConnection::systemBus())
    {
    }

    LogindService logind;
    UPowerService power;
    SinkGuard sink;
    SinkGuard source{SinkGuard::Side::Capture};
    // One note per arming about what cannot be guarded here.
    bool suspendNoted = false;
    bool volumeNoted = false;
    bool volumeNotePending = false;
    bool runPending = false; // a trigger was accepted, its run not over
};

void Guard::wireSessionServices()
{
    using S = AlarmControl::Switch;
    using A = AlarmControl::ArmState;
    m_session = new SessionServices(this);
    SessionServices *s = m_session;
    AlarmControl *alarm = m_alarm.get();

    // On by default where the machine has a lid / a battery.
    auto machineDefault = [this, alarm](S which, bool present) {
        if (alarm->ApplyMachineDefault(which, present))
            Q_EMIT switchesChanged();
    };
    auto lidDefault = [s, machineDefault] {
        machineDefault(S::Lid, s->logind.lidPresent() || s->power.lidPresent());
    };
    connect(&s->logind, &LogindService::lidPresentChanged, s, lidDefault);
    connect(&s->power, &UPowerService::lidPresentChanged, s, lidDefault);
    connect(&s->power, &UPowerService::batteryPresentChanged, s, [s, machineDefault](bool present) {
        machineDefault(S::PowerCable, present);
    });

    connect(&s->logind, &LogindService::lidClosedChanged, s, [alarm](bool closed) {
        if (closed && alarm->isOn(S::Lid))
            alarm->ActivateAlarm(QStringLiteral("Lid closed"));
    });
    connect(&s->power, &UPowerService::onBatteryChanged, s, [alarm](bool onBattery) {
        if (onBattery && alarm->isOn(S::PowerCable))
            alarm->ActivateAlarm(QStringLiteral("Power cable disconnected"));
    });
    // Also during a run (a mute of the program's own stream), when the
    // trigger itself is refused: the line is written all the same.
    // The microphone's source is the microphone detector's: guarded only
    // while that detector listens (its switch is fixed while the alarm is on).
    for (SinkGuard *guard : {&s->sink, &s->source})
        connect(guard, &SinkGuard::intrusion, s,
                [alarm](const QString &message) { alarm->ActivateAlarmOrReport(message); });

    auto noteVolume = [this, s] {
        s->volumeNotePending = false;
        if (s->volumeNoted)
            return;
        s->volumeNoted = true;
        m_report.AddToReport(QStringLiteral("Volume guard not available"));
    };
    connect(&s->logind, &LogindService::lockRefused, s, [this, s, alarm] {
        if (alarm->armState() == A::Disarmed || s->suspendNoted)
            return;
        s->suspendNoted = true;
        m_report.AddToReport(QStringLiteral("Suspend cannot be prevented"));
    });
    connect(&s->sink, &SinkGuard::stateChanged, s, [s, noteVolume](SinkGuard::State state) {
        // A server still being reached at arming is judged once it answers.
        if (s->volumeNotePending && state != SinkGuard::State::Connecting) {
            if (state == SinkGuard::State::Unavailable)
                noteVolume();
            s->volumeNotePending = false;
        }
    });

    connect(alarm, &AlarmControl::armStateChanged, s, [s, alarm, noteVolume](A state) {
        const bool guarding = state != A::Disarmed;
        s->logind.setWatching(guarding);
        // The guard connects only now: at rest no libpulse thread runs.
        s->sink.setWatching(guarding);
        s->sink.setArmed(state == A::Armed);
        const bool listening = alarm->isOn(S::Microphone);
        s->source.setWatching(guarding && listening);
        s->source.setArmed(state == A::Armed && listening);
        if (!guarding) {
            s->logind.releaseLock();
            s->runPending = false;
            s->suspendNoted = s->volumeNoted = s->volumeNotePending = false;
            return;
        }
        s->logind.takeLock(); // once per arming; a second call does nothing
        if (s->sink.state() == SinkGuard::State::Unavailable)
            noteVolume();
        else if (s->sink.state() == SinkGuard::State::Connecting)
            s->volumeNotePending = true;
    });

    // The alarm run: from an accepted trigger while its records play.
    auto updateRun = [this, s, alarm] {
        if (!alarm->isOn(S::Alarm)) {
            s->runPending = false;
            s->sink.setRunActive(false);
            return;
        }
        const bool busy = !alarm->tasks().isEmpty() || m_playback.IsPlaying();
        if (busy && s->runPending) {
            s->sink.setRunActive(true);
        } else if (!busy && !alarm->TimTriggerDelay.isActive()) {
            s->runPending = false;
            s->sink.setRunActive(false);
        }
    };
    connect(alarm, &AlarmControl::alarmRaised, s, [s, updateRun] {
        s->runPending = true;
        // The run's records are queued right after this signal.
        QMetaObject::invokeMethod(s, updateRun, Qt::QueuedConnection);
    });
    connect(&alarm->TimTask, &QTimer::timeout, s, updateRun);
    connect(&alarm->TimTriggerDelay, &QTimer::timeout, s, updateRun);

    s->logind.start();
    s->power.start();
}

void Guard::closeSessionServices()
{
    if (!m_session)
        return;
    // Closing does not disarm, but the sink and the sleep lock go back.
    m_session->sink.setArmed(false);
    m_session->sink.setWatching(false);
    m_session->source.setArmed(false);
    m_session->source.setWatching(false);
    m_session->logind.releaseLock();
    m_session->logind.setWatching(false);
}

const SinkGuard *Guard::sinkGuard() const
{
    return m_session ? &m_session->sink : nullptr;
}

const SinkGuard *Guard::sourceGuard() const
{
    return m_session ? &m_session->source : nullptr;
}
