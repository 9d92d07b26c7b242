#include "evidence/CameraCapture.h"

#include "video/GstCamera.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace CameraCapture {

namespace {
using GstCamera::BusFailure;

Still Failed(const QString &error)
{
    Still still;
    still.error = error;
    return still;
}

Still Capture(const GstLibrary &gst, GstElement *pipeline, GstAppSink *sink, const Timing &timing,
              const std::atomic<bool> *cancel)
{
    if (gst.elementSetState(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        const QString failure = BusFailure(gst, pipeline);
        return Failed(failure.isEmpty() ? QStringLiteral("The camera cannot be opened") : failure);
    }
    QElapsedTimer clock;
    clock.start();
    qint64 firstFrame = -1, lastFrame = 0;
    while (!(cancel && cancel->load())) {
        if (const QString failure = BusFailure(gst, pipeline); !failure.isEmpty())
            return Failed(failure);
        GstSample *sample = gst.appSinkTryPullSample(sink, 50 * GST_MSECOND);
        const qint64 now = clock.elapsed();
        if (sample) {
            if (firstFrame < 0)
                firstFrame = now;
            lastFrame = now;
            if (now - firstFrame >= timing.settleMs) {
                Still still;
                still.image = GstCamera::ImageOf(gst, sample);
                gst.miniObjectUnref(GST_MINI_OBJECT_CAST(sample));
                if (still.image.isNull())
                    still.error = QStringLiteral("The camera gave an unreadable picture");
                return still;
            }
            gst.miniObjectUnref(GST_MINI_OBJECT_CAST(sample));
        } else if (firstFrame < 0 && now >= timing.firstFrameMs) {
            return Failed(QStringLiteral("The camera shows no picture"));
        } else if (firstFrame >= 0 && now - lastFrame >= timing.frameGapMs) {
            return Failed(QStringLiteral("The camera stopped"));
        }
    }
    return Failed(QStringLiteral("Cancelled"));
}

Still TakeFrom(const GstLibrary &gst, GstElement *source, const Timing &timing,
               const std::atomic<bool> *cancel)
{
    GstElement *pipeline = gst.pipelineNew("camera-still");
    GstElement *convert = gst.elementFactoryMake("videoconvert", nullptr);
    GstElement *sink = gst.elementFactoryMake("appsink", nullptr);
    if (!convert || !sink) {
        for (GstElement *element : {source, convert, sink})
            if (element)
                gst.objectUnref(element);
        gst.objectUnref(pipeline);
        return Failed(QStringLiteral("GStreamer's video elements are missing"));
    }
    // Only the newest frame waits in the sink; older ones are dropped.
    GstCaps *rgb = gst.capsNewSimple("video/x-raw", "format", G_TYPE_STRING, "RGB", nullptr);
    g_object_set(sink, "caps", rgb, "sync", FALSE, "max-buffers", 1, "drop", TRUE, nullptr);
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(rgb));
    gst.binAddMany(reinterpret_cast<GstBin *>(pipeline), source, convert, sink, nullptr);
    Still still;
    if (!gst.elementLinkMany(source, convert, sink, nullptr))
        still = Failed(QStringLiteral("The camera gives no picture this program can read"));
    else
        still = Capture(gst, pipeline, reinterpret_cast<GstAppSink *>(sink), timing, cancel);
    gst.elementSetState(pipeline, GST_STATE_NULL);
    gst.objectUnref(pipeline);
    return still;
}

Still TakeUnbounded(const Timing &timing, const std::atomic<bool> *cancel)
{
    QString error;
    const GstLibrary *library = GstLibrary::Get(&error);
    if (!library)
        return Failed(error);
    const GstLibrary &gst = *library;
    QList<GstElement *> sources = GstCamera::MakeSources(gst);
    Still still = Failed(QStringLiteral("No camera"));
    while (!sources.isEmpty() && still.image.isNull() && !(cancel && cancel->load())) {
        still = TakeFrom(gst, sources.takeFirst(), timing, cancel);
    }
    for (GstElement *unused : sources)
        gst.objectUnref(unused);
    return still;
}

// A capture left behind by Take() that still waits inside GStreamer.
std::atomic<int> g_unfinished{0};
} // namespace

int CapturesLeftBehind()
{
    return g_unfinished.load();
}

// GStreamer may wait inside a state change for a camera that never answers
// (12-60 s), beyond any timeout of ours: the capture runs on a thread of its
// own, and Take() leaves it behind when the time is up.
Still Take(const Timing &timing, const std::atomic<bool> *cancel)
{
    if (g_unfinished.load() > 0)
        return Failed(QStringLiteral("The camera does not answer"));
    struct Attempt
    {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        Still still;
        std::atomic<bool> cancel{false};
    };
    auto attempt = std::make_shared<Attempt>();
    ++g_unfinished;
    std::thread([attempt, timing] {
        Still still = TakeUnbounded(timing, &attempt->cancel);
        --g_unfinished;
        const std::lock_guard<std::mutex> lock(attempt->mutex);
        attempt->still = std::move(still);
        attempt->done = true;
        attempt->finished.notify_all();
    }).detach();
    QElapsedTimer clock;
    clock.start();
    std::unique_lock<std::mutex> lock(attempt->mutex);
    while (!attempt->done) {
        if (cancel && cancel->load()) {
            attempt->cancel = true;
            return Failed(QStringLiteral("Cancelled"));
        }
        if (clock.elapsed() >= timing.wholeMs) {
            attempt->cancel = true;
            return Failed(QStringLiteral("The camera shows no picture"));
        }
        attempt->finished.wait_for(lock, std::chrono::milliseconds(50));
    }
    return attempt->still;
}

QByteArray EncodeJpeg(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", quality))
        return {};
    return bytes;
}

} // namespace CameraCapture
