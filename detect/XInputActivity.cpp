#include "detect/XInputActivity.h"

#include <QList>
#include <QSocketNotifier>

// Xlib's macros (None, Bool, KeyPress, ...) collide with Qt names: X
// headers come after every Qt header and stay in this file.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

struct XInputActivity::Impl
{
    Display *display = nullptr;
    int opcode = 0;
    bool lost = false;
    QSocketNotifier *notifier = nullptr;
};

namespace {
// Xlib ends the process when a connection breaks, in its default I/O error
// handler and again in the display's exit handler. For our own connections
// both only mark the connection as lost; other displays keep the handler
// that was there before.
XIOErrorHandler PreviousIOErrorHandler = nullptr;
QList<Display *> OurDisplays; // UI thread only

int OnIOError(Display *display)
{
    if (OurDisplays.contains(display))
        return 0;
    return PreviousIOErrorHandler ? PreviousIOErrorHandler(display) : 0;
}

void OnConnectionLost(Display *, void *data)
{
    *static_cast<bool *>(data) = true;
}
} // namespace

XInputActivity::XInputActivity(const QByteArray &displayName, QObject *parent)
    : ActivitySource(parent), d(std::make_unique<Impl>())
{
    Display *display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return;
    int event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &d->opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success) {
        XCloseDisplay(display);
        return;
    }
    XSetIOErrorExitHandler(display, OnConnectionLost, &d->lost);
    if (XIOErrorHandler previous = XSetIOErrorHandler(OnIOError); previous != OnIOError)
        PreviousIOErrorHandler = previous;
    OurDisplays.append(display);
    d->display = display;

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);

    d->notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, &XInputActivity::ReadEvents);
}

XInputActivity::~XInputActivity()
{
    Close();
}

bool XInputActivity::available() const
{
    return d->display != nullptr;
}

void XInputActivity::ReadEvents()
{
    if (!d->display)
        return;
    // XPending reads the socket; a broken connection shows up as lost.
    while (!d->lost && XPending(d->display) > 0) {
        XEvent event;
        XNextEvent(d->display, &event);
        XGenericEventCookie *cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != d->opcode ||
            !XGetEventData(d->display, cookie))
            continue;
        Kind kind = Kind::Pointer;
        int key = 0;
        if (cookie->evtype == XI_RawKeyPress) {
            kind = Kind::Keyboard;
            const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
            const KeySym sym = XkbKeycodeToKeysym(d->display, KeyCode(raw->detail), 0, 0);
            key = sym == XK_Escape ? int(Qt::Key_Escape) : int(Qt::Key_unknown);
        }
        XFreeEventData(d->display, cookie);
        Q_EMIT activity(kind, key);
        if (!d->display)
            return; // a receiver closed us
    }
    if (d->lost) {
        Close();
        Q_EMIT availabilityChanged(false);
    }
}

void XInputActivity::Close()
{
    delete d->notifier;
    d->notifier = nullptr;
    // Still ours while it closes: a server that went away unnoticed makes
    // XCloseDisplay's sync fail, which only marks the connection as lost.
    if (d->display && !d->lost)
        XCloseDisplay(d->display);
    OurDisplays.removeAll(d->display);
    // A lost display is left as it is: Xlib may not touch it any more.
    d->display = nullptr;
}
