#pragma once
// The alarm apart from its window: owns every part that is not a widget for
// the life of the process (audio engine, playback, report, detectors, alarm
// rules, disarm protection, session services, alerts, heartbeat, evidence)
// and wires them together. A window, the D-Bus face and the command line are
// views of it: they read its state, follow its signals and ask it to act.

#include "alarm/AlarmControl.h"
#include "alarm/ArmedReach.h"
#include "alarm/DisarmProtection.h"
#include "audio/AlarmPlayback.h"
#include "audio/AudioEngine.h"
#include "detect/ActivityMonitor.h"
#include "detect/MicrophoneMonitor.h"
#include "detect/MouseMonitor.h"
#include "evidence/EvidenceRecorder.h"
#include "guard/GuardSettings.h"
#include "report/ReportLog.h"

#include <QDateTime>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <future>
#include <memory>
#include <optional>

class ActivitySource;
class SessionLock;
class SinkGuard;
struct ReachServices;

class Guard : public QObject
{
    Q_OBJECT
public:
    // workingDirectory: where Sounds/ and Reports/ live; empty = beside the
    // executable (or the per-user data folder when that is not writable).
    // The audio devices start at once on a thread of their own.
    explicit Guard(const QString &workingDirectory = QString(), QObject *parent = nullptr);
    ~Guard() override;

    // Who asked for an arming or a disarming; the report names it.
    enum class Origin
    {
        Window,
        Tray,
        Desktop,     // D-Bus: a launcher action, a panel, a script
        CommandLine, // tarvo2 --arm / --disarm
        ScreenUnlock
    };
    // What a panel or a script sees.
    enum class State
    {
        Disarmed,
        WaitingForActivation,
        Armed,
        Alarm
    };
    static QString StateName(State state);
    enum class Led
    {
        Microphone,
        Mouse,
        Keyboard,
        ActivationDelay,
        TriggerDelay,
        Simulation,
        Camera,
        Usb,
        Network
    };

    // The start: takes the audio devices' answer, reads the stored switches,
    // settings and sounds, and starts the session services. Returns the text
    // of a fault that ends the program, empty when started.
    QString start();
    // The detectors and a stored armed state start here (the window's first
    // activation, or at once without a window).
    void activate();
    bool activated() const { return m_activated; }
    // Stops everything; the alarm switch keeps its stored state.
    void close();
    bool closed() const { return m_closed; }

    // -- acting on the alarm; each step may throw nothing: store faults come
    //    out as message(Error, ...)
    // Arms or disarms as the alarm button does (the PIN is the caller's).
    void toggleArm(Origin origin = Origin::Window);
    // Arming from outside is always allowed; empty, or why it cannot arm.
    QString arm(Origin origin);
    // Disarms, or asks a view for the PIN (pinRequested) when one is set.
    // Returns false when the PIN is needed.
    bool requestDisarm(Origin origin);
    // A PIN given from outside (the terminal): a wrong one counts like one
    // typed in the window. Returns whether it disarmed.
    bool disarmWithPin(const QString &pin, Origin origin);
    void escapeDisarm();
    // Arms once activated (a start with --arm); at once when it is.
    void armWhenActive(Origin origin);
    // Refused with a reason when nothing could sound (no detector, no sound).
    QString whyCannotArm() const;
    bool canArm() const { return whyCannotArm().isEmpty(); }
    void flipSwitch(AlarmControl::Switch which);
    // The recording of the microphone detector; byHand: the user asked,
    // and hears of a failure at once (else it is tried again).
    void startRecording(bool byHand = true);
    void stopRecording();
    void selectInput(int index);

    State state() const { return m_state; }
    QDateTime armedSince() const { return m_armedSince; }
    QString lastAlarmLine() const { return m_lastAlarmLine; }
    QStringList detectorsOn() const;
    // Why a detector cannot watch here (no udev, no netlink, no camera);
    // empty when it can. Its stored switch is kept for when it comes back.
    QString detectorUnavailable(AlarmControl::Switch which) const;

