#include "evidence/ScreenCapture.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>

namespace ScreenCapture {

bool Available(QString *why)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return true;
    if (why)
        *why = QStringLiteral("the %1 session gives no picture of the screen without asking")
                   .arg(QGuiApplication::platformName());
    return false;
}

QImage GrabNow(QString *why)
{
    if (!Available(why))
        return {};
    QScreen *screen = QGuiApplication::primaryScreen();
    const QImage image = screen ? screen->grabWindow(0).toImage() : QImage();
    if (image.isNull() && why)
        *why = QStringLiteral("the screen could not be read");
    return image;
}

QByteArray EncodePng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

QByteArray ReadServiceFile(const QString &path, QString *why)
{
    // A screen of several 8K monitors stays well below this.
    constexpr qint64 MaxBytes = qint64(512) * 1024 * 1024;
    const QFileInfo info(path);
    QByteArray bytes;
    QString error;
    if (!info.isFile() || info.isSymLink()) {
        error = QStringLiteral("the screenshot service gave no file");
    } else if (info.size() > MaxBytes) {
        error = QStringLiteral("the screenshot service's file is too large");
    } else {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        else
            error = file.errorString();
    }
    if (info.isFile() && !info.isSymLink())
        QFile::remove(path); // the picture is kept only in the evidence folder

    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    if (error.isEmpty() && reader.format() != "png") {
        // Another format is converted; what does not decode is no picture.
        bytes = EncodePng(reader.read());
        if (bytes.isEmpty())
            error = QStringLiteral("the screenshot service's file is not a picture");
    }
    if (!error.isEmpty()) {
        if (why)
            *why = error;
        return {};
    }
    return bytes;
}

} // namespace ScreenCapture
