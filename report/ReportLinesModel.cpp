#include "report/ReportLinesModel.h"

#include "files/SafeFile.h"
#include "report/ReportLog.h"

#include <QFontMetrics>

ReportLinesModel::ReportLinesModel(QObject *parent) : QAbstractListModel(parent)
{
}

void ReportLinesModel::load(const QString &reportFilePath, const QFont &font)
{
    beginResetModel();
    m_starts.clear();
    m_ends.clear();
    m_bytes.clear();
    if (SafeFile::ReadAll(reportFilePath, &m_bytes) == SafeFile::ReadResult::Ok)
        ReportLog::IndexLines(m_bytes, &m_starts, &m_ends);
    m_starts.shrink_to_fit();
    m_ends.shrink_to_fit();
    // The longest line in bytes stands for the widest one.
    size_t longest = 0;
    for (size_t i = 1; i < m_ends.size(); ++i) {
        if (m_ends[i] - m_starts[i] > m_ends[longest] - m_starts[longest])
            longest = i;
    }
    const QFontMetrics metrics(font);
    const int width = m_ends.empty() ? 0 : metrics.horizontalAdvance(lineAt(int(longest)));
    m_rowSize = QSize(width + 8, metrics.height() + 2);
    endResetModel();
}

QString ReportLinesModel::lineAt(int row) const
{
    if (row < 0 || size_t(row) >= m_starts.size())
        return {};
    return QString::fromUtf8(m_bytes.constData() + m_starts[row], m_ends[row] - m_starts[row]);
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
