#include "alarm/AlarmControl.h"

#include "alarm/Autostart.h"
#include "report/ReportLog.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QRandomGenerator>
#include <algorithm>
#include <optional>

namespace {

constexpr int MaxDelaySeconds = 180;
constexpr int MinSimulateEvery = 5;
constexpr int MaxSimulateMinutes = 1440;
constexpr quint32 MillisecondsPerMinute = 60 * 1000;

// Runs every step of a change that must not stop half-way and remembers the
// first store error, to be rethrown once all steps are done.
class StepRunner
{
public:
    template <typename F> void run(F &&step)
    {
        try {
            step();
        } catch (const RegistryError &error) {
            if (!m_first)
                m_first = error;
        }
    }
    void rethrow() const
    {
        if (m_first)
            throw *m_first;
    }

private:
    std::optional<RegistryError> m_first;
};

} // namespace

AlarmControl::AlarmControl(ReportLog &report, Hooks hooks, QObject *parent)
    : QObject(parent), m_report(report), m_hooks(std::move(hooks))
{
    TimTask.setInterval(TaskInterval);
    TimActivationDelayFlash.setInterval(FlashInterval);
    TimTriggerDelayFlash.setInterval(FlashInterval);
    TimTempMute.setInterval(TempMuteInterval);
    TimLedSim.setInterval(LedBlinkInterval);
    TimStoreDisarm.setInterval(StoreRetryInterval);
    for (QTimer *once : {&TimActivationDelay, &TimTriggerDelay, &TimTempMute, &TimLedSim})
        once->setSingleShot(true);
    // Delays the user set are promises: a coarse timer may end them up to 5 %
    // early (a whole second for long ones), a precise one never does.
    for (QTimer *delay : {&TimActivationDelay, &TimTriggerDelay, &TimTempMute, &TimSimulation})
        delay->setTimerType(Qt::PreciseTimer);

    connect(&TimTask, &QTimer::timeout, this, &AlarmControl::TimTaskTimer);
    connect(&TimActivationDelay, &QTimer::timeout, this, &AlarmControl::TimActivationDelayTimer);
    connect(&TimActivationDelayFlash, &QTimer::timeout, this,
            &AlarmControl::TimActivationDelayFlashTimer);
    connect(&TimTriggerDelay, &QTimer::timeout, this, &AlarmControl::TimTriggerDelayTimer);
    connect(&TimTriggerDelayFlash, &QTimer::timeout, this,
            &AlarmControl::TimTriggerDelayFlashTimer);
    connect(&TimTempMute, &QTimer::timeout, this, &AlarmControl::TimTempMuteTimer);
    connect(&TimSimulation, &QTimer::timeout, this, &AlarmControl::TimSimulationTimer);
    connect(&TimLedSim, &QTimer::timeout, this, &AlarmControl::TimLedSimTimer);
    connect(&TimStoreDisarm, &QTimer::timeout, this, &AlarmControl::TimStoreDisarmTimer);
}

QString AlarmControl::actionName(Switch s)
{
    switch (s) {
    case Switch::Alarm:
        return QStringLiteral("ActActivateToggle");
    case Switch::Microphone:
        return QStringLiteral("ActMicDetectToggle");
    case Switch::Mouse:
        return QStringLiteral("ActMouDetectToggle");
    case Switch::Simulation:
        return QStringLiteral("ActSimToggle");
    case Switch::Keyboard:
        return QStringLiteral("ActKeyDetectToggle");
    case Switch::Lid:
        return QStringLiteral("ActLidToggle");
    case Switch::PowerCable:
        return QStringLiteral("ActPowerToggle");
    case Switch::Camera:
        return QStringLiteral("ActCamDetectToggle");
    case Switch::Usb:
        return QStringLiteral("ActUsbDetectToggle");
    case Switch::Network:
        return QStringLiteral("ActNetDetectToggle");
    }
    return {};
}

QString AlarmControl::storeName(Switch s)
{
    return s == Switch::Alarm ? StoreKeys::AlarmActive : actionName(s);
}

void AlarmControl::ReadStoredSwitches()
{
    for (Switch s :
         {Switch::Alarm, Switch::Microphone, Switch::Mouse, Switch::Simulation, Switch::Keyboard})
        setTag(s, ReadRegString(StoreKeys::Settings, storeName(s)).isEmpty() ? 0 : 1);
    // "F" is off for these, as for the machine's switches.
    for (Switch s : {Switch::Lid, Switch::PowerCable, Switch::Camera, Switch::Usb, Switch::Network})
        setTag(s, StoredChoice(s).value_or(false) ? 1 : 0);
}

