#pragma once
// The picture of the screen where only the desktop's screenshot service can
// take one (Wayland): the screenshot portal where it is known not to ask,
// else GNOME Shell's own service, else nothing (ScreenshotRule decides).
// Asynchronous from start to end: nothing here waits on the bus, and every
// step has a timeout, so a service that never answers costs the picture only.

#include "desktop/ScreenshotServices.h"

#include <QDBusConnection>
#include <QObject>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class ScreenServiceCapture : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        int answerTimeoutMs = 20000;
        QString currentDesktop; // XDG_CURRENT_DESKTOP when empty
        // Every id the portal may file the program under: from
        // /proc/self/cgroup and the desktop id when empty.
        QStringList appIds;
    };

    ScreenServiceCapture(const QDBusConnection &bus, Options options, QObject *parent = nullptr);
    ~ScreenServiceCapture() override;

    // done (on this thread) gets the file the service wrote, which the caller
    // moves away; or an empty path and why there is no picture.
    using Done = desktop::ScreenshotServices::Done;
    void take(Done done);

private:
    void takeWithGnomeShell(const Done &done);

    desktop::ScreenshotServices m_services;
    Options m_options;
    std::unique_ptr<QTemporaryDir> m_scratch; // GNOME Shell's pictures, private
    int m_taken = 0;
};
