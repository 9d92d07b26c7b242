#include "report/ReportLog.h"

#include "report/ReportHistory.h"

#include <QDir>
#include <QtDebug>

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
    ForEachLine(contents, [&](qsizetype start, qsizetype end) {
        result.append(contents.mid(start, end - start));
    });
    return result;
}

void ReportLog::ForgetLines()
{
    m_loaded.clear();
    m_loadedCount = 0;
    m_added.clear();
    m_lastLine.clear();
    m_pending = 0;
    m_repair.clear();
}

ReportLog::FileRead ReportLog::ReadFile(const QString &path)
{
    FileRead read;
    read.result = SafeFile::ReadAll(path, &read.bytes, &read.error, &read.disk);
    return read;
}

void ReportLog::Load()
{
    Load(ReadFile(filePath()));
}

void ReportLog::LoadAtFirstUse()
{
    Settle(); // one load at a time
    m_reading = std::async(std::launch::deferred, [path = filePath()] { return ReadFile(path); });
}

void ReportLog::ReadAhead()
{
    using namespace std::chrono_literals;
    if (m_reading.valid() && m_reading.wait_for(0s) == std::future_status::deferred)
        m_reading = std::async(std::launch::async, [path = filePath()] { return ReadFile(path); });
}

void ReportLog::Settle()
{
    if (m_reading.valid())
        Load(m_reading.get());
}

