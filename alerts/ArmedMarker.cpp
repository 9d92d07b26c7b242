#include "alerts/ArmedMarker.h"

#include "files/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QByteArray Prefix = QByteArrayLiteral("armed, last sign of life ");
constexpr qint64 MaxMarkerBytes = 4096;
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

std::optional<QDateTime> ArmedMarker::leftBehind() const
{
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    // Its own time says when; anything else in its place (damaged, not a
    // regular file) still means a run ended armed, at the file's time.
    SafeFile::FileId id;
    QByteArray bytes;
    if (SafeFile::Examine(m_path, &id) && id.exists && id.size <= MaxMarkerBytes &&
        SafeFile::ReadAll(m_path, &bytes) == SafeFile::ReadResult::Ok && bytes.startsWith(Prefix)) {
        const QDateTime written = QDateTime::fromString(
            QString::fromLatin1(bytes.mid(Prefix.size()).trimmed()), Qt::ISODate);
        if (written.isValid())
            return written;
    }
    const QDateTime modified = info.lastModified();
    return modified.isValid() ? modified : QDateTime::currentDateTime();
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
    SafeFile::FileId id;
    if (!SafeFile::Examine(m_path, &id))
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
