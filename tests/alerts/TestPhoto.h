#pragma once
// A real JPEG for the photo alerts (or a PNG, as screen pictures are kept):
// noise, so it does not compress away (2000×1500 at quality 95 is several MB).

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>

inline bool WriteNoisyJpeg(const QString &path, int width, int height, const char *format = "JPEG")
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image.save(path, format, 95);
}

// A sound clip's stand-in: an Ogg page's mark and noise (receivers check the
// mark and the type, nobody plays it).
inline bool WriteOggClip(const QString &path, int bytes = 40000)
{
    QFile file(path);
    QByteArray data = "OggS";
    QRandomGenerator random(11);
    while (data.size() < bytes)
        data.append(char(random.generate() & 0xff));
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
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
