#include "app/fmMain.h"
#include "app/AfterFirstPaint.h"
#include "app/BackgroundClose.h"
#include "app/fmMainReach.h"

#include "app/Glyphs.h"
#include "app/LedShape.h"
#include "app/gUtils.h"
#include "info/Links.h"
#include "report/fmReport.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"
#include "sounds/DefaultSounds.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

TfrmMain::TfrmMain(const QString &workingDirectory, QWidget *parent)
    : QMainWindow(parent),
      m_workingDirectory(workingDirectory.isEmpty()
                             ? WorkingDirectoryFor(QCoreApplication::applicationFilePath())
                             : workingDirectory),
      m_report(m_workingDirectory + QStringLiteral("Reports/"))
{
    setObjectName(QStringLiteral("frmMain"));
    // The sound library is loaded and the devices opened while the window
    // is built; FormCreate takes the outcome.
    m_audioStart = std::async(std::launch::async, [this] {
        if (audio::AudioEngine::interfaceVersion() != 2)
            return false;
        const bool started = m_engine.initCapture() && m_engine.initOutput(44100);
        audio::AudioEngine::releaseThreadState();
        return started;
    });
    // A long report takes a while to read, and reading it slows every
    // thread of the process: it is read once the window is on screen (or
    // at once when a line comes first).
    m_report.LoadAtFirstUse();
    m_afterFirstPaint = new AfterFirstPaint(this);
    m_afterFirstPaint->add([this] { m_report.ReadAhead(); });
    PaintGlyphsAhead(); // while the controls are built
    buildActions();
    buildMenus();
    buildLayout();

    AlarmControl::Hooks hooks;
    hooks.activationDelay = [this] { return spnActivationDelay->value(); };
    hooks.triggerDelay = [this] { return spnTriggerDelay->value(); };
    hooks.simulateEvery = [this] { return spnSimulateEvery->value(); };
    hooks.simulateRandom = [this] { return spnSimulateRandom->value(); };
    hooks.persistence = [this] { return trkPersistence->value(); };
    hooks.persistenceRandom = [this] { return trkPersistenceRandom->value(); };
    hooks.isPlaying = [this] { return m_playback.IsPlaying(); };
    hooks.stopSounds = [this] { m_playback.StopSounds(); };
    hooks.playHow = [this](int slot, int speaker, const QString &path) {
        PlayHow(slot, speaker, path);
    };
    hooks.prepareOutput = [this] { m_engine.prepareOutput(); };
    hooks.checkedSounds = [this] { return m_checkedSounds; };
    hooks.soundsFolder = [this] { return m_sounds->soundsFolder(); };
    hooks.resetMicrophoneCount = [this] {
        m_microphone.resetCount();
        ggDuration->setValue(0);
    };
    hooks.randomBelow = [this](quint32 n) { return randomBelow(n); };
    hooks.executablePath = QCoreApplication::applicationFilePath();
    m_alarm = std::make_unique<AlarmControl>(m_report, std::move(hooks), this);

    SoundLibrary::AudioControl audioControl;
    audioControl.stopSounds = [this] { m_playback.StopSounds(); };
    audioControl.pauseOutput = [this] { m_engine.stopOutput(); };
    audioControl.resumeOutput = [this] { m_engine.startOutput(); };
    m_sounds = std::make_unique<SoundLibrary>(chklbSounds, m_checkedSounds, m_workingDirectory,
                                              std::move(audioControl), this);

    connectHandlers();
    wireProtection();
    wireReach();
    wireBackgroundClose();
    wireEvidence();
    wireAudioDevices();
    wireActivityDetection();
    wireArmedReach();
    wireNotices();
    applyDesktopLook(); // last: it names and colours every control built above
    qApp->installEventFilter(this);
}

TfrmMain::~TfrmMain()
{
    qApp->removeEventFilter(this);
    if (!m_closed)
        FormClose();
}

quint32 TfrmMain::randomBelow(quint32 n)
{
    return n == 0 ? 0 : m_random.bounded(n);
}

