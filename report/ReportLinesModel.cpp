#include "report/ReportLinesModel.h"

#include "files/SafeFile.h"
#include "report/ReportLog.h"

#include <QFontMetrics>
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

QVariant ReportLinesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return lineAt(index.row());
    if (role == Qt::SizeHintRole)
        return m_rowSize;
    return {};
}
