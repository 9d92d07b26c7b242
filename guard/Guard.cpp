#include "guard/Guard.h"
#include "guard/ReachServices.h"

#include "desktop/SessionLock.h"
#include "detect/ActivitySource.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"
#include "sounds/DefaultSounds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

Guard::Guard(const QString &workingDirectory, QObject *parent)
    : QObject(parent), m_workingDirectory(workingDirectory),
      m_report(m_workingDirectory + QStringLiteral("Reports/"))
{
    // The sound library is loaded and the devices opened while a window is
    // built (the sound server may take a while to answer); start() takes
    // the outcome. Nothing else touches the engine before that.
    m_audioStart = std::async(std::launch::async, [this] {
        if (audio::AudioEngine::interfaceVersion() != 2)
            return false;
        const bool started = m_engine.initCapture() && m_engine.initOutput(44100);
        audio::AudioEngine::releaseThreadState();
        return started;
    });
    // A long report takes a while to read, and reading it slows every
    // thread of the process: it is read once a window is on screen (or at
    // once when a line comes first).
    m_report.LoadAtFirstUse();

    AlarmControl::Hooks hooks;
    auto setting = [this](const char *control) {
        return [this, control] { return m_settings.value(QString::fromLatin1(control)); };
    };
    hooks.activationDelay = setting("spnActivationDelay");
    hooks.triggerDelay = setting("spnTriggerDelay");
    hooks.simulateEvery = setting("spnSimulateEvery");
    hooks.simulateRandom = setting("spnSimulateRandom");
    hooks.persistence = setting("trkPersistence");
    hooks.persistenceRandom = setting("trkPersistenceRandom");
    hooks.isPlaying = [this] { return m_playback.IsPlaying(); };
    hooks.stopSounds = [this] { m_playback.StopSounds(); };
    hooks.playHow = [this](int slot, int speaker, const QString &path) {
        PlayHow(slot, speaker, path);
    };
    hooks.prepareOutput = [this] { m_engine.prepareOutput(); };
    hooks.checkedSounds = [this] { return m_checkedSounds; };
    hooks.soundsFolder = [this] { return soundsFolder(); };
    hooks.resetMicrophoneCount = [this] {
        m_microphone.resetCount();
        Q_EMIT durationGaugeChanged(0);
    };
    hooks.randomBelow = [this](quint32 n) { return randomBelow(n); };
    hooks.executablePath = QCoreApplication::applicationFilePath();
    m_alarm = std::make_unique<AlarmControl>(m_report, std::move(hooks), this);
    m_protection = std::make_unique<DisarmProtection>(*m_alarm, m_report);
    m_protection->Load();
    m_armedReach = std::make_unique<ArmedReach>(*m_alarm, *m_protection);
    m_sessionLock = new SessionLock(this);

    wireSubsystems();
    wireReach();
    wireEvidence();
    wireActivity();
    wireSensors();
}

Guard::~Guard()
{
    if (!m_closed)
        close();
    closeSensors(); // they use the engine, the report and the evidence: they go first
}

quint32 Guard::randomBelow(quint32 n)
{
    return n == 0 ? 0 : m_random.bounded(n);
}

QString Guard::StateName(State state)
{
    switch (state) {
    case State::WaitingForActivation:
        return QStringLiteral("waiting for activation");
    case State::Armed:
        return QStringLiteral("armed");
    case State::Alarm:
        return QStringLiteral("alarm");
    case State::Disarmed:
        break;
    }
    return QStringLiteral("disarmed");
}