void TfrmMain::connectHandlers()
{
    for (QSlider *slider :
         {trkMicTriggerVolume, trkMicTriggerDuration, trkMouseSensivity, trkAlarmVolume,
          trkGlobalAlteration, trkRandomAlteration, trkPersistence, trkPersistenceRandom})
        connect(slider, &QSlider::valueChanged, this, [this, slider] { trkTrackChange(slider); });
    for (QSpinBox *spin :
         {spnTriggerDelay, spnActivationDelay, spnSimulateEvery, spnSimulateRandom})
        connect(spin, &QSpinBox::textChanged, this,
                [this, spin](const QString &text) { spnSpinChange(spin, text); });
    connect(trkMicSensivity, &QSlider::valueChanged, this, [this](int position) {
        m_microphone.trkMicSensivityChange(position);
        trkMicSensivity->setToolTip(QString::number(position));
    });
    connect(cmbRecSource, &QComboBox::currentIndexChanged, this, &TfrmMain::cmbRecSourceChange);

    connect(ActActivateToggle, &QAction::triggered, this, &TfrmMain::ActActivateToggleExecute);
    connect(ActMicDetectToggle, &QAction::triggered, this, &TfrmMain::ActMicDetectToggleExecute);
    connect(ActMouDetectToggle, &QAction::triggered, this, &TfrmMain::ActMouDetectToggleExecute);
    connect(ActSimToggle, &QAction::triggered, this, &TfrmMain::ActSimToggleExecute);
    connect(ActViewReport, &QAction::triggered, this,
            [this] { ShowReportWindow(m_report.filePath(), this, evidenceFolder()); });

    SoundLibrary *sounds = m_sounds.get();
    connect(ActAddSound, &QAction::triggered, sounds, &SoundLibrary::ActAddSoundExecute);
    connect(ActRemoveSound, &QAction::triggered, sounds, &SoundLibrary::ActRemoveSoundExecute);
    connect(ActChkLbAlarmSndChecktAll, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(0); });
    connect(ActChkLbAlarmSndUnCheckAll, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(1); });
    connect(ActChkLbAlarmSndCheckInverse, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(2); });
    connect(sounds, &SoundLibrary::listChanged, this, &TfrmMain::KeyState);
    connect(sounds, &SoundLibrary::addSoundRequested, ActAddSound, &QAction::trigger);
    connect(sounds, &SoundLibrary::removeSoundRequested, ActRemoveSound, &QAction::trigger);

    connect(btnFrontRight, &QPushButton::clicked, this, [this] { speakerTest(0); });
    connect(btnFrontCenter, &QPushButton::clicked, this, [this] { speakerTest(1); });
    connect(btnFrontLeft, &QPushButton::clicked, this, [this] { speakerTest(2); });
    connect(btnTestStop, &QPushButton::clicked, this, [this] { m_playback.StopSounds(); });
    connect(btnSysVolumeControl, &QPushButton::clicked, this,
            [] { OpenSystemVolumeControl(false); });
    connect(btnSysRecordingControl, &QPushButton::clicked, this,
            [] { OpenSystemVolumeControl(true); });

    connect(&m_microphone, &MicrophoneMonitor::levelReceived, this, &TfrmMain::onLevelReceived);
    connect(&m_microphone, &MicrophoneMonitor::ledChanged, this,
            [this](bool lit) { shpLedMicDetection->setLit(lit); });
    connect(&m_microphone, &MicrophoneMonitor::captureLost, this, [this] {
        ggDetection->setValue(0);
        ggDuration->setValue(0);
    });
    m_mouse.setSensitivitySource([this] { return trkMouseSensivity->value(); });
    connect(&m_mouse, &MouseMonitor::detected, this,
            [this] { m_alarm->ActivateAlarm(QStringLiteral("Mouse detected")); });
    connect(&m_mouse, &MouseMonitor::ledChanged, this,
            [this](bool lit) { shpLedMouDetection->setLit(lit); });
    connect(m_alarm.get(), &AlarmControl::ledChanged, this,
            [this](AlarmControl::Led led, bool lit) {
                switch (led) {
                case AlarmControl::Led::ActivationDelay:
                    shpLedActivationDelay->setLit(lit);
                    break;
                case AlarmControl::Led::TriggerDelay:
                    shpLedTriggerDelay->setLit(lit);
                    break;
                case AlarmControl::Led::Simulation:
                    shpLedSimulation->setLit(lit);
                    break;
                }
            });
}

