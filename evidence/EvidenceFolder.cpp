#include "evidence/EvidenceFolder.h"

#include "files/SafeFile.h"
#include "report/ReportHistory.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {
const QString TimeFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");
constexpr qint64 BytesPerMB = 1024 * 1024;

const QRegularExpression &NamePattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2})_[a-z]+(_\\d+)?\\.(jpg|png|oga)$"));
    return pattern;
}

// lstat: whether anything, a dangling link included, stands at path.
bool Taken(const QString &path, struct stat *status = nullptr)
{
    struct stat own = {};
    return ::lstat(QFile::encodeName(path).constData(), status ? status : &own) == 0;
}

// Moves what stands at folder (no '/' at its end) out of the way when it is
// no real folder; the report line, empty when nothing was moved.
QString SetAsideUnlessFolder(const QString &folder)
{
    struct stat status = {};
    if (!Taken(folder, &status) || S_ISDIR(status.st_mode))
        return {};
    QString aside = folder + QStringLiteral(".bad");
    for (int n = 2; Taken(aside); ++n)
        aside = folder + QStringLiteral(".bad") + QString::number(n);
    const QString what = S_ISLNK(status.st_mode) ? QStringLiteral("a symbolic link")
                                                 : QStringLiteral("not a folder");
    // rename() moves a link itself, never what it points to.
    if (::rename(QFile::encodeName(folder).constData(), QFile::encodeName(aside).constData()) == 0)
        return QStringLiteral("The folder %1 was %2; it was set aside as %3.")
            .arg(folder, what, aside);
    // Another worker may have moved it just now; only what still stands is told.
    if (Taken(folder, &status) && !S_ISDIR(status.st_mode))
        return QStringLiteral("The folder %1 is %2 and cannot be set aside; nothing is kept there.")
            .arg(folder, what);
    return {};
}

bool MakePrivateFolder(const QString &folder, QString *error)
{
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Cannot create the folder %1").arg(folder);
        return false;
    }
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    return true;
}
} // namespace

QString EvidenceFolder::PathFor(const QString &reportsFolder)
{
    QString base = reportsFolder;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QStringLiteral("Evidence/");
}

QDateTime EvidenceFolder::TakenAt(const QString &fileName)
{
    const auto match = NamePattern().match(fileName);
    if (!match.hasMatch())
        return {};
    return QDateTime::fromString(match.captured(1), TimeFormat);
}

QString EvidenceFolder::FreeName(const QDateTime &taken, const QString &kind,
                                 const QString &suffix) const
{
    const QString stem = taken.toString(TimeFormat) + QLatin1Char('_') + kind;
    QString name = stem + QLatin1Char('.') + suffix;
    // A dangling link takes its name, too: the new file never goes through it.
    for (int n = 2; Taken(m_folder + name); ++n)
        name = stem + QLatin1Char('_') + QString::number(n) + QLatin1Char('.') + suffix;
    return name;
}

QString EvidenceFolder::save(const QDateTime &taken, const QString &kind, const QString &suffix,
                             const QByteArray &bytes, QString *error,
                             QStringList *setAside) const
{
    const QStringList aside = setAsideLinks();
    if (setAside)
        *setAside += aside;
    struct stat status = {};
    if (Taken(m_folder.chopped(1), &status) && !S_ISDIR(status.st_mode)) {
        if (error)
            *error = QStringLiteral("%1 is not a folder").arg(m_folder);
        return {};
    }
    if (!MakePrivateFolder(m_folder, error))
        return {};
    const QString name = FreeName(taken, kind, suffix);
    if (!SafeFile::Replace(m_folder + name, bytes, error, nullptr, 0600))
        return {};
    return name;
}

QString EvidenceFolder::historyPath() const
{
    // The evidence folder's parent is the reports folder.
    return ReportHistory::FolderFor(QFileInfo(m_folder.chopped(1)).path());
}

QStringList EvidenceFolder::setAsideLinks() const
{
    QStringList lines;
    for (const QString &folder : {m_folder, historyPath()}) {
        const QString line = SetAsideUnlessFolder(folder.chopped(1));
        if (!line.isEmpty())
            lines << line;
    }
    return lines;
}

void EvidenceFolder::prune(const Limits &limits, const QDateTime &now, const QString &keep,
                           QStringList *setAside) const
{
    // Nothing is removed through a link: a linked folder is moved away first.
    const QStringList aside = setAsideLinks();
    if (setAside)
        *setAside += aside;
    // Pictures, sound clips and the reports of past periods are one stock,
    // oldest first; files with names given elsewhere are left alone.
    struct Kept
    {
        QDateTime taken;
        QString path;
        qint64 size;
    };
    QList<Kept> files;
    const auto gather = [&files](const QString &folder, auto timeOfName) {
        struct stat status = {};
        if (!Taken(folder.chopped(1), &status) || !S_ISDIR(status.st_mode))
            return;
        const QFileInfoList entries =
            QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden);
        for (const QFileInfo &file : entries) {
            const QDateTime taken = timeOfName(file.fileName());
            if (taken.isValid())
                files.append({taken, file.filePath(), file.size()});
        }
    };
    gather(m_folder, &EvidenceFolder::TakenAt);
    gather(historyPath(), &ReportHistory::BeganAt);
    std::stable_sort(files.begin(), files.end(),
                     [](const Kept &a, const Kept &b) { return a.taken < b.taken; });
    const QDateTime oldestKept = now.addDays(-limits.keepDays);
    const auto kept = [&keep](const Kept &file) {
        return !keep.isEmpty() && QFileInfo(file.path).fileName() == keep;
    };
    qint64 total = 0;
    QList<Kept> left;
    for (const Kept &file : files) {
        if (limits.keepDays > 0 && file.taken < oldestKept && !kept(file)) {
            QFile::remove(file.path);
            continue;
        }
        left.append(file);
        total += file.size;
    }
    const qint64 cap = qint64(std::max(limits.maxMB, 1)) * BytesPerMB;
    for (const Kept &file : left) {
        if (total <= cap)
            break;
        if (!kept(file) && QFile::remove(file.path))
            total -= file.size;
    }
}

QString EvidenceFolder::savedFileOfMessage(const QString &message, QString *source) const
{
    const QLatin1String saved(" saved: ");
    const qsizetype at = message.indexOf(saved);
    const QString said = message.left(at);
    if (at < 0 || (said != QLatin1String("Photo") && said != QLatin1String("Screen") &&
                   said != QLatin1String("Sound")))
        return {};
    const QString name = message.mid(at + saved.size()).trimmed();
    // Only a name this folder gives: no path, no other file of the desk.
    if (!NamePattern().match(name).hasMatch())
        return {};
    // A link under a picture's name would send out the file it points to.
    const QString path = m_folder + name;
    struct stat status = {};
    if (!Taken(path, &status) || !S_ISREG(status.st_mode))
        return {};
    if (source)
        *source = said;
    return path;
}
