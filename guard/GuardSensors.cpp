// The detectors that watch the machine beyond its input: the camera's
// picture, the USB ports and the network links, and the sound clip of an
// alarm. Each takes its baseline when arming completes; what was
// there then is no intrusion. A detector that cannot run says so once per
// arming, in the report and a notification: never a silent detector.

#include "guard/Guard.h"
#include "guard/ReachServices.h"

#include "detect/ActivitySource.h"
#include "detect/CameraMotion.h"
#include "detect/NetworkLinkMonitor.h"
#include "detect/UsbMonitor.h"
#include "evidence/SoundClipRecorder.h"
#include "video/CameraStream.h"

#include <QFileInfo>
#include <QTimer>

struct Guard::Sensors : QObject
{
    Sensors(Guard &guard, const QString &evidenceFolder)
        : QObject(&guard),
          clip(guard.engine(), guard.report(), evidenceFolder)
    {
    }

    // One camera pipeline while armed: motion, and the alarm's photo.
    CameraStream cameraStream;
    CameraMotion camera{cameraStream};
    UsbMonitor usb;
    NetworkLinkMonitor network;
    SoundClipRecorder clip;
};

void Guard::wireSensors()
{
    const QString reports = QFileInfo(m_report.filePath()).absolutePath();
    m_sensors = new Sensors(*this, EvidenceFolder::PathFor(reports));
    Sensors *s = m_sensors;
    // The LED of a detector lights for a moment with what it saw.
    const auto seen = [this](Led led, const QString &text) {
        Q_EMIT ledChanged(led, true);
        QTimer::singleShot(1000, this, [this, led] { Q_EMIT ledChanged(led, false); });
        m_alarm->ActivateAlarm(text);
    };
    connect(&s->usb, &UsbMonitor::intrusion, this,
            [seen](const QString &text) { seen(Led::Usb, text); });
    // The rest of a storm of devices: on the record, not a trigger of its own.
    connect(&s->usb, &UsbMonitor::reportLine, this,
            [this](const QString &line) { m_report.AddToReport(line); });
    connect(&s->network, &NetworkLinkMonitor::intrusion, this,
            [seen](const QString &text) { seen(Led::Network, text); });
    connect(&s->camera, &CameraMotion::intrusion, this,
            [seen](const QString &text) { seen(Led::Camera, text); });
    connect(&s->camera, &CameraMotion::unavailable, this, [this](const QString &why) {
        const QString text = QStringLiteral("Camera detection not available: %1").arg(why);
        m_report.AddToReport(text);
        if (m_reach)
            m_reach->notifications.failure(text);
    });
    m_evidence->setCameraStream(&s->cameraStream);
    const QString sensitivity = QStringLiteral("trkCamSensitivity");
    s->camera.setSensitivity(m_settings.value(sensitivity));
    connect(&m_settings, &GuardSettings::valueChanged, s,
            [s, sensitivity](const QString &control, int value) {
                if (control == sensitivity)
                    s->camera.setSensitivity(value);
            });

    // The clip starts behind the alarm's first sound, like the pictures.
    connect(m_alarm.get(), &AlarmControl::alarmRaised, &s->clip, &SoundClipRecorder::triggered,
            Qt::QueuedConnection);
    connect(m_alarm.get(), &AlarmControl::armStateChanged, this,
            [this, s](AlarmControl::ArmState state) {
                using S = AlarmControl::Switch;
                s->clip.setArmed(state != AlarmControl::ArmState::Disarmed);
                if (state != AlarmControl::ArmState::Armed) {
                    if (state == AlarmControl::ArmState::Disarmed) {
                        s->usb.stop();
                        s->network.stop();
                        s->camera.stop();
                    }
                    return;
                }
                const auto begin = [this](S which, const QString &name, auto &monitor) {
                    if (!m_alarm->isOn(which) || monitor.isRunning())
                        return;
                    if (monitor.start())
                        return;
                    const QString why = monitor.unavailableReason().isEmpty()
                                            ? QStringLiteral("it could not start")
                                            : monitor.unavailableReason();
                    const QString text =
                        QStringLiteral("%1 detection not available: %2").arg(name, why);
                    m_report.AddToReport(text);
                    if (m_reach)
                        m_reach->notifications.failure(text);
                };
                if (m_alarm->isOn(S::Camera) && !s->camera.active()) {
                    if (s->camera.available())
                        s->camera.start(); // an open that fails says so (unavailable)
                    else
                        Q_EMIT s->camera.unavailable(s->camera.reason());
                }
                begin(S::Usb, QStringLiteral("USB"), s->usb);
                begin(S::Network, QStringLiteral("Network"), s->network);
                const QString pointer = detectorUnavailable(S::Mouse);
                if (m_alarm->isOn(S::Mouse) && !pointer.isEmpty()) {
                    const QString text =
                        QStringLiteral("Mouse detection not available: %1").arg(pointer);
                    m_report.AddToReport(text);
                    if (m_reach)
                        m_reach->notifications.failure(text);
                }
            });
}

void Guard::closeSensors()
{
    m_evidence->setCameraStream(nullptr);
    delete m_sensors;
    m_sensors = nullptr;
}

QString Guard::detectorUnavailable(AlarmControl::Switch which) const
{
    if (!m_sensors)
        return QString();
    switch (which) {
    case AlarmControl::Switch::Mouse:
        // Where the pointer cannot be read (Wayland), only the session's
        // input activity shows it.
        if (!CanReadGlobalPointer() && !m_activitySource->available())
            return QStringLiteral("this Wayland session shows the pointer only over the Tarvo2 "
                                  "window and reports no input activity");
        return QString();
    case AlarmControl::Switch::Camera:
        return m_sensors->camera.available() ? QString() : m_sensors->camera.reason();
    case AlarmControl::Switch::Usb:
        return m_sensors->usb.unavailableReason();
    case AlarmControl::Switch::Network:
        return m_sensors->network.unavailableReason();
    default:
        return QString();
    }
}