void Guard::wireSubsystems()
{
    connect(&m_settings, &GuardSettings::valueChanged, this,
            [this](const QString &control, int value) {
                if (control == QLatin1String("trkMicSensivity"))
                    m_microphone.trkMicSensivityChange(value);
            });
    connect(&m_microphone, &MicrophoneMonitor::levelReceived, this, &Guard::onLevelReceived);
    connect(&m_microphone, &MicrophoneMonitor::ledChanged, this,
            [this](bool lit) { Q_EMIT ledChanged(Led::Microphone, lit); });
    connect(&m_microphone, &MicrophoneMonitor::captureLost, this, [this] {
        Q_EMIT detectionGaugeChanged(0);
        Q_EMIT durationGaugeChanged(0);
    });
    m_mouse.setSensitivitySource([this] { return m_settings.value(QStringLiteral("trkMouseSensivity")); });
    connect(&m_mouse, &MouseMonitor::detected, this,
            [this] { m_alarm->ActivateAlarm(QStringLiteral("Mouse detected")); });
    connect(&m_mouse, &MouseMonitor::ledChanged, this,
            [this](bool lit) { Q_EMIT ledChanged(Led::Mouse, lit); });
    connect(m_alarm.get(), &AlarmControl::ledChanged, this, [this](AlarmControl::Led led, bool lit) {
        switch (led) {
        case AlarmControl::Led::ActivationDelay:
            Q_EMIT ledChanged(Led::ActivationDelay, lit);
            break;
        case AlarmControl::Led::TriggerDelay:
            Q_EMIT ledChanged(Led::TriggerDelay, lit);
            break;
        case AlarmControl::Led::Simulation:
            Q_EMIT ledChanged(Led::Simulation, lit);
            break;
        }
    });

    // Audio devices: the engine brings lost ones back by itself; while
    // armed the loss and the return are on the record. While the alarm is
    // on the sound system stays started, so a first sound does not wait.
    m_engine.setDeviceListener(this, [this](audio::DeviceEvent event) {
        const bool lost = event == audio::DeviceEvent::Lost;
        if (lost) {
            m_microphone.resetCount();
            Q_EMIT detectionGaugeChanged(0);
            Q_EMIT durationGaugeChanged(0);
        }
        if (m_alarm->armState() != AlarmControl::ArmState::Disarmed)
            m_report.AddToReport(lost ? QStringLiteral("Sound device lost")
                                      : QStringLiteral("Sound device restored"));
    });
    connect(m_alarm.get(), &AlarmControl::armStateChanged, this, [this](AlarmControl::ArmState s) {
        m_engine.setStandby(s != AlarmControl::ArmState::Disarmed);
        // Armed, keys typed into the program's own windows are someone's at the desk.
        m_activity->setOwnKeysCount(s == AlarmControl::ArmState::Armed);
        if (s == AlarmControl::ArmState::Armed)
            warnIfNothingToPlay();
        if (s == AlarmControl::ArmState::Disarmed) {
            m_protection->resetTries();
            m_evidence->resetNotices();
        }
        // The screen lock at arming; its unlock disarms (below).
        if (s == AlarmControl::ArmState::Armed && m_protection->lockEnabled())
            m_sessionLock->lock();
        else if (s == AlarmControl::ArmState::Disarmed)
            m_sessionLock->release();
        updateState();
    });
    connect(m_sessionLock, &SessionLock::lockFailed, this,
            [this](const QString &text) { m_report.AddToReport(text); });
    connect(m_sessionLock, &SessionLock::unlocked, this, [this] {
        if (!m_alarm->isOn(AlarmControl::Switch::Alarm))
            return;
        m_report.AddToReport(QStringLiteral("Screen unlocked"));
        // The desktop's unlock took the owner's password: no PIN on top.
        toggleArm(Origin::ScreenUnlock);
    });
}

// ---------------------------------------------------------------- start-up

QString Guard::start()
{
    const bool audioStarted = m_audioStart.valid() && m_audioStart.get();
    if (audio::AudioEngine::interfaceVersion() != 2)
        return QStringLiteral("DLL was not loaded!");
    m_random.seed(quint32(QDateTime::currentMSecsSinceEpoch()));
    if (audioStarted) {
        takeAudioDevices();
    } else {
        m_engine.freeCapture();
        m_engine.freeOutput();
        // An armed resume (at login, before the sound server is up) never
        // ends: it goes on without the devices and takes them once they are
        // there. Only a start that is to listen at once needs them now.
        if (!AlarmControl::StoredAlarmActive() &&
            AlarmControl::StoredChoice(AlarmControl::Switch::Microphone).value_or(false))
            return QStringLiteral("Cannot start recording device!");
        retryAudioDevices();
    }

    m_alarm->tasks().clear();
    m_checkedSounds.clear();
    takeUpLastRun();
    m_alarm->ReadStoredSwitches();
    OfferDefaultSounds(soundsFolder(),
                       FindDefaultSoundsFolder(QCoreApplication::applicationFilePath(),
                                               QStringLiteral(TARVO2_SOUNDS_DIR)));
    guarded([this] { ReadRegValueNames(StoreKeys::CheckedSounds, m_checkedSounds); });
    guarded([this] { m_settings.load(); });
    m_alarm->TimTask.start(AlarmControl::TaskInterval);
    wireSessionServices();
    soundsChanged();
    return QString();
}

