#include "desktop/BackgroundPortal.h"

#include "desktop/DBusProperties.h"
#include "desktop/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {
const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
} // namespace

BackgroundPortal::BackgroundPortal(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
}

QString BackgroundPortal::RequestPath(const QString &uniqueName, const QString &token)
{
    return desktop::PortalRequest::RequestPath(uniqueName, token);
}

void BackgroundPortal::request(const QString &reason, const QString &parentWindow)
{
    if (m_state != State::NotAsked)
        return;
    if (!m_bus.isConnected()) {
        setState(State::Unavailable);
        return;
    }
    const QString token =
        QStringLiteral("tarvo2_") + QString::number(QRandomGenerator::global()->generate());
    // Followed before the call, so an answer that comes at once is not missed.
    followResponse(RequestPath(m_bus.baseService(), token));

    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, Path, QStringLiteral("org.freedesktop.portal.Background"),
        QStringLiteral("RequestBackground"));
    // The program keeps its own autostart entry while armed.
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("reason"), reason},
                              {QStringLiteral("autostart"), false}};
    call << parentWindow << options;
    setState(State::Waiting);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, desktop::CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> handle = *w;
        if (handle.isError()) {
            forgetResponse();
            setState(State::Unavailable);
            return;
        }
        // Older portals choose the path themselves.
        const QString path = handle.value().path();
        if (m_state == State::Waiting && path != m_requestPath) {
            forgetResponse();
            followResponse(path);
        }
    });
}

void BackgroundPortal::onResponse(uint response, const QVariantMap &results)
{
    if (m_state != State::Waiting)
        return;
    forgetResponse();
    // 0: the user (or the desktop's rule) allowed it; 1 cancelled, 2 other.
    const bool granted = response == 0 && results.value(QStringLiteral("background")).toBool();
    setState(granted ? State::Granted : State::Refused);
}

void BackgroundPortal::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

bool BackgroundPortal::followResponse(const QString &path)
{
    m_requestPath = path;
    return m_bus.connect(Service, path, RequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
}

void BackgroundPortal::forgetResponse()
{
    if (m_requestPath.isEmpty())
        return;
    m_bus.disconnect(Service, m_requestPath, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_requestPath.clear();
}
