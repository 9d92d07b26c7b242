// The window's side of the alarm's protection: the PIN question in front of
// the guarded steps, what an armed alarm holds (every control and open
// dialog of a place follows ArmedReach's rule; the window's own conditions,
// a selected sound say, come on top), and how the window closes: Exit ends
// the program, the window manager's close while guarding only hides it
// (BackgroundClose decides). The rules themselves are the guard's.

#include "app/BackgroundClose.h"
#include "app/fmMain.h"
#include "app/fmProtection.h"
#include "desktop/BackgroundPortal.h"
#include "guard/ReachServices.h"

#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

void TfrmMain::applyProtectionState()
{
    applyArmedReach(); // a PIN set or removed opens or holds the settings
    if (m_guard.alarm().armState() == AlarmControl::ArmState::Disarmed && m_pinAsk)
        m_pinAsk->close();
}

bool TfrmMain::protectionHolds(DisarmProtection::Step step, std::function<void()> retry)
{
    if (!m_guard.protection().needsPin(step))
        return false;
    if (m_pinGranted) {
        m_pinGranted = false;
        return false;
    }
    m_pinRetry = std::move(retry);
    if (m_pinAsk && m_pinAsk->isVisible()) {
        m_pinAsk->raise();
        m_pinAsk->activateWindow();
        return true;
    }
    if (!isVisible())
        RestoreFromMessage(QByteArray());
    m_pinAsk = new TfrmPinAsk(this);
    m_pinAsk->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_pinAsk, &TfrmPinAsk::pinSubmitted, this, [this](const QString &pin) {
        if (m_guard.protection().CheckPin(pin) != DisarmProtection::Verdict::Granted) {
            m_pinAsk->showRefusal(DisarmProtection::WrongPinText);
            return;
        }
        const std::function<void()> again = std::move(m_pinRetry);
        m_pinRetry = nullptr;
        m_pinAsk->close();
        m_pinGranted = true;
        if (again)
            again();
        m_pinGranted = false;
    });
    connect(m_pinAsk, &QDialog::rejected, this, [this] { m_pinRetry = nullptr; });
    m_pinAsk->open();
    return true;
}

bool TfrmMain::closeHeldByProtection(QCloseEvent *event)
{
    if (m_closed)
        return false;
    if (m_guard.protection().needsPin(DisarmProtection::Step::Quit)) {
        // The right PIN lets the program end, still armed, as a plain close.
        if (!protectionHolds(DisarmProtection::Step::Quit, [this] { ExitProgram(); }))
            return false;
        event->ignore();
        return true;
    }
    if (!m_guard.protection().keepsRunningWhenClosed())
        return false;
    // The locked screen guards: the program goes on unseen (the single-
    // instance restore message brings the window back).
    event->ignore();
    hide();
    return true;
}

void TfrmMain::wireArmedReach()
{
    using P = ArmedReach::Place;

    for (QSlider *slider : centralWidget()->findChildren<QSlider *>())
        holdControl(P::Settings, slider);
    for (QSpinBox *spin : centralWidget()->findChildren<QSpinBox *>())
        holdControl(P::Settings, spin);
    holdControl(P::Settings, cmbRecSource);
    holdControl(P::Settings, mnuResetSettingToDefault);
    holdControl(P::SystemMixer, btnSysVolumeControl);
    holdControl(P::SystemMixer, btnSysRecordingControl);
    holdControl(P::ProtectionOptions, mnuDisarmProtection);
    holdControl(P::Calibration, mnuCalibrateMicrophone);
    holdControl(P::SessionSwitches, mnuLid);
    holdControl(P::SessionSwitches, mnuPowerCable);
    if (auto *options = menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"))) {
        for (QAction *action : options->actions()) {
            if (action->objectName() == QLatin1String("mnuAlerts"))
                holdControl(P::Alerts, action);
            else if (action->objectName() == QLatin1String("mnuEvidence"))
                holdControl(P::Evidence, action);
        }
    }
    for (QAction *action : {ActMicDetectToggle, ActSimToggle, ActKeyDetectToggle})
        holdControl(P::DetectorSwitches, action);
    // A detector that cannot watch here is disabled, its stored switch kept.
    for (QAction *action :
         {ActMouDetectToggle, ActCamDetectToggle, ActUsbDetectToggle, ActNetDetectToggle})
        holdControl(P::DetectorSwitches, action,
                    [action] { return !action->property("unavailable").toBool(); });
    holdControl(P::Report, ActViewReport);
    holdControl(P::SoundList, chklbSounds);
    holdControl(P::SoundImport, ActAddSound);
    const auto selectedSound = [this] { return m_sounds->count() > 0 && m_sounds->hasSelection(); };
    holdControl(P::SoundRemoval, ActRemoveSound, selectedSound);
    for (QPushButton *button : {btnFrontLeft, btnFrontCenter, btnFrontRight})
        holdControl(P::SpeakerTest, button, selectedSound);
    holdControl(P::SpeakerTest, btnTestStop);

    connect(&m_guard.alarm(), &AlarmControl::armStateChanged, this, &TfrmMain::applyArmedReach);
    applyArmedReach();
}

