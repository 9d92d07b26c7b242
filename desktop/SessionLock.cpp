#include "desktop/SessionLock.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <unistd.h>

const QString SessionLock::FailedText = QStringLiteral("Screen could not be locked");

namespace {

const QString Login1Service = QStringLiteral("org.freedesktop.login1");
const QString Login1Path = QStringLiteral("/org/freedesktop/login1");
const QString ManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString SessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString ScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString ScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString ScreenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");

QString ErrorText(const QDBusMessage &reply)
{
    return reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
}

} // namespace

SessionLock::SessionLock(QObject *parent) : QObject(parent)
{
}

void SessionLock::lock()
{
    ++m_generation;
    m_state = State::Locking;
    m_sawLockedHint = false;
    m_logindError.clear();
    if (m_sessionPath.isEmpty())
        findSession();
    else
        lockSession();
}

void SessionLock::release()
{
    ++m_generation;
    m_state = State::Idle;
}

void SessionLock::call(const QDBusConnection &bus, const QDBusMessage &message,
                       std::function<void(const QDBusMessage &reply)> onReply)
{
    const quint64 generation = m_generation;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation, onReply = std::move(onReply)](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                if (generation == m_generation && m_state == State::Locking)
                    onReply(w->reply());
            });
}

void SessionLock::findSession()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        lockScreenSaver(QStringLiteral("no system bus"));
        return;
    }
    // pam_systemd names the session in the environment; a program started
    // outside it (a user service) still belongs to one by its process.
    const QString id = QString::fromLocal8Bit(qgetenv("XDG_SESSION_ID"));
    QDBusMessage message;
    if (!id.isEmpty()) {
        message = QDBusMessage::createMethodCall(Login1Service, Login1Path, ManagerInterface,
                                                 QStringLiteral("GetSession"));
        message << id;
    } else {
        message = QDBusMessage::createMethodCall(Login1Service, Login1Path, ManagerInterface,
                                                 QStringLiteral("GetSessionByPID"));
        message << quint32(::getpid());
    }
    call(bus, message, [this](const QDBusMessage &reply) {
        const QList<QVariant> args = reply.arguments();
        if (reply.type() != QDBusMessage::ReplyMessage || args.isEmpty() ||
            !args.first().canConvert<QDBusObjectPath>()) {
            lockScreenSaver(reply.type() == QDBusMessage::ErrorMessage
                                ? ErrorText(reply)
                                : QStringLiteral("no logind session"));
            return;
        }
        m_sessionPath = args.first().value<QDBusObjectPath>().path();
        lockSession();
    });
}

void SessionLock::lockSession()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!m_sessionSignalsConnected) {
        // QtDBus has no function-pointer form for bus signals.
        const bool unlock = bus.connect(Login1Service, m_sessionPath, SessionInterface,
                                        QStringLiteral("Unlock"), this, SLOT(onLogindUnlock()));
        const bool hint = bus.connect(
            Login1Service, m_sessionPath, PropertiesInterface, QStringLiteral("PropertiesChanged"),
            this, SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
        m_sessionSignalsConnected = unlock && hint;
    }
    call(bus,
         QDBusMessage::createMethodCall(Login1Service, m_sessionPath, SessionInterface,
                                        QStringLiteral("Lock")),
         [this](const QDBusMessage &reply) {
             if (reply.type() == QDBusMessage::ReplyMessage)
                 succeed(QStringLiteral("logind"));
             else
                 lockScreenSaver(ErrorText(reply));
         });
}

void SessionLock::lockScreenSaver(const QString &logindError)
{
    m_logindError = logindError;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fail(QStringLiteral("logind: %1; no session bus").arg(logindError));
        return;
    }
    if (!m_screenSaverSignalsConnected)
        m_screenSaverSignalsConnected = bus.connect(
            ScreenSaverService, ScreenSaverPath, ScreenSaverInterface,
            QStringLiteral("ActiveChanged"), this, SLOT(onScreenSaverActiveChanged(bool)));
    call(bus,
         QDBusMessage::createMethodCall(ScreenSaverService, ScreenSaverPath, ScreenSaverInterface,
                                        QStringLiteral("Lock")),
         [this](const QDBusMessage &reply) {
             if (reply.type() == QDBusMessage::ReplyMessage)
                 succeed(QStringLiteral("screensaver"));
             else
                 fail(QStringLiteral("logind: %1; screen saver: %2")
                          .arg(m_logindError, ErrorText(reply)));
         });
}

void SessionLock::fail(const QString &detail)
{
    m_state = State::Idle;
    Q_EMIT lockFailed(FailedText, detail);
}

void SessionLock::succeed(const QString &backend)
{
    m_backend = backend;
    m_state = State::Locked;
    Q_EMIT locked();
}

void SessionLock::reportUnlock()
{
    m_state = State::Idle;
    m_sawLockedHint = false;
    Q_EMIT unlocked();
}

void SessionLock::onLogindUnlock()
{
    if (m_state == State::Locked && m_backend == QStringLiteral("logind"))
        reportUnlock();
}

void SessionLock::onSessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                             const QStringList &)
{
    if (interface != SessionInterface || m_state == State::Idle)
        return;
    const auto hint = changed.constFind(QStringLiteral("LockedHint"));
    if (hint == changed.constEnd())
        return;
    if (hint->toBool()) {
        m_sawLockedHint = true;
    } else if (m_sawLockedHint && m_state == State::Locked &&
               m_backend == QStringLiteral("logind")) {
        // Only a lock that was seen to take hold can be undone.
        reportUnlock();
    }
}

void SessionLock::onScreenSaverActiveChanged(bool active)
{
    if (!active && m_state == State::Locked && m_backend == QStringLiteral("screensaver"))
        reportUnlock();
}
