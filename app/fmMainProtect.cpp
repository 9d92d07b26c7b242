// The window's part of the disarm protection: the options menu item, the PIN
// question in front of the guarded handlers, the settings held while armed,
// hiding instead of ending, and the screen lock at arming with the unlock
// that disarms. The rules themselves are DisarmProtection's.

#include "app/fmMain.h"
#include "app/fmProtection.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>

void TfrmMain::wireProtection()
{
    m_protection = std::make_unique<DisarmProtection>(*m_alarm, m_report);
    m_protection->Load();
    m_sessionLock = new SessionLock(this);

    mnuDisarmProtection = new QAction(QStringLiteral("Disarm protection…"), this);
    mnuDisarmProtection->setObjectName(QStringLiteral("mnuDisarmProtection"));
    if (auto *options = menuBar()->findChild<QMenu *>(QStringLiteral("mnuOptions"))) {
        QAction *before = nullptr;
        for (QAction *action : options->actions()) {
            if (action->objectName() == QStringLiteral("N5"))
                before = action;
        }
        options->insertAction(before, mnuDisarmProtection);
    }
    connect(mnuDisarmProtection, &QAction::triggered, this, [this] {
        auto *dialog = new TfrmProtection(*m_protection, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::accepted, this, &TfrmMain::applyProtectionState);
        dialog->open();
        holdDialog(ArmedReach::Place::ProtectionOptions, dialog);
    });

    connect(m_alarm.get(), &AlarmControl::armStateChanged, this,
            [this](AlarmControl::ArmState state) {
                if (state == AlarmControl::ArmState::Armed && m_protection->lockEnabled())
                    m_sessionLock->lock();
                else if (state == AlarmControl::ArmState::Disarmed)
                    m_sessionLock->release();
                applyProtectionState();
            });
    connect(m_sessionLock, &SessionLock::lockFailed, this,
            [this](const QString &message) { m_report.AddToReport(message); });
    connect(m_sessionLock, &SessionLock::unlocked, this, [this] {
        if (!m_alarm->isOn(AlarmControl::Switch::Alarm))
            return;
        m_report.AddToReport(QStringLiteral("Screen unlocked"));
        // The desktop's unlock took the owner's password: no PIN on top.
        m_pinGranted = true;
        ActActivateToggleExecute();
        m_pinGranted = false;
    });
    applyProtectionState();
}

void TfrmMain::applyProtectionState()
{
    applyArmedReach(); // a PIN set or removed opens or holds the settings
    if (m_alarm->armState() == AlarmControl::ArmState::Disarmed) {
        m_protection->resetTries();
        if (m_pinAsk)
            m_pinAsk->close();
    }
}

bool TfrmMain::protectionHolds(DisarmProtection::Step step, std::function<void()> retry)
{
    if (!m_protection || !m_protection->needsPin(step))
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
        if (m_protection->CheckPin(pin) != DisarmProtection::Verdict::Granted) {
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
    if (m_closed || !m_protection)
        return false;
    if (m_protection->needsPin(DisarmProtection::Step::Quit)) {
        // The right PIN lets the program end, still armed, as a plain close.
        if (!protectionHolds(DisarmProtection::Step::Quit, [this] { ExitProgram(); }))
            return false;
        event->ignore();
        return true;
    }
    if (!m_protection->keepsRunningWhenClosed())
        return false;
    // The locked screen guards: the program goes on unseen (the single-
    // instance restore message brings the window back).
    event->ignore();
    hide();
    return true;
}
