#pragma once
// The alarm's switches and its road from a trigger to sound: arming with the
// activation delay, disarming, the single trigger entry ActivateAlarm with
// its temporary mute and trigger delay, the alarm simulation and the task
// timer that plays the queue.
//
// The main window owns one AlarmControl, wires its widgets to it and shows
// the LEDs; everything the window supplies comes in through Hooks, so the
// rules run without a window.

#include "alarm/TaskQueue.h"
#include "settings/gRegistry.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>

class ReportLog;

class AlarmControl : public QObject
{
    Q_OBJECT
public:
    enum class Switch
    {
        Alarm,
        Microphone,
        Mouse,
        Simulation,
        Keyboard,
        Lid,
        PowerCable,
        Camera,
        Usb,
        Network
    };
    static constexpr std::size_t SwitchCount = 10;
    enum class Led
    {
        ActivationDelay,
        TriggerDelay,
        Simulation
    };

    struct Hooks
    {
        std::function<int()> activationDelay, triggerDelay; // seconds
        std::function<int()> simulateEvery, simulateRandom; // minutes
        std::function<int()> persistence, persistenceRandom;
        std::function<bool()> isPlaying;
        std::function<void()> stopSounds;
        std::function<void(int slot, int speaker, const QString &path)> playHow;
        // A trigger was accepted: the output device may open now, while the
        // run is queued and its first sound decoded.
        std::function<void()> prepareOutput;
        std::function<QStringList()> checkedSounds;
        std::function<QString()> soundsFolder; // ends in '/'
        std::function<void()> resetMicrophoneCount;
        RandomBelow randomBelow; // QRandomGenerator::global() when empty
        QString executablePath;
    };

    static constexpr int TaskInterval = 250;
    static constexpr int FlashInterval = 500;
    static constexpr int TempMuteInterval = 1500;
    static constexpr int LedBlinkInterval = 250;
    static constexpr int StoreRetryInterval = 10000;

    AlarmControl(ReportLog &report, Hooks hooks, QObject *parent = nullptr);

    int tag(Switch s) const { return m_tags[Index(s)]; }
    bool isOn(Switch s) const { return tag(s) == 1; }
    void setTag(Switch s, int tag) { m_tags[Index(s)] = tag; }
    static QString actionName(Switch s);
    // The store's value name of a switch ("Alarm Active" for the alarm).
    static QString storeName(Switch s);

    // Start-up: sets the switches from the store; starts nothing. A switch
    // whose default follows the machine (lid, power cable) and that was
    // never set stays off until ApplyMachineDefault says otherwise.
    void ReadStoredSwitches();
    // Lid and power cable: on by default where the machine has a lid / a
    // battery, so their store keeps "off" apart from "never set".
    static bool FollowsMachine(Switch s);
    // The stored choice of a switch; nullopt when it was never set.
    static std::optional<bool> StoredChoice(Switch s);
    // Takes the machine's answer for a switch that follows it, unless the
    // user has chosen. Returns whether the tag changed.
    bool ApplyMachineDefault(Switch s, bool present);
    static bool StoredAlarmActive();
    // First activation of the window: a stored armed state is taken up again
    // through the activation delay, without clearing the report; a missing
    // or outdated autostart entry is written again. Returns whether it was
    // resumed; throws RegistryError (after resuming) when the entry cannot
    // be written.
    bool ResumeStoredAlarm();

    void FlipSwitch(Switch s);
    // Writes "T" while the switch is on, deletes the value while it is off;
    // a switch that follows the machine writes "F" while it is off.
    // Throws RegistryError when the store cannot be written.
    void StoreSwitch(Switch s);
    void StartSimulation();
    void StopSimulation();

    // The alarm button. A failed store write does not stop the remaining
    // steps; the first RegistryError is rethrown once all of them are done.
    void ActActivateToggleExecute();
    void StartOrDelayStart();
    void AlarmStopStart(bool start);
    // The Escape key while the alarm switch is on: switch off and disarm.
    void EscapeDisarm();

    void ActivateAlarm(const QString &message);
    // A trigger that must be on the record: ActivateAlarm, and when that
    // refuses it (activation delay, a run playing, the temporary mute) while
    // the switch is on, the report line all the same.
    void ActivateAlarmOrReport(const QString &message);
    quint32 GetSimulationTime() const;

    bool isWaitingForActivation() const;
    bool isArmed() const;
    bool ledLit(Led led) const { return m_leds[Index(led)]; }

    TaskQueue &tasks() { return m_tasks; }
    void AddTask();
    // Queues a run and, as nothing plays when a run is queued, starts its
    // first record at once instead of at the next task tick; the records
    // after it follow at the ticks.
    void AddTaskAndStart();
    void StopAllTimers();

    // Owned here so the window and tests can inspect them; the tick handlers
    // below are public for the same reason.
    QTimer TimTask, TimActivationDelay, TimActivationDelayFlash, TimTriggerDelay,
        TimTriggerDelayFlash, TimTempMute, TimSimulation, TimLedSim;
    // Runs while a disarming could not be stored, until it is.
    QTimer TimStoreDisarm;

    void TimTaskTimer();
    void TimActivationDelayTimer();
    void TimActivationDelayFlashTimer();
    void TimTriggerDelayTimer();
    void TimTriggerDelayFlashTimer();
    void TimTempMuteTimer();
    void TimSimulationTimer();
    void TimLedSimTimer();
    void TimStoreDisarmTimer();

    // Where the alarm stands, for the services that follow it (sleep
    // inhibitor, tray, notifications, screen lock): Arming while the
    // activation delay runs.
    enum class ArmState
    {
        Disarmed,
        Arming,
        Armed
    };
    ArmState armState() const;

Q_SIGNALS:
    void armStateChanged(AlarmControl::ArmState state);
    // A trigger that ActivateAlarm accepts, told after its first sound (without
    // trigger delay) started and before its report line is written (which the
    // report may drop as a repeat).
    void alarmAccepted(const QString &message);
    // A trigger that ActivateAlarm accepted, emitted after its report line
    // was written.
    void alarmRaised(const QString &message);
    void ledChanged(AlarmControl::Led led, bool lit);
    void simulationFired();

private:
    template <typename E> static constexpr std::size_t Index(E e)
    {
        return static_cast<std::size_t>(e);
    }
    void SetLed(Led led, bool lit);
    // Stores the disarmed state, then removes the autostart entry; the entry
    // stays while the store cannot say disarmed. Throws RegistryError.
    void StoreDisarmed();
    static RegistryError AutostartWriteError();
    void EmitArmState();
    void ToggleLed(Led led) { SetLed(led, !ledLit(led)); }
    quint32 RandomBelowN(quint32 n) const;
    static int HookInt(const std::function<int()> &hook) { return hook ? hook() : 0; }
    bool IsPlaying() const { return m_hooks.isPlaying && m_hooks.isPlaying(); }

    ReportLog &m_report;
    Hooks m_hooks;
    TaskQueue m_tasks;
    std::array<int, SwitchCount> m_tags{};
    std::array<bool, 3> m_leds{};
    ArmState m_lastArmState = ArmState::Disarmed;
};
