#include "evidence/ScreenCapture.h"

#include <QBuffer>
#include <QGuiApplication>
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

} // namespace ScreenCapture
