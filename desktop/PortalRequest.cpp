#include "desktop/PortalRequest.h"

#include "desktop/DBusProperties.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <algorithm>

namespace desktop {

namespace {
const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
} // namespace

PortalRequest::PortalRequest(const QDBusConnection &bus, int answerTimeoutMs, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(std::max(answerTimeoutMs, 0));
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        if (m_done)
            return;
        m_done = true;
        m_lateTimer.start(); // still following the request
        Q_EMIT failed(QStringLiteral("the portal gave no answer"));
    });
    m_lateTimer.setSingleShot(true);
    m_lateTimer.setInterval(LateAnswerMs);
    connect(&m_lateTimer, &QTimer::timeout, this, [this] {
        forget();
        Q_EMIT released();
    });
}

QString PortalRequest::RequestPath(const QString &uniqueName, const QString &token)
{
    QString sender = uniqueName;
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return Path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void PortalRequest::call(const QString &interface, const QString &method,
                         const QVariantList &arguments, QVariantMap options)
{
    if (!m_bus.isConnected()) {
        fail(QStringLiteral("no session bus"));
        return;
    }
    const QString token =
        QStringLiteral("tarvo2_") + QString::number(QRandomGenerator::global()->generate());
    options.insert(QStringLiteral("handle_token"), token);
    follow(RequestPath(m_bus.baseService(), token));
    if (m_answerTimer.interval() > 0)
        m_answerTimer.start();

    QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, interface, method);
    message.setArguments(arguments + QVariantList{options});
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, CallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> handle = *w;
        if (handle.isError()) {
            fail(handle.error().message());
            if (m_lateTimer.isActive()) { // no answer will come
                m_lateTimer.stop();
                forget();
                Q_EMIT released();
            }
            return;
        }
        // Older portals choose the path themselves.
        if (!m_path.isEmpty() && handle.value().path() != m_path) {
            forget();
            follow(handle.value().path());
        }
    });
}

void PortalRequest::onResponse(uint response, const QVariantMap &results)
{
    const bool late = m_lateTimer.isActive();
    if (m_done && !late)
        return;
    m_done = true;
    m_answerTimer.stop();
    m_lateTimer.stop();
    forget();
    if (late)
        Q_EMIT answeredLate(response, results);
    else
        Q_EMIT answered(response, results);
    Q_EMIT released();
}

void PortalRequest::fail(const QString &error)
{
    if (m_done)
        return;
    m_done = true;
    m_answerTimer.stop();
    forget();
    Q_EMIT failed(error);
    Q_EMIT released();
}

void PortalRequest::follow(const QString &path)
{
    m_path = path;
    m_bus.connect(Service, path, RequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::forget()
{
    if (m_path.isEmpty())
        return;
    m_bus.disconnect(Service, m_path, RequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_path.clear();
}

namespace {
// The user unit a process runs in: the first unit under the user's service
// manager that is not a slice.
QString UserUnit(const QString &cgroup)
{
    for (const QString &line : cgroup.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("0::")))
            continue;
        const int manager = line.indexOf(QLatin1String(".service/"));
        if (manager < 0)
            return {};
        const QStringList units = line.mid(manager + 9).split(QLatin1Char('/'));
        for (const QString &unit : units)
            if (!unit.endsWith(QLatin1String(".slice")))
                return unit.trimmed();
    }
    return {};
}

// systemd writes characters a unit name cannot hold as "\x2d".
QString Unescaped(const QString &name)
{
    QByteArray bytes;
    const QByteArray raw = name.toUtf8();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        bool hex = false;
        if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
            const int value = raw.mid(i + 2, 2).toInt(&hex, 16);
            if (hex) {
                bytes.append(char(value));
                i += 3;
                continue;
            }
        }
        bytes.append(raw[i]);
    }
    return QString::fromUtf8(bytes);
}
} // namespace

QStringList HostAppIds(const QString &cgroup)
{
    QStringList ids{QString()};
    const QString unit = UserUnit(cgroup);
    // The desktop's naming: app[-<launcher>]-<id>-<random>.scope or .slice,
    // app[-<launcher>]-<id>[@<random>].service.
    static const QRegularExpression scope(
        QStringLiteral(R"(^app-(?:[[:alnum:]]+\-)?(.+?)(?:\-[[:alnum:]]*)(?:\.scope|\.slice)$)"));
    static const QRegularExpression service(
        QStringLiteral(R"(^app-(?:[[:alnum:]]+\-)?(.+?)(?:@[[:alnum:]]*|\-autostart)?\.service$)"));
    for (const QRegularExpression *pattern : {&scope, &service}) {
        const QRegularExpressionMatch match = pattern->match(unit);
        if (match.hasMatch()) {
            const QString id = Unescaped(match.captured(1));
            if (!id.isEmpty())
                ids.append(id);
            break;
        }
    }
    return ids;
}

} // namespace desktop
