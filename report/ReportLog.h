#pragma once
// The event report: time-stamped lines kept in memory and in
// Reports/Report.txt.
//
// A new line is appended to the file and flushed, so its cost does not grow
// with the report and a crash can at most shorten the line being written;
// earlier lines are never rewritten. Clearing (a new report at arming)
// replaces the whole file in one atomic step with the first new lines, so the
// previous report stays whole until then. Loaded lines are kept as the bytes
// found in the file (one block, no copy per line), so a report edited by hand
// (other encodings, binary bytes) keeps its bytes; lines the program adds are
// UTF-8. A symbolic link at Report.txt is followed: its target is written and
// the link stays. Anything else that is not a regular file (a FIFO, a device,
// a socket) is never opened in a way that can block and is not written to.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <future>
#include <vector>

#include "files/SafeFile.h"

class ReportLog
{
public:
    explicit ReportLog(const QString &reportsFolder); // ends in '/'

    QString filePath() const;

    // Start-up: the log becomes the lines of the report file, if it exists.
    // A last line torn by a crash gets its line end back.
    void Load();
    // The file as read (ReadFile only reads, so it may run ahead on another
    // thread); Load(ReadFile(filePath())) is Load().
    struct FileRead
    {
        SafeFile::ReadResult result = SafeFile::ReadResult::Missing;
        QByteArray bytes;
        QString error;
        SafeFile::FileId disk;
    };
    static FileRead ReadFile(const QString &path);
    void Load(FileRead read);
    // As Load(), but done when the log is first used (or Settle() is
    // called); ReadAhead() reads the file on another thread meanwhile. A
    // long report then does not hold up the start.
    void LoadAtFirstUse();
    void ReadAhead();
    void Settle();
    // Stamps the message with the clock's time and appends it to the file; a
    // line equal to the last one is dropped. A failed write keeps the line
    // for the next write and reports nothing to the caller.
    void AddToReport(const QString &message);
    // Takes several lines as AddToReport does and writes them in one step.
    void AddLinesToReport(const QStringList &messages);
    // Empties the log; the file keeps its lines until the next line replaces
    // them all at once. The lines of the period that ends are kept first in
    // the history folder (ReportHistory), and the history observers told.
    void Clear();
    bool DeleteReportFile();

    QStringList lines();
    int count()
    {
        Settle();
        return static_cast<int>(LoadedCount() + m_added.size());
    }
    // Why the last write or load did not reach the file; empty when it did.
    QString problem()
    {
        Settle();
        return m_problem;
    }

    static QString FormatLine(const QDateTime &when, const QString &message);
    void setClock(std::function<QDateTime()> clock);

    // Told of every line AddToReport takes (not of dropped repeats), after
    // it was handed to the file: the journal, notifications and remote
    // alerts follow the report through here. message is the text without
    // its time stamp, line the whole line as written.
    using LineObserver = std::function<void(const QString &message, const QString &line)>;
    void addLineObserver(LineObserver observer) { m_observers.push_back(std::move(observer)); }
    // Told of every line AddToReport takes before it is handed to the file:
    // what must not lose a line (the alert queue) keeps it first, so a kill
    // right after the line reached the file loses nothing.
    void addLineKeeper(LineObserver keeper) { m_keepers.push_back(std::move(keeper)); }

    // Told of every history file Clear() kept (its full path): the
    // evidence's retention counts history files in.
    using HistoryObserver = std::function<void(const QString &historyFile)>;
    void addHistoryObserver(HistoryObserver observer)
    {
        m_historyObservers.push_back(std::move(observer));
    }
    // When the current period began: the last Clear(), else the loaded
    // report's first line; invalid when unknown.
    QDateTime periodBegan()
    {
        Settle();
        return m_periodBegan;
    }

    static QStringList ReadReportFile(const QString &path);
    // Splits at CR LF, lone CR and lone LF; a final line needs no line end.
    static QList<QByteArray> SplitLines(const QByteArray &contents);
    // Calls line(start, end) for every line of contents in order (same
    // rules); end is where the line's end, or the contents, begins.
    template <typename Line> static void ForEachLine(const QByteArray &contents, Line &&line);

private:
    void ForgetLines(); // the lines in memory, not the file
    bool Take(const QString &message, QStringList *taken);
    void WritePending();
    QByteArray WholeContent() const;
    void SetProblem(const QString &problem);
    void KeepHistory();

    QString m_folder;
    std::future<FileRead> m_reading; // a load not yet taken up
    QByteArray m_loaded;             // the file's bytes as loaded
    qsizetype LoadedCount() const;
    mutable qsizetype m_loadedCount = 0; // -1: not counted yet
    QList<QByteArray> m_added;           // lines taken since, without line ends
    QByteArray m_lastLine;
    qsizetype m_pending = 0; // last lines of m_added not yet in the file
    QByteArray m_repair;     // line end the file's last line still lacks
    bool m_replaceNext = false;
    bool m_blocked = false;  // the file exists but could not be read
    SafeFile::FileId m_disk; // the file as last written or read
    QString m_problem;
    std::function<QDateTime()> m_clock;
    std::vector<LineObserver> m_observers;
    std::vector<LineObserver> m_keepers;
    std::vector<HistoryObserver> m_historyObservers;
    QDateTime m_periodBegan;
};

template <typename Line> void ReportLog::ForEachLine(const QByteArray &contents, Line &&line)
{
    const char *data = contents.constData();
    const qsizetype size = contents.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c != '\r' && c != '\n')
            continue;
        line(start, i);
        if (c == '\r' && i + 1 < size && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        line(start, size);
}
