#include "alerts/AlertPhoto.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

namespace {
QByteArray JpegWithin(const QString &path, qint64 maxBytes)
{
    // Not a FIFO or a device: opening one could block for good.
    const QFileInfo info(path);
    QFile file(path);
    if (path.isEmpty() || !info.isFile() || info.size() > AlertPhoto::MaxFileBytes ||
        !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(AlertPhoto::MaxFileBytes + 1);
    if (bytes.size() > AlertPhoto::MaxFileBytes)
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

AlertPhoto::Jpeg AlertPhoto::Prepare(const QString &path, qint64 maxBytes)
{
    Jpeg out;
    out.bytes = JpegWithin(path, maxBytes);
    if (out.bytes.isEmpty())
        return out;
    QBuffer buffer(&out.bytes);
    buffer.open(QIODevice::ReadOnly);
    out.size = QImageReader(&buffer, "JPEG").size(); // from the header only
    out.name = QFileInfo(path).completeBaseName() + QStringLiteral(".jpg");
    return out;
}
