#pragma once
// A real JPEG for the photo alerts: noise, so it does not compress away
// (2000×1500 at quality 95 is several MB).

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>

inline bool WriteNoisyJpeg(const QString &path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image.save(path, "JPEG", 95);
}

inline QByteArray Sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

inline QByteArray FileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