void ReportLog::Load(FileRead read)
{
    if (m_reading.valid())
        m_reading.wait(); // a background read would only be older
    m_reading = {};
    ForgetLines();
    m_replaceNext = false;
    m_blocked = false;
    m_problem.clear();
    // Temporary files of a replacement a crash cut short (one copy runs).
    QDir folder(m_folder);
    const QStringList leftovers =
        folder.entryList({ReportFileName + QStringLiteral(".tmp-*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        folder.remove(name);
    m_disk = read.disk;
    m_periodBegan = {};
    if (read.result == SafeFile::ReadResult::Missing)
        return;
    if (read.result == SafeFile::ReadResult::Failed) {
        // Whatever it holds is not ours to overwrite until a new report starts.
        m_blocked = true;
        SetProblem(read.error + QStringLiteral("; nothing is written to it"));
        return;
    }
    m_loaded = std::move(read.bytes);
    // The lines are counted when someone asks (a long report takes a while):
    // the last line is found from the end.
    m_loadedCount = -1;
    const qsizetype size = m_loaded.size();
    const char *data = m_loaded.constData();
    qsizetype lastEnd = size;
    if (size > 0 && (data[size - 1] == '\n' || data[size - 1] == '\r'))
        lastEnd = size - (size > 1 && data[size - 2] == '\r' && data[size - 1] == '\n' ? 2 : 1);
    qsizetype lastStart = lastEnd;
    while (lastStart > 0 && data[lastStart - 1] != '\n' && data[lastStart - 1] != '\r')
        --lastStart;
    if (size > 0 && lastEnd == size) {
        m_repair = LineEnd; // torn by a crash, or written by hand without one
    } else if (size > 0 && m_loaded.back() == '\r') {
        m_repair = QByteArrayLiteral("\n"); // the crash came between CR and LF
    }
    m_lastLine = m_loaded.mid(lastStart, lastEnd - lastStart);
    qsizetype firstEnd = 0;
    while (firstEnd < size && data[firstEnd] != '\n' && data[firstEnd] != '\r')
        ++firstEnd;
    m_periodBegan =
        ReportHistory::LineTime(QString::fromUtf8(data, std::min<qsizetype>(firstEnd, 32)));
    if (!m_repair.isEmpty())
        WritePending();
}

QString ReportLog::FormatLine(const QDateTime &when, const QString &message)
{
    // Format strings are locale independent, so the separator stays ':'.
    return QLatin1Char('[') + when.toString(QStringLiteral("dd.MM.yy hh:mm")) +
           QStringLiteral("] ") + message;
}

bool ReportLog::Take(const QString &message, QStringList *taken)
{
    const QByteArray line = FormatLine(m_clock(), message).toUtf8();
    if ((!m_loaded.isEmpty() || !m_added.isEmpty()) && m_lastLine == line)
        return false;
    m_added.append(line);
    m_lastLine = line;
    ++m_pending;
    taken->append(message);
    return true;
}

void ReportLog::AddToReport(const QString &message)
{
    AddLinesToReport({message});
}

void ReportLog::AddLinesToReport(const QStringList &messages)
{
    Settle();
    QStringList taken;
    for (const QString &message : messages)
        Take(message, &taken);
    if (taken.isEmpty())
        return;
    const qsizetype first = m_added.size() - taken.size();
    const auto tell = [&](const std::vector<LineObserver> &observers) {
        for (qsizetype i = 0; i < taken.size() && !observers.empty(); ++i) {
            const QString text = QString::fromUtf8(m_added.at(first + i));
            for (const LineObserver &observer : observers)
                observer(taken.at(i), text);
        }
    };
    tell(m_keepers);
    WritePending();
    tell(m_observers);
}

QByteArray ReportLog::WholeContent() const
{
    QByteArray contents;
    qint64 addedSize = 0;
    for (const QByteArray &line : m_added)
        addedSize += line.size() + LineEnd.size();
    contents.reserve(m_loaded.size() + LoadedCount() + addedSize);
    ForEachLine(m_loaded, [&](qsizetype start, qsizetype end) {
        contents.append(m_loaded.constData() + start, end - start);
        contents += LineEnd;
    });
    for (const QByteArray &line : m_added) {
        contents += line;
        contents += LineEnd;
    }
    return contents;
}

void ReportLog::WritePending()
{
    if (m_blocked || !SafeFile::MakePrivateFolder(m_folder))
        return;
    QString error;
    if (!m_replaceNext && m_disk.exists) {
        QByteArray tail = m_repair;
        for (qsizetype i = m_added.size() - m_pending; i < m_added.size(); ++i) {
            tail += m_added.at(i);
            tail += LineEnd;
        }
        bool stale = false;
        if (SafeFile::Append(filePath(), tail, m_disk, &m_disk, &stale, &error)) {
            m_pending = 0;
            m_repair.clear();
            SetProblem({});
            return;
        }
        if (!stale) {
            SetProblem(error);
            return;
        }
        // Changed or gone behind our back: write the whole log instead.
    }
    if (SafeFile::Replace(filePath(), WholeContent(), &error, &m_disk)) {
        m_pending = 0;
        m_repair.clear();
        m_replaceNext = false;
        SetProblem({});
        return;
    }
    SetProblem(error);
}

void ReportLog::SetProblem(const QString &problem)
{
    if (!problem.isEmpty() && problem != m_problem)
        qWarning("Report: %s", qUtf8Printable(problem));
    m_problem = problem;
}

void ReportLog::KeepHistory()
{
    if (m_blocked || (m_loaded.isEmpty() && m_added.isEmpty()))
        return;
    QDateTime began = m_periodBegan;
    if (!began.isValid()) {
        const QByteArray &first = m_loaded.isEmpty() ? m_added.front() : m_loaded;
        began = ReportHistory::LineTime(QString::fromUtf8(first.left(32)));
    }
    if (!began.isValid())
        began = m_clock();
    QString error;
    const QString kept = ReportHistory::Keep(m_folder, began, WholeContent(), &error);
    if (kept.isEmpty()) {
        // The new period starts all the same; the old lines stay in the
        // journal.
        qWarning("Report: the last period's lines were not kept: %s", qUtf8Printable(error));
        return;
    }
    for (const HistoryObserver &observer : m_historyObservers)
        observer(kept);
}

void ReportLog::Clear()
{
    Settle();
    KeepHistory();
    ForgetLines();
    m_periodBegan = m_clock();
    m_replaceNext = true;
    m_blocked = false;
}

bool ReportLog::DeleteReportFile()
{
    Settle();
    m_disk = SafeFile::FileId{}; // the next line writes the whole log again
    return QFile::remove(filePath());
}

qsizetype ReportLog::LoadedCount() const
{
    if (m_loadedCount < 0) {
        m_loadedCount = 0;
        ForEachLine(m_loaded, [this](qsizetype, qsizetype) { ++m_loadedCount; });
    }
    return m_loadedCount;
}

QStringList ReportLog::lines()
{
    Settle();
    QStringList result;
    result.reserve(count());
    ForEachLine(m_loaded, [&](qsizetype start, qsizetype end) {
        result.append(QString::fromUtf8(m_loaded.constData() + start, end - start));
    });
    for (const QByteArray &line : m_added)
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
    QByteArray bytes;
    if (SafeFile::ReadAll(path, &bytes) != SafeFile::ReadResult::Ok)
        return result;
    ForEachLine(bytes, [&](qsizetype start, qsizetype end) {
        result.append(QString::fromUtf8(bytes.constData() + start, end - start));
    });
    return result;
}
