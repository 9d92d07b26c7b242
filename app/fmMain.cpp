#include "app/fmMain.h"
#include "app/AfterFirstPaint.h"
#include "app/BackgroundClose.h"

#include "app/Glyphs.h"
#include "app/LedShape.h"
#include "app/OwnKeyWatch.h"
#include "app/dlgCalibrate.h"
#include "app/fmAlerts.h"
#include "app/fmEvidence.h"
#include "app/fmProtection.h"
#include "app/gUtils.h"
#include "guard/ReachServices.h"
#include "info/Links.h"
#include "report/fmReport.h"
#include "settings/gRegistry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

TfrmMain::TfrmMain(const QString &workingDirectory, QWidget *parent)
    : QMainWindow(parent),
      m_ownGuard(std::make_unique<Guard>(
          workingDirectory.isEmpty() ? WorkingDirectoryFor(QCoreApplication::applicationFilePath())
                                     : workingDirectory)),
      m_guard(*m_ownGuard)
{
    build();
}

TfrmMain::TfrmMain(Guard &guard, QWidget *parent) : QMainWindow(parent), m_guard(guard)
{
    build();
}

void TfrmMain::build()
{
    setObjectName(QStringLiteral("frmMain"));
    m_afterFirstPaint = new AfterFirstPaint(this);
    m_afterFirstPaint->add([this] {
        m_guard.report().ReadAhead();
        // Following the network asks the system bus: not before the window shows.
        if (m_guard.reach())
            m_guard.reach()->sender.watchNetwork();
    });
    PaintGlyphsAhead(); // while the controls are built
    buildActions();
    buildMenus();
    buildLayout();
    buildDetectorExtras();

    SoundLibrary::AudioControl audioControl;
    audioControl.stopSounds = [this] { m_guard.playback().StopSounds(); };
    audioControl.pauseOutput = [this] { m_guard.engine().stopOutput(); };
    audioControl.resumeOutput = [this] { m_guard.engine().startOutput(); };
    m_sounds = std::make_unique<SoundLibrary>(chklbSounds, m_guard.checkedSounds(),
                                              m_guard.workingDirectory(), std::move(audioControl),
                                              this);
    WatchOwnKeys(m_guard.activity(), this);

    connectHandlers();
    connectGuard();
    wireNotices();
    buildOptionsEntries();
    wireBackgroundClose();
    wireArmedReach();
    applyDesktopLook(); // last: it names and colours every control built above
    qApp->installEventFilter(this);
}

TfrmMain::~TfrmMain()
{
    qApp->removeEventFilter(this);
    if (!m_closed)
        FormClose();
}

