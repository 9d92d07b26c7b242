#pragma once
// The desktop's screenshot services on the session bus: the screenshot
// portal (org.freedesktop.portal.Screenshot), the portal's permission store,
// GNOME's portal backend and GNOME Shell's own service
// (org.gnome.Shell.Screenshot). Every call is asynchronous with a timeout;
// a missing service is a normal answer. Whether a picture may be asked for
// is for the caller to decide from the facts read here.

#include <QDBusConnection>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <functional>

namespace desktop {

struct ScreenshotFacts
{
    uint portalVersion = 0;       // the portal's Screenshot version; 0 without a portal
    uint gnomeBackendVersion = 0; // GNOME's portal backend; 0 without one
    bool permissionsRead = false; // the permission store answered
    // App id -> the values the store holds for screenshots ("yes", "no"...).
    QMap<QString, QStringList> permissions;
    bool gnomeShell = false; // org.gnome.Shell.Screenshot has an owner
};

class ScreenshotServices : public QObject
{
    Q_OBJECT
public:
    // answerTimeoutMs bounds a picture: the portal's answer or GNOME Shell's reply.
    ScreenshotServices(const QDBusConnection &bus, int answerTimeoutMs, QObject *parent = nullptr);

    // Asks every service at once; done runs once all have answered or failed.
    void readFacts(std::function<void(const ScreenshotFacts &)> done);

    // A picture without interaction (interactive=false); done gets the local
    // file the portal wrote, or an empty path and why.
    using Done = std::function<void(const QString &file, const QString &error)>;
    void takeWithPortal(Done done);
    // GNOME Shell writes the picture to filePath (no flash, no pointer).
    void takeWithGnomeShell(const QString &filePath, Done done);

    static const QString GnomeShellService;

private:
    QDBusConnection m_bus;
    int m_answerTimeoutMs;
};

} // namespace desktop
