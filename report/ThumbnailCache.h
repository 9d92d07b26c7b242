#pragma once
// Small pictures of the evidence for the report window, made on worker
// threads (QImageReader decodes straight to the small size) and kept in
// memory within a bound, least recently used going first. Asking for one
// not made yet starts it and answers a null image; thumbnailReady follows.

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QThreadPool>

class ThumbnailCache : public QObject
{
    Q_OBJECT
public:
    static constexpr int Side = 48;            // pixels, the longer side
    static constexpr int MaxKilobytes = 32768; // of decoded pictures kept

    explicit ThumbnailCache(QObject *parent = nullptr);
    // Waits for the pictures being made (at most one per worker).
    ~ThumbnailCache() override;

    // The thumbnail of the picture at path; null while it is being made and
    // for a file that is missing or no picture (missing() tells which).
    QImage thumbnail(const QString &path);
    bool missing(const QString &path) const { return m_missing.contains(path); }
    int pending() const { return int(m_pending.size()); }

    static QImage Make(const QString &path, int side = Side); // on any thread

Q_SIGNALS:
    void thumbnailReady(const QString &path);

private:
    void apply(const QString &path, const QImage &image);

    QCache<QString, QImage> m_cache;
    QSet<QString> m_pending, m_missing;
    QThreadPool m_pool;
};
