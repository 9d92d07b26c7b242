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

    if (auto *options = menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"))) {
        QAction *before = nullptr;
        for (QAction *action : options->actions())
            if (action->objectName() == QLatin1String("N5"))
                before = action;
        auto *dialogAction = new QAction(QStringLiteral("Evidence…"), options);
        dialogAction->setObjectName(QStringLiteral("mnuEvidence"));
        options->insertAction(before, dialogAction);
        connect(dialogAction, &QAction::triggered, this, [this] {
            TfrmEvidence dialog(*m_evidence, this);
            dialog.exec();
        });
    }
}

QString TfrmMain::evidenceFolder() const
{
    return m_evidence ? m_evidence->folder().path() : QString();
}
