#include "video/CameraStream.h"

#include "video/GstCamera.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace camerastream {

// One opening of the camera: its pipeline lives on a thread of its own
// (which opens it, waits for the close request and closes it); GStreamer's
// threads hand frames and failures to the owner through queued calls.
struct Session
{
    CameraStream::Options options;
    std::mutex mutex;
    std::condition_variable wake;  // a frame, an error, a still, the close request
    CameraStream *owner = nullptr; // cleared when the stream lets the session go
    const GstLibrary *gst = nullptr;
    bool closeRequested = false, closed = false;
    bool streaming = false; // a source gave its first frame: failures go to the owner
    bool framePosted = false, failurePosted = false, gotFrame = false;
    QString sourceFailure;
    QImage latest;
    std::atomic<bool> stillWanted{false};
    GstSample *still = nullptr;
    gint64 lastPassedUs = 0; // the streaming thread's own

    // With the mutex held.
    void postFailure(const QString &why)
    {
        if (!owner || failurePosted)
            return;
        failurePosted = true;
        CameraStream *stream = owner;
        QMetaObject::invokeMethod(
            stream, [stream, self = this, why] { stream->failed(self, why); },
            Qt::QueuedConnection);
    }
    void postFrame()
    {
        if (!owner || framePosted)
            return; // the UI thread takes the newest when it comes to it
        framePosted = true;
        CameraStream *stream = owner;
        QMetaObject::invokeMethod(
            stream, [stream, self = this] { stream->frameArrived(self); }, Qt::QueuedConnection);
    }
    QImage takeFrame()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        framePosted = false;
        return std::exchange(latest, QImage());
    }
    void requestClose()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        owner = nullptr;
        closeRequested = true;
        wake.notify_all();
    }
};

} // namespace camerastream

using camerastream::Session;

namespace {
using Clock = std::chrono::steady_clock;

GstFlowReturn OnSample(GstAppSink *sink, gpointer data)
{
    auto *session = static_cast<Session *>(data);
    const GstLibrary &gst = *session->gst;
    GstSample *sample = gst.appSinkPullSample(sink);
    if (!sample)
        return GST_FLOW_OK;
    const QImage grey = GstCamera::ImageOf(gst, sample);
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(sample));
    if (grey.isNull())
        return GST_FLOW_OK;
    const std::lock_guard<std::mutex> lock(session->mutex);
    session->latest = grey;
    session->gotFrame = true;
    session->postFrame();
    session->wake.notify_all();
    return GST_FLOW_OK;
}

void keepStill(Session &session, GstPad *pad, GstPadProbeInfo *info)
{
    const GstLibrary &gst = *session.gst;
    GstCaps *caps = gst.padGetCurrentCaps(pad);
    if (!caps)
        return;
    GstSample *sample = gst.sampleNew(GST_PAD_PROBE_INFO_BUFFER(info), caps, nullptr, nullptr);
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(caps));
    const std::lock_guard<std::mutex> lock(session.mutex);
    if (session.still)
        gst.miniObjectUnref(GST_MINI_OBJECT_CAST(session.still));
    session.still = sample;
    session.stillWanted = false;
    session.wake.notify_all();
}

// Every frame of the camera passes here: one is kept when a still is
// wanted (as a sample of the camera's format), and only framesPerSecond go
// on. By the clock, not the frames' times: a PipeWire source may stamp none.
GstPadProbeReturn OnCameraFrame(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    auto *session = static_cast<Session *>(data);
    if (session->stillWanted.load(std::memory_order_relaxed))
        keepStill(*session, pad, info);
    const gint64 now = g_get_monotonic_time();
    // A little early is in time: frames do not come exactly at their rate.
    const gint64 gap = 900000 / std::max(1, session->options.framesPerSecond);
    if (session->lastPassedUs != 0 && now - session->lastPassedUs < gap)
        return GST_PAD_PROBE_DROP;
    session->lastPassedUs = now;
    return GST_PAD_PROBE_OK;
}

GstBusSyncReply OnBusMessage(GstBus *, GstMessage *message, gpointer data)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR &&
        GST_MESSAGE_TYPE(message) != GST_MESSAGE_EOS)
        return GST_BUS_DROP; // nobody reads the bus: nothing may pile up there
    auto *session = static_cast<Session *>(data);
    const QString why = GstCamera::MessageText(*session->gst, message);
    const std::lock_guard<std::mutex> lock(session->mutex);
    if (session->streaming)
        session->postFailure(why);
    else if (session->sourceFailure.isEmpty())
        session->sourceFailure = why;
    session->wake.notify_all();
    return GST_BUS_DROP;
}

