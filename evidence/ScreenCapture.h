#pragma once
// A picture of the screen as it is. On X11 the root window can be read by
// any program of the session; on Wayland only the desktop's screenshot
// service can take one, and it asks the user first, which nobody at an
// unattended desk can answer: there the picture is not available.

#include <QImage>
#include <QString>

namespace ScreenCapture {

// Whether this session lets the program take the picture without a question.
bool Available(QString *why = nullptr);

// The primary screen now; null (with *why) where not available. On the UI
// thread (Qt's screens live there); it only copies pixels, the encoding is
// left to a worker.
QImage GrabNow(QString *why = nullptr);

QByteArray EncodePng(const QImage &image);

} // namespace ScreenCapture