void Guard::activate()
{
    if (m_activated || m_closed)
        return;
    m_activated = true;
    using S = AlarmControl::Switch;
    if (m_alarm->isOn(S::Microphone)) {
        stopRecording();
        if (!m_microphone.isRecording() && m_audioReady)
            startRecording(false);
    }
    if (m_alarm->isOn(S::Mouse)) {
        m_mouse.TakeReference();
        m_mouse.Start();
    }
    if (m_alarm->isOn(S::Simulation))
        m_alarm->StartSimulation();
    syncActivityDetectors(); // keyboard, and the pointer where it cannot be read
    guarded([this] { m_alarm->ResumeStoredAlarm(); });
    Q_EMIT switchesChanged();
    if (const std::optional<Origin> origin = std::exchange(m_armWhenActive, std::nullopt)) {
        const QString why = arm(*origin);
        if (!why.isEmpty())
            Q_EMIT message(MessageKind::Notice, QStringLiteral("Not armed: %1.").arg(why));
    }
}

void Guard::armWhenActive(Origin origin)
{
    if (m_activated)
        arm(origin);
    else
        m_armWhenActive = origin;
}

void Guard::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_audioStart.valid()) // closed before start() took the answer
        m_audioStart.wait();
    closeSessionServices();
    syncActivityDetectors();
    m_alarm->StopAllTimers();
    m_mouse.Stop();
    m_mouse.TimLedMou.stop();
    m_microphone.TimLedMic.stop();
    stopRecording();
    m_alarm->tasks().clear();
    m_engine.freeCapture();
    m_engine.freeOutput();
    m_engine.stopOutput();
}

void Guard::takeUpLastRun()
{
    const QString queueProblem = m_reach->sender.queueProblem();
    if (!queueProblem.isEmpty()) {
        m_report.AddToReport(queueProblem);
        m_reach->notifications.failure(queueProblem);
    }
    if (const auto lastSignOfLife = m_reach->marker.leftBehind()) {
        reportAlarm(ArmedMarker::UnexpectedEndText(*lastSignOfLife));
        m_reach->marker.remove();
    }
    if (const QString markerProblem = m_reach->marker.problem(); !markerProblem.isEmpty()) {
        m_report.AddToReport(markerProblem);
        m_reach->notifications.failure(markerProblem);
    }
}

// ---------------------------------------------------------------- arming

QString Guard::OriginText(Origin origin)
{
    switch (origin) {
    case Origin::Desktop:
        return QStringLiteral("the desktop");
    case Origin::CommandLine:
        return QStringLiteral("the command line");
    default:
        return QString();
    }
}

QString Guard::whyCannotArm() const
{
    using S = AlarmControl::Switch;
    if (!m_alarm->isOn(S::Microphone) && !m_alarm->isOn(S::Mouse) &&
        !m_alarm->isOn(S::Simulation) && !m_alarm->isOn(S::Keyboard) &&
        !m_alarm->isOn(S::Camera) && !m_alarm->isOn(S::Usb) && !m_alarm->isOn(S::Network))
        return QStringLiteral("no detector is switched on");
    if (m_checkedSounds.isEmpty())
        return QStringLiteral("no alarm sound is checked");
    return QString();
}

void Guard::toggleArm(Origin origin)
{
    // Each within its period: arming begins a new report.
    const QString from = OriginText(origin);
    const bool arming = !m_alarm->isOn(AlarmControl::Switch::Alarm);
    if (!from.isEmpty() && !arming)
        m_report.AddToReport(QStringLiteral("Disarmed from %1").arg(from));
    guarded([this] { m_alarm->ActActivateToggleExecute(); });
    if (!from.isEmpty() && arming)
        m_report.AddToReport(QStringLiteral("Armed from %1").arg(from));
    Q_EMIT switchesChanged();
}

QString Guard::arm(Origin origin)
{
    if (m_alarm->isOn(AlarmControl::Switch::Alarm))
        return QString();
    const QString why = whyCannotArm();
    if (!why.isEmpty()) {
        if (!OriginText(origin).isEmpty())
            m_report.AddToReport(
                QStringLiteral("Arming from %1 refused: %2").arg(OriginText(origin), why));
        return why;
    }
    toggleArm(origin);
    return QString();
}

bool Guard::requestDisarm(Origin origin)
{
    if (!m_alarm->isOn(AlarmControl::Switch::Alarm))
        return true;
    if (m_protection->needsPin(DisarmProtection::Step::Disarm)) {
        if (!OriginText(origin).isEmpty())
            m_report.AddToReport(QStringLiteral("Disarm asked from %1").arg(OriginText(origin)));
        Q_EMIT pinRequested(origin);
        return false;
    }
    toggleArm(origin);
    return true;
}

bool Guard::disarmWithPin(const QString &pin, Origin origin)
{
    if (!m_alarm->isOn(AlarmControl::Switch::Alarm))
        return true;
    if (m_protection->needsPin(DisarmProtection::Step::Disarm)) {
        if (!OriginText(origin).isEmpty())
            m_report.AddToReport(QStringLiteral("Disarm asked from %1").arg(OriginText(origin)));
        if (m_protection->CheckPin(pin) != DisarmProtection::Verdict::Granted)
            return false;
    }
    toggleArm(origin);
    return true;
}

