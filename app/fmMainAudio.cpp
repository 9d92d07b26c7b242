// The window's side of the audio devices: the engine brings lost devices back
// by itself; the window clears the gauges and, while armed, writes the loss
// and the return into the report. While the alarm is on the sound system
// stays started, so that an alarm's first sound does not wait for it.

#include "app/fmMain.h"

#include <QProgressBar>

void TfrmMain::wireAudioDevices()
{
    m_engine.setDeviceListener(this, [this](audio::DeviceEvent event) {
        const bool lost = event == audio::DeviceEvent::Lost;
        if (lost) {
            // No microphone until the device is back: nothing is heard.
            m_microphone.resetCount();
            ggDetection->setValue(0);
            ggDuration->setValue(0);
        }
        if (m_alarm->armState() != AlarmControl::ArmState::Disarmed)
            m_report.AddToReport(lost ? QStringLiteral("Sound device lost")
                                      : QStringLiteral("Sound device restored"));
    });

    connect(m_alarm.get(), &AlarmControl::armStateChanged, this, [this](AlarmControl::ArmState s) {
        m_engine.setStandby(s != AlarmControl::ArmState::Disarmed);
    });
}