void TfrmMain::connectHandlers()
{
    GuardSettings &settings = m_guard.settings();
    for (QSlider *slider : centralWidget()->findChildren<QSlider *>())
        connect(slider, &QSlider::valueChanged, this, [this, slider](int value) {
            slider->setToolTip(QString::number(value));
            if (m_showingGuardValues)
                return; // the guard has it already
            try {
                m_guard.settings().setValue(slider->objectName(), value);
            } catch (const RegistryError &error) {
                showMessage(MessageKind::Error, error.message());
            }
        });
    for (QSpinBox *spin : centralWidget()->findChildren<QSpinBox *>())
        connect(spin, &QSpinBox::textChanged, this, [this, spin](const QString &text) {
            // While the text is not a number (an emptied field) the field
            // still holds its previous value, shown again when editing ends.
            bool ok = false;
            const int value = text.trimmed().toInt(&ok);
            if (!ok || m_showingGuardValues)
                return;
            try {
                m_guard.settings().setValue(spin->objectName(), value);
            } catch (const RegistryError &error) {
                showMessage(MessageKind::Error, error.message());
            }
        });
    // The guard's values shown: loaded, reset, calibrated.
    connect(&settings, &GuardSettings::valueChanged, this, [this](const QString &name, int value) {
        const QScopedValueRollback showing(m_showingGuardValues, true);
        if (auto *slider = centralWidget()->findChild<QSlider *>(name))
            slider->setValue(value);
        else if (auto *spin = centralWidget()->findChild<QSpinBox *>(name))
            spin->setValue(value);
    });
    connect(cmbRecSource, &QComboBox::currentIndexChanged, this, &TfrmMain::cmbRecSourceChange);

    connect(ActActivateToggle, &QAction::triggered, this, &TfrmMain::ActActivateToggleExecute);
    connect(ActMicDetectToggle, &QAction::triggered, this, &TfrmMain::ActMicDetectToggleExecute);
    connect(ActMouDetectToggle, &QAction::triggered, this, &TfrmMain::ActMouDetectToggleExecute);
    connect(ActKeyDetectToggle, &QAction::triggered, this, &TfrmMain::ActKeyDetectToggleExecute);
    connect(ActSimToggle, &QAction::triggered, this, &TfrmMain::ActSimToggleExecute);
    using S = AlarmControl::Switch;
    for (auto [action, which] : {std::pair{ActCamDetectToggle, S::Camera},
                                 std::pair{ActUsbDetectToggle, S::Usb},
                                 std::pair{ActNetDetectToggle, S::Network}})
        connect(action, &QAction::triggered, this,
                [this, which = which] { m_guard.flipSwitch(which); });
    connect(ActViewReport, &QAction::triggered, this, [this] {
        ShowReportWindow(m_guard.report().filePath(), this, evidenceFolder());
    });

    SoundLibrary *sounds = m_sounds.get();
    connect(ActAddSound, &QAction::triggered, sounds, &SoundLibrary::ActAddSoundExecute);
    connect(ActRemoveSound, &QAction::triggered, sounds, &SoundLibrary::ActRemoveSoundExecute);
    connect(ActChkLbAlarmSndChecktAll, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(0); });
    connect(ActChkLbAlarmSndUnCheckAll, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(1); });
    connect(ActChkLbAlarmSndCheckInverse, &QAction::triggered, sounds,
            [sounds] { sounds->CheckingCheckList(2); });
    connect(sounds, &SoundLibrary::listChanged, this, [this] {
        m_guard.soundsChanged();
        KeyState();
    });
    connect(sounds, &SoundLibrary::addSoundRequested, ActAddSound, &QAction::trigger);
    connect(sounds, &SoundLibrary::removeSoundRequested, ActRemoveSound, &QAction::trigger);

    connect(btnFrontRight, &QPushButton::clicked, this, [this] { speakerTest(0); });
    connect(btnFrontCenter, &QPushButton::clicked, this, [this] { speakerTest(1); });
    connect(btnFrontLeft, &QPushButton::clicked, this, [this] { speakerTest(2); });
    connect(btnTestStop, &QPushButton::clicked, this,
            [this] { m_guard.playback().StopSounds(); });
    for (const bool recording : {false, true}) {
        // Without a mixer the window says so, never in a box that waits.
        connect(recording ? btnSysRecordingControl : btnSysVolumeControl, &QPushButton::clicked,
                this, [this, recording] {
                    if (const QString why = OpenSystemVolumeControl(recording); !why.isEmpty())
                        showNotice(why);
                });
    }
    connect(btnExit, &QPushButton::clicked, this, &TfrmMain::ExitProgram);
    connect(Exit2, &QAction::triggered, this, &TfrmMain::ExitProgram);
    // QProgressBar repaints only changes of at least one chunk; the gauges
    // must show every value.
    for (QProgressBar *gauge : {ggDetection, ggDuration})
        connect(gauge, &QProgressBar::valueChanged, gauge, qOverload<>(&QWidget::update));
}

