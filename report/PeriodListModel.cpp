#include "report/PeriodListModel.h"

#include <QFileInfo>

PeriodListModel::PeriodListModel(QObject *parent) : QAbstractListModel(parent)
{
    m_pool.setMaxThreadCount(1);
}

PeriodListModel::~PeriodListModel()
{
    m_pool.clear();
    m_pool.waitForDone();
}

void PeriodListModel::load(const QString &reportFilePath)
{
    beginResetModel();
    m_current = reportFilePath;
    m_past.clear();
    endResetModel();
    m_loading = true;
    const quint64 generation = ++m_generation;
    m_pool.start([this, generation, folder = QFileInfo(reportFilePath).path()] {
        const QList<ReportPeriod> past = ReportPeriods::Scan(folder);
        QMetaObject::invokeMethod(
            this, [this, generation, past] { apply(generation, past); }, Qt::QueuedConnection);
    });
}

void PeriodListModel::apply(quint64 generation, const QList<ReportPeriod> &past)
{
    if (generation != m_generation)
        return; // a newer load is on its way
    m_loading = false;
    if (!past.isEmpty()) {
        beginInsertRows({}, 1, int(past.size()));
        m_past = past;
        endInsertRows();
    }
    Q_EMIT loaded();
}

QString PeriodListModel::Describe(const ReportPeriod &period)
{
    const QString format = QStringLiteral("dd.MM.yy hh:mm");
    const QString count = period.intrusions == 1
                              ? QStringLiteral("1 intrusion")
                              : QStringLiteral("%1 intrusions").arg(period.intrusions);
    return period.begin.toString(format) + QStringLiteral(" – ") + period.end.toString(format) +
           QStringLiteral(", ") + count;
}

int PeriodListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || m_current.isEmpty() ? 0 : int(m_past.size()) + 1;
}

QVariant PeriodListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int row = index.row();
    if (role == FileRole)
        return row == 0 ? m_current : m_past.at(row - 1).file;
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return row == 0 ? QStringLiteral("Current period") : Describe(m_past.at(row - 1));
    return {};
}
