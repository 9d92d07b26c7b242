#pragma once
// One still picture from the session's camera over GStreamer: PipeWire's
// video source (how current desktops and sandboxes offer cameras) when there
// is one, else a V4L2 device (/dev/video*). The first frames of a camera are dark while its
// exposure settles, so the picture is the first frame after a settling time.
//
// Take() blocks until the picture is there, the camera failed or
// Timing::wholeMs passed: call it on a worker thread, never on the UI thread.

#include <QImage>
#include <QString>
#include <atomic>

namespace CameraCapture {

struct Timing
{
    int settleMs = 700;      // frames before this (from the first frame) are dropped
    int firstFrameMs = 4000; // a camera that shows no frame by then is not available
    int frameGapMs = 2000;   // a camera that stops for this long has gone away
    int wholeMs = 4000;      // the whole capture, opening and closing the camera included
};

struct Still
{
    QImage image; // null when the camera was not available
    QString error;
};

// cancel, when set, ends the capture early (without a picture).
Still Take(const Timing &timing = Timing(), const std::atomic<bool> *cancel = nullptr);

// Captures that Take() gave up on and that still wait inside GStreamer;
// while there is one, Take() fails at once (the camera does not answer).
int CapturesLeftBehind();

// The picture as a JPEG file's bytes.
QByteArray EncodeJpeg(const QImage &image, int quality = 85);

} // namespace CameraCapture
