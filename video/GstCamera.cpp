#include "video/GstCamera.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace GstCamera {

namespace {
QStringList VideoDevices()
{
    return QDir(QStringLiteral("/dev"))
        .entryList({QStringLiteral("video*")}, QDir::System, QDir::Name);
}
} // namespace

// GStreamer's device monitor is not used: its PipeWire provider corrupts
// the heap when stopped (PipeWire 0.3.65).
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
    for (const QString &device : VideoDevices()) {
        if (GstElement *v4l2 = gst.elementFactoryMake("v4l2src", nullptr)) {
            g_object_set(v4l2, "device",
                         QFile::encodeName(QStringLiteral("/dev/") + device).constData(), nullptr);
            sources << v4l2;
        }
    }
    return sources;
}

bool MayHaveCamera(QString *why)
{
    if (!VideoDevices().isEmpty())
        return true;
    QString runtime = qEnvironmentVariable("PIPEWIRE_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString remote = qEnvironmentVariable("PIPEWIRE_REMOTE", QStringLiteral("pipewire-0"));
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QLatin1Char('/') + remote))
        return true;
    if (why)
        *why = QStringLiteral("No camera");
    return false;
}

QImage ImageOf(const GstLibrary &gst, GstSample *sample)
{
    GstVideoInfo info;
    GstCaps *caps = gst.sampleGetCaps(sample);
    GstBuffer *buffer = gst.sampleGetBuffer(sample);
    if (!caps || !buffer || !gst.videoInfoFromCaps(&info, caps))
        return {};
    QImage::Format format = QImage::Format_Invalid;
    if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_RGB)
        format = QImage::Format_RGB888;
    else if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_GRAY8)
        format = QImage::Format_Grayscale8;
    GstMapInfo map;
    if (format == QImage::Format_Invalid || !gst.bufferMap(buffer, &map, GST_MAP_READ))
        return {};
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    QImage image;
    if (map.size >= gsize(stride) * gsize(GST_VIDEO_INFO_HEIGHT(&info)))
        image = QImage(map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), stride,
                       format)
                    .copy();
    gst.bufferUnmap(buffer, &map);
    return image;
}

QString MessageText(const GstLibrary &gst, GstMessage *message)
{
    QString text = QStringLiteral("The camera stopped");
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError *gerror = nullptr;
        gst.messageParseError(message, &gerror, nullptr);
        if (gerror) {
            text = QString::fromUtf8(gerror->message);
            g_error_free(gerror);
        }
    }
    return text;
}

QString BusFailure(const GstLibrary &gst, GstElement *pipeline)
{
    GstBus *bus = gst.elementGetBus(pipeline);
    GstMessage *message =
        gst.busPopFiltered(bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    gst.objectUnref(bus);
    if (!message)
        return {};
    const QString text = MessageText(gst, message);
    gst.miniObjectUnref(GST_MINI_OBJECT_CAST(message));
    return text;
}

} // namespace GstCamera
