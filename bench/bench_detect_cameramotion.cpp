// The cost of camera motion: the CPU this process spends with the camera
// pipeline ending in a fakesink, then with the camera stream and the motion
// detector over the same source, each for the same time in one run.
// usage: bench_detect_cameramotion [seconds] [source]
//   source: a gst-launch description (default: a 640x480 30 fps moving test
//   pattern), or "camera" for the session's camera (PipeWire, else V4L2).

#include "detect/CameraMotion.h"
#include "video/CameraStream.h"
#include "video/GstCamera.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {
double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The share of one core used while the event loop runs for seconds.
double CoreShare(int seconds)
{
    const double cpu = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Wait(seconds * 1000);
    return (CpuSeconds() - cpu) / (double(wall.elapsed()) / 1000.0) * 100.0;
}

// The same source into a fakesink; the share of a core, or -1.
double FakeSinkShare(const GstLibrary &gst, const QString &source, int seconds)
{
    GstElement *pipeline = nullptr;
    if (source.isEmpty()) {
        pipeline = gst.pipelineNew("camera-fakesink");
        const QList<GstElement *> sources = GstCamera::MakeSources(gst);
        GstElement *sink = gst.elementFactoryMake("fakesink", nullptr);
        if (sources.isEmpty() || !sink)
            return -1;
        gst.binAddMany(reinterpret_cast<GstBin *>(pipeline), sources.first(), sink, nullptr);
        gst.elementLinkMany(sources.first(), sink, nullptr);
        for (GstElement *unused : sources.mid(1))
            gst.objectUnref(unused);
    } else {
        pipeline =
            gst.parseLaunch((source + QStringLiteral(" ! fakesink")).toUtf8().constData(), nullptr);
    }
    if (!pipeline || gst.elementSetState(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return -1;
    Wait(2000); // opened and running
    const double share = CoreShare(seconds);
    gst.elementSetState(pipeline, GST_STATE_NULL);
    gst.objectUnref(pipeline);
    return share;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QString source = argc > 2 ? QString::fromLocal8Bit(argv[2])
                              : QStringLiteral("videotestsrc is-live=true pattern=ball ! "
                                               "capsfilter caps=video/x-raw,format=YUY2,"
                                               "width=640,height=480,framerate=30/1");
    if (source == QStringLiteral("camera"))
        source.clear();
    QString why;
    const GstLibrary *gst = GstLibrary::Get(&why);
    if (!gst) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    std::printf("source: %s, %d s each\n",
                source.isEmpty() ? "the session's camera" : qPrintable(source), seconds);
    std::fflush(stdout);
    const double fakeSink = FakeSinkShare(*gst, source, seconds);
    if (fakeSink < 0) {
        std::fprintf(stderr, "the camera pipeline did not run\n");
        return 1;
    }

    CameraStream::Options options;
    options.sourceDescription = source;
    CameraStream stream(options);
    CameraMotion motion(stream);
    int frames = 0, intrusions = 0;
    QObject::connect(&stream, &CameraStream::frame, [&] { ++frames; });
    QObject::connect(&motion, &CameraMotion::intrusion, [&] { ++intrusions; });
    QObject::connect(&motion, &CameraMotion::unavailable, [](const QString &reason) {
        std::fprintf(stderr, "camera not available: %s\n", qPrintable(reason));
    });
    motion.start();
    Wait(2000 + CameraMotion::SettleMs); // opened, settled, comparing
    if (!stream.running()) {
        std::fprintf(stderr, "the camera stream did not run\n");
        return 1;
    }
    const int framesBefore = frames;
    const double detector = CoreShare(seconds);
    const int measuredFrames = frames - framesBefore;
    motion.stop();

    std::printf("camera pipeline into a fakesink: %.2f %% of one core\n", fakeSink);
    std::printf("camera stream and motion detector: %.2f %% of one core (%.1f frames/s, "
                "%d intrusions)\n",
                detector, double(measuredFrames) / seconds, intrusions);
    std::printf("cost of motion detection: %.2f %% of one core (goal: at most 3)\n",
                detector - fakeSink);
    return 0;
}
