#include "report/ReportPeriods.h"

#include "files/SafeFile.h"
#include "report/ReportHistory.h"
#include "report/ReportLog.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace ReportPeriods {

namespace {
constexpr qsizetype StampLength = 17; // "[dd.MM.yy hh:mm] "
} // namespace

bool IsIntrusion(QStringView message)
{
    static const QLatin1String others[] = {
        QLatin1String("Lid closed"), QLatin1String("Power cable disconnected"),
        QLatin1String("Alarm simulated"), QLatin1String("Wrong PIN")};
    if (message.endsWith(QLatin1String(" detected"), Qt::CaseInsensitive))
        return true;
    return std::any_of(std::begin(others), std::end(others),
                       [&](QLatin1String other) { return message == other; });
}

ReportPeriod Summarize(const QString &file, const QByteArray &content)
{
    ReportPeriod period;
    period.file = file;
    period.begin = ReportHistory::BeganAt(QFileInfo(file).fileName());
    period.end = period.begin;
    ReportLog::ForEachLine(content, [&](qsizetype start, qsizetype end) {
        const QString line = QString::fromUtf8(content.constData() + start, end - start);
        const QDateTime when = ReportHistory::LineTime(line);
        if (when.isValid())
            period.end = std::max(period.end, when);
        if (line.size() > StampLength && IsIntrusion(QStringView(line).mid(StampLength)))
            ++period.intrusions;
    });
    return period;
}

QList<ReportPeriod> Scan(const QString &reportsFolder)
{
    const QString folder = ReportHistory::FolderFor(reportsFolder);
    QList<ReportPeriod> periods;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("Report-*.txt")}, QDir::Files, QDir::Name);
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!ReportHistory::BeganAt(*name).isValid())
            continue;
        QByteArray content;
        if (SafeFile::ReadAll(folder + *name, &content) == SafeFile::ReadResult::Ok)
            periods.append(Summarize(folder + *name, content));
    }
    // Names sort by the time the period began; "_2" of the same second after.
    std::stable_sort(
        periods.begin(), periods.end(),
        [](const ReportPeriod &a, const ReportPeriod &b) { return a.begin > b.begin; });
    return periods;
}

Picture PictureOfLine(QStringView line, const QString &evidenceFolder)
{
    Picture picture;
    for (const QLatin1String prefix :
         {QLatin1String("] Photo saved: "), QLatin1String("] Screen saved: ")}) {
        const qsizetype at = line.indexOf(prefix);
        if (at < 0)
            continue;
        const QString name = line.mid(at + prefix.size()).trimmed().toString();
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
            return {};
        picture.path = evidenceFolder + name;
        picture.photo = prefix.at(2) == QLatin1Char('P');
        if (line.startsWith(QLatin1Char('[')) && at > 1)
            picture.time = line.mid(1, at - 1).toString();
        return picture;
    }
    return {};
}

QString AccessibleName(const Picture &picture)
{
    return (picture.photo ? QStringLiteral("Photo of ") : QStringLiteral("Screen picture of ")) +
           picture.time;
}

} // namespace ReportPeriods