bool AlarmControl::FollowsMachine(Switch s)
{
    return s == Switch::Lid || s == Switch::PowerCable;
}

std::optional<bool> AlarmControl::StoredChoice(Switch s)
{
    const QString stored = ReadRegString(StoreKeys::Settings, storeName(s));
    if (stored.isEmpty())
        return std::nullopt;
    return stored != StoreKeys::SwitchOff;
}

bool AlarmControl::ApplyMachineDefault(Switch s, bool present)
{
    if (!FollowsMachine(s) || StoredChoice(s))
        return false;
    const int wanted = present ? 1 : 0;
    if (tag(s) == wanted)
        return false;
    setTag(s, wanted);
    return true;
}

bool AlarmControl::StoredAlarmActive()
{
    return !ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive).isEmpty();
}

bool AlarmControl::ResumeStoredAlarm()
{
    if (!StoredAlarmActive())
        return false;
    setTag(Switch::Alarm, 1);
    StartOrDelayStart();
    // A kill between storing the armed state and writing the entry leaves
    // none, and only the entry brings the alarm back after the next log-in.
    if (!AutostartEntryCurrent(m_hooks.executablePath) &&
        !WriteAutostartEntry(m_hooks.executablePath))
        throw AutostartWriteError();
    return true;
}

RegistryError AlarmControl::AutostartWriteError()
{
    return RegistryError::withText(
        AutostartEntryPath(),
        QStringLiteral("Could not write the autostart entry \"%1\": Tarvo2 will not "
                       "start again by itself after a restart.")
            .arg(AutostartEntryPath()));
}

void AlarmControl::FlipSwitch(Switch s)
{
    setTag(s, tag(s) == 0 ? 1 : 0);
}

void AlarmControl::StoreSwitch(Switch s)
{
    if (isOn(s))
        WriteRegString(StoreKeys::Settings, storeName(s), StoreKeys::SwitchOn);
    else if (FollowsMachine(s))
        WriteRegString(StoreKeys::Settings, storeName(s), StoreKeys::SwitchOff);
    else
        DeleteRegValue(StoreKeys::Settings, storeName(s));
}

void AlarmControl::StartSimulation()
{
    TimSimulation.start(static_cast<int>(GetSimulationTime()));
}

void AlarmControl::StopSimulation()
{
    TimSimulation.stop();
}

void AlarmControl::ActActivateToggleExecute()
{
    FlipSwitch(Switch::Alarm);
    if (!isOn(Switch::Alarm)) {
        AlarmStopStart(false);
        return;
    }
    TimStoreDisarm.stop(); // armed again: the stored state is to say so
    StepRunner steps;
    steps.run(
        [] { WriteRegString(StoreKeys::Settings, StoreKeys::AlarmActive, StoreKeys::SwitchOn); });
    steps.run([this] {
        // The program must come back after a restart to keep guarding; not
        // being able to promise that is as serious as a failed store write.
        if (!WriteAutostartEntry(m_hooks.executablePath))
            throw AutostartWriteError();
    });
    m_report.Clear();
    StartOrDelayStart();
    steps.rethrow();
}

void AlarmControl::StartOrDelayStart()
{
    const int delay = std::clamp(HookInt(m_hooks.activationDelay), 0, MaxDelaySeconds);
    if (delay == 0) {
        AlarmStopStart(true);
        return;
    }
    m_report.AddToReport(QStringLiteral("Waiting %1 second(s) before Activation").arg(delay));
    TimActivationDelay.start(delay * 1000);
    TimActivationDelayFlash.start();
    EmitArmState();
}

