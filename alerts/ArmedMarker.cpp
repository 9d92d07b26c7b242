#include "alerts/ArmedMarker.h"

#include "files/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>

namespace {
const QByteArray Prefix = QByteArrayLiteral("armed, last sign of life ");
constexpr qint64 MaxMarkerBytes = 4096;

// lstat: a link is no regular file, whatever it points to.
std::optional<mode_t> TypeAt(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status.st_mode & S_IFMT;
}
} // namespace

ArmedMarker::ArmedMarker(QString path, int refreshMs, QObject *parent)
    : QObject(parent), m_path(std::move(path))
{
    m_refresh.setInterval(refreshMs);
    m_refresh.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_refresh, &QTimer::timeout, this, &ArmedMarker::refresh);
}

ArmedMarker::~ArmedMarker()
{
    if (m_written)
        remove();
}

QString ArmedMarker::DefaultPath(const QString &settingsFile)
{
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/Tarvo2-armed");
}

QString ArmedMarker::UnexpectedEndText(const QDateTime &lastSignOfLife)
{
    return QStringLiteral("Tarvo2 ended unexpectedly while armed (last sign of life %1)")
        .arg(lastSignOfLife.toLocalTime().toString(QStringLiteral("dd.MM.yy hh:mm")));
}

QString ArmedMarker::StopText(const QString &reason)
{
    return QStringLiteral("Tarvo2 stopped while armed (%1)").arg(reason);
}

bool ArmedMarker::IsGuardNotice(const QString &message)
{
    return message.startsWith(StopText(QString()).chopped(1)) ||
           message.startsWith(UnexpectedEndText(QDateTime()).section(QLatin1Char('('), 0, 0));
}

std::optional<QDateTime> ArmedMarker::leftBehind()
{
    const std::optional<mode_t> type = TypeAt(m_path);
    if (!type)
        return std::nullopt;
    if (*type != S_IFREG) {
        // Its time tells nothing of a run: no alarm, but the owner hears of it.
        setAside(*type == S_IFLNK ? QStringLiteral("a symbolic link")
                                  : QStringLiteral("not a regular file"));
        return std::nullopt;
    }
    // Its own time says when; a damaged marker still means a run ended
    // armed, at the file's time.
    SafeFile::FileId id;
    QByteArray bytes;
    if (SafeFile::Examine(m_path, &id) && id.exists && id.size <= MaxMarkerBytes &&
        SafeFile::ReadAll(m_path, &bytes) == SafeFile::ReadResult::Ok && bytes.startsWith(Prefix)) {
        const QDateTime written = QDateTime::fromString(
            QString::fromLatin1(bytes.mid(Prefix.size()).trimmed()), Qt::ISODate);
        if (written.isValid())
            return written;
    }
    const QDateTime modified = QFileInfo(m_path).lastModified();
    return modified.isValid() ? modified : QDateTime::currentDateTime();
}

void ArmedMarker::setAside(const QString &what)
{
    // Kept for a person to look at; rename() moves a link, not its target.
    const QString aside = m_path + QStringLiteral(".bad");
    if (TypeAt(aside).value_or(S_IFDIR) != S_IFDIR)
        QFile::remove(aside);
    if (::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(aside).constData()) == 0)
        m_problem = QStringLiteral("The armed marker %1 was %2; it was set aside as %3.")
                        .arg(m_path, what, aside);
    else
        m_problem = QStringLiteral("The armed marker %1 is %2 and cannot be set aside.")
                        .arg(m_path, what);
}

void ArmedMarker::setArmed(bool armed)
{
    if (!armed) {
        remove();
        return;
    }
    refresh();
    if (!m_refresh.isActive())
        m_refresh.start();
}

void ArmedMarker::refresh()
{
    const QByteArray text =
        Prefix + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1() + '\n';
    // Anything but a regular file in its place is moved out of the way
    // first, so the marker can be written.
    if (TypeAt(m_path).value_or(S_IFREG) != S_IFREG)
        QFile::remove(m_path);
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_written = SafeFile::Replace(m_path, text, nullptr, nullptr, 0600) || m_written;
}

void ArmedMarker::remove()
{
    m_refresh.stop();
    m_written = false;
    QFile::remove(m_path);
}
