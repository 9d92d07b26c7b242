#include "evidence/ScreenServiceCapture.h"

#include "desktop/PortalRequest.h"
#include "evidence/ScreenshotRule.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QStandardPaths>

ScreenServiceCapture::ScreenServiceCapture(const QDBusConnection &bus, Options options,
                                           QObject *parent)
    : QObject(parent), m_services(bus, options.answerTimeoutMs), m_options(std::move(options))
{
    if (m_options.currentDesktop.isEmpty())
        m_options.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (m_options.appIds.isEmpty()) {
        QFile cgroup(QStringLiteral("/proc/self/cgroup"));
        const bool read = cgroup.open(QIODevice::ReadOnly);
        m_options.appIds =
            desktop::HostAppIds(read ? QString::fromUtf8(cgroup.readAll()) : QString());
        // Newer Qt registers the program with the portal under its desktop id.
        const QString desktopId = QGuiApplication::desktopFileName();
        if (!desktopId.isEmpty() && !m_options.appIds.contains(desktopId))
            m_options.appIds.append(desktopId);
    }
}

ScreenServiceCapture::~ScreenServiceCapture() = default;

void ScreenServiceCapture::take(Done done)
{
    m_services.readFacts([this, done = std::move(done)](const desktop::ScreenshotFacts &facts) {
        const ScreenshotRule::Choice choice =
            ScreenshotRule::Choose(facts, m_options.currentDesktop, m_options.appIds);
        switch (choice.way) {
        case ScreenshotRule::Way::Portal:
            m_services.takeWithPortal(done);
            return;
        case ScreenshotRule::Way::GnomeShell:
            // Why the portal was passed by belongs with a refusal.
            takeWithGnomeShell(
                [done, portal = choice.why](const QString &file, const QString &error) {
                    done(file, error.isEmpty() ? error : error + QStringLiteral("; ") + portal);
                });
            return;
        case ScreenshotRule::Way::None:
            done({}, choice.why);
            return;
        }
    });
}

void ScreenServiceCapture::takeWithGnomeShell(const Done &done)
{
    if (!m_scratch) {
        // GNOME Shell writes where it is told; a folder only the owner reads.
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        m_scratch = std::make_unique<QTemporaryDir>(
            (runtime.isEmpty() ? QDir::tempPath() : runtime) + QStringLiteral("/tarvo2-screen-"));
    }
    if (!m_scratch->isValid()) {
        done({}, QStringLiteral("no private folder for the picture: ") + m_scratch->errorString());
        m_scratch.reset();
        return;
    }
    m_services.takeWithGnomeShell(
        m_scratch->filePath(QStringLiteral("screen-%1.png").arg(++m_taken)), done);
}