void AlarmControl::AlarmStopStart(bool start)
{
    if (start) {
        m_tasks.clear();
        // Written in one step: after a clear the previous report stays whole
        // until these lines replace it at once.
        QStringList lines;
        if (isOn(Switch::Microphone))
            lines.append(QStringLiteral("Microphone Detection - Enabled"));
        if (isOn(Switch::Mouse))
            lines.append(QStringLiteral("Mouse Detection - Enabled"));
        if (isOn(Switch::Simulation))
            lines.append(QStringLiteral("Simulation - Enabled"));
        if (isOn(Switch::Keyboard))
            lines.append(QStringLiteral("Keyboard Detection - Enabled"));
        if (isOn(Switch::Lid))
            lines.append(QStringLiteral("Lid Detection - Enabled"));
        if (isOn(Switch::PowerCable))
            lines.append(QStringLiteral("Power Cable Detection - Enabled"));
        lines.append(QStringLiteral("Alarm - Activated"));
        m_report.AddLinesToReport(lines);
        EmitArmState();
        return;
    }

    if (m_hooks.resetMicrophoneCount)
        m_hooks.resetMicrophoneCount();
    if (m_hooks.stopSounds)
        m_hooks.stopSounds();
    TimActivationDelay.stop();
    TimActivationDelayFlash.stop();
    SetLed(Led::ActivationDelay, false);
    TimTriggerDelay.stop();
    TimTriggerDelayFlash.stop();
    SetLed(Led::TriggerDelay, false);
    m_tasks.clear();
    m_report.AddToReport(QStringLiteral("Alarm - Stoped"));
    EmitArmState();
    StoreDisarmed();
}

void AlarmControl::StoreDisarmed()
{
    try {
        RemoveRegValue(StoreKeys::Settings, StoreKeys::AlarmActive);
    } catch (const RegistryError &error) {
        // The entry stays while the store says armed: a restart then comes
        // back armed as both say, never half. Tried again until it holds.
        TimStoreDisarm.start();
        throw RegistryError::withText(
            StoreKeys::AlarmActive,
            QStringLiteral("The alarm is off, but this could not be saved: %1 Until it can be, "
                           "Tarvo2 starts armed again after a restart; it keeps trying.")
                .arg(error.message()));
    }
    TimStoreDisarm.stop();
    // A left-over entry would start the program at every log-on.
    if (!RemoveAutostartEntry())
        throw RegistryError::withText(
            AutostartEntryPath(),
            QStringLiteral("Could not remove the autostart entry \"%1\": Tarvo2 will still "
                           "start at the next log-in. Remove that file to stop it.")
                .arg(AutostartEntryPath()));
}

void AlarmControl::TimStoreDisarmTimer()
{
    if (isOn(Switch::Alarm)) {
        TimStoreDisarm.stop();
        return;
    }
    try {
        StoreDisarmed();
    } catch (const RegistryError &) {
        // Told once, when the disarming failed; the timer tries again.
    }
}

void AlarmControl::EscapeDisarm()
{
    if (!isOn(Switch::Alarm))
        return;
    setTag(Switch::Alarm, 0);
    AlarmStopStart(false);
}

void AlarmControl::ActivateAlarm(const QString &message)
{
    if (!isOn(Switch::Alarm) || TimActivationDelay.isActive() || TimTempMute.isActive() ||
        !m_tasks.isEmpty() || IsPlaying())
        return;
    TimTempMute.start();
    if (m_hooks.prepareOutput)
        m_hooks.prepareOutput();
    const int delay = std::clamp(HookInt(m_hooks.triggerDelay), 0, MaxDelaySeconds);
    if (delay == 0) {
        AddTaskAndStart();
    } else if (!TimTriggerDelay.isActive()) {
        // A pending delay is neither restarted nor extended by a later trigger.
        TimTriggerDelay.start(delay * 1000);
        TimTriggerDelayFlash.start();
    }
    // Only now the report line (flushed to the disk) and what follows it
    // (alerts, notifications, evidence): none of it may hold up the sound.
    // Nothing above writes a report line, so the lines keep their order.
    Q_EMIT alarmAccepted(message);
    m_report.AddToReport(message);
    Q_EMIT alarmRaised(message);
}

void AlarmControl::ActivateAlarmOrReport(const QString &message)
{
    if (!isOn(Switch::Alarm))
        return;
    bool raised = false;
    const auto watch = connect(this, &AlarmControl::alarmRaised, [&raised] { raised = true; });
    ActivateAlarm(message);
    disconnect(watch);
    if (!raised)
        m_report.AddToReport(message);
}

quint32 AlarmControl::RandomBelowN(quint32 n) const
{
    if (n == 0)
        return 0;
    if (m_hooks.randomBelow)
        return m_hooks.randomBelow(n);
    return QRandomGenerator::global()->bounded(n);
}

