#include "desktop/DisplayWatch.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <glib.h>
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

bool Broken()
{
    return g_connection && xcb_connection_has_error(g_connection) != 0;
}

// Takes the plugin's source out of the loop and tells, once.
void Lose()
{
    if (g_lost)
        return;
    g_lost = true;
    if (g_platform && !g_source_is_destroyed(g_platform))
        g_source_destroy(g_platform);
    if (g_watch)
        Q_EMIT g_watch->displayLost();
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

// The plugin's last words before exit(1): the connection broke in the
// instant between the look above and its own. Told now, ended with 0.
void OnMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    if (type != QtWarningMsg || g_lost || !g_platform || !qApp ||
        !message.startsWith(QLatin1String("The X11 connection broke")) ||
        QThread::currentThread() != qApp->thread())
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
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        m_reason = QStringLiteral("the windows are not on an X display");
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

DisplayWatch::~DisplayWatch()
{
    if (!m_available)
        return;
    qInstallMessageHandler(g_previousHandler);
    if (!g_source_is_destroyed(g_platform))
        g_platform->source_funcs = g_platformFuncs;
    g_source_unref(g_platform);
    g_platform = nullptr;
    g_connection = nullptr;
    g_watch = nullptr;
}
