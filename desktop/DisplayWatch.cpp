#include "desktop/DisplayWatch.h"

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <glib.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

// One watch at a time, on the UI thread (the only one that runs the
// plugin's source).
DisplayWatch *g_watch = nullptr;
GSource *g_platform = nullptr;            // the plugin's event source
const GSourceFuncs *g_platformFuncs = nullptr; // its own functions
GSourceFuncs g_wrappedFuncs = {};         // the same, looking first
xcb_connection_t *g_connection = nullptr;
QtMessageHandler g_previousHandler = nullptr;
bool g_lost = false;
constexpr int LastWordsWaitMs = 3000;

// Wayland: the plugin's display object (learned from its first queued call),
// its reading slot, and whether a thread of the plugin found the connection
// broken (set on that thread).
std::atomic<bool> g_wayland{false}; // read by the plugin's threads, too
QPointer<QObject> g_plugin;
QMetaMethod g_pluginRead;
bool g_readRouted = false;
std::atomic<bool> g_waylandBroken{false};
constexpr char WaylandDisplayClass[] = "QtWaylandClient::QWaylandDisplay";

bool Broken()
{
    return g_connection && xcb_connection_has_error(g_connection) != 0;
}

QMetaMethod LoopSignal(bool blocking)
{
    return blocking ? QMetaMethod::fromSignal(&QAbstractEventDispatcher::aboutToBlock)
                    : QMetaMethod::fromSignal(&QAbstractEventDispatcher::awake);
}

QAbstractEventDispatcher *UiDispatcher()
{
    return qApp ? QAbstractEventDispatcher::instance(qApp->thread()) : nullptr;
}

// Ends the process once the application object goes, before the plugin
// would wait for its reader thread held in OnMessage; everything of the
// program has ended by then.
void EndWithoutPlugin()
{
    std::fflush(nullptr);
    std::quick_exit(0);
}

// The plugin reads nothing more: its reading on each wake of the loop is
// cut off and its queued calls dropped (the event filter drops late ones).
void StopWaylandReading()
{
    QAbstractEventDispatcher *dispatcher = UiDispatcher();
    if (dispatcher && g_plugin) {
        QObject::disconnect(dispatcher, nullptr, g_plugin, nullptr);
        QCoreApplication::removePostedEvents(g_plugin, QEvent::MetaCall);
    } else if (dispatcher) {
        // Not learned yet: nothing but the plugin reads on these, and the
        // display is gone.
        QObject::disconnect(dispatcher, LoopSignal(true), nullptr, QMetaMethod());
        QObject::disconnect(dispatcher, LoopSignal(false), nullptr, QMetaMethod());
    }
    qAddPostRoutine(EndWithoutPlugin);
}

// Takes the plugin's reading out of the loop and tells, once.
void Lose()
{
    if (g_lost)
        return;
    g_lost = true;
    if (g_wayland)
        StopWaylandReading();
    else if (g_platform && !g_source_is_destroyed(g_platform))
        g_source_destroy(g_platform);
    if (g_watch)
        Q_EMIT g_watch->displayLost();
}

// The plugin's reading on each wake of the UI thread's loop, while the
// connection holds.
void ReadWhileConnected()
{
    if (g_lost || g_waylandBroken) {
        Lose();
        return;
    }
    if (g_plugin)
        g_pluginRead.invoke(g_plugin, Qt::DirectConnection);
}

// The plugin's reading on each wake of the loop goes through
// ReadWhileConnected from now on.
void RoutePluginReading(QObject *plugin)
{
    g_plugin = plugin;
    const int read = plugin->metaObject()->indexOfSlot("flushRequests()");
    QAbstractEventDispatcher *dispatcher = UiDispatcher();
    if (read < 0 || !dispatcher || !g_watch)
        return;
    g_pluginRead = plugin->metaObject()->method(read);
    for (bool blocking : {true, false}) {
        if (QObject::disconnect(dispatcher, LoopSignal(blocking), plugin, g_pluginRead)) {
            g_readRouted = true;
            if (blocking)
                QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, g_watch,
                                 ReadWhileConnected);
            else
                QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, g_watch,
                                 ReadWhileConnected);
        }
    }
}

bool IsLastWords(const QString &message)
{
    if (g_wayland)
        return message.startsWith(QLatin1String("The Wayland connection broke")) ||
               message.startsWith(QLatin1String("The Wayland connection experienced a fatal error"));
    return message.startsWith(QLatin1String("The X11 connection broke"));
}

[[noreturn]] void HoldThread()
{
    for (;;)
        pause();
}

gboolean WrappedPrepare(GSource *source, gint *timeout)
{
    return Broken() || g_platformFuncs->prepare(source, timeout);
}

gboolean WrappedCheck(GSource *source)
{
    return Broken() || g_platformFuncs->check(source);
}

// The plugin's own dispatch would end the process on a broken connection.
gboolean WrappedDispatch(GSource *source, GSourceFunc callback, gpointer data)
{
    if (Broken()) {
        Lose();
        return G_SOURCE_REMOVE;
    }
    return g_platformFuncs->dispatch(source, callback, data);
}

