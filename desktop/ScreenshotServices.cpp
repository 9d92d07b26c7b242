#include "desktop/ScreenshotServices.h"

#include "desktop/DBusProperties.h"
#include "desktop/PortalRequest.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QUrl>
#include <memory>

namespace desktop {

const QString ScreenshotServices::GnomeShellService = QStringLiteral("org.gnome.Shell.Screenshot");

namespace {
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString StoreService = QStringLiteral("org.freedesktop.impl.portal.PermissionStore");
const QString StorePath = QStringLiteral("/org/freedesktop/impl/portal/PermissionStore");
const QString ScreenshotTable = QStringLiteral("screenshot");

uint VersionOf(const std::optional<QVariantMap> &properties)
{
    return properties ? properties->value(QStringLiteral("version")).toUInt() : 0;
}

// The store's entry: app id -> values (a{sas}).
QMap<QString, QStringList> PermissionsOf(const QDBusArgument &argument)
{
    QMap<QString, QStringList> permissions;
    argument >> permissions;
    return permissions;
}
} // namespace

ScreenshotServices::ScreenshotServices(const QDBusConnection &bus, int answerTimeoutMs,
                                       QObject *parent)
    : QObject(parent), m_bus(bus), m_answerTimeoutMs(answerTimeoutMs)
{
}

void ScreenshotServices::readFacts(std::function<void(const ScreenshotFacts &)> done)
{
    struct Gathering
    {
        ScreenshotFacts facts;
        int waiting = 4;
        std::function<void(const ScreenshotFacts &)> done;
        void answered()
        {
            if (--waiting == 0)
                done(facts);
        }
    };
    auto gathering = std::make_shared<Gathering>();
    gathering->done = std::move(done);
    if (!m_bus.isConnected()) {
        gathering->done(gathering->facts);
        return;
    }

    ReadAllProperties(m_bus, QStringLiteral("org.freedesktop.portal.Desktop"), PortalPath,
                      QStringLiteral("org.freedesktop.portal.Screenshot"), this,
                      [gathering](const std::optional<QVariantMap> &properties) {
                          gathering->facts.portalVersion = VersionOf(properties);
                          gathering->answered();
                      });
    ReadAllProperties(m_bus, QStringLiteral("org.freedesktop.impl.portal.desktop.gnome"),
                      PortalPath, QStringLiteral("org.freedesktop.impl.portal.Screenshot"), this,
                      [gathering](const std::optional<QVariantMap> &properties) {
                          gathering->facts.gnomeBackendVersion = VersionOf(properties);
                          gathering->answered();
                      });

    QDBusMessage lookup = QDBusMessage::createMethodCall(StoreService, StorePath, StoreService,
                                                         QStringLiteral("Lookup"));
    lookup << ScreenshotTable << ScreenshotTable;
    auto *stored = new QDBusPendingCallWatcher(m_bus.asyncCall(lookup, CallTimeout), this);
    connect(stored, &QDBusPendingCallWatcher::finished, this,
            [gathering](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusMessage reply = w->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    gathering->facts.permissionsRead = true;
                    gathering->facts.permissions =
                        PermissionsOf(reply.arguments().constFirst().value<QDBusArgument>());
                } else if (reply.errorName() ==
                           QLatin1String("org.freedesktop.portal.Error.NotFound")) {
                    gathering->facts.permissionsRead = true; // nothing stored yet
                }
                gathering->answered();
            });

    QDBusMessage owner = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    owner << GnomeShellService;
    auto *shell = new QDBusPendingCallWatcher(m_bus.asyncCall(owner, CallTimeout), this);
    connect(shell, &QDBusPendingCallWatcher::finished, this,
            [gathering](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<bool> reply = *w;
                gathering->facts.gnomeShell = !reply.isError() && reply.value();
                gathering->answered();
            });
}

void ScreenshotServices::takeWithPortal(Done done)
{
    auto *request = new PortalRequest(m_bus, m_answerTimeoutMs, this);
    auto shared = std::make_shared<Done>(std::move(done));
    connect(request, &PortalRequest::released, request, &QObject::deleteLater);
    connect(request, &PortalRequest::answered, this,
            [shared](uint response, const QVariantMap &results) {
                const QUrl uri(results.value(QStringLiteral("uri")).toString());
                if (response != PortalRequest::Success)
                    (*shared)({}, QStringLiteral("the portal refused (response %1)").arg(response));
                else if (!uri.isLocalFile())
                    (*shared)({}, QStringLiteral("the portal gave no local file"));
                else
                    (*shared)(uri.toLocalFile(), {});
            });
    connect(request, &PortalRequest::failed, this,
            [shared](const QString &error) { (*shared)({}, error); });
    // A picture that came too late is nobody's: it must not stay behind in
    // the user's pictures, readable as the portal left it.
    connect(request, &PortalRequest::answeredLate, this,
            [](uint response, const QVariantMap &results) {
                const QUrl uri(results.value(QStringLiteral("uri")).toString());
                if (response == PortalRequest::Success && uri.isLocalFile())
                    QFile::remove(uri.toLocalFile());
            });
    // Never interactive: nobody is there to choose an area.
    request->call(QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"),
                  {QString()},
                  {{QStringLiteral("interactive"), false}, {QStringLiteral("modal"), false}});
}

void ScreenshotServices::takeWithGnomeShell(const QString &filePath, Done done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        GnomeShellService, QStringLiteral("/org/gnome/Shell/Screenshot"), GnomeShellService,
        QStringLiteral("Screenshot"));
    call << false /* include_cursor */ << false /* flash */ << filePath;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_answerTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done), filePath](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<bool, QString> reply = *w;
                if (reply.isError()) {
                    // GNOME 41 and later answer AccessDenied to programs not on their list.
                    done({}, reply.error().type() == QDBusError::AccessDenied
                                 ? QStringLiteral("GNOME Shell does not let this program take it")
                                 : reply.error().message());
                } else if (!reply.argumentAt<0>()) {
                    done({}, QStringLiteral("GNOME Shell could not take it"));
                } else {
                    const QString used = reply.argumentAt<1>();
                    done(used.isEmpty() ? filePath : used, {});
                }
            });
}

} // namespace desktop
