#pragma once
// The report window: shows the report file as it is on disk, line by line.
// A line that names a saved picture ("Photo saved: <file name>") shows its
// thumbnail and opens it with the desktop's viewer on a double click or
// Enter. When past periods are kept (Reports/History), a list of them
// stands beside the lines (the current period first); choosing one shows
// its lines. A button opens the evidence folder.

#include <QDialog>

class QLabel;
class QListView;
class QPushButton;
class PeriodListModel;
class ReportLinesModel;
class ThumbnailCache;

class TfrmReport : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmReport(QWidget *parent = nullptr);

    // Fills the list from the file; a missing or empty file shows the
    // "Nothing to report." panel.
    void LoadReport(const QString &reportFilePath);
    void SetResultState(bool hasLines);
    // Where the pictures named in the report are kept (ends in '/').
    void setEvidenceFolder(const QString &folder);
    // The picture a report line names, empty for other lines and for
    // pictures that are gone.
    QString PictureOfLine(const QString &line) const;
    // Opens the current line's picture; false when it names none.
    bool OpenCurrentPicture();

    // One row per report line, made into text only when shown, so a large
    // report opens at once.
    QListView *ListBox1 = nullptr;
    ReportLinesModel *lines() const { return m_lines; }
    QLabel *pnlNothingToReport = nullptr;
    QPushButton *btnCancel = nullptr;
    // The current and the past periods; shown once past ones are found.
    QListView *lstPeriods = nullptr;
    PeriodListModel *periods() const { return m_periods; }
    QPushButton *btnEvidence = nullptr;
    ThumbnailCache *thumbnails() const { return m_thumbnails; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void FormCreate();
    // The window sees every key before its controls do.
    bool FormKeyUp(int key);
    bool FormKeyPress(int key);
    void btnCancelClick();
    void ShowPeriod(const QModelIndex &index);
    void PeriodsLoaded();
    void ShowLines(const QString &reportFilePath);

    ReportLinesModel *m_lines = nullptr;
    PeriodListModel *m_periods = nullptr;
    ThumbnailCache *m_thumbnails = nullptr;
    QString m_evidenceFolder;
};

// Opens the report window modally and destroys it when it closes.
int ShowReportWindow(const QString &reportFilePath, QWidget *parent,
                     const QString &evidenceFolder = QString());
