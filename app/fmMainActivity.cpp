// Wiring of the detectors fed by the session's input activity (keyboard,
// and the pointer where its position cannot be read), the microphone's
// input level and its calibration, the room-level warning and the gauges'
// repainting.

#include "app/Glyphs.h"
#include "app/LedShape.h"
#include "app/dlgCalibrate.h"
#include "app/fmMain.h"
#include "detect/ActivityMonitor.h"
#include "detect/ActivitySource.h"

#include <QApplication>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QSlider>
#include <QToolButton>

namespace {
constexpr int HintMilliseconds = 3000;
// A room that was too loud stays reported this long after its last run,
// so that the line does not flicker with every quiet block.
constexpr int RoomWarningMilliseconds = 10000;

// Keys typed into a notice are not the owner's: a notice can come up while
// armed, and whoever answers it is at the desk.
bool KeysAreOwners(const QWidget *window)
{
    return window && !TfrmMain::isNotice(window->window());
}

// Tells the activity monitor about every key that reaches one of our
// windows, so that our own keys are never taken for someone else's.
class OwnKeyWatch : public QObject
{
public:
    OwnKeyWatch(ActivityMonitor &monitor, QObject *parent) : QObject(parent), m_monitor(&monitor) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
            watched->isWidgetType() && m_monitor && KeysAreOwners(static_cast<QWidget *>(watched)))
            m_monitor->NoteOwnKey();
        return false;
    }

private:
    QPointer<ActivityMonitor> m_monitor; // the window's, which may go first
};
} // namespace

void TfrmMain::wireActivityDetection()
{
    m_activitySource = CreateActivitySource(this);
    m_activity = std::make_unique<ActivityMonitor>(*m_activitySource);
    m_activity->setFocusSource([] { return KeysAreOwners(QApplication::activeWindow()); });
    qApp->installEventFilter(new OwnKeyWatch(*m_activity, this));

    // The keyboard switch, its button beside the other detector buttons and
    // its LED under the mouse LED.
    ActKeyDetectToggle = new QAction(this);
    ActKeyDetectToggle->setObjectName(QStringLiteral("ActKeyDetectToggle"));
    btnKeyDetect = new QToolButton;
    btnKeyDetect->setObjectName(QStringLiteral("btnKeyDetect"));
    btnKeyDetect->setDefaultAction(ActKeyDetectToggle);
    btnKeyDetect->setAutoRaise(true);
    btnKeyDetect->setFixedSize(42, 42);
    btnKeyDetect->setIconSize(QSize(40, 40));
    btnKeyDetect->setToolTipDuration(HintMilliseconds);
    // Before the microphone button: the row is right-aligned, so the other
    // buttons keep their places.
    if (auto *row = qobject_cast<QBoxLayout *>(btnMicDetect->parentWidget()->layout()))
        row->insertWidget(row->indexOf(btnMicDetect), btnKeyDetect);
    shpLedKeyDetection =
        new LedShape(QStringLiteral("shpLedKeyDetection"), shpLedMouDetection->parentWidget());
    shpLedKeyDetection->setToolTip(QStringLiteral("Keyboard Detection"));
    shpLedKeyDetection->move(shpLedMouDetection->x(), shpLedMouDetection->y() + 14);
    DrawKeyDetectBtnState();

    connect(ActKeyDetectToggle, &QAction::triggered, this, &TfrmMain::ActKeyDetectToggleExecute);
    connect(m_activity.get(), &ActivityMonitor::keyboardDetected, this,
            [this](const QString &text) { m_alarm->ActivateAlarm(text); });
    connect(m_activity.get(), &ActivityMonitor::pointerDetected, this,
            [this](const QString &text) { m_alarm->ActivateAlarm(text); });
    connect(m_activity.get(), &ActivityMonitor::keyboardLedChanged, shpLedKeyDetection,
            &LedShape::setLit);
    connect(m_activity.get(), &ActivityMonitor::pointerLedChanged, shpLedMouDetection,
            &LedShape::setLit);

    // The input level is a resettable setting now: stored like the others.
    connect(trkMicSensivity, &QSlider::valueChanged, this,
            [this] { trkTrackChange(trkMicSensivity); });

    // QProgressBar repaints only changes of at least one chunk; the gauges
    // must show every value.
    for (QProgressBar *gauge : {ggDetection, ggDuration})
        connect(gauge, &QProgressBar::valueChanged, gauge, qOverload<>(&QWidget::update));

    lblRoomTooLoud = new QLabel(QStringLiteral(
        "The room is already as loud as the trigger volume: armed now, the alarm would go off "
        "by itself."));
    lblRoomTooLoud->setObjectName(QStringLiteral("lblRoomTooLoud"));
    lblRoomTooLoud->setWordWrap(true);
    QFont font = lblRoomTooLoud->font();
    font.setPointSizeF(7);
    lblRoomTooLoud->setFont(font);
    lblRoomTooLoud->setContentsMargins(4, 0, 16, 0);
    lblRoomTooLoud->hide();
    if (QWidget *panel = shpLedMicDetection->parentWidget(); panel && panel->layout())
        panel->layout()->addWidget(lblRoomTooLoud);
    connect(&m_microphone, &MicrophoneMonitor::levelReceived, this, &TfrmMain::CheckRoomLevel);
    connect(&m_microphone, &MicrophoneMonitor::recordingStopped, this,
            [this] { lblRoomTooLoud->hide(); });
    connect(m_alarm.get(), &AlarmControl::armStateChanged, this, [this](AlarmControl::ArmState s) {
        if (s != AlarmControl::ArmState::Disarmed)
            lblRoomTooLoud->hide();
    });
    wireCalibration();
}