// ---------------------------------------------------------------- start-up

bool TfrmMain::FormCreate()
{
    // The application's title is its name, "Tarvo2"; a display name would
    // be appended to every box's title ("Error — Tarvo2").
    setWindowTitle(QStringLiteral("Tarvo2"));

    const bool audioStarted = m_audioStart.valid() && m_audioStart.get();
    if (audio::AudioEngine::interfaceVersion() != 2) {
        showFatalMessage(QStringLiteral("DLL was not loaded!"));
        return false;
    }
    if (!audioStarted) {
        m_engine.freeCapture();
        m_engine.freeOutput();
        showFatalMessage(QStringLiteral("Cannot start recording device!"));
        return false;
    }

    // The working directory was formed when the window was built; the drop
    // target is the sound list itself. Seed the one random generator.
    m_random.seed(quint32(QDateTime::currentMSecsSinceEpoch()));

    if (!m_microphone.SelectInput())
        showMessage(MessageKind::Plain, QStringLiteral("Microphone not found!"));
    {
        const QSignalBlocker blocker(cmbRecSource);
        cmbRecSource->clear();
        cmbRecSource->addItems(m_microphone.inputNames());
        cmbRecSource->setCurrentIndex(m_microphone.selectedInput());
    }
    cmbRecSourceChange(); // also when nothing is selected

    const AlarmPlayback::SpeakerButtons speakerButtons = m_playback.CheckNoOfSpeakers();
    Button4->setEnabled(speakerButtons.button4);
    Button5->setEnabled(speakerButtons.button5);
    Button8->setEnabled(speakerButtons.button8);
    Button3->setEnabled(speakerButtons.button3);
    Button6->setEnabled(speakerButtons.button6);

    m_alarm->tasks().clear();
    m_checkedSounds.clear();
    takeUpLastRun();

    m_alarm->ReadStoredSwitches();
    OfferDefaultSounds(m_sounds->soundsFolder(),
                       FindDefaultSoundsFolder(QCoreApplication::applicationFilePath(),
                                               QStringLiteral(TARVO2_SOUNDS_DIR)));
    ReadRegValueNames(StoreKeys::CheckedSounds, m_checkedSounds);
    LoadResetableSettings();
    m_sounds->FillSounds(QString());

    DrawMicDetectBtnState();
    DrawMouDetectBtnState();
    DrawSimBtnState();
    DrawKeyDetectBtnState();
    DrawActivateBtnState();
    m_alarm->TimTask.start(250);
    wireSessionServices();
    tellStoreNotices();
    return true;
}

void TfrmMain::FormActivate()
{
    if (m_activated || m_closed)
        return;
    m_activated = true;
    if (m_alarm->isOn(AlarmControl::Switch::Microphone)) {
        StopRecording();
        if (!m_microphone.isRecording())
            StartRecording();
    }
    if (m_alarm->isOn(AlarmControl::Switch::Mouse)) {
        m_mouse.TakeReference();
        m_mouse.Start();
    }
    if (m_alarm->isOn(AlarmControl::Switch::Simulation))
        m_alarm->StartSimulation();
    SyncActivityDetectors(); // keyboard, and the pointer where it cannot be read
    guarded([this] { m_alarm->ResumeStoredAlarm(); });
    if (m_alarm->isOn(AlarmControl::Switch::Alarm))
        KeyState();
    m_startupDone = true;
}

bool TfrmMain::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate) {
        FormActivate();
    } else if (event->type() == QEvent::Show && !m_activated) {
        // Some sessions never activate a new window (no window manager,
        // focus-stealing prevention); the detectors must start all the same.
        QTimer::singleShot(1000, this, &TfrmMain::FormActivate);
        if (QScreen *screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    return QMainWindow::event(event);
}

void TfrmMain::RestoreFromMessage(const QByteArray &activationToken)
{
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    if (isMinimized()) {
        showNormal();
    } else {
        show();
        raise();
    }
    activateWindow();
}

// ---------------------------------------------------------------- closing

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // Closing never disarms: the window manager's close while guarding
    // hides the window, Exit ends the program (after the PIN where one is set).
    if (hideToBackground(event) || closeHeldByProtection(event))
        return;
    // A window shown again after hiding ends the program when it closes.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    event->accept();
    closeNotices();
    FormClose();
}

