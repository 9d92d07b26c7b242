#pragma once
// The event report: time-stamped lines kept in memory and mirrored whole in
// Reports/Report.txt after every new line.
//
// Loaded lines are kept as the bytes found in the file, so a report edited by
// hand (other encodings, binary bytes) is written back unchanged; lines the
// program adds are UTF-8.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class ReportLog
{
public:
    explicit ReportLog(const QString &reportsFolder); // ends in '/'

    QString filePath() const;

    // Start-up: the log becomes the lines of the report file, if it exists.
    void Load();
    // Stamps the message with the clock's time and rewrites the file; a line
    // equal to the last one is dropped. A failed write keeps the line for the
    // next write and reports nothing.
    void AddToReport(const QString &message);
    void Clear();
    bool DeleteReportFile();

    QStringList lines() const;
    int count() const { return static_cast<int>(m_lines.size()); }

    static QString FormatLine(const QDateTime &when, const QString &message);
    void setClock(std::function<QDateTime()> clock);

    // Told of every line AddToReport takes (not of dropped repeats), after
    // it was handed to the file: the journal, notifications and remote
    // alerts follow the report through here. message is the text without
    // its time stamp, line the whole line as written.
    using LineObserver = std::function<void(const QString &message, const QString &line)>;
    void addLineObserver(LineObserver observer) { m_observers.push_back(std::move(observer)); }

    static QStringList ReadReportFile(const QString &path);
    // Splits at CR LF, lone CR and lone LF; a final line needs no line end.
    static QList<QByteArray> SplitLines(const QByteArray &contents);

private:
    bool WriteReportFile() const;

    QString m_folder;
    QList<QByteArray> m_lines;
    std::function<QDateTime()> m_clock;
    std::vector<LineObserver> m_observers;
};
