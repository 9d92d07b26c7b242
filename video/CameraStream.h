#pragma once
// The camera as one stream shared by its users: one GStreamer pipeline
// (the same camera the photo uses) giving small grey frames at a low rate
// to the UI thread, and a full-size still on request.
//
//   camera ! videoconvert ! videoscale ! GRAY8 160x120 ! appsink
//
// (the frames beyond the low rate dropped before they are converted).
//
// The pipeline is opened and closed on a thread of its own, never on the UI
// thread; a camera that shows no frame within Options::openTimeoutMs is
// given up. GStreamer's threads only post to this object.

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

namespace camerastream {
struct Session;
}

// Takes a full-size still from a running stream; a copyable handle that may
// be used on any thread, also after the stream was stopped (then it fails).
class CameraStill
{
public:
    CameraStill() = default;
    bool valid() const { return m_session != nullptr; }
    // Blocks up to timeoutMs for the next frame; a null image with the
    // reason in *error when there is none.
    QImage take(int timeoutMs, QString *error) const;

private:
    friend class CameraStream;
    explicit CameraStill(std::shared_ptr<camerastream::Session> session)
        : m_session(std::move(session))
    {
    }
    std::shared_ptr<camerastream::Session> m_session;
};

class CameraStream : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        // A gst-launch description of the source instead of the session's
        // camera (a test pattern for tests and measurements). It may not end
        // in caps written alone: "capsfilter caps=..." instead.
        QString sourceDescription;
        int width = 160, height = 120, framesPerSecond = 5;
        int openTimeoutMs = 4000; // no first frame by then: not available
        int frameGapMs = 3000;    // no frame for this long: the camera is lost
    };

    explicit CameraStream(QObject *parent = nullptr) : CameraStream(Options(), parent) {}
    explicit CameraStream(Options options, QObject *parent = nullptr);
    // Asks the pipeline to close, and waits for that briefly.
    ~CameraStream() override;

    // Whether a camera may be there (without loading GStreamer before it is
    // needed), or the last opening failed; why in reason().
    bool available() const;
    QString reason() const;

    // Opens the camera; started() once frames arrive, else lost(). Does
    // nothing while running or opening.
    void start();
    // Closes the camera (off the UI thread); no signal follows.
    void stop();
    bool running() const { return m_running; }
    bool opening() const { return m_session && !m_running; }

    // The still of the running stream; invalid when it does not run.
    CameraStill still() const;

Q_SIGNALS:
    void started();
    // The camera could not be opened, went away, failed or ended; the
    // stream is closed.
    void lost(const QString &why);
    // A scaled grey frame (Format_Grayscale8) while running.
    void frame(const QImage &grey);

private:
    friend struct camerastream::Session;
    void frameArrived(const camerastream::Session *from);
    void failed(const camerastream::Session *from, const QString &why);

    Options m_options;
    std::shared_ptr<camerastream::Session> m_session;
    bool m_running = false;
    QString m_failure;
    QTimer m_watchdog; // the first frame within openTimeoutMs, then no gap over frameGapMs
};
