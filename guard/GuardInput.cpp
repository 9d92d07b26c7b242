// The guard's ears: the audio devices (started late when the sound server
// is not up yet), the microphone detector, and the session's input
// activity (keyboard, and the pointer where its position cannot be read).

#include "guard/Guard.h"
#include "guard/ReachServices.h"

#include "detect/ActivitySource.h"

#include <QTimer>

// ---------------------------------------------------------------- microphone

void Guard::selectInput(int index)
{
    m_microphone.cmbRecSourceChange(index);
    const QString level = QStringLiteral("trkMicSensivity");
    if (m_settings.value(level) != m_microphone.inputLevel())
        guarded([this, &level] { m_settings.setValue(level, m_microphone.inputLevel()); });
}

void Guard::takeAudioDevices()
{
    if (!m_microphone.SelectInput())
        Q_EMIT message(MessageKind::Plain, QStringLiteral("Microphone not found!"));
    selectInput(m_microphone.selectedInput()); // also when nothing is selected
    m_audioReady = true;
    Q_EMIT audioDevicesChanged();
}

void Guard::retryAudioDevices()
{
    m_report.AddToReport(QStringLiteral("Sound device not available; trying again"));
    auto *retry = new QTimer(this);
    retry->setInterval(AudioRetryMs);
    connect(retry, &QTimer::timeout, this, [this, retry] {
        if (m_closed) {
            retry->deleteLater();
            return;
        }
        if (!m_audioStart.valid()) {
            // Off the UI thread: the sound server may take a while to answer.
            m_audioStart = std::async(std::launch::async, [this] {
                const bool started = m_engine.initCapture() && m_engine.initOutput(44100);
                audio::AudioEngine::releaseThreadState();
                return started;
            });
            return;
        }
        if (m_audioStart.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        if (!m_audioStart.get())
            return; // the next tick tries again
        retry->deleteLater();
        m_report.AddToReport(QStringLiteral("Sound device restored"));
        takeAudioDevices();
        if (m_activated && m_alarm->isOn(AlarmControl::Switch::Microphone) &&
            !m_microphone.isRecording())
            startRecording(false);
    });
    retry->start();
}

void Guard::startRecording(bool byHand)
{
    if (m_microphone.StartRecording())
        return;
    // Asked for by hand, the user hears at once; a resume or a device that
    // is not there yet is tried again while the detector stays on.
    if (byHand) {
        Q_EMIT message(MessageKind::Error, QStringLiteral("Couldn't start recording!"));
        return;
    }
    if (m_recordRetry.isActive())
        return;
    m_report.AddToReport(QStringLiteral("Microphone not available; trying again"));
    m_recordRetry.setInterval(AudioRetryMs);
    m_recordRetry.callOnTimeout(this, [this] {
        if (m_closed || !m_alarm->isOn(AlarmControl::Switch::Microphone) ||
            m_microphone.isRecording()) {
            m_recordRetry.stop();
        } else if (m_microphone.StartRecording()) {
            m_recordRetry.stop();
            m_report.AddToReport(QStringLiteral("Microphone restored"));
        }
    });
    m_recordRetry.start();
}

void Guard::stopRecording()
{
    m_recordRetry.stop();
    m_microphone.StopRecording();
    m_playback.StopSounds();
    m_alarm->TimTempMute.stop();
    Q_EMIT detectionGaugeChanged(0);
    Q_EMIT durationGaugeChanged(0);
}

void Guard::onLevelReceived(quint32 level)
{
    const MicrophoneMonitor::LevelResult result =
        m_microphone.CheckLevel(level, m_settings.value(QStringLiteral("trkMicTriggerVolume")),
                                m_settings.value(QStringLiteral("trkMicTriggerDuration")));
    if (result.triggered)
        m_alarm->ActivateAlarm(QStringLiteral("Microphone detected"));
    Q_EMIT detectionGaugeChanged(result.detectionGauge);
    Q_EMIT durationGaugeChanged(result.durationGauge);
}

void Guard::PlayHow(int slot, int speakerCode, const QString &path)
{
    const QString random = QStringLiteral("trkRandomAlteration");
    const AlarmPlayback::Alteration alteration{
        m_settings.value(QStringLiteral("trkAlarmVolume")),
        m_settings.value(QStringLiteral("trkGlobalAlteration")), m_settings.value(random),
        GuardSettings::maximum(random)};
    m_playback.PlayHow(slot, speakerCode, path, alteration,
                       [this](quint32 n) { return randomBelow(n); });
}

// ---------------------------------------------------------------- input activity

void Guard::wireActivity()
{
    m_activitySource = CreateActivitySource(this);
    m_activity = std::make_unique<ActivityMonitor>(*m_activitySource);
    // Names the session's unspecific activity as keys or pointer where it can.
    m_activityHint = CreateActivityHint(*m_activitySource, this);
    if (m_activityHint)
        m_activity->addHint(*m_activityHint);
    connect(m_activity.get(), &ActivityMonitor::keyboardDetected, this,
            [this](const QString &text) { m_alarm->ActivateAlarm(text); });
    connect(m_activity.get(), &ActivityMonitor::pointerDetected, this,
            [this](const QString &text) { m_alarm->ActivateAlarm(text); });
    connect(m_activity.get(), &ActivityMonitor::keyboardLedChanged, this,
            [this](bool lit) { Q_EMIT ledChanged(Led::Keyboard, lit); });
    connect(m_activity.get(), &ActivityMonitor::pointerLedChanged, this,
            [this](bool lit) { Q_EMIT ledChanged(Led::Mouse, lit); });
}

void Guard::syncActivityDetectors()
{
    using S = AlarmControl::Switch;
    // Detectors start at the first activation, like the others.
    const bool keyboard = m_activated && !m_closed && m_alarm->isOn(S::Keyboard);
    const bool mouse = m_activated && !m_closed && m_alarm->isOn(S::Mouse);
    const bool pointerFromActivity = mouse && !CanReadGlobalPointer();
    const bool working = m_activitySource->available();
    m_activity->setKeyboardOn(keyboard);
    m_activity->setPointerOn(pointerFromActivity && working);
    if (pointerFromActivity && working)
        m_mouse.Stop(); // the position seen here is only ours

    QString notice;
    if (keyboard && !working && !m_keyboardNoticeShown) {
        m_keyboardNoticeShown = true;
        notice = QStringLiteral("Keyboard detection cannot watch this session: no source of "
                                "input activity answered (X11 input, the GNOME idle monitor, "
                                "ext-idle-notify or the screen saver service).");
    } else if (pointerFromActivity && !working && !m_waylandWarningShown) {
        m_waylandWarningShown = true;
        notice = QStringLiteral("In this Wayland session the pointer cannot be watched outside "
                                "the Tarvo2 window, and the session reports no input activity "
                                "either: mouse detection sees only the Tarvo2 window here.");
    }
    if (!notice.isEmpty())
        Q_EMIT message(MessageKind::Notice, notice);
}