void TfrmMain::connectGuard()
{
    Guard *guard = &m_guard;
    connect(guard, &Guard::message, this, [this](MessageKind kind, const QString &text) {
        if (kind == MessageKind::Notice)
            showNotice(text);
        else
            showMessage(kind, text);
    });
    connect(guard, &Guard::ledChanged, this, [this](Guard::Led led, bool lit) {
        LedShape *const leds[] = {shpLedMicDetection,    shpLedMouDetection, shpLedKeyDetection,
                                  shpLedActivationDelay, shpLedTriggerDelay, shpLedSimulation,
                                  shpLedCamDetection,    shpLedUsbDetection, shpLedNetDetection};
        leds[int(led)]->setLit(lit);
    });
    connect(guard, &Guard::detectionGaugeChanged, ggDetection, &QProgressBar::setValue);
    connect(guard, &Guard::durationGaugeChanged, ggDuration, &QProgressBar::setValue);
    connect(guard, &Guard::switchesChanged, this, [this] {
        DrawMicDetectBtnState();
        DrawMouDetectBtnState();
        DrawKeyDetectBtnState();
        DrawSimBtnState();
        DrawSensorBtnStates();
        DrawActivateBtnState();
        for (QAction *action : {mnuLid, mnuPowerCable})
            if (action)
                action->setChecked(m_guard.alarm().isOn(
                    action == mnuLid ? AlarmControl::Switch::Lid : AlarmControl::Switch::PowerCable));
        KeyState();
    });
    connect(&guard->alarm(), &AlarmControl::armStateChanged, this, [this] {
        applyProtectionState();
        DrawActivateBtnState();
        KeyState();
    });
    connect(guard, &Guard::pinRequested, this, [this] {
        protectionHolds(DisarmProtection::Step::Disarm, [this] {
            m_guard.toggleArm(Guard::Origin::Window);
        });
    });
    // Devices taken late (the sound server came after the start).
    connect(guard, &Guard::audioDevicesChanged, this, [this] {
        if (m_startupDone)
            showAudioDevices();
    });
    connect(guard, &Guard::showRequested, this, [this] { RestoreFromMessage(QByteArray()); });
    connect(guard, &Guard::exitRequested, this, &TfrmMain::ExitProgram);
}

// ---------------------------------------------------------------- start-up

bool TfrmMain::FormCreate()
{
    // The application's title is its name, "Tarvo2"; a display name would
    // be appended to every box's title ("Error — Tarvo2").
    setWindowTitle(QStringLiteral("Tarvo2"));
    const QString fatal = m_guard.start();
    if (!fatal.isEmpty()) {
        showFatalMessage(fatal);
        return false;
    }
    showAudioDevices();
    showSettings();
    m_sounds->FillSounds(QString());
    Q_EMIT m_guard.switchesChanged();
    tellStoreNotices();
    return true;
}

void TfrmMain::FormActivate()
{
    if (m_activated || m_closed)
        return;
    m_activated = true;
    m_guard.activate();
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
    m_guard.close();
}

// ---------------------------------------------------------------- control state

void TfrmMain::KeyState()
{
    const bool anyEntry = m_sounds->count() > 0;
    // The detector switches, the report view, the sound list, adding and
    // removing sounds and the speaker test are held while the switch is on.
    applyArmedReach();
    ActActivateToggle->setEnabled(m_guard.canArm());
    ActChkLbAlarmSndChecktAll->setEnabled(anyEntry);
    ActChkLbAlarmSndUnCheckAll->setEnabled(anyEntry);
    ActChkLbAlarmSndCheckInverse->setEnabled(anyEntry);
}

void TfrmMain::drawToggle(AlarmControl::Switch which, const QString &onPrefix,
                          const QString &offPrefix, const QString &suffix, int glyph,
                          QAction *action)
{
    const int tag = m_guard.alarm().tag(which);
    const QString hint = (tag == 1 ? onPrefix : offPrefix) + suffix;
    action->setToolTip(hint);
    action->setText(hint);
    action->setIcon(IconFromGlyphPair(ToggleImage(static_cast<ToggleGlyph>(glyph), tag == 1 ? 1 : 0)));
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
    const QString why = m_guard.detectorUnavailable(AlarmControl::Switch::Mouse);
    ActMouDetectToggle->setProperty("unavailable", !why.isEmpty());
    if (!why.isEmpty())
        ActMouDetectToggle->setToolTip(QStringLiteral("Mouse Detection not available: ") + why);
}

void TfrmMain::DrawKeyDetectBtnState()
{
    drawToggle(AlarmControl::Switch::Keyboard, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Keyboard Detection"), int(ToggleGlyph::Keyboard),
               ActKeyDetectToggle);
}