void TfrmMain::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_audioStart.valid()) // closed before FormCreate took the answer
        m_audioStart.wait();
    closeSessionServices();
    SyncActivityDetectors();
    m_alarm->StopAllTimers();
    m_mouse.Stop();
    m_mouse.TimLedMou.stop();
    m_microphone.TimLedMic.stop();
    StopRecording();
    m_alarm->tasks().clear();
    m_engine.freeCapture();
    m_engine.freeOutput();
    m_engine.stopOutput();
}

// ---------------------------------------------------------------- control state

void TfrmMain::KeyState()
{
    using S = AlarmControl::Switch;
    const bool anyDetector = m_alarm->isOn(S::Microphone) || m_alarm->isOn(S::Mouse) ||
                             m_alarm->isOn(S::Simulation) || m_alarm->isOn(S::Keyboard);
    const bool anyChecked = !m_checkedSounds.isEmpty();
    const bool anyEntry = m_sounds->count() > 0;

    // The detector switches, the report view, the sound list, adding and
    // removing sounds and the speaker test are held while the switch is on.
    applyArmedReach();
    ActActivateToggle->setEnabled(anyDetector && anyChecked);
    ActChkLbAlarmSndChecktAll->setEnabled(anyEntry);
    ActChkLbAlarmSndUnCheckAll->setEnabled(anyEntry);
    ActChkLbAlarmSndCheckInverse->setEnabled(anyEntry);
}

void TfrmMain::DrawButton(const QPixmap &imagePair, QAction *action)
{
    action->setIcon(IconFromGlyphPair(imagePair));
}

void TfrmMain::drawToggle(AlarmControl::Switch which, const QString &onPrefix,
                          const QString &offPrefix, const QString &suffix, int glyph,
                          QAction *action)
{
    const int tag = m_alarm->tag(which);
    const QString hint = (tag == 1 ? onPrefix : offPrefix) + suffix;
    action->setToolTip(hint);
    action->setText(hint);
    DrawButton(ToggleImage(static_cast<ToggleGlyph>(glyph), tag == 1 ? 1 : 0), action);
}

void TfrmMain::DrawMicDetectBtnState()
{
    drawToggle(AlarmControl::Switch::Microphone, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Microphone Detection"), int(ToggleGlyph::Microphone),
               ActMicDetectToggle);
}