// The pipeline around one source (taken over), or nullptr with why.
GstElement *MakePipeline(Session &session, GstElement *source, QString *why)
{
    const GstLibrary &gst = *session.gst;
    const CameraStream::Options &options = session.options;
    GstElement *pipeline = gst.pipelineNew("camera-stream");
    GstElement *convert = gst.elementFactoryMake("videoconvert", nullptr);
    GstElement *scale = gst.elementFactoryMake("videoscale", nullptr);
    GstElement *sink = gst.elementFactoryMake("appsink", nullptr);
    if (!convert || !scale || !sink) {
        for (GstElement *element : {source, convert, scale, sink})
            if (element)
                gst.objectUnref(element);
        gst.objectUnref(pipeline);
        *why = QStringLiteral("GStreamer's video elements are missing");
        return nullptr;
    }
    GstCaps *grey =
        gst.capsNewSimple("video/x-raw", "format", G_TYPE_STRING, "GRAY8", "width", G_TYPE_INT,
                          options.width, "height", G_TYPE_INT, options.height, nullptr);
    // Only the newest frame waits in the sink; older ones are dropped.
    g_object_set(sink, "caps", grey, "sync", FALSE, "max-buffers", 1, "drop", TRUE, nullptr);
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(grey));
    gst.binAddMany(reinterpret_cast<GstBin *>(pipeline), source, convert, scale, sink, nullptr);
    if (!gst.elementLinkMany(source, convert, scale, sink, nullptr)) {
        gst.objectUnref(pipeline);
        *why = QStringLiteral("The camera gives no picture this program can read");
        return nullptr;
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &OnSample;
    gst.appSinkSetCallbacks(reinterpret_cast<GstAppSink *>(sink), &callbacks, &session, nullptr);
    if (GstPad *pad = gst.elementGetStaticPad(convert, "sink")) {
        gst.padAddProbe(pad, GST_PAD_PROBE_TYPE_BUFFER, &OnCameraFrame, &session, nullptr);
        gst.objectUnref(pad);
    }
    GstBus *bus = gst.elementGetBus(pipeline);
    gst.busSetSyncHandler(bus, &OnBusMessage, &session, nullptr);
    gst.objectUnref(bus);
    return pipeline;
}

void Close(const GstLibrary &gst, GstElement *pipeline)
{
    gst.elementSetState(pipeline, GST_STATE_NULL);
    gst.objectUnref(pipeline);
}

QList<GstElement *> Sources(const Session &session, QString *why)
{
    const GstLibrary &gst = *session.gst;
    if (session.options.sourceDescription.isEmpty())
        return GstCamera::MakeSources(gst);
    GError *gerror = nullptr;
    GstElement *source = gst.parseBinFromDescription(
        session.options.sourceDescription.toUtf8().constData(), TRUE, &gerror);
    if (gerror) {
        *why = QString::fromUtf8(gerror->message);
        g_error_free(gerror);
    }
    if (!source)
        return {};
    return {source};
}

// Tries each camera until one gives a frame, keeps it until the close
// request, closes it.
void Run(const std::shared_ptr<Session> &session)
{
    QString why;
    const GstLibrary *gst = GstLibrary::Get(&why);
    std::unique_lock<std::mutex> lock(session->mutex);
    session->gst = gst;
    lock.unlock();
    QList<GstElement *> sources = gst ? Sources(*session, &why) : QList<GstElement *>();
    if (gst && sources.isEmpty() && why.isEmpty())
        why = QStringLiteral("No camera");
    const auto deadline = Clock::now() + std::chrono::milliseconds(session->options.openTimeoutMs);
    GstElement *pipeline = nullptr;
    while (!sources.isEmpty()) {
        pipeline = MakePipeline(*session, sources.takeFirst(), &why);
        if (!pipeline)
            continue;
        lock.lock();
        session->gotFrame = false;
        lock.unlock();
        if (gst->elementSetState(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
            lock.lock();
            session->wake.wait_until(lock, deadline, [&] {
                return session->gotFrame || session->closeRequested ||
                       !session->sourceFailure.isEmpty();
            });
            const bool streaming = session->gotFrame && session->sourceFailure.isEmpty();
            session->streaming = streaming;
            why = session->sourceFailure.isEmpty() ? QStringLiteral("The camera shows no picture")
                                                   : session->sourceFailure;
            session->sourceFailure.clear();
            const bool closing = session->closeRequested;
            lock.unlock();
            if (streaming || closing)
                break;
        } else {
            lock.lock();
            why = session->sourceFailure.isEmpty() ? QStringLiteral("The camera cannot be opened")
                                                   : session->sourceFailure;
            session->sourceFailure.clear();
            lock.unlock();
        }
        Close(*gst, pipeline);
        pipeline = nullptr;
        if (Clock::now() >= deadline)
            break;
    }
    for (GstElement *unused : sources)
        gst->objectUnref(unused);
    lock.lock();
    if (!pipeline)
        session->postFailure(why);
    session->wake.wait(lock, [&] { return session->closeRequested; });
    lock.unlock();
    if (pipeline)
        Close(*gst, pipeline);
    lock.lock();
    if (session->still)
        gst->miniObjectUnref(GST_MINI_OBJECT_CAST(session->still));
    session->still = nullptr;
    session->closed = true;
    session->wake.notify_all();
}

} // namespace

