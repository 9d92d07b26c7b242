#include "report/ReportHistory.h"

#include "files/SafeFile.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {
const QString TimeFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");

const QRegularExpression &NamePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^Report-(\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2})(_\\d+)?\\.txt$"));
    return pattern;
}

bool Taken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink(); // a dangling link is taken too
}
} // namespace

namespace ReportHistory {

QString FolderFor(const QString &reportsFolder)
{
    QString base = reportsFolder;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QStringLiteral("History/");
}

QDateTime BeganAt(const QString &fileName)
{
    const auto match = NamePattern().match(fileName);
    if (!match.hasMatch())
        return {};
    return QDateTime::fromString(match.captured(1), TimeFormat);
}

QDateTime LineTime(QStringView line)
{
    // "[dd.MM.yy hh:mm] " as ReportLog::FormatLine writes it.
    if (line.size() < 17 || line.at(0) != QLatin1Char('[') || line.at(15) != QLatin1Char(']'))
        return {};
    QDateTime when =
        QDateTime::fromString(line.mid(1, 14).toString(), QStringLiteral("dd.MM.yy HH:mm"));
    if (when.isValid() && when.date().year() < 2000)
        when = when.addYears(100); // two digits of the year: this century
    return when;
}

QString Keep(const QString &reportsFolder, const QDateTime &began, const QByteArray &content,
             QString *error)
{
    const QString folder = FolderFor(reportsFolder);
    if (QFileInfo(folder.chopped(1)).isSymLink()) {
        if (error)
            *error = QStringLiteral("%1 is a symbolic link; nothing is written there").arg(folder);
        return {};
    }
    if (!SafeFile::MakePrivateFolder(folder, error))
        return {};
    const QString stem = folder + QStringLiteral("Report-") + began.toString(TimeFormat);
    QString path = stem + QStringLiteral(".txt");
    for (int n = 2; Taken(path); ++n)
        path = stem + QLatin1Char('_') + QString::number(n) + QStringLiteral(".txt");
    // A free name: the rename that ends Replace makes a new file, never a
    // write through a link.
    if (!SafeFile::Replace(path, content, error, nullptr, 0600))
        return {};
    return path;
}

} // namespace ReportHistory