void TfrmMain::holdControl(ArmedReach::Place place, QObject *control, std::function<bool()> own)
{
    if (control)
        m_held.append({place, control, std::move(own)});
}

void TfrmMain::holdDialog(ArmedReach::Place place, QDialog *dialog)
{
    holdControl(place, dialog);
    applyArmedReach(); // a dialog opened on the way to a held state closes at once
}

void TfrmMain::applyArmedReach()
{
    m_held.removeIf([](const HeldControl &held) { return held.control.isNull(); });
    // A closing dialog may come back here: walk a copy.
    const QList<HeldControl> controls = m_held;
    for (const HeldControl &held : controls) {
        const bool reachable = m_guard.armedReach().reachable(held.place);
        if (auto *dialog = qobject_cast<QDialog *>(held.control)) {
            if (!reachable && dialog->isVisible())
                dialog->reject();
            continue;
        }
        const bool enabled = reachable && (!held.own || held.own());
        if (auto *action = qobject_cast<QAction *>(held.control))
            action->setEnabled(enabled);
        else if (auto *widget = qobject_cast<QWidget *>(held.control))
            widget->setEnabled(enabled);
    }
}

void TfrmMain::wireBackgroundClose()
{
    m_backgroundPortal = new BackgroundPortal(QDBusConnection::sessionBus(), this);
    BackgroundClose::Hooks hooks;
    hooks.guarding = [this] { return m_guard.alarm().armState() != AlarmControl::ArmState::Disarmed; };
    hooks.notify = [this](const QString &text) {
        if (m_guard.reach())
            m_guard.reach()->notifications.notify(QStringLiteral("Tarvo2"), text);
    };
    hooks.requestBackground = [this] {
        // The portal places its question over the window it names (X11 only;
        // elsewhere the window has no identifier the portal understands).
        const QString parent = QGuiApplication::platformName() == QLatin1String("xcb")
                                   ? QStringLiteral("x11:") + QString::number(winId(), 16)
                                   : QString();
        m_backgroundPortal->request(
            QStringLiteral("Tarvo2 keeps guarding the computer while its window is closed."),
            parent);
    };
    m_backgroundClose = std::make_unique<BackgroundClose>(std::move(hooks));
}

void TfrmMain::ExitProgram()
{
    m_exitRequested = true;
    close();
    m_exitRequested = false;
    // Hidden once, the program no longer ends with its last window.
    if (m_closed)
        QCoreApplication::quit();
}

bool TfrmMain::hideToBackground(QCloseEvent *event)
{
    if (m_closed || !m_backgroundClose || !m_backgroundClose->hidesOnClose(m_exitRequested))
        return false;
    event->ignore();
    // Hidden, the program must not end when a dialog closes.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // With neither a tray nor a notification service a hidden window would
    // vanish without a word: it goes to the task bar instead.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    const bool notices = bus.isConnected() && bus.interface() &&
                         (bus.interface()->isServiceRegistered(service).value() ||
                          bus.interface()->activatableServiceNames().value().contains(service));
    if (!m_guard.reach()->tray.isAvailable() && !notices) {
        if (!m_minimisedTold)
            m_guard.report().AddToReport(QStringLiteral(
                "Window minimised instead of hidden: no tray and no notification service"));
        m_minimisedTold = true;
        showMinimized();
        return true;
    }
    hide();
    return true;
}