void TfrmMain::DrawSensorBtnStates()
{
    using S = AlarmControl::Switch;
    const std::tuple<S, const char *, ToggleGlyph, QAction *> sensors[] = {
        {S::Camera, " Camera Detection", ToggleGlyph::Camera, ActCamDetectToggle},
        {S::Usb, " USB Detection", ToggleGlyph::Usb, ActUsbDetectToggle},
        {S::Network, " Network Detection", ToggleGlyph::Network, ActNetDetectToggle}};
    for (const auto &[which, suffix, glyph, action] : sensors) {
        drawToggle(which, QStringLiteral("Disable"), QStringLiteral("Use"),
                   QString::fromLatin1(suffix), int(glyph), action);
        const QString why = m_guard.detectorUnavailable(which);
        action->setProperty("unavailable", !why.isEmpty());
        if (!why.isEmpty())
            action->setToolTip(QString::fromLatin1(suffix).trimmed() +
                               QStringLiteral(" not available: ") + why);
    }
    applyArmedReach();
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
    if (key != Qt::Key_Escape || !m_guard.alarm().isOn(AlarmControl::Switch::Alarm))
        return;
    if (protectionHolds(DisarmProtection::Step::Disarm, [this, key] { FormKeyUp(key); }))
        return;
    m_guard.escapeDisarm();
}

// ---------------------------------------------------------------- switches

void TfrmMain::ActActivateToggleExecute()
{
    if (m_guard.alarm().isOn(AlarmControl::Switch::Alarm) &&
        protectionHolds(DisarmProtection::Step::Disarm, [this] { ActActivateToggleExecute(); }))
        return;
    m_guard.toggleArm(Guard::Origin::Window);
}

void TfrmMain::ActMicDetectToggleExecute()
{
    m_guard.flipSwitch(AlarmControl::Switch::Microphone);
}

void TfrmMain::ActMouDetectToggleExecute()
{
    m_guard.flipSwitch(AlarmControl::Switch::Mouse);
}

void TfrmMain::ActKeyDetectToggleExecute()
{
    m_guard.flipSwitch(AlarmControl::Switch::Keyboard);
}

void TfrmMain::ActSimToggleExecute()
{
    m_guard.flipSwitch(AlarmControl::Switch::Simulation);
}

void TfrmMain::cmbRecSourceChange()
{
    m_guard.selectInput(cmbRecSource->currentIndex());
}

void TfrmMain::speakerTest(int speakerCode)
{
    if (m_sounds->count() == 0 || !m_sounds->hasSelection())
        return;
    m_guard.playback().StopSounds();
    m_guard.PlayHow(0, speakerCode, m_sounds->soundsFolder() + m_sounds->selectedSoundName());
}

// ---------------------------------------------------------------- settings

void TfrmMain::showAudioDevices()
{
    {
        const QSignalBlocker blocker(cmbRecSource);
        cmbRecSource->clear();
        cmbRecSource->addItems(m_guard.microphone().inputNames());
        cmbRecSource->setCurrentIndex(m_guard.microphone().selectedInput());
    }
    const AlarmPlayback::SpeakerButtons speakerButtons = m_guard.playback().CheckNoOfSpeakers();
    Button4->setEnabled(speakerButtons.button4);
    Button5->setEnabled(speakerButtons.button5);
    Button8->setEnabled(speakerButtons.button8);
    Button3->setEnabled(speakerButtons.button3);
    Button6->setEnabled(speakerButtons.button6);
}

void TfrmMain::showSettings()
{
    const QScopedValueRollback showing(m_showingGuardValues, true);
    for (QSlider *slider : centralWidget()->findChildren<QSlider *>())
        slider->setValue(m_guard.settings().value(slider->objectName()));
    for (QSpinBox *spin : centralWidget()->findChildren<QSpinBox *>())
        spin->setValue(m_guard.settings().value(spin->objectName()));
}

void TfrmMain::LoadResetableSettings()
{
    try {
        m_guard.settings().load();
    } catch (const RegistryError &error) {
        showMessage(MessageKind::Error, error.message());
    }
}

