#include "app/RoomLevelWarning.h"

#include "desktop/DesktopFont.h"
#include "guard/Guard.h"

namespace {
// A room that was too loud stays reported this long after its last run,
// so that the line does not flicker with every quiet block.
constexpr int RoomWarningMilliseconds = 10000;
} // namespace

RoomLevelWarning::RoomLevelWarning(Guard &guard, QWidget *parent)
    : QLabel(QStringLiteral("The room is already as loud as the trigger volume: armed now, the "
                            "alarm would go off by itself."),
             parent),
      m_guard(guard)
{
    setObjectName(QStringLiteral("lblRoomTooLoud"));
    setWordWrap(true);
    setFont(DesktopFontOf(7));
    setContentsMargins(4, 0, 16, 0);
    hide();
    connect(&guard.microphone(), &MicrophoneMonitor::levelReceived, this,
            &RoomLevelWarning::CheckRoomLevel);
    connect(&guard.microphone(), &MicrophoneMonitor::recordingStopped, this, &QWidget::hide);
    connect(&guard.alarm(), &AlarmControl::armStateChanged, this,
            [this](AlarmControl::ArmState state) {
                if (state != AlarmControl::ArmState::Disarmed)
                    hide();
            });
}

void RoomLevelWarning::CheckRoomLevel()
{
    AlarmControl &alarm = m_guard.alarm();
    if (alarm.armState() != AlarmControl::ArmState::Disarmed ||
        !alarm.isOn(AlarmControl::Switch::Microphone))
        return;
    const int length = m_guard.settings().value(QStringLiteral("trkMicTriggerDuration"));
    const int count = m_guard.microphone().count();
    if (count > length || (length == 0 && count > 0)) {
        m_tooLoud.start();
        show();
    } else if (isVisible() &&
               (!m_tooLoud.isValid() || m_tooLoud.elapsed() > RoomWarningMilliseconds)) {
        hide();
    }
}
