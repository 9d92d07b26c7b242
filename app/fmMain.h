#pragma once
// The main window: owns every subsystem object for the life of the process,
// builds the controls, and wires widgets, timers and signals to the
// subsystems' rules.

#include "alarm/AlarmControl.h"
#include "alarm/ArmedReach.h"
#include "alarm/DisarmProtection.h"
#include "audio/AlarmPlayback.h"
#include "audio/AudioEngine.h"
#include "desktop/SessionLock.h"
#include "detect/ActivityMonitor.h"
#include "detect/MicrophoneMonitor.h"
#include "detect/MouseMonitor.h"
#include "evidence/EvidenceRecorder.h"
#include "report/ReportLog.h"
#include "sounds/SoundLibrary.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QRandomGenerator>
#include <functional>
#include <future>
#include <memory>

class AfterFirstPaint;
class BackgroundClose;
class BackgroundPortal;
class LedShape;
struct ReachServices;
class SinkGuard;
class QComboBox;
class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;
class TfrmPinAsk;

class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    // workingDirectory: where Sounds/ and Reports/ live; empty = beside the
    // executable (or the per-user data folder when that is not writable).
    explicit TfrmMain(const QString &workingDirectory = QString(), QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The creation sequence. Returns false when a fatal check failed; its
    // message has been shown and the process is to end.
    bool FormCreate();
    void FormActivate();

    void KeyState();
    void DrawMicDetectBtnState();
    void DrawMouDetectBtnState();
    void DrawSimBtnState();
    void DrawActivateBtnState();
    void FormKeyUp(int key);
    void LoadResetableSettings();
    void mnuResetSettingToDefaultClick();
    void RestoreFromMessage(const QByteArray &activationToken);

    // Messages go through here so tests can capture them: Error and Plain
    // are boxes answering what the user did, Notice never waits for anyone.
    enum class MessageKind
    {
        Error,
        Plain,
        Notice
    };
    using MessageSink = std::function<void(MessageKind, const QString &)>;
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // One of the notices above (fmMainNotice.cpp): keys typed into one are
    // not the owner's.
    static bool isNotice(const QWidget *window);

    QString workingDirectory() const { return m_workingDirectory; }
    // Work that waits until the window has been painted once.
    AfterFirstPaint &afterFirstPaint() { return *m_afterFirstPaint; }
    AlarmControl &alarm() { return *m_alarm; }
    SoundLibrary &sounds() { return *m_sounds; }
    AlarmPlayback &playback() { return m_playback; }
    ReportLog &report() { return m_report; }
    MicrophoneMonitor &microphone() { return m_microphone; }
    MouseMonitor &mouse() { return m_mouse; }
    const QStringList &checkedSounds() const { return m_checkedSounds; }
    quint32 randomBelow(quint32 n);
    DisarmProtection &protection() { return *m_protection; }
    SessionLock &sessionLock() { return *m_sessionLock; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildActions();
    void buildMenus();
    void buildLayout();
    QWidget *buildTopBar();
    QWidget *buildInstructionStrip();
    QWidget *buildLeftColumn();
    QWidget *buildRightColumn();
    QSlider *makeSlider(const char *name, int min, int max, int value, int tick);
    QSpinBox *makeSpin(const char *name, int min, int max, int value);
    QWidget *sliderRow(const QString &label, QSlider *slider, const QString &left,
                       const QString &right, const QString &middle = QString(),
                       QProgressBar *gauge = nullptr);
    QWidget *spinRow(const QString &label, QSpinBox *spin);
    void connectHandlers();
    // Desktop look: readable text, accessible names, mnemonics (fmMainDesktop.cpp).
    void applyDesktopLook();
    // Focus ring, Tab order, menu mnemonics (fmMainKeyboard.cpp).
    void applyKeyboardUse();
    void fitIntoScreen(); // content scrolls when the screen is too small
    // Audio device loss and return (fmMainAudio.cpp).
    void wireAudioDevices();

    void DrawButton(const QPixmap &imagePair, QAction *action);
    void drawToggle(AlarmControl::Switch which, const QString &onPrefix, const QString &offPrefix,
                    const QString &suffix, int glyph, QAction *action);

    void trkTrackChange(QSlider *slider);
    void spnSpinChange(QSpinBox *spin, const QString &text);

    void ActActivateToggleExecute();
    void ActMicDetectToggleExecute();
    void ActMouDetectToggleExecute();
    void ActSimToggleExecute();
    void cmbRecSourceChange();
    void StartRecording();
    void StopRecording();
    void onLevelReceived(quint32 level);
    void speakerTest(int speakerCode);
    void PlayHow(int slot, int speakerCode, const QString &path);
    void FormClose();

    void guarded(const std::function<void()> &step);
    // Messages nobody asked for, and the road every message takes
    // (fmMainNotice.cpp).
    void showMessage(MessageKind kind, const QString &text);
    void showNotice(const QString &text);
    // Notices shown before the window (they have no parent) would keep the
    // program running once its window closed.
    void closeNotices();
    void tellFault(const QString &text);
    void showFatalMessage(const QString &text); // the program ends after it: nothing to hold up
    void wireNotices();
    void tellStoreNotices();
    void warnIfNothingToPlay();
    std::unique_ptr<SoundPrompts> m_soundPrompts;
    bool m_startupDone = false;

    QString m_workingDirectory;
    QRandomGenerator m_random;
    audio::AudioEngine m_engine;
    // The audio devices start on a thread of their own while the window is
    // built (the sound server may take a while to answer); FormCreate waits
    // for the answer. Nothing else touches the engine before that.
    std::future<bool> m_audioStart;
    AfterFirstPaint *m_afterFirstPaint = nullptr; // work that waits for the first paint
    AlarmPlayback m_playback{m_engine};
    ReportLog m_report;
    QStringList m_checkedSounds;
    MicrophoneMonitor m_microphone{m_engine};
    MouseMonitor m_mouse;
    std::unique_ptr<AlarmControl> m_alarm;
    std::unique_ptr<SoundLibrary> m_sounds;
    MessageSink m_messageSink;
    bool m_activated = false;
    bool m_closed = false;
    bool m_waylandWarningShown = false;

    // Disarm protection (fmMainProtect.cpp).
    void wireProtection();
    void applyProtectionState();
    // True when the step waits for the PIN; retry runs the step again once
    // the right PIN was given.
    bool protectionHolds(DisarmProtection::Step step, std::function<void()> retry);
    bool closeHeldByProtection(QCloseEvent *event);
    std::unique_ptr<DisarmProtection> m_protection;
    SessionLock *m_sessionLock = nullptr;
    QPointer<TfrmPinAsk> m_pinAsk;
    std::function<void()> m_pinRetry;
    bool m_pinGranted = false;
    QAction *mnuDisarmProtection = nullptr;
    // What an armed alarm holds (fmMainHold.cpp): a control is enabled while
    // its place is reachable and its own condition, if any, holds; a dialog
    // closes when its place is held.
    void wireArmedReach();
    void holdControl(ArmedReach::Place place, QObject *control, std::function<bool()> own = {});
    void holdDialog(ArmedReach::Place place, QDialog *dialog);
    void applyArmedReach();
    struct HeldControl
    {
        ArmedReach::Place place;
        QPointer<QObject> control;
        std::function<bool()> own;
    };
    std::unique_ptr<ArmedReach> m_armedReach;
    QList<HeldControl> m_held;
    // Tray, notifications, remote alerts and journal (fmMainReach.cpp).
    void wireReach();
    std::unique_ptr<ReachServices> m_reach;
    // Heartbeat, armed marker and stop notices (fmMainStop.cpp).
    void wireStopNotices();
    void tellStop(const QString &reason);
    // Start-up: what the last run left (a queue set aside, an armed marker).
    void takeUpLastRun();
    // Writes an alarm-priority line that goes out as an alert even when the
    // report drops it as a repeat.
    void reportAlarm(const QString &text);
    // Sleep inhibitor, lid, power cable and sink guard (fmMainSession.cpp).
    struct SessionServices;
    SessionServices *m_session = nullptr;
    void wireSessionServices();
    void closeSessionServices();
    // Input activity (keyboard; the pointer where its position cannot be
    // read), the room-level line and the gauges: app/fmMainActivity.cpp.
    void wireActivityDetection();
    void DrawKeyDetectBtnState();
    void ActKeyDetectToggleExecute();
    void SyncActivityDetectors();
    void CheckRoomLevel();
    void wireCalibration();
    void mnuCalibrateMicrophoneClick();
    std::unique_ptr<ActivitySource> m_activitySource;
    std::unique_ptr<ActivityMonitor> m_activity;
    QElapsedTimer m_roomTooLoud;
    bool m_keyboardNoticeShown = false;

public:
    ActivityMonitor &activity() { return *m_activity; }
    QAction *ActKeyDetectToggle = nullptr;
    QToolButton *btnKeyDetect = nullptr;
    LedShape *shpLedKeyDetection = nullptr;
    QLabel *lblRoomTooLoud = nullptr;
    QAction *mnuCalibrateMicrophone = nullptr;

public:
    const SinkGuard *sinkGuard() const;   // null before FormCreate
    const SinkGuard *sourceGuard() const; // the microphone's; null before FormCreate
    // Exit (button, menu, tray): ends the program, after the PIN where one
    // is set; the window manager's close while guarding only hides
    // (fmMainClose.cpp).
    void ExitProgram();
    BackgroundPortal *backgroundPortal() { return m_backgroundPortal; }

private:
    void wireBackgroundClose();
    bool hideToBackground(QCloseEvent *event);
    std::unique_ptr<BackgroundClose> m_backgroundClose;
    BackgroundPortal *m_backgroundPortal = nullptr;
    bool m_exitRequested = false;

public:
    // The alarm's pictures (fmMainEvidence.cpp).
    EvidenceRecorder &evidence() { return *m_evidence; }
    QString evidenceFolder() const;

private:
    void wireEvidence();
    // A new entry of the Options menu, above its last group.
    QAction *addOptionsAction(const QString &text, const char *name);
    std::unique_ptr<EvidenceRecorder> m_evidence;

public:
    ReachServices *reach() { return m_reach.get(); }
    // Controls, named as in the rest of the program.
    QAction *ActActivateToggle = nullptr;
    QAction *ActMicDetectToggle = nullptr;
    QAction *ActMouDetectToggle = nullptr;
    QAction *ActSimToggle = nullptr;
    QAction *ActViewReport = nullptr;
    QAction *ActAddSound = nullptr;
    QAction *ActRemoveSound = nullptr;
    QAction *ActChkLbAlarmSndChecktAll = nullptr;
    QAction *ActChkLbAlarmSndUnCheckAll = nullptr;
    QAction *ActChkLbAlarmSndCheckInverse = nullptr;
    QAction *mnuResetSettingToDefault = nullptr;
    QAction *Exit2 = nullptr;

    QLabel *Image1 = nullptr;
    QToolButton *btnMicDetect = nullptr;
    QToolButton *btnMouDetect = nullptr;
    QToolButton *btnSimulation = nullptr;
    QToolButton *btnActivate = nullptr;
    QToolButton *btnReport = nullptr;
    QToolButton *btnAddSound = nullptr;
    QToolButton *btnRemoveSound = nullptr;
    QPushButton *btnSysVolumeControl = nullptr;
    QPushButton *btnSysRecordingControl = nullptr;
    QPushButton *btnFrontLeft = nullptr;
    QPushButton *btnFrontCenter = nullptr;
    QPushButton *btnFrontRight = nullptr;
    QPushButton *btnTestStop = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *Button4 = nullptr;
    QPushButton *Button5 = nullptr;
    QPushButton *Button6 = nullptr;
    QPushButton *Button8 = nullptr;
    QPushButton *btnExit = nullptr;

    QSlider *trkMicTriggerVolume = nullptr;
    QSlider *trkMicTriggerDuration = nullptr;
    QSlider *trkMouseSensivity = nullptr;
    QSlider *trkAlarmVolume = nullptr;
    QSlider *trkGlobalAlteration = nullptr;
    QSlider *trkRandomAlteration = nullptr;
    QSlider *trkPersistence = nullptr;
    QSlider *trkPersistenceRandom = nullptr;
    QSlider *trkMicSensivity = nullptr;
    QSpinBox *spnTriggerDelay = nullptr;
    QSpinBox *spnActivationDelay = nullptr;
    QSpinBox *spnSimulateEvery = nullptr;
    QSpinBox *spnSimulateRandom = nullptr;
    QProgressBar *ggDetection = nullptr;
    QProgressBar *ggDuration = nullptr;
    LedShape *shpLedMicDetection = nullptr;
    LedShape *shpLedMouDetection = nullptr;
    LedShape *shpLedTriggerDelay = nullptr;
    LedShape *shpLedActivationDelay = nullptr;
    LedShape *shpLedSimulation = nullptr;
    QComboBox *cmbRecSource = nullptr;
    QFrame *Panel1 = nullptr;
    SoundListWidget *chklbSounds = nullptr;
    QMenu *popAlarmSounds = nullptr;
};