// The plugin's last words before it ends the process. From a reader thread
// of the Wayland plugin (the usual way): that thread is held and the UI
// thread told. From the UI thread: the connection broke in the instant
// between the look above and the plugin's own; told now, ended with 0.
void OnMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    if (type != QtWarningMsg || !qApp || !IsLastWords(message))
        return;
    if (QThread::currentThread() != qApp->thread()) {
        if (!g_wayland)
            return;
        // Not g_watch (the UI thread's): Lose looks at it there.
        g_waylandBroken = true;
        QMetaObject::invokeMethod(qApp, [] { Lose(); }, Qt::QueuedConnection);
        HoldThread();
    }
    if (!g_watch || (!g_wayland && (g_lost || !g_platform)))
        return;
    Lose();
    // A notice already on its way further up this stack (a signal came
    // first) can only go out while this loop runs: it gets the same bound.
    QEventLoop wait;
    QTimer::singleShot(LastWordsWaitMs, &wait, &QEventLoop::quit);
    wait.exec();
    std::fflush(nullptr);
    std::quick_exit(0); // no static destructors while other threads run
}

// The xcb plugin's source in the UI thread's (default) context. Qt's own
// sources come first, so their ids are small.
GSource *FindPlatformSource()
{
    constexpr guint MaxSourceIds = 4096;
    for (guint id = 1; id < MaxSourceIds; ++id) {
        GSource *source = g_main_context_find_source_by_id(g_main_context_default(), id);
        const char *name = source ? g_source_get_name(source) : nullptr;
        if (name && std::strcmp(name, "[Qt] XcbEventSource") == 0 && source->source_funcs &&
            source->source_funcs->prepare && source->source_funcs->check &&
            source->source_funcs->dispatch)
            return g_source_ref(source);
    }
    return nullptr;
}

} // namespace

DisplayWatch::DisplayWatch(QObject *parent) : QObject(parent)
{
    if (qGuiApp && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        watchWayland();
    else
        watchX11();
}

void DisplayWatch::watchX11()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        m_reason = QStringLiteral("the windows are not on an X display or Wayland");
        return;
    }
    if (g_watch) {
        m_reason = QStringLiteral("another watch is on");
        return;
    }
    GSource *platform = FindPlatformSource();
    if (!platform) {
        m_reason = QStringLiteral("the event loop is not GLib's");
        return;
    }
    g_watch = this;
    g_lost = false;
    g_wayland = false;
    g_connection = connection;
    g_platform = platform;
    g_platformFuncs = platform->source_funcs;
    g_wrappedFuncs = *g_platformFuncs;
    g_wrappedFuncs.prepare = WrappedPrepare;
    g_wrappedFuncs.check = WrappedCheck;
    g_wrappedFuncs.dispatch = WrappedDispatch;
    // The source stays the plugin's; only each look at it goes through here.
    platform->source_funcs = &g_wrappedFuncs;
    g_previousHandler = qInstallMessageHandler(OnMessage);
    m_available = true;
}

void DisplayWatch::watchWayland()
{
    if (g_watch) {
        m_reason = QStringLiteral("another watch is on");
        return;
    }
    g_watch = this;
    g_lost = false;
    g_wayland = true;
    g_waylandBroken = false;
    g_readRouted = false;
    g_plugin = nullptr;
    qApp->installEventFilter(this);
    g_previousHandler = qInstallMessageHandler(OnMessage);
    m_available = true;
}

bool DisplayWatch::eventFilter(QObject *receiver, QEvent *event)
{
    if (event->type() != QEvent::MetaCall || !g_wayland)
        return false;
    if (!g_plugin) {
        if (std::strcmp(receiver->metaObject()->className(), WaylandDisplayClass) != 0)
            return false;
        RoutePluginReading(receiver);
    } else if (receiver != g_plugin) {
        return false;
    }
    if (!g_lost && !g_waylandBroken)
        return false;
    // Its reading would end the process.
    Lose();
    return true;
}

DisplayWatch::~DisplayWatch()
{
    if (!m_available)
        return;
    qInstallMessageHandler(g_previousHandler);
    if (g_wayland) {
        // The plugin reads on its own again, if it still can.
        QAbstractEventDispatcher *dispatcher = UiDispatcher();
        if (g_readRouted && !g_lost && g_plugin && dispatcher) {
            QObject::connect(dispatcher, LoopSignal(true), g_plugin, g_pluginRead);
            QObject::connect(dispatcher, LoopSignal(false), g_plugin, g_pluginRead);
        }
        g_plugin = nullptr;
        g_watch = nullptr;
        return;
    }
    if (!g_source_is_destroyed(g_platform))
        g_platform->source_funcs = g_platformFuncs;
    g_source_unref(g_platform);
    g_platform = nullptr;
    g_connection = nullptr;
    g_watch = nullptr;
}