void TfrmMain::DrawKeyDetectBtnState()
{
    drawToggle(AlarmControl::Switch::Keyboard, QStringLiteral("Disable"), QStringLiteral("Use"),
               QStringLiteral(" Keyboard Detection"), int(ToggleGlyph::Keyboard),
               ActKeyDetectToggle);
}

void TfrmMain::ActKeyDetectToggleExecute()
{
    m_alarm->FlipSwitch(AlarmControl::Switch::Keyboard);
    DrawKeyDetectBtnState();
    KeyState();
    SyncActivityDetectors();
    guarded([this] { m_alarm->StoreSwitch(AlarmControl::Switch::Keyboard); });
}

void TfrmMain::SyncActivityDetectors()
{
    using S = AlarmControl::Switch;
    // Detectors start at the window's first activation, like the others.
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
        showNotice(notice);
}

void TfrmMain::CheckRoomLevel()
{
    if (m_alarm->armState() != AlarmControl::ArmState::Disarmed ||
        !m_alarm->isOn(AlarmControl::Switch::Microphone))
        return;
    const int length = trkMicTriggerDuration->value();
    const int count = m_microphone.count();
    if (count > length || (length == 0 && count > 0)) {
        m_roomTooLoud.start();
        lblRoomTooLoud->show();
    } else if (lblRoomTooLoud->isVisible() &&
               (!m_roomTooLoud.isValid() || m_roomTooLoud.elapsed() > RoomWarningMilliseconds)) {
        lblRoomTooLoud->hide();
    }
}

void TfrmMain::wireCalibration()
{
    // "Calibrate microphone…" in the Options menu, before its separator.
    auto *options = menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"));
    if (!options)
        return;
    QAction *separator = nullptr;
    for (QAction *action : options->actions()) {
        if (action->objectName() == QLatin1String("N5"))
            separator = action;
    }
    mnuCalibrateMicrophone = new QAction(QStringLiteral("Calibrate microphone…"), this);
    mnuCalibrateMicrophone->setObjectName(QStringLiteral("mnuCalibrateMicrophone"));
    options->insertAction(separator, mnuCalibrateMicrophone);
    connect(mnuCalibrateMicrophone, &QAction::triggered, this,
            &TfrmMain::mnuCalibrateMicrophoneClick);
    // Nothing is armed during a calibration, and none starts while armed
    // (the menu item is held: fmMainHold.cpp).
}

void TfrmMain::mnuCalibrateMicrophoneClick()
{
    if (m_alarm->isOn(AlarmControl::Switch::Alarm))
        return;
    // The recording gives the device over to the measurement.
    StopRecording();
    const bool activate = ActActivateToggle->isEnabled();
    ActActivateToggle->setEnabled(false);
    auto *dialog = new dlgCalibrate(m_engine, trkMicTriggerDuration->value(), this);
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
        if (m_alarm->isOn(AlarmControl::Switch::Microphone) && !m_closed &&
            !m_microphone.isRecording())
            StartRecording();
    });
    dialog->open();
    dialog->StartMeasuring();
}
