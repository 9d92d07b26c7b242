#pragma once
// A photo that goes along with an alert: the file as it is when it is a JPEG
// within the receiver's limit, else the picture made smaller until it is.

#include <QByteArray>
#include <QString>

namespace AlertPhoto {
// A larger file is not read at all (no camera picture comes near it).
constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

// The JPEG bytes, at most maxBytes; empty when the file cannot be read as a
// picture or cannot be made that small.
QByteArray JpegWithin(const QString &path, qint64 maxBytes);
// The file's name as a JPEG ("x.png" goes as "x.jpg").
QString JpegName(const QString &path);
} // namespace AlertPhoto
