#pragma once
// A picture of the screen as it is. On X11 the root window can be read by
// any program of the session; on Wayland only the desktop's screenshot
// service can take one (ScreenServiceCapture), and its file is read here.

#include <QImage>
#include <QString>

namespace ScreenCapture {

// Whether this session lets the program read the screen itself.
bool Available(QString *why = nullptr);

// The primary screen now; null (with *why) where not available. On the UI
// thread (Qt's screens live there); it only copies pixels, the encoding is
// left to a worker.
QImage GrabNow(QString *why = nullptr);

QByteArray EncodePng(const QImage &image);

// The picture a screenshot service wrote, as PNG bytes; the service's file
// is removed. Empty (with *why) when it is not a picture. Off the UI thread.
QByteArray ReadServiceFile(const QString &path, QString *why = nullptr);

} // namespace ScreenCapture
