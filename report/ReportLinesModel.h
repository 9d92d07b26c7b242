#pragma once
// The lines of a report file for a list view: the file's bytes are kept as
// one block with the 32-bit offset where each line starts (its end is found
// from the next start), and a line becomes text only when the view shows it.
// Every row has the same height and the width of the longest line, so a view
// never measures all rows. Of a report over 4 GiB the newest 4 GiB are shown.
// A line that names a picture of the evidence folder is taller and shows its
// thumbnail (from a ThumbnailCache, made when the row is first shown), or
// "(picture removed)" when the file is gone; screen readers hear
// "Photo of <time>" for it.

#include "report/ReportPeriods.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QFont>
#include <QHash>
#include <QSize>
#include <QtGlobal>
#include <vector>

class ThumbnailCache;

class ReportLinesModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit ReportLinesModel(QObject *parent = nullptr);

    // Reads the file anew; a missing, unreadable or special file gives no rows.
    void load(const QString &reportFilePath, const QFont &font);
    QString lineAt(int row) const;
    // Where the pictures are (ends in '/'), and who makes their thumbnails;
    // both before load().
    void setEvidenceFolder(const QString &folder) { m_evidenceFolder = folder; }
    void setThumbnails(ThumbnailCache *thumbnails);
    ReportPeriods::Picture pictureAt(int row) const;
    bool hasPictures() const { return !m_pictureRows.empty(); }
    static constexpr const char *RemovedText = "(picture removed)";

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    qsizetype lineEnd(size_t row) const;
    bool namesPicture(int row) const;
    void findPictureRows();
    void thumbnailReady(const QString &path);

    QByteArray m_bytes;
    std::vector<quint32> m_starts;
    QSize m_rowSize, m_pictureRowSize;
    QString m_evidenceFolder;
    ThumbnailCache *m_thumbnails = nullptr;
    std::vector<int> m_pictureRows;             // sorted
    mutable QHash<QString, int> m_rowOfPicture; // of the thumbnails asked for
};
