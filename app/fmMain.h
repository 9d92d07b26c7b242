#pragma once
// The main window: a view of the guard. It builds the controls, forwards
// the user's actions to the guard and shows the guard's state; it owns no
// part of the alarm.

#include "alarm/AlarmControl.h"
#include "alarm/ArmedReach.h"
#include "alarm/DisarmProtection.h"
#include "desktop/SessionLock.h"
#include "guard/Guard.h"
#include "sounds/SoundLibrary.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class AfterFirstPaint;
class BackgroundClose;
class BackgroundPortal;
class LedShape;
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
    // A window of its own guard (tests, and a program without a guard of
    // its own): workingDirectory as the guard's; empty = the default folder.
    explicit TfrmMain(const QString &workingDirectory = QString(), QWidget *parent = nullptr);
    // A view of a guard that outlives it.
    explicit TfrmMain(Guard &guard, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The creation sequence. Returns false when a fatal check failed; its
    // message has been shown and the process is to end.
    bool FormCreate();
    void FormActivate();

    void KeyState();
    void DrawMicDetectBtnState();
    void DrawMouDetectBtnState();
    void DrawKeyDetectBtnState();
    // Camera, USB, network: disabled with the reason where they cannot watch.
    void DrawSensorBtnStates();
    void DrawSimBtnState();
    void DrawActivateBtnState();
    void FormKeyUp(int key);
    void LoadResetableSettings();
    void mnuResetSettingToDefaultClick();
    void RestoreFromMessage(const QByteArray &activationToken);
    // Exit (button, menu, tray): ends the program, after the PIN where one
    // is set; the window manager's close while guarding only hides.
    void ExitProgram();

    // Messages go through here so tests can capture them: Error and Plain
    // are boxes answering what the user did, Notice never waits for anyone.
    using MessageKind = Guard::MessageKind;
    using MessageSink = std::function<void(MessageKind, const QString &)>;
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // One of the notices (fmMainNotice.cpp): keys typed into one are not
    // the owner's.
    static bool isNotice(const QWidget *window);

    Guard &guard() { return m_guard; }
    // Work that waits until the window has been painted once.
    AfterFirstPaint &afterFirstPaint() { return *m_afterFirstPaint; }
    SoundLibrary &sounds() { return *m_sounds; }
    BackgroundPortal *backgroundPortal() { return m_backgroundPortal; }
    // The guard's parts, as the window's users knew them.
    QString workingDirectory() const { return m_guard.workingDirectory(); }
    AlarmControl &alarm() { return m_guard.alarm(); }
    AlarmPlayback &playback() { return m_guard.playback(); }
    ReportLog &report() { return m_guard.report(); }
    MicrophoneMonitor &microphone() { return m_guard.microphone(); }
    MouseMonitor &mouse() { return m_guard.mouse(); }
    ActivityMonitor &activity() { return m_guard.activity(); }
    DisarmProtection &protection() { return m_guard.protection(); }
    SessionLock &sessionLock() { return m_guard.sessionLock(); }
    EvidenceRecorder &evidence() { return m_guard.evidence(); }
    ReachServices *reach() { return m_guard.reach(); }
    const QStringList &checkedSounds() { return m_guard.checkedSounds(); }
    const SinkGuard *sinkGuard() const { return m_guard.sinkGuard(); }
    const SinkGuard *sourceGuard() const { return m_guard.sourceGuard(); }
    QString evidenceFolder() { return m_guard.evidence().folder().path(); }
    quint32 randomBelow(quint32 n) { return m_guard.randomBelow(n); }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void build();
    void buildActions();
    void buildMenus();
    void buildLayout();
    QWidget *buildTopBar();
    QWidget *buildInstructionStrip();
    QWidget *buildLeftColumn();
    QWidget *buildRightColumn();
    void buildDetectorExtras();
    QSlider *makeSlider(const char *name, int min, int max, int value, int tick);
    QSpinBox *makeSpin(const char *name, int min, int max, int value);
    QWidget *sliderRow(const QString &label, QSlider *slider, const QString &left,
                       const QString &right, const QString &middle = QString(),
                       QProgressBar *gauge = nullptr);
    QWidget *spinRow(const QString &label, QSpinBox *spin);
    void connectHandlers();
    void connectGuard();
    // Desktop look: readable text, accessible names, mnemonics, keyboard use.
    void applyDesktopLook();
    void applyKeyboardUse();
    void fitIntoScreen(); // content scrolls when the screen is too small
    // Options menu entries: the session switches, alerts, evidence,
    // calibration, disarm protection; `before` the menu's last group.
    void buildOptionsEntries();
    QAction *addOptionsAction(const QString &text, const char *name);

    void drawToggle(AlarmControl::Switch which, const QString &onPrefix, const QString &offPrefix,
                    const QString &suffix, int glyph, QAction *action);
    void showSettings();
    void showAudioDevices();

    void ActActivateToggleExecute();
    void ActMicDetectToggleExecute();
    void ActMouDetectToggleExecute();
    void ActKeyDetectToggleExecute();
    void ActSimToggleExecute();
    void cmbRecSourceChange();
    void speakerTest(int speakerCode);
    void mnuCalibrateMicrophoneClick();
    void FormClose();

    // Messages nobody asked for, and the road every message takes
    // (fmMainNotice.cpp).
    void showMessage(MessageKind kind, const QString &text);
    void showNotice(const QString &text);
    // Notices shown before the window (they have no parent) would keep the
    // program running once its window closed.
    void closeNotices();
    void showFatalMessage(const QString &text); // the program ends after it: nothing to hold up
    void tellStoreNotices();
    void wireNotices();

    // The PIN in front of guarded steps, and what an armed alarm holds
    // (fmMainProtect.cpp). True when the step waits for the PIN; retry runs
    // the step again once the right PIN was given.
    bool protectionHolds(DisarmProtection::Step step, std::function<void()> retry);
    bool closeHeldByProtection(QCloseEvent *event);
    void applyProtectionState();
    void wireArmedReach();
    void holdControl(ArmedReach::Place place, QObject *control, std::function<bool()> own = {});
    void holdDialog(ArmedReach::Place place, QDialog *dialog);
    void applyArmedReach();
    void wireBackgroundClose();
    bool hideToBackground(QCloseEvent *event);
    struct HeldControl
    {
        ArmedReach::Place place;
        QPointer<QObject> control;
        std::function<bool()> own;
    };

    std::unique_ptr<Guard> m_ownGuard; // a window of its own guard
    Guard &m_guard;
    std::unique_ptr<SoundLibrary> m_sounds;
    std::unique_ptr<SoundPrompts> m_soundPrompts;
    AfterFirstPaint *m_afterFirstPaint = nullptr;
    MessageSink m_messageSink;
    bool m_startupDone = false;
    bool m_activated = false;
    bool m_closed = false;
    QPointer<TfrmPinAsk> m_pinAsk;
    std::function<void()> m_pinRetry;
    bool m_pinGranted = false;
    QList<HeldControl> m_held;
    std::unique_ptr<BackgroundClose> m_backgroundClose;
    BackgroundPortal *m_backgroundPortal = nullptr;
    bool m_exitRequested = false;
    bool m_minimisedTold = false;
    bool m_showingGuardValues = false; // controls set from the guard's values

public:
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
    QAction *ActKeyDetectToggle = nullptr;
    QAction *ActCamDetectToggle = nullptr;
    QAction *ActUsbDetectToggle = nullptr;
    QAction *ActNetDetectToggle = nullptr;
    QAction *mnuCalibrateMicrophone = nullptr;
    QAction *mnuDisarmProtection = nullptr;
    QAction *mnuLid = nullptr;
    QAction *mnuPowerCable = nullptr;

    QLabel *Image1 = nullptr;
    QToolButton *btnMicDetect = nullptr;
    QToolButton *btnKeyDetect = nullptr;
    QToolButton *btnCamDetect = nullptr;
    QToolButton *btnUsbDetect = nullptr;
    QToolButton *btnNetDetect = nullptr;
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
    QSlider *trkCamSensitivity = nullptr;
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
    LedShape *shpLedKeyDetection = nullptr;
    LedShape *shpLedCamDetection = nullptr;
    LedShape *shpLedUsbDetection = nullptr;
    LedShape *shpLedNetDetection = nullptr;
    QLabel *lblRoomTooLoud = nullptr;
    LedShape *shpLedTriggerDelay = nullptr;
    LedShape *shpLedActivationDelay = nullptr;
    LedShape *shpLedSimulation = nullptr;
    QComboBox *cmbRecSource = nullptr;
    QFrame *Panel1 = nullptr;
    SoundListWidget *chklbSounds = nullptr;
    QMenu *popAlarmSounds = nullptr;
};
