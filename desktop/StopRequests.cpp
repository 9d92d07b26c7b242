#include "desktop/StopRequests.h"

#include "desktop/DisplayWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int CaughtSignals[] = {SIGTERM, SIGINT, SIGHUP};
const QString Login1 = QStringLiteral("org.freedesktop.login1");
const QString Login1Path = QStringLiteral("/org/freedesktop/login1");
const QString Login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
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

const QString StopRequests::SessionEnded = QStringLiteral("session ended");

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
    if (!qGuiApp)
        return;
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this] { Q_EMIT stopRequested(SessionEnded, false); });
    // No window can show any more: the program ends now, in order.
    m_display = new DisplayWatch(this);
    connect(m_display, &DisplayWatch::displayLost, this,
            [this] { Q_EMIT stopRequested(SessionEnded, true); });
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
    m_bus = bus;
    m_bus.connect(Login1, Login1Path, Login1Manager, QStringLiteral("PrepareForShutdown"), this,
                  SLOT(onPrepareForShutdown(bool)));
}

void StopRequests::holdShutdown(bool hold)
{
    const quint64 request = ++m_delayRequest;
    // The descriptor is logind's record of the lock: closing it releases it.
    m_delay = QDBusUnixFileDescriptor();
    if (!hold || !m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Login1, Login1Path, Login1Manager,
                                                       QStringLiteral("Inhibit"));
    call << QStringLiteral("shutdown") << QStringLiteral("Tarvo2")
         << QStringLiteral("Telling the owner that the alarm stops guarding")
         << QStringLiteral("delay");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusMessage reply = w->reply();
                // A late reply to a released request: its descriptor goes
                // out of scope here, which releases that lock at once.
                if (request != m_delayRequest || reply.type() != QDBusMessage::ReplyMessage ||
                    reply.arguments().size() != 1)
                    return;
                m_delay = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
            });
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
