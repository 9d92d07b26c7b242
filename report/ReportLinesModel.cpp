#include "report/ReportLinesModel.h"

#include "files/SafeFile.h"
#include "report/ReportLog.h"
#include "report/ThumbnailCache.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <algorithm>
#include <limits>

ReportLinesModel::ReportLinesModel(QObject *parent) : QAbstractListModel(parent)
{
}

void ReportLinesModel::load(const QString &reportFilePath, const QFont &font)
{
    beginResetModel();
    m_starts.clear();
    m_starts.shrink_to_fit();
    m_bytes.clear();
    if (SafeFile::ReadAll(reportFilePath, &m_bytes) != SafeFile::ReadResult::Ok)
        m_bytes.clear();
    constexpr qsizetype MaxBytes = std::numeric_limits<quint32>::max();
    if (m_bytes.size() > MaxBytes) {
        // From the first line that starts inside the newest 4 GiB.
        qsizetype cut = m_bytes.size() - MaxBytes;
        while (cut < m_bytes.size() && m_bytes.at(cut - 1) != '\n' && m_bytes.at(cut - 1) != '\r')
            ++cut;
        m_bytes.remove(0, cut);
    }
    // Counted first, so the offsets take exactly the memory they need.
    size_t lines = 0;
    ReportLog::ForEachLine(m_bytes, [&lines](qsizetype, qsizetype) { ++lines; });
    m_starts.reserve(lines);
    // The longest line in bytes stands for the widest one.
    size_t longest = 0;
    qsizetype longestLength = -1;
    ReportLog::ForEachLine(m_bytes, [&](qsizetype start, qsizetype end) {
        if (end - start > longestLength) {
            longestLength = end - start;
            longest = m_starts.size();
        }
        m_starts.push_back(quint32(start));
    });
    const QFontMetrics metrics(font);
    const int width = m_starts.empty() ? 0 : metrics.horizontalAdvance(lineAt(int(longest)));
    m_rowSize = QSize(width + 8, metrics.height() + 2);
    m_pictureRowSize = QSize(m_rowSize.width() + ThumbnailCache::Side + 8,
                             std::max(m_rowSize.height(), ThumbnailCache::Side + 4));
    findPictureRows();
    endResetModel();
}

qsizetype ReportLinesModel::lineEnd(size_t row) const
{
    const qsizetype start = m_starts[row];
    qsizetype end = row + 1 < m_starts.size() ? qsizetype(m_starts[row + 1]) : m_bytes.size();
    // A line holds no CR or LF: what ends it before the next start is its
    // line end (CR LF, CR or LF), or nothing for a last line without one.
    if (end > start && m_bytes.at(end - 1) == '\n')
        --end;
    if (end > start && m_bytes.at(end - 1) == '\r')
        --end;
    return end;
}

QString ReportLinesModel::lineAt(int row) const
{
    if (row < 0 || size_t(row) >= m_starts.size())
        return {};
    const qsizetype start = m_starts[size_t(row)];
    return QString::fromUtf8(m_bytes.constData() + start, lineEnd(size_t(row)) - start);
}

int ReportLinesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(std::min<size_t>(m_starts.size(), INT_MAX));
}

void ReportLinesModel::setThumbnails(ThumbnailCache *thumbnails)
{
    m_thumbnails = thumbnails;
    connect(thumbnails, &ThumbnailCache::thumbnailReady, this, &ReportLinesModel::thumbnailReady);
}

void ReportLinesModel::findPictureRows()
{
    m_pictureRows.clear();
    m_rowOfPicture.clear();
    if (m_evidenceFolder.isEmpty())
        return;
    for (const char *marker : {"] Photo saved: ", "] Screen saved: "}) {
        for (qsizetype at = m_bytes.indexOf(marker); at >= 0;
             at = m_bytes.indexOf(marker, at + 1)) {
            const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), quint32(at));
            if (next != m_starts.begin())
                m_pictureRows.push_back(int(next - m_starts.begin() - 1));
        }
    }
    std::sort(m_pictureRows.begin(), m_pictureRows.end());
    m_pictureRows.erase(std::unique(m_pictureRows.begin(), m_pictureRows.end()),
                        m_pictureRows.end());
}

bool ReportLinesModel::namesPicture(int row) const
{
    return std::binary_search(m_pictureRows.begin(), m_pictureRows.end(), row);
}

ReportPeriods::Picture ReportLinesModel::pictureAt(int row) const
{
    if (!namesPicture(row))
        return {};
    return ReportPeriods::PictureOfLine(lineAt(row), m_evidenceFolder);
}

void ReportLinesModel::thumbnailReady(const QString &path)
{
    const auto row = m_rowOfPicture.constFind(path);
    if (row != m_rowOfPicture.constEnd() && *row < rowCount())
        Q_EMIT dataChanged(index(*row), index(*row));
}

QVariant ReportLinesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = index.row();
    if (!namesPicture(row)) {
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return lineAt(row);
        if (role == Qt::SizeHintRole)
            return m_rowSize;
        return {};
    }
    if (role == Qt::SizeHintRole)
        return m_pictureRowSize; // asked of every row: no look at the disk
    const ReportPeriods::Picture picture = pictureAt(row);
    const bool gone = !picture.path.isEmpty() && !QFileInfo(picture.path).isFile();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return gone ? lineAt(row) + QStringLiteral("  ") + QLatin1String(RemovedText) : lineAt(row);
    case Qt::AccessibleTextRole:
        return picture.path.isEmpty() ? lineAt(row) : ReportPeriods::AccessibleName(picture);
    case Qt::AccessibleDescriptionRole:
        return lineAt(row);
    case Qt::DecorationRole:
        if (gone || picture.path.isEmpty() || !m_thumbnails)
            return {};
        m_rowOfPicture.insert(picture.path, row);
        if (const QImage image = m_thumbnails->thumbnail(picture.path); !image.isNull())
            return image;
        return {};
    default:
        return {};
    }
}
