// The window's side of what an armed alarm holds: every control and open
// dialog of a place is tied to it here, and follows ArmedReach's rule
// whenever the alarm's state, the protection options or the sound list
// change. The window's own conditions (a selected sound, say) come on top.

#include "app/fmMain.h"

#include <QComboBox>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

void TfrmMain::wireArmedReach()
{
    using P = ArmedReach::Place;
    m_armedReach = std::make_unique<ArmedReach>(*m_alarm, *m_protection);

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
    if (auto *options = menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"))) {
        for (QAction *action : options->actions()) {
            if (action->objectName() == QLatin1String("mnuAlerts"))
                holdControl(P::Alerts, action);
            else if (action->objectName() == QLatin1String("mnuEvidence"))
                holdControl(P::Evidence, action);
        }
    }
    for (QAction *action :
         {ActMicDetectToggle, ActMouDetectToggle, ActSimToggle, ActKeyDetectToggle})
        holdControl(P::DetectorSwitches, action);
    holdControl(P::Report, ActViewReport);
    holdControl(P::SoundList, chklbSounds);
    holdControl(P::SoundImport, ActAddSound);
    const auto selectedSound = [this] { return m_sounds->count() > 0 && m_sounds->hasSelection(); };
    holdControl(P::SoundRemoval, ActRemoveSound, selectedSound);
    for (QPushButton *button : {btnFrontLeft, btnFrontCenter, btnFrontRight})
        holdControl(P::SpeakerTest, button, selectedSound);
    holdControl(P::SpeakerTest, btnTestStop);

    connect(m_alarm.get(), &AlarmControl::armStateChanged, this, &TfrmMain::applyArmedReach);
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
    if (!m_armedReach)
        return;
    m_held.removeIf([](const HeldControl &held) { return held.control.isNull(); });
    // A closing dialog may come back here: walk a copy.
    const QList<HeldControl> controls = m_held;
    for (const HeldControl &held : controls) {
        const bool reachable = m_armedReach->reachable(held.place);
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
