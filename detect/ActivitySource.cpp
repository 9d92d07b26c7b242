#include "detect/ActivitySource.h"

#include "detect/IdleMonitorActivity.h"
#include "detect/WaylandIdleActivity.h"
#include "detect/XInputActivity.h"

#include <QFileInfo>
#include <QGuiApplication>

namespace {
// Stands in where no source works: never active, never available.
class NoActivity : public ActivitySource
{
public:
    using ActivitySource::ActivitySource;
    bool available() const override { return false; }
    bool distinguishesKeys() const override { return false; }
    QString name() const override { return QStringLiteral("none"); }
};

// Without an address libdbus may try to launch a bus of its own; only a
// bus that is already there is asked.
bool SessionBusExists()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

bool OnXcb()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}
} // namespace

bool IsWaylandSession()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE") == "wayland";
}

bool CanReadGlobalPointer()
{
    // Offscreen and other headless platforms keep the old behaviour: the
    // position Qt reports is all there is.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    return !(OnXcb() && IsWaylandSession());
}

std::unique_ptr<ActivitySource> CreateActivitySourceNamed(const QString &name, QObject *parent)
{
    if (name == QLatin1String("xinput2"))
        return std::make_unique<XInputActivity>(QByteArray(), parent);
    if (name == QLatin1String("mutter"))
        return std::make_unique<MutterIdleActivity>(QDBusConnection::sessionBus(), parent);
    if (name == QLatin1String("wayland"))
        return std::make_unique<WaylandIdleActivity>(QByteArray(), parent);
    if (name == QLatin1String("screensaver"))
        return std::make_unique<ScreenSaverActivity>(QDBusConnection::sessionBus(), parent);
    return nullptr;
}

std::unique_ptr<ActivitySource> CreateActivitySource(QObject *parent)
{
    QStringList order;
    // XInput2 on XWayland sees only what reaches X clients, so it is used
    // in a real X11 session only.
    if (OnXcb() && !IsWaylandSession())
        order << QStringLiteral("xinput2");
    const bool bus = SessionBusExists();
    if (bus)
        order << QStringLiteral("mutter");
    if (IsWaylandSession())
        order << QStringLiteral("wayland");
    if (bus)
        order << QStringLiteral("screensaver");
    for (const QString &name : order) {
        std::unique_ptr<ActivitySource> source = CreateActivitySourceNamed(name, parent);
        if (source && source->available())
            return source;
    }
    return std::make_unique<NoActivity>(parent);
}

std::unique_ptr<ActivitySource> CreateActivityHint(const ActivitySource &source, QObject *parent)
{
    if (source.distinguishesKeys() || !IsWaylandSession() || qEnvironmentVariableIsEmpty("DISPLAY"))
        return nullptr;
    auto hint = std::make_unique<XInputActivity>(QByteArray(), parent);
    if (!hint->available())
        return nullptr;
    return hint;
}
