// How the window closes: Exit (button, menu, tray) ends the program; the
// window manager's close while the alarm guards only hides the window and
// the program goes on in the background (BackgroundClose decides).

#include "app/BackgroundClose.h"
#include "app/fmMain.h"
#include "app/fmMainReach.h"
#include "desktop/BackgroundPortal.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPushButton>

void TfrmMain::wireBackgroundClose()
{
    m_backgroundPortal = new BackgroundPortal(QDBusConnection::sessionBus(), this);
    BackgroundClose::Hooks hooks;
    hooks.guarding = [this] { return m_alarm->armState() != AlarmControl::ArmState::Disarmed; };
    hooks.notify = [this](const QString &text) {
        if (m_reach)
            m_reach->notifications.notify(QStringLiteral("Tarvo2"), text);
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

    connect(btnExit, &QPushButton::clicked, this, &TfrmMain::ExitProgram);
    connect(Exit2, &QAction::triggered, this, &TfrmMain::ExitProgram);
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
    hide();
    return true;
}
