#pragma once
// The lines of a report file for a list view: the file's bytes are kept as
// one block with the offsets of its lines, and a line becomes text only when
// the view shows it. Every row has the same height and the width of the
// longest line, so a view never measures all rows.

#include <QAbstractListModel>
#include <QByteArray>
#include <QFont>
#include <QSize>
#include <vector>

class ReportLinesModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit ReportLinesModel(QObject *parent = nullptr);

    // Reads the file anew; a missing, unreadable or special file gives no rows.
    void load(const QString &reportFilePath, const QFont &font);
    QString lineAt(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QByteArray m_bytes;
    std::vector<qint64> m_starts;
    std::vector<qint64> m_ends;
    QSize m_rowSize;
};
