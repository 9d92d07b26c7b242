#include "evidence/CameraCapture.h"

#include "evidence/GstLibrary.h"
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace CameraCapture {

namespace {
// The cameras to try, in order: PipeWire's default video source (when a
// PipeWire server runs; it offers V4L2 and libcamera cameras alike), then
// every V4L2 device directly. GStreamer's device monitor is not used: its
// PipeWire provider corrupts the heap when stopped (PipeWire 0.3.65).
QList<GstElement *> MakeSources(const GstLibrary &gst)
{
    QList<GstElement *> sources;
    if (GstElement *pipewire = gst.elementFactoryMake("pipewiresrc", nullptr)) {
        // Without a media type the session manager may leave the stream unlinked.
        GstStructure *properties = gst.structureNew("props", "media.type", G_TYPE_STRING, "Video",
                                                    "media.category", G_TYPE_STRING, "Capture",
                                                    "media.role", G_TYPE_STRING, "Camera", nullptr);
        g_object_set(pipewire, "stream-properties", properties, nullptr);
        gst.structureFree(properties);
        sources << pipewire;
    }
    const QStringList devices =
        QDir(QStringLiteral("/dev"))
            .entryList({QStringLiteral("video*")}, QDir::System, QDir::Name);
    for (const QString &device : devices) {
        if (GstElement *v4l2 = gst.elementFactoryMake("v4l2src", nullptr)) {
            g_object_set(v4l2, "device",
                         QFile::encodeName(QStringLiteral("/dev/") + device).constData(), nullptr);
            sources << v4l2;
        }
    }
    return sources;
}

QImage ImageOf(const GstLibrary &gst, GstSample *sample)
{
    GstVideoInfo info;
    GstCaps *caps = gst.sampleGetCaps(sample);
    GstBuffer *buffer = gst.sampleGetBuffer(sample);
    if (!caps || !buffer || !gst.videoInfoFromCaps(&info, caps))
        return {};
    GstMapInfo map;
    if (!gst.bufferMap(buffer, &map, GST_MAP_READ))
        return {};
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    QImage image;
    if (map.size >= gsize(stride) * gsize(GST_VIDEO_INFO_HEIGHT(&info)))
        image = QImage(map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), stride,
                       QImage::Format_RGB888)
                    .copy();
    gst.bufferUnmap(buffer, &map);
    return image;
}

// An error or the end of the stream on the pipeline's bus, as text.
QString BusFailure(const GstLibrary &gst, GstElement *pipeline)
{
    GstBus *bus = gst.elementGetBus(pipeline);
    GstMessage *message =
        gst.busPopFiltered(bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    gst.objectUnref(bus);
    if (!message)
        return {};
    QString text = QStringLiteral("The camera stopped");
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError *gerror = nullptr;
        gst.messageParseError(message, &gerror, nullptr);
        if (gerror) {
            text = QString::fromUtf8(gerror->message);
            g_error_free(gerror);
        }
    }
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(message));
    return text;
}

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
                still.image = ImageOf(gst, sample);
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
} // namespace

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

Still Take(const Timing &timing, const std::atomic<bool> *cancel)
{
    QString error;
    const GstLibrary *library = GstLibrary::Get(&error);
    if (!library)
        return Failed(error);
    const GstLibrary &gst = *library;
    QList<GstElement *> sources = MakeSources(gst);
    Still still = Failed(QStringLiteral("No camera"));
    while (!sources.isEmpty() && still.image.isNull() && !(cancel && cancel->load())) {
        still = TakeFrom(gst, sources.takeFirst(), timing, cancel);
    }
    for (GstElement *unused : sources)
        gst.objectUnref(unused);
    return still;
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
