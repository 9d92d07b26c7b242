#pragma once
// A photo that goes along with an alert: the file as it is when it is a JPEG
// within the receiver's limit, else the picture made smaller until it is.
// Reading and re-encoding take time: AlertSender runs Prepare on a worker
// thread (it touches no QObject) and keeps the result for the retries.

#include <QByteArray>
#include <QSize>
#include <QString>

namespace AlertPhoto {
// A larger file is not read at all (no camera picture comes near it).
constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

struct Jpeg
{
    QByteArray bytes; // empty: no photo goes along
    QSize size;       // in pixels
    QString name;     // the file's name as a JPEG ("x.png" goes as "x.jpg")

    bool isEmpty() const { return bytes.isEmpty(); }
};

// The photo of path, at most maxBytes; empty when the file is not a regular
// file, cannot be read as a picture or cannot be made that small.
Jpeg Prepare(const QString &path, qint64 maxBytes);
} // namespace AlertPhoto