    // -- the parts
    QString workingDirectory() const { return m_workingDirectory; }
    QString soundsFolder() const { return m_workingDirectory + QStringLiteral("Sounds/"); }
    audio::AudioEngine &engine() { return m_engine; }
    AlarmPlayback &playback() { return m_playback; }
    ReportLog &report() { return m_report; }
    MicrophoneMonitor &microphone() { return m_microphone; }
    MouseMonitor &mouse() { return m_mouse; }
    AlarmControl &alarm() { return *m_alarm; }
    DisarmProtection &protection() { return *m_protection; }
    ArmedReach &armedReach() { return *m_armedReach; }
    ActivityMonitor &activity() { return *m_activity; }
    SessionLock &sessionLock() { return *m_sessionLock; }
    EvidenceRecorder &evidence() { return *m_evidence; }
    ReachServices *reach() { return m_reach.get(); }
    GuardSettings &settings() { return m_settings; }
    QStringList &checkedSounds() { return m_checkedSounds; }
    const SinkGuard *sinkGuard() const;   // null before start()
    const SinkGuard *sourceGuard() const; // the microphone's; null before start()
    quint32 randomBelow(quint32 n);
    // Plays one sound as the alarm does, with the alteration settings.
    void PlayHow(int slot, int speakerCode, const QString &path);

    // The checked sounds changed (the sound list is the window's).
    void soundsChanged();
    // Faults nobody asked for: the report while armed, a notification, and
    // a notice for whoever shows one.
    void tellFault(const QString &text);
    // Lines the alarm wants on the record as an alarm (stop notices).
    void reportAlarm(const QString &text);
    // The end of the program was asked for, in order (a signal, a logout).
    void tellStop(const QString &reason);

    enum class MessageKind
    {
        Error, // answers what the user did
        Plain,
        Notice // never waits for anyone
    };

Q_SIGNALS:
    void stateChanged(Guard::State state);
    // A switch changed (by the user, a machine default, a resume).
    void switchesChanged();
    void ledChanged(Guard::Led led, bool lit);
    void detectionGaugeChanged(int value);
    void durationGaugeChanged(int value);
    // The audio devices were taken (at start, or late once the server came).
    void audioDevicesChanged();
    void message(Guard::MessageKind kind, const QString &text);
    // A disarm from outside needs the PIN; a view asks for it.
    void pinRequested(Guard::Origin origin);
    // Tray and desktop ask to see the window, or to end the program.
    void showRequested();
    void exitRequested();

private:
    void wireSubsystems();
    void wireReach();
    void wireStopNotices();
    void wireSessionServices();
    void closeSessionServices();
    void wireEvidence();
    void wireActivity();
    void wireSensors();
    void closeSensors();
    void syncActivityDetectors();
    void takeUpLastRun();
    void warnIfNothingToPlay();
    void guarded(const std::function<void()> &step);
    void updateState();
    void onLevelReceived(quint32 level);
    void takeAudioDevices();
    void retryAudioDevices();
    static constexpr int AudioRetryMs = 3000;
    bool m_audioReady = false;
    QTimer m_recordRetry;
    static QString OriginText(Origin origin);

    QString m_workingDirectory;
    QRandomGenerator m_random;
    audio::AudioEngine m_engine;
    std::future<bool> m_audioStart;
    GuardSettings m_settings;
    AlarmPlayback m_playback{m_engine};
    ReportLog m_report;
    QStringList m_checkedSounds;
    MicrophoneMonitor m_microphone{m_engine};
    MouseMonitor m_mouse;
    std::unique_ptr<AlarmControl> m_alarm;
    std::unique_ptr<DisarmProtection> m_protection;
    std::unique_ptr<ArmedReach> m_armedReach;
    SessionLock *m_sessionLock = nullptr;
    std::unique_ptr<ActivitySource> m_activitySource;
    std::unique_ptr<ActivitySource> m_activityHint; // may be null
    std::unique_ptr<ActivityMonitor> m_activity;
    std::unique_ptr<EvidenceRecorder> m_evidence;
    std::unique_ptr<ReachServices> m_reach;
    struct SessionServices;
    SessionServices *m_session = nullptr;
    struct Sensors;
    Sensors *m_sensors = nullptr;
    bool m_activated = false;
    std::optional<Origin> m_armWhenActive;
    bool m_closed = false;
    bool m_keyboardNoticeShown = false;
    bool m_waylandWarningShown = false;
    State m_state = State::Disarmed;
    QDateTime m_armedSince;
    QString m_lastAlarmLine;
};
