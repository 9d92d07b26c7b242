#include "report/ThumbnailCache.h"

#include <QFileInfo>
#include <QImageReader>

ThumbnailCache::ThumbnailCache(QObject *parent) : QObject(parent), m_cache(MaxKilobytes)
{
    m_pool.setMaxThreadCount(2);
}

ThumbnailCache::~ThumbnailCache()
{
    m_pool.clear();
    m_pool.waitForDone();
}

QImage ThumbnailCache::Make(const QString &path, int side)
{
    if (QFileInfo(path).isSymLink())
        return {};
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo({1, 1}));
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > side || image.height() > side))
        image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage ThumbnailCache::thumbnail(const QString &path)
{
    if (const QImage *cached = m_cache.object(path))
        return *cached;
    if (m_pending.contains(path) || m_missing.contains(path))
        return {};
    m_pending.insert(path);
    m_pool.start([this, path] {
        const QImage image = Make(path);
        QMetaObject::invokeMethod(
            this, [this, path, image] { apply(path, image); }, Qt::QueuedConnection);
    });
    return {};
}

void ThumbnailCache::apply(const QString &path, const QImage &image)
{
    m_pending.remove(path);
    if (image.isNull())
        m_missing.insert(path);
    else
        m_cache.insert(path, new QImage(image), std::max<int>(1, int(image.sizeInBytes() / 1024)));
    Q_EMIT thumbnailReady(path);
}