void TfrmMain::mnuResetSettingToDefaultClick()
{
    try {
        m_guard.settings().resetToDefaults();
    } catch (const RegistryError &error) {
        showMessage(MessageKind::Error, error.message());
    }
}

// ---------------------------------------------------------------- calibration

void TfrmMain::mnuCalibrateMicrophoneClick()
{
    if (m_guard.alarm().isOn(AlarmControl::Switch::Alarm))
        return;
    // The recording gives the device over to the measurement.
    m_guard.stopRecording();
    const bool activate = ActActivateToggle->isEnabled();
    ActActivateToggle->setEnabled(false);
    auto *dialog = new dlgCalibrate(m_guard.engine(), trkMicTriggerDuration->value(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [this, dialog, activate](int result) {
        if (result == QDialog::Accepted && dialog->hasProposal() && dialog->proposal().possible) {
            const CalibrationProposal &p = dialog->proposal();
            trkMicSensivity->setValue(p.inputLevel);
            trkMicTriggerVolume->setValue(p.triggerVolume);
            trkMicTriggerDuration->setValue(p.triggerLength);
        }
        ActActivateToggle->setEnabled(activate);
        KeyState();
        if (m_guard.alarm().isOn(AlarmControl::Switch::Microphone) && !m_closed &&
            !m_guard.microphone().isRecording())
            m_guard.startRecording();
    });
    dialog->open();
    dialog->StartMeasuring();
}

// ---------------------------------------------------------------- the Options menu

QAction *TfrmMain::addOptionsAction(const QString &text, const char *name)
{
    auto *options = menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"));
    if (!options)
        return new QAction(text, this);
    QAction *before = nullptr; // the separator above the last group
    for (QAction *action : options->actions())
        if (action->objectName() == QLatin1String("N5"))
            before = action;
    auto *action = new QAction(text, options);
    action->setObjectName(QString::fromLatin1(name));
    options->insertAction(before, action);
    return action;
}

void TfrmMain::buildOptionsEntries()
{
    using S = AlarmControl::Switch;
    mnuDisarmProtection = addOptionsAction(QStringLiteral("Disarm protection…"),
                                           "mnuDisarmProtection");
    connect(mnuDisarmProtection, &QAction::triggered, this, [this] {
        auto *dialog = new TfrmProtection(m_guard.protection(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::accepted, this, &TfrmMain::applyProtectionState);
        dialog->open();
        holdDialog(ArmedReach::Place::ProtectionOptions, dialog);
    });
    // Window-modal and not exec(): the alarm goes on meanwhile, and the
    // dialog closes when arming with a PIN holds it.
    connect(addOptionsAction(QStringLiteral("Alerts…"), "mnuAlerts"), &QAction::triggered, this,
            [this] {
                auto *dialog = new TfrmAlerts(m_guard.reach()->sender, this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->open();
                holdDialog(ArmedReach::Place::Alerts, dialog);
                connect(dialog, &QDialog::accepted, this,
                        [this] { m_guard.reach()->heartbeat.reload(); });
            });
    connect(addOptionsAction(QStringLiteral("Evidence…"), "mnuEvidence"), &QAction::triggered, this,
            [this] {
                auto *dialog = new TfrmEvidence(m_guard.evidence(), this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->open();
                holdDialog(ArmedReach::Place::Evidence, dialog);
            });
    mnuCalibrateMicrophone = addOptionsAction(QStringLiteral("Calibrate microphone…"),
                                              "mnuCalibrateMicrophone");
    connect(mnuCalibrateMicrophone, &QAction::triggered, this,
            &TfrmMain::mnuCalibrateMicrophoneClick);
    auto addSwitch = [this](S which, const QString &text) {
        QAction *action = addOptionsAction(text, "");
        action->setObjectName(AlarmControl::actionName(which));
        action->setCheckable(true);
        action->setChecked(m_guard.alarm().isOn(which));
        connect(action, &QAction::triggered, this, [this, which] { m_guard.flipSwitch(which); });
        return action;
    };
    mnuLid = addSwitch(S::Lid, QStringLiteral("Alarm when the lid closes"));
    mnuPowerCable = addSwitch(S::PowerCable, QStringLiteral("Alarm when the power cable is unplugged"));
}