void TfrmMain::DrawMouDetectBtnState()
{
    drawToggle(AlarmControl::Switch::Mouse, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Mouse Detection"), int(ToggleGlyph::Mouse), ActMouDetectToggle);
}

void TfrmMain::DrawSimBtnState()
{
    drawToggle(AlarmControl::Switch::Simulation, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Alarm Simulation"), int(ToggleGlyph::Simulation), ActSimToggle);
}

void TfrmMain::DrawActivateBtnState()
{
    drawToggle(AlarmControl::Switch::Alarm, QStringLiteral("Stop"), QStringLiteral("Activate"),
               QStringLiteral(" Alarm"), int(ToggleGlyph::Activate), ActActivateToggle);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease) {
        auto *widget = qobject_cast<QWidget *>(watched);
        auto *key = static_cast<QKeyEvent *>(event);
        // Every control's keys reach the window first, so Escape disarms
        // whatever has the focus.
        // A release that propagates to parent widgets is seen more than once;
        // that is harmless, as the rule acts only while the alarm switch is on.
        if (widget && widget->window() == this && !key->isAutoRepeat())
            FormKeyUp(key->key());
    } else if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        OpenWebPage(ProductPageUrl(QString()));
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::FormKeyUp(int key)
{
    if (key != Qt::Key_Escape || !m_alarm->isOn(AlarmControl::Switch::Alarm))
        return;
    if (protectionHolds(DisarmProtection::Step::Disarm, [this, key] { FormKeyUp(key); }))
        return;
    guarded([this] { m_alarm->EscapeDisarm(); });
    DrawActivateBtnState();
    KeyState();
}

// ---------------------------------------------------------------- switches

void TfrmMain::ActActivateToggleExecute()
{
    if (m_alarm->isOn(AlarmControl::Switch::Alarm) &&
        protectionHolds(DisarmProtection::Step::Disarm, [this] { ActActivateToggleExecute(); }))
        return;
    guarded([this] { m_alarm->ActActivateToggleExecute(); });
    DrawActivateBtnState();
    KeyState();
}

void TfrmMain::ActMicDetectToggleExecute()
{
    using S = AlarmControl::Switch;
    m_alarm->FlipSwitch(S::Microphone);
    DrawMicDetectBtnState();
    KeyState();
    StopRecording();
    if (m_alarm->isOn(S::Microphone) && !m_microphone.isRecording())
        StartRecording();
    guarded([this] { m_alarm->StoreSwitch(AlarmControl::Switch::Microphone); });
}

void TfrmMain::ActMouDetectToggleExecute()
{
    using S = AlarmControl::Switch;
    m_alarm->FlipSwitch(S::Mouse);
    DrawMouDetectBtnState();
    KeyState();
    if (m_alarm->isOn(S::Mouse)) {
        m_mouse.TakeReference();
        m_mouse.Start();
    } else {
        m_mouse.Stop();
    }
    SyncActivityDetectors();
    guarded([this] { m_alarm->StoreSwitch(AlarmControl::Switch::Mouse); });
}

void TfrmMain::ActSimToggleExecute()
{
    using S = AlarmControl::Switch;
    m_alarm->FlipSwitch(S::Simulation);
    DrawSimBtnState();
    KeyState();
    if (m_alarm->isOn(S::Simulation))
        m_alarm->StartSimulation();
    else
        m_alarm->StopSimulation();
    guarded([this] { m_alarm->StoreSwitch(AlarmControl::Switch::Simulation); });
}

// ---------------------------------------------------------------- microphone

void TfrmMain::cmbRecSourceChange()
{
    m_microphone.cmbRecSourceChange(cmbRecSource->currentIndex());
    trkMicSensivity->setValue(m_microphone.inputLevel());
}

void TfrmMain::StartRecording()
{
    if (!m_microphone.StartRecording())
        showMessage(MessageKind::Error, QStringLiteral("Couldn't start recording!"));
}

void TfrmMain::StopRecording()
{
    m_microphone.StopRecording();
    m_playback.StopSounds();
    m_alarm->TimTempMute.stop();
    ggDetection->setValue(0);
    ggDuration->setValue(0);
}

void TfrmMain::onLevelReceived(quint32 level)
{
    const MicrophoneMonitor::LevelResult result = m_microphone.CheckLevel(
        level, trkMicTriggerVolume->value(), trkMicTriggerDuration->value());
    if (result.triggered)
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
    ggDetection->setValue(result.detectionGauge);
    ggDuration->setValue(result.durationGauge);
}

// ---------------------------------------------------------------- playback

void TfrmMain::PlayHow(int slot, int speakerCode, const QString &path)
{
    const AlarmPlayback::Alteration alteration{
        trkAlarmVolume->value(), trkGlobalAlteration->value(), trkRandomAlteration->value(),
        trkRandomAlteration->maximum()};
    m_playback.PlayHow(slot, speakerCode, path, alteration,
                       [this](quint32 n) { return randomBelow(n); });
}

void TfrmMain::speakerTest(int speakerCode)
{
    if (m_sounds->count() == 0 || !m_sounds->hasSelection())
        return;
    m_playback.StopSounds();
    PlayHow(0, speakerCode, m_sounds->soundsFolder() + m_sounds->selectedSoundName());
}

// ---------------------------------------------------------------- helpers

void TfrmMain::guarded(const std::function<void()> &step)
{
    try {
        step();
    } catch (const RegistryError &error) {
        showMessage(MessageKind::Error, error.message());
    }
}
