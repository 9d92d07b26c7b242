#include "desktop/BackgroundPortal.h"

#include "desktop/PortalRequest.h"

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
    // No time limit: the user may take their time over the question.
    auto *call = new desktop::PortalRequest(m_bus, 0, this);
    connect(call, &desktop::PortalRequest::answered, this,
            [this, call](uint response, const QVariantMap &results) {
                call->deleteLater();
                // 0: the user (or the desktop's rule) allowed it; 1 cancelled, 2 other.
                const bool granted = response == desktop::PortalRequest::Success &&
                                     results.value(QStringLiteral("background")).toBool();
                setState(granted ? State::Granted : State::Refused);
            });
    connect(call, &desktop::PortalRequest::failed, this, [this, call] {
        call->deleteLater();
        setState(State::Unavailable);
    });
    setState(State::Waiting);
    // The program keeps its own autostart entry while armed.
    call->call(QStringLiteral("org.freedesktop.portal.Background"),
               QStringLiteral("RequestBackground"), {parentWindow},
               {{QStringLiteral("reason"), reason}, {QStringLiteral("autostart"), false}});
}

void BackgroundPortal::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}
