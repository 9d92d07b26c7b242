#pragma once
// The lines of a report file for a list view: the file's bytes are kept as
// one block with the 32-bit offset where each line starts (its end is found
// from the next start), and a line becomes text only when the view shows it.
// Every row has the same height and the width of the longest line, so a view
// never measures all rows. Of a report over 4 GiB the newest 4 GiB are shown.

#include <QAbstractListModel>
#include <QByteArray>
#include <QFont>
#include <QSize>
#include <QtGlobal>
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
    qsizetype lineEnd(size_t row) const;

    QByteArray m_bytes;
    std::vector<quint32> m_starts;
    QSize m_rowSize;
};