quint32 AlarmControl::GetSimulationTime() const
{
    const auto every = static_cast<quint32>(
        std::clamp(HookInt(m_hooks.simulateEvery), MinSimulateEvery, MaxSimulateMinutes));
    const auto random =
        static_cast<quint32>(std::clamp(HookInt(m_hooks.simulateRandom), 0, MaxSimulateMinutes));
    const quint32 base = every * MillisecondsPerMinute;
    const quint32 spread = random * MillisecondsPerMinute;
    return base + RandomBelowN(spread);
}

bool AlarmControl::isWaitingForActivation() const
{
    return isOn(Switch::Alarm) && TimActivationDelay.isActive();
}

bool AlarmControl::isArmed() const
{
    return isOn(Switch::Alarm) && !TimActivationDelay.isActive();
}

AlarmControl::ArmState AlarmControl::armState() const
{
    if (!isOn(Switch::Alarm))
        return ArmState::Disarmed;
    return TimActivationDelay.isActive() ? ArmState::Arming : ArmState::Armed;
}

void AlarmControl::EmitArmState()
{
    const ArmState state = armState();
    if (state == m_lastArmState)
        return;
    m_lastArmState = state;
    Q_EMIT armStateChanged(state);
}

void AlarmControl::AddTask()
{
    const int checked =
        m_hooks.checkedSounds ? static_cast<int>(m_hooks.checkedSounds().size()) : 0;
    m_tasks.AddTask(checked, HookInt(m_hooks.persistence), HookInt(m_hooks.persistenceRandom),
                    [this](quint32 n) { return RandomBelowN(n); });
}

void AlarmControl::AddTaskAndStart()
{
    AddTask();
    TimTaskTimer();
}

void AlarmControl::StopAllTimers()
{
    for (QTimer *timer : {&TimTask, &TimActivationDelay, &TimActivationDelayFlash, &TimTriggerDelay,
                          &TimTriggerDelayFlash, &TimTempMute, &TimSimulation, &TimLedSim})
        timer->stop();
}

void AlarmControl::TimTaskTimer()
{
    if (m_tasks.isEmpty() || IsPlaying())
        return;
    // The head record is consumed whatever it holds, so a bad record or one
    // whose sound has left the list cannot jam the queue.
    const std::optional<TaskRecord> record = TaskQueue::ParseRecord(m_tasks.takeHead());
    if (!record)
        return;
    const QStringList sounds = m_hooks.checkedSounds ? m_hooks.checkedSounds() : QStringList();
    if (record->soundIndex >= sounds.size())
        return;
    const QString folder = m_hooks.soundsFolder ? m_hooks.soundsFolder() : QString();
    if (m_hooks.playHow)
        m_hooks.playHow(record->slot, record->speaker, folder + sounds.at(record->soundIndex));
}

void AlarmControl::TimActivationDelayTimer()
{
    TimActivationDelay.stop();
    TimActivationDelayFlash.stop();
    SetLed(Led::ActivationDelay, false);
    AlarmStopStart(true);
}

void AlarmControl::TimActivationDelayFlashTimer()
{
    ToggleLed(Led::ActivationDelay);
}

void AlarmControl::TimTriggerDelayTimer()
{
    TimTriggerDelay.stop();
    TimTriggerDelayFlash.stop();
    SetLed(Led::TriggerDelay, false);
    AddTaskAndStart();
}

void AlarmControl::TimTriggerDelayFlashTimer()
{
    ToggleLed(Led::TriggerDelay);
}

void AlarmControl::TimTempMuteTimer()
{
    TimTempMute.stop();
}

void AlarmControl::TimSimulationTimer()
{
    TimSimulation.stop();
    ActivateAlarm(QStringLiteral("Alarm simulated"));
    StartSimulation();
    SetLed(Led::Simulation, true);
    if (!TimLedSim.isActive()) // the LED goes idle 250 ms after it was first lit
        TimLedSim.start();
    Q_EMIT simulationFired();
}

void AlarmControl::TimLedSimTimer()
{
    TimLedSim.stop();
    SetLed(Led::Simulation, false);
}

void AlarmControl::SetLed(Led led, bool lit)
{
    if (m_leds[Index(led)] == lit)
        return;
    m_leds[Index(led)] = lit;
    Q_EMIT ledChanged(led, lit);
}
