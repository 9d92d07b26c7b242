#include "report/ReportLog.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {
const QString ReportFileName = QStringLiteral("Report.txt");
const QByteArray LineEnd = QByteArrayLiteral("\r\n");
} // namespace

ReportLog::ReportLog(const QString &reportsFolder)
    : m_folder(reportsFolder), m_clock([] { return QDateTime::currentDateTime(); })
{
}

QString ReportLog::filePath() const
{
    return m_folder + ReportFileName;
}

QList<QByteArray> ReportLog::SplitLines(const QByteArray &contents)
{
    QList<QByteArray> result;
    qsizetype start = 0;
    const qsizetype size = contents.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = contents.at(i);
        if (c != '\r' && c != '\n')
            continue;
        result.append(contents.mid(start, i - start));
        if (c == '\r' && i + 1 < size && contents.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        result.append(contents.mid(start));
    return result;
}

void ReportLog::Load()
{
    m_lines.clear();
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    m_lines = SplitLines(file.readAll());
}

QString ReportLog::FormatLine(const QDateTime &when, const QString &message)
{
    // Format strings are locale independent, so the separator stays ':'.
    return QLatin1Char('[') + when.toString(QStringLiteral("dd.MM.yy hh:mm")) +
           QStringLiteral("] ") + message;
}

void ReportLog::AddToReport(const QString &message)
{
    const QByteArray line = FormatLine(m_clock(), message).toUtf8();
    if (!m_lines.isEmpty() && m_lines.constLast() == line)
        return;
    m_lines.append(line);
    WriteReportFile();
    const QString text = QString::fromUtf8(line);
    for (const LineObserver &observer : m_observers)
        observer(message, text);
}

bool ReportLog::WriteReportFile() const
{
    if (!QDir().mkpath(m_folder))
        return false;
    QByteArray contents;
    for (const QByteArray &line : m_lines)
        contents += line + LineEnd;
    // Written beside the old file and renamed over it: a crash or a full disk
    // leaves the previous report, never a torn one.
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(contents) != contents.size())
        return false; // the unfinished temporary file is dropped
    return file.commit();
}

void ReportLog::Clear()
{
    m_lines.clear();
}

bool ReportLog::DeleteReportFile()
{
    return QFile::remove(filePath());
}

QStringList ReportLog::lines() const
{
    QStringList result;
    result.reserve(m_lines.size());
    for (const QByteArray &line : m_lines)
        result.append(QString::fromUtf8(line));
    return result;
}

void ReportLog::setClock(std::function<QDateTime()> clock)
{
    m_clock = std::move(clock);
}

QStringList ReportLog::ReadReportFile(const QString &path)
{
    QStringList result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> raw = SplitLines(file.readAll());
    result.reserve(raw.size());
    for (const QByteArray &line : raw)
        result.append(QString::fromUtf8(line));
    return result;
}