QImage CameraStill::take(int timeoutMs, QString *error) const
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return QImage();
    };
    if (!m_session)
        return fail(QStringLiteral("The camera stream does not run"));
    Session &session = *m_session;
    std::unique_lock<std::mutex> lock(session.mutex);
    if (!session.streaming || session.closeRequested)
        return fail(QStringLiteral("The camera stream does not run"));
    session.stillWanted = true;
    session.wake.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return session.still || session.closeRequested; });
    session.stillWanted = false;
    GstSample *sample = std::exchange(session.still, nullptr);
    lock.unlock();
    if (!sample)
        return fail(QStringLiteral("The camera stream gave no picture"));
    const GstLibrary &gst = *session.gst;
    GstCaps *rgb = gst.capsNewSimple("video/x-raw", "format", G_TYPE_STRING, "RGB", nullptr);
    GError *gerror = nullptr;
    GstSample *converted =
        gst.videoConvertSample(sample, rgb, GstClockTime(timeoutMs) * GST_MSECOND, &gerror);
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(rgb));
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(sample));
    QString why = QStringLiteral("The camera gave an unreadable picture");
    if (gerror) {
        why = QString::fromUtf8(gerror->message);
        g_error_free(gerror);
    }
    if (!converted)
        return fail(why);
    const QImage image = GstCamera::ImageOf(gst, converted);
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(converted));
    return image.isNull() ? fail(why) : image;
}

CameraStream::CameraStream(Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options))
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        failed(m_session.get(), m_running ? QStringLiteral("The camera stopped")
                                          : QStringLiteral("The camera shows no picture"));
    });
}

CameraStream::~CameraStream()
{
    const std::shared_ptr<Session> session = m_session;
    stop();
    if (!session)
        return;
    // The camera closed before the program goes on (or ends), unless
    // GStreamer hangs in it.
    std::unique_lock<std::mutex> lock(session->mutex);
    session->wake.wait_for(lock, std::chrono::seconds(3), [&] { return session->closed; });
}

bool CameraStream::available() const
{
    if (!m_options.sourceDescription.isEmpty())
        return true;
    return GstCamera::MayHaveCamera(nullptr);
}

QString CameraStream::reason() const
{
    QString why;
    if (m_options.sourceDescription.isEmpty() && !GstCamera::MayHaveCamera(&why))
        return why;
    return m_failure;
}

void CameraStream::start()
{
    if (m_session)
        return;
    m_session = std::make_shared<Session>();
    m_session->options = m_options;
    m_session->owner = this;
    m_running = false;
    m_watchdog.start(m_options.openTimeoutMs);
    std::thread([session = m_session] { Run(session); }).detach();
}

void CameraStream::stop()
{
    m_watchdog.stop();
    m_running = false;
    if (const std::shared_ptr<Session> session = std::exchange(m_session, nullptr))
        session->requestClose();
}

CameraStill CameraStream::still() const
{
    return m_running ? CameraStill(m_session) : CameraStill();
}

void CameraStream::frameArrived(const Session *from)
{
    if (from != m_session.get())
        return; // from a session already let go
    const QImage grey = m_session->takeFrame();
    if (grey.isNull())
        return;
    m_watchdog.start(m_options.frameGapMs);
    if (!m_running) {
        m_running = true;
        m_failure.clear();
        Q_EMIT started();
    }
    Q_EMIT frame(grey);
}

void CameraStream::failed(const Session *from, const QString &why)
{
    if (!from || from != m_session.get())
        return;
    m_failure = why;
    stop();
    Q_EMIT lost(why);
}
