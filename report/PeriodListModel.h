#pragma once
// The report window's list of periods: the current one first, then the
// past ones from the history files, newest first ("<begin> – <end>, <n>
// intrusions"). The history folder is read on a worker thread; until it
// has been, only the current period is listed.

#include "report/ReportPeriods.h"

#include <QAbstractListModel>
#include <QThreadPool>

class PeriodListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    static constexpr int FileRole = Qt::UserRole; // the period's report file

    explicit PeriodListModel(QObject *parent = nullptr);
    ~PeriodListModel() override;

    // Lists the current report file, and starts reading the past periods
    // of its folder.
    void load(const QString &reportFilePath);
    bool loading() const { return m_loading; }
    const QList<ReportPeriod> &past() const { return m_past; }
    static QString Describe(const ReportPeriod &period);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    void loaded(); // the past periods are listed

private:
    void apply(quint64 generation, const QList<ReportPeriod> &past);

    QString m_current;
    QList<ReportPeriod> m_past;
    quint64 m_generation = 0;
    bool m_loading = false;
    QThreadPool m_pool;
};
