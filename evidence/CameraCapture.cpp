#include "evidence/CameraCapture.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video-info.h>
#include <mutex>

namespace CameraCapture {

namespace {
bool InitGStreamer(QString *error)
{
    static std::once_flag once;
    static bool ready = false;
    static QString failure;
    std::call_once(once, [] {
        GError *gerror = nullptr;
        ready = gst_init_check(nullptr, nullptr, &gerror);
        if (!ready)
            failure = QString::fromUtf8(gerror ? gerror->message : "GStreamer did not start");
        if (gerror)
            g_error_free(gerror);
    });
    if (!ready && error)
        *error = failure;
    return ready;
}

// The cameras to try, in order: PipeWire's default video source (when a
// PipeWire server runs; it offers V4L2 and libcamera cameras alike), then
// every V4L2 device directly. GStreamer's device monitor is not used: its
// PipeWire provider corrupts the heap when stopped (PipeWire 0.3.65).
QList<GstElement *> MakeSources()
{
    QList<GstElement *> sources;
    if (GstElement *pipewire = gst_element_factory_make("pipewiresrc", nullptr)) {
        // Without a media type the session manager may leave the stream unlinked.
        GstStructure *properties = gst_structure_new(
            "props", "media.type", G_TYPE_STRING, "Video", "media.category", G_TYPE_STRING,
            "Capture", "media.role", G_TYPE_STRING, "Camera", nullptr);
        g_object_set(pipewire, "stream-properties", properties, nullptr);
        gst_structure_free(properties);
        sources << pipewire;
    }
    const QStringList devices =
        QDir(QStringLiteral("/dev"))
            .entryList({QStringLiteral("video*")}, QDir::System, QDir::Name);
    for (const QString &device : devices) {
        if (GstElement *v4l2 = gst_element_factory_make("v4l2src", nullptr)) {
            g_object_set(v4l2, "device",
                         QFile::encodeName(QStringLiteral("/dev/") + device).constData(), nullptr);
            sources << v4l2;
        }
    }
    return sources;
}

QImage ImageOf(GstSample *sample)
{
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return {};
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return {};
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    QImage image;
    if (map.size >= gsize(stride) * gsize(GST_VIDEO_INFO_HEIGHT(&info)))
        image = QImage(map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), stride,
                       QImage::Format_RGB888)
                    .copy();
    gst_buffer_unmap(buffer, &map);
    return image;
}

// An error or the end of the stream on the pipeline's bus, as text.
QString BusFailure(GstElement *pipeline)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *message =
        gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    gst_object_unref(bus);
    if (!message)
        return {};
    QString text = QStringLiteral("The camera stopped");
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError *gerror = nullptr;
        gst_message_parse_error(message, &gerror, nullptr);
        if (gerror) {
            text = QString::fromUtf8(gerror->message);
            g_error_free(gerror);
        }
    }
    gst_message_unref(message);
    return text;
}

Still Failed(const QString &error)
{
    Still still;
    still.error = error;
    return still;
}

Still Capture(GstElement *pipeline, GstAppSink *sink, const Timing &timing,
              const std::atomic<bool> *cancel)
{
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        const QString failure = BusFailure(pipeline);
        return Failed(failure.isEmpty() ? QStringLiteral("The camera cannot be opened") : failure);
    }
    QElapsedTimer clock;
    clock.start();
    qint64 firstFrame = -1, lastFrame = 0;
    while (!(cancel && cancel->load())) {
        if (const QString failure = BusFailure(pipeline); !failure.isEmpty())
            return Failed(failure);
        GstSample *sample = gst_app_sink_try_pull_sample(sink, 50 * GST_MSECOND);
        const qint64 now = clock.elapsed();
        if (sample) {
            if (firstFrame < 0)
                firstFrame = now;
            lastFrame = now;
            if (now - firstFrame >= timing.settleMs) {
                Still still;
                still.image = ImageOf(sample);
                gst_sample_unref(sample);
                if (still.image.isNull())
                    still.error = QStringLiteral("The camera gave an unreadable picture");
                return still;
            }
            gst_sample_unref(sample);
        } else if (firstFrame < 0 && now >= timing.firstFrameMs) {
            return Failed(QStringLiteral("The camera shows no picture"));
        } else if (firstFrame >= 0 && now - lastFrame >= timing.frameGapMs) {
            return Failed(QStringLiteral("The camera stopped"));
        }
    }
    return Failed(QStringLiteral("Cancelled"));
}
} // namespace

Still TakeFrom(GstElement *source, const Timing &timing, const std::atomic<bool> *cancel)
{
    GstElement *pipeline = gst_pipeline_new("camera-still");
    GstElement *convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement *sink = gst_element_factory_make("appsink", nullptr);
    if (!convert || !sink) {
        for (GstElement *element : {source, convert, sink})
            if (element)
                gst_object_unref(element);
        gst_object_unref(pipeline);
        return Failed(QStringLiteral("GStreamer's video elements are missing"));
    }
    // Only the newest frame waits in the sink; older ones are dropped.
    GstCaps *rgb = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", nullptr);
    g_object_set(sink, "caps", rgb, "sync", FALSE, "max-buffers", 1, "drop", TRUE, nullptr);
    gst_caps_unref(rgb);
    gst_bin_add_many(GST_BIN(pipeline), source, convert, sink, nullptr);
    Still still;
    if (!gst_element_link_many(source, convert, sink, nullptr))
        still = Failed(QStringLiteral("The camera gives no picture this program can read"));
    else
        still = Capture(pipeline, GST_APP_SINK(sink), timing, cancel);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return still;
}

Still Take(const Timing &timing, const std::atomic<bool> *cancel)
{
    QString error;
    if (!InitGStreamer(&error))
        return Failed(error);
    QList<GstElement *> sources = MakeSources();
    Still still = Failed(QStringLiteral("No camera"));
    while (!sources.isEmpty() && still.image.isNull() && !(cancel && cancel->load())) {
        still = TakeFrom(sources.takeFirst(), timing, cancel);
    }
    for (GstElement *unused : sources)
        gst_object_unref(unused);
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
