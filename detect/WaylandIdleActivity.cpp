#include "detect/WaylandIdleActivity.h"

#include <QSocketNotifier>

#include "ext-idle-notify-v1-client-protocol.h"
#include <cstring>
#include <wayland-client.h>

struct WaylandIdleActivity::Impl
{
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_seat *seat = nullptr;
    ext_idle_notifier_v1 *notifier = nullptr;
    ext_idle_notification_v1 *notification = nullptr;
    QSocketNotifier *socket = nullptr;
    bool offered = false;
    bool idle = false;
    int resumed = 0; // reports waiting to be emitted after dispatching

    static void Global(void *data, wl_registry *registry, uint32_t name, const char *interface,
                       uint32_t)
    {
        auto *d = static_cast<Impl *>(data);
        if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0 && !d->notifier) {
            d->offered = true;
            d->notifier = static_cast<ext_idle_notifier_v1 *>(
                wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
        } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !d->seat) {
            d->seat =
                static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        }
    }
    static void GlobalRemove(void *, wl_registry *, uint32_t) {}

    static void Idled(void *data, ext_idle_notification_v1 *)
    {
        static_cast<Impl *>(data)->idle = true;
    }
    static void Resumed(void *data, ext_idle_notification_v1 *)
    {
        auto *d = static_cast<Impl *>(data);
        d->idle = false;
        ++d->resumed;
    }
};

namespace {
const wl_registry_listener RegistryListener = {&WaylandIdleActivity::Impl::Global,
                                               &WaylandIdleActivity::Impl::GlobalRemove};
const ext_idle_notification_v1_listener NotificationListener = {
    &WaylandIdleActivity::Impl::Idled, &WaylandIdleActivity::Impl::Resumed};
} // namespace

WaylandIdleActivity::WaylandIdleActivity(const QByteArray &displayName, QObject *parent)
    : ActivitySource(parent), d(std::make_unique<Impl>())
{
    d->display = wl_display_connect(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!d->display)
        return;
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &RegistryListener, d.get());
    if (wl_display_roundtrip(d->display) < 0 || !d->notifier || !d->seat) {
        Close();
        return;
    }
    d->notification =
        ext_idle_notifier_v1_get_idle_notification(d->notifier, IdleTimeoutMilliseconds, d->seat);
    ext_idle_notification_v1_add_listener(d->notification, &NotificationListener, d.get());
    if (wl_display_roundtrip(d->display) < 0) {
        Close();
        return;
    }
    d->socket = new QSocketNotifier(wl_display_get_fd(d->display), QSocketNotifier::Read, this);
    connect(d->socket, &QSocketNotifier::activated, this, &WaylandIdleActivity::ReadEvents);
}

WaylandIdleActivity::~WaylandIdleActivity()
{
    Close();
}

bool WaylandIdleActivity::available() const
{
    return d->notification != nullptr;
}

bool WaylandIdleActivity::protocolOffered() const
{
    return d->offered;
}

bool WaylandIdleActivity::idle() const
{
    return d->idle;
}

void WaylandIdleActivity::ReadEvents()
{
    if (!d->display)
        return;
    wl_display *display = d->display;
    while (wl_display_prepare_read(display) != 0)
        wl_display_dispatch_pending(display);
    // The socket is readable, so this does not wait.
    const bool ok =
        wl_display_read_events(display) >= 0 && wl_display_dispatch_pending(display) >= 0;
    wl_display_flush(display);
    // Signals go out after dispatching, so a receiver never runs inside
    // libwayland's callbacks.
    const int resumed = d->resumed;
    d->resumed = 0;
    for (int i = 0; i < resumed && d->display; ++i)
        Q_EMIT activity(Kind::Unknown, 0);
    if (!ok || (d->display && wl_display_get_error(d->display) != 0)) {
        Close();
        Q_EMIT availabilityChanged(false);
    }
}

void WaylandIdleActivity::Close()
{
    delete d->socket;
    d->socket = nullptr;
    if (d->notification)
        ext_idle_notification_v1_destroy(d->notification);
    if (d->notifier)
        ext_idle_notifier_v1_destroy(d->notifier);
    if (d->seat)
        wl_seat_destroy(d->seat);
    if (d->registry)
        wl_registry_destroy(d->registry);
    if (d->display)
        wl_display_disconnect(d->display);
    d->notification = nullptr;
    d->notifier = nullptr;
    d->seat = nullptr;
    d->registry = nullptr;
    d->display = nullptr;
}
