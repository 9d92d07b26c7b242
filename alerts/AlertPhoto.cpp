#include "alerts/AlertPhoto.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMimeDatabase>
#include <algorithm>

namespace {
// The file's bytes, when it is a regular file of at most maxBytes.
QByteArray ReadWithin(const QString &path, qint64 maxBytes)
{
    // Not a FIFO or a device: opening one could block for good.
    const QFileInfo info(path);
    QFile file(path);
    if (path.isEmpty() || !info.isFile() || info.size() > maxBytes ||
        !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(maxBytes + 1);
    return bytes.size() > maxBytes ? QByteArray() : bytes;
}

QByteArray JpegWithin(const QString &path, qint64 maxBytes)
{
    const QByteArray bytes = ReadWithin(path, AlertPhoto::MaxFileBytes);
    if (bytes.isEmpty())
        return {};
    if (bytes.size() <= maxBytes && bytes.startsWith("\xff\xd8\xff"))
        return bytes;
    QImage image;
    if (!image.loadFromData(bytes))
        return {};
    // Each step keeps 70 % of each side, about half the pixels.
    for (int step = 0; step < 16 && !image.isNull(); ++step) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPEG", 80))
            return {};
        if (jpeg.size() <= maxBytes)
            return jpeg;
        image = image.scaled(image.size() * 0.7, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return {};
}
} // namespace

AlertPhoto::File AlertPhoto::Prepare(const QString &path, qint64 maxBytes)
{
    File out;
    out.bytes = JpegWithin(path, maxBytes);
    if (out.bytes.isEmpty())
        return out;
    QBuffer buffer(&out.bytes);
    buffer.open(QIODevice::ReadOnly);
    out.size = QImageReader(&buffer, "JPEG").size(); // from the header only
    out.name = QFileInfo(path).completeBaseName() + QStringLiteral(".jpg");
    out.type = QStringLiteral("image/jpeg");
    return out;
}

AlertPhoto::File AlertPhoto::PrepareSound(const QString &path, qint64 maxBytes)
{
    File out;
    out.bytes = ReadWithin(path, std::min(maxBytes, MaxFileBytes));
    if (out.bytes.isEmpty())
        return out;
    out.name = QFileInfo(path).fileName();
    // By its name: "audio/ogg" for a clip, not a codec's subtype receivers may not know.
    out.type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
    return out;
}