void Guard::escapeDisarm()
{
    guarded([this] { m_alarm->EscapeDisarm(); });
    Q_EMIT switchesChanged();
}

void Guard::flipSwitch(AlarmControl::Switch which)
{
    using S = AlarmControl::Switch;
    m_alarm->FlipSwitch(which);
    switch (which) {
    case S::Microphone:
        stopRecording();
        if (m_alarm->isOn(S::Microphone) && !m_microphone.isRecording())
            startRecording();
        break;
    case S::Mouse:
        if (m_alarm->isOn(S::Mouse)) {
            m_mouse.TakeReference();
            m_mouse.Start();
        } else {
            m_mouse.Stop();
        }
        syncActivityDetectors();
        break;
    case S::Simulation:
        if (m_alarm->isOn(S::Simulation))
            m_alarm->StartSimulation();
        else
            m_alarm->StopSimulation();
        break;
    case S::Keyboard:
        syncActivityDetectors();
        break;
    default:
        break;
    }
    guarded([this, which] { m_alarm->StoreSwitch(which); });
    soundsChanged();
    Q_EMIT switchesChanged();
}

QStringList Guard::detectorsOn() const
{
    using S = AlarmControl::Switch;
    QStringList on;
    const std::pair<S, const char *> names[] = {
        {S::Microphone, "microphone"}, {S::Mouse, "mouse"},        {S::Keyboard, "keyboard"},
        {S::Simulation, "simulation"}, {S::Lid, "lid"},            {S::PowerCable, "power cable"},
        {S::Camera, "camera"},         {S::Usb, "usb"},            {S::Network, "network"},
    };
    for (const auto &[which, name] : names)
        if (m_alarm->isOn(which))
            on << QString::fromLatin1(name);
    return on;
}

void Guard::updateState()
{
    State state = State::Disarmed;
    switch (m_alarm->armState()) {
    case AlarmControl::ArmState::Arming:
        state = State::WaitingForActivation;
        break;
    case AlarmControl::ArmState::Armed:
        state = m_reach && m_reach->alarmEnd.isActive() ? State::Alarm : State::Armed;
        break;
    case AlarmControl::ArmState::Disarmed:
        break;
    }
    if (state == m_state)
        return;
    if (m_state == State::Disarmed)
        m_armedSince = QDateTime::currentDateTime();
    else if (state == State::Disarmed)
        m_armedSince = QDateTime();
    m_state = state;
    Q_EMIT stateChanged(state);
}

// ---------------------------------------------------------------- evidence

void Guard::wireEvidence()
{
    const QString reports = QFileInfo(m_report.filePath()).absolutePath();
    m_evidence = std::make_unique<EvidenceRecorder>(m_report, EvidenceFolder::PathFor(reports));
    EvidenceRecorder *evidence = m_evidence.get();
    // Queued behind the trigger's own steps, so the sound is on its way
    // before the pictures are started; they never run on this thread.
    connect(m_alarm.get(), &AlarmControl::alarmRaised, evidence, &EvidenceRecorder::triggered,
            Qt::QueuedConnection);
    // Old pictures go at start-up too, not only when a new one comes.
    QMetaObject::invokeMethod(
        evidence,
        [evidence] {
            evidence->folder().prune(EvidenceSettings::Load().limits,
                                     QDateTime::currentDateTime());
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------- faults

void Guard::soundsChanged()
{
    if (m_reach)
        m_reach->tray.setToggleEnabled(canArm());
}

void Guard::warnIfNothingToPlay()
{
    const QString folder = soundsFolder();
    for (const QString &name : std::as_const(m_checkedSounds)) {
        if (QFileInfo(folder + name).isFile())
            return;
    }
    tellFault(QStringLiteral("Armed, but no alarm sound can be played: none of the checked "
                             "sounds is in %1")
                  .arg(QDir::toNativeSeparators(folder)));
}

void Guard::tellFault(const QString &text)
{
    // The report is the owner's record of the time away; a fault while
    // disarmed is told to the person at the desk only.
    if (m_alarm->isOn(AlarmControl::Switch::Alarm))
        m_report.AddToReport(text);
    if (m_reach)
        m_reach->notifications.failure(text);
    Q_EMIT message(MessageKind::Notice, text);
}

void Guard::guarded(const std::function<void()> &step)
{
    try {
        step();
    } catch (const RegistryError &error) {
        Q_EMIT message(MessageKind::Error, error.message());
    }
}
