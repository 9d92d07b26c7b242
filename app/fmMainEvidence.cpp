// Wiring of the alarm's pictures: the recorder follows the alarm's accepted
// triggers, and the "Evidence…" dialog sits under Options.

#include "app/fmEvidence.h"
#include "app/fmMain.h"

#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

void TfrmMain::wireEvidence()
{
    const QString reports = QFileInfo(m_report.filePath()).absolutePath();
    m_evidence = std::make_unique<EvidenceRecorder>(m_report, EvidenceFolder::PathFor(reports));
    EvidenceRecorder *evidence = m_evidence.get();

    // Queued behind the trigger's own steps, so the sound is on its way
    // before the pictures are started; they never run on this thread.
    connect(m_alarm.get(), &AlarmControl::alarmRaised, evidence, &EvidenceRecorder::triggered,
            Qt::QueuedConnection);
    connect(m_alarm.get(), &AlarmControl::armStateChanged, evidence,
            [evidence](AlarmControl::ArmState state) {
                if (state == AlarmControl::ArmState::Disarmed)
                    evidence->resetNotices();
            });
    // Old pictures go at start-up too, not only when a new one comes.
    QTimer::singleShot(0, evidence, [evidence] {
        evidence->folder().prune(EvidenceSettings::Load().limits, QDateTime::currentDateTime());
    });

    connect(addOptionsAction(QStringLiteral("Evidence…"), "mnuEvidence"), &QAction::triggered, this,
            [this] {
                // Not exec(): the alarm goes on meanwhile, and the dialog
                // closes when arming with a PIN holds it.
                auto *dialog = new TfrmEvidence(*m_evidence, this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->open();
                holdDialog(ArmedReach::Place::Evidence, dialog);
            });
}

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

QString TfrmMain::evidenceFolder() const
{
    return m_evidence ? m_evidence->folder().path() : QString();
}
