#include "desktop/StopRequests.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int CaughtSignals[] = {SIGTERM, SIGINT, SIGHUP};
std::atomic<int> g_writeEnd{-1};
std::atomic<bool> g_signalled{false};

// Only async-signal-safe calls here.
void OnSignal(int number)
{
    if (g_signalled.exchange(true))
        _exit(128 + number);
    alarm(StopRequests::WatchdogSeconds); // SIGALRM's default action ends the process
    const char byte = char(number);
    const int fd = g_writeEnd.load();
    if (fd < 0 || write(fd, &byte, 1) != 1)
        _exit(128 + number);
}

QString SignalName(int number)
{
    switch (number) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    }
    return QStringLiteral("signal %1").arg(number);
}

} // namespace

StopRequests::StopRequests(QObject *parent) : QObject(parent)
{
    if (pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_signalled = false;
    g_writeEnd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopRequests::readSignals);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : CaughtSignals)
        sigaction(number, &action, nullptr);
    if (qGuiApp)
        connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
                [this] { Q_EMIT stopRequested(QStringLiteral("session log-out"), false); });
}

StopRequests::~StopRequests()
{
    if (m_pipe[0] < 0)
        return;
    for (int number : CaughtSignals)
        signal(number, SIG_DFL);
    g_writeEnd = -1;
    close(m_pipe[0]);
    close(m_pipe[1]);
}

void StopRequests::watchShutdown(const QDBusConnection &bus)
{
    QDBusConnection(bus).connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForShutdown"),
        this, SLOT(onPrepareForShutdown(bool)));
}

void StopRequests::onPrepareForShutdown(bool starting)
{
    if (starting)
        Q_EMIT stopRequested(QStringLiteral("system shutdown"), false);
}

void StopRequests::readSignals()
{
    char byte = 0;
    while (read(m_pipe[0], &byte, 1) == 1)
        Q_EMIT stopRequested(SignalName(byte), true);
}
