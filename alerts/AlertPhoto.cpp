#include "alerts/AlertPhoto.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>

QByteArray AlertPhoto::JpegWithin(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > MaxFileBytes)
        return {};
    const QByteArray bytes = file.readAll();
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

QString AlertPhoto::JpegName(const QString &path)
{
    return QFileInfo(path).completeBaseName() + QStringLiteral(".jpg");
}
