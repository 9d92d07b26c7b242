#include "alerts/AlertQueue.h"

#include "files/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

AlertQueue::AlertQueue(QString path, int capacity)
    : m_path(std::move(path)), m_capacity(std::max(1, capacity))
{
    load();
}

QString AlertQueue::DefaultPath(const QString &settingsFile)
{
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/Tarvo2-alerts.json");
}

void AlertQueue::removeLeftovers() const
{
    // One copy runs at a time, so every temporary file beside the queue is
    // a write that was cut short ("name.XXXXXX" from older versions).
    const QFileInfo info(m_path);
    QDir folder(info.absolutePath());
    const QString name = info.fileName();
    const QStringList leftovers =
        folder.entryList({name + QStringLiteral(".tmp-*"), name + QStringLiteral(".??????")},
                         QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &leftover : leftovers)
        folder.remove(leftover);
}

void AlertQueue::setAside(const QString &why)
{
    // Kept for a person to look at; the queue goes on without it.
    const QString aside = m_path + QStringLiteral(".bad");
    QFile::remove(aside);
    const bool moved = QFile::rename(m_path, aside);
    m_problem = moved ? QStringLiteral("The alert queue %1 %2; it was set aside as %3 and alerts "
                                       "start anew.")
                            .arg(m_path, why, aside)
                      : QStringLiteral("The alert queue %1 %2; waiting alerts are kept in memory "
                                       "only.")
                            .arg(m_path, why);
}

void AlertQueue::load()
{
    removeLeftovers();
    SafeFile::FileId id;
    QString error;
    if (!SafeFile::Examine(m_path, &id, &error)) {
        setAside(QStringLiteral("is not a regular file"));
        return;
    }
    if (!id.exists)
        return;
    if (id.size > MaxFileBytes) {
        setAside(QStringLiteral("is too large (%1 MB)").arg(id.size / (1024 * 1024)));
        return;
    }
    QByteArray bytes;
    if (SafeFile::ReadAll(m_path, &bytes, &error) != SafeFile::ReadResult::Ok) {
        m_problem = error;
        return;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        setAside(QStringLiteral("is damaged"));
        return;
    }
    const QJsonObject root = document.object();
    m_dropped = static_cast<quint64>(root.value(QStringLiteral("dropped")).toDouble());
    for (const QJsonValue &value : root.value(QStringLiteral("entries")).toArray()) {
        if (value.isObject())
            m_entries.append(AlertEvent::FromJson(value.toObject()));
    }
    while (m_entries.size() > m_capacity)
        dropOne();
    m_lastPushedAlarm = !m_entries.isEmpty() && m_entries.last().alarm;
}

bool AlertQueue::save() const
{
    QJsonArray entries;
    for (const AlertEvent &event : m_entries)
        entries.append(event.toJson());
    const QJsonObject root{{QStringLiteral("dropped"), static_cast<double>(m_dropped)},
                           {QStringLiteral("entries"), entries}};
    // Who is alerted where, and when the owner was away: for the owner only.
    return SafeFile::MakePrivateFolder(QFileInfo(m_path).absolutePath()) &&
           SafeFile::Replace(m_path, QJsonDocument(root).toJson(QJsonDocument::Compact));
}

const AlertEvent &AlertQueue::next(const std::function<bool(const AlertEvent &)> &urgent) const
{
    for (const AlertEvent &event : m_entries)
        if (urgent(event))
            return event;
    return m_entries.first();
}

void AlertQueue::dropOne()
{
    // The oldest line that is no alarm; else the oldest alarm that followed
    // another one, so the first alarm of every run still reaches the owner
    // (the lines between runs may be gone by now: the mark tells the run).
    qsizetype victim = -1;
    for (qsizetype i = 0; i < m_entries.size() && victim < 0; ++i)
        if (!m_entries.at(i).alarm)
            victim = i;
    for (qsizetype i = 0; i < m_entries.size() && victim < 0; ++i)
        if (!m_entries.at(i).runStart)
            victim = i;
    m_entries.removeAt(std::max<qsizetype>(victim, 0));
    ++m_dropped;
}

bool AlertQueue::push(const AlertEvent &event)
{
    m_entries.append(event);
    // The line before may be dropped already: what was pushed tells the run.
    m_entries.last().runStart = event.alarm && !m_lastPushedAlarm;
    m_lastPushedAlarm = event.alarm;
    while (m_entries.size() > m_capacity)
        dropOne();
    return save();
}

bool AlertQueue::remove(const AlertEvent &event)
{
    const qsizetype at = m_entries.indexOf(event);
    if (at < 0)
        return false;
    m_entries.removeAt(at);
    save();
    return true;
}

bool AlertQueue::dropAttachment(const AlertEvent &event)
{
    const qsizetype at = m_entries.indexOf(event);
    if (at < 0)
        return false;
    m_entries[at].attachment.clear();
    save();
    return true;
}

bool AlertQueue::moveToFront(const std::function<bool(const AlertEvent &)> &first)
{
    const auto firstAfterOthers = std::adjacent_find(
        m_entries.cbegin(), m_entries.cend(),
        [&first](const AlertEvent &a, const AlertEvent &b) { return !first(a) && first(b); });
    if (firstAfterOthers == m_entries.cend())
        return false;
    std::stable_partition(m_entries.begin(), m_entries.end(), first);
    save();
    return true;
}
