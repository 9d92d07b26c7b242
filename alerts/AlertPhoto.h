#pragma once
// A file that goes along with an alert. A picture (photo, screen picture):
// the file as it is when it is a JPEG within the receiver's limit, else the
// picture as a JPEG made smaller until it is. A sound clip: the file as it
// is, or nothing when it is over the limit (sound is not made smaller).
// Reading and re-encoding take time: AlertSender runs Prepare on a worker
// thread (it touches no QObject) and keeps the result for the retries.

#include <QByteArray>
#include <QSize>
#include <QString>

namespace AlertPhoto {
// A larger file is not read at all (no camera picture comes near it).
constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

struct File
{
    QByteArray bytes; // empty: nothing goes along
    QSize size;       // of a picture, in pixels
    QString name;     // the file's name as sent ("x.png" goes as "x.jpg")
    QString type;     // its MIME type: "image/jpeg" for every picture

    bool isEmpty() const { return bytes.isEmpty(); }
    bool isPicture() const { return type.startsWith(QLatin1String("image/")); }
};

// The picture of path, at most maxBytes; empty when the file is not a regular
// file, cannot be read as a picture or cannot be made that small.
File Prepare(const QString &path, qint64 maxBytes);
// The sound clip of path as it is; empty when it is not a regular file or
// larger than maxBytes.
File PrepareSound(const QString &path, qint64 maxBytes);
} // namespace AlertPhoto
