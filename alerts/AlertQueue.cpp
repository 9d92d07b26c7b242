#include "alerts/AlertQueue.h"

#include "files/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

AlertQueue::AlertQueue(QString path, int capacity)
    : m_path(std::move(path)), m_capacity(std::max(1, capacity))
{
    load();
}

QString AlertQueue::DefaultPath(const QString &settingsFile)
{
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/Tarvo2-alerts.json");
}

void AlertQueue::load()
{
    QFile file(m_path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        // Kept for a person to look at; the queue goes on without it.
        QFile::remove(m_path + QStringLiteral(".bad"));
        QFile::rename(m_path, m_path + QStringLiteral(".bad"));
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

void AlertQueue::dropOne()
{
    // The oldest line that is no alarm; else the oldest alarm that follows
    // another one, so the first alarm of every run still reaches the owner.
    qsizetype victim = -1;
    for (qsizetype i = 0; i < m_entries.size() && victim < 0; ++i)
        if (!m_entries.at(i).alarm)
            victim = i;
    for (qsizetype i = 1; i < m_entries.size() && victim < 0; ++i)
        if (m_entries.at(i - 1).alarm)
            victim = i;
    m_entries.removeAt(std::max<qsizetype>(victim, 0));
    ++m_dropped;
}

bool AlertQueue::push(const AlertEvent &event)
{
    m_entries.append(event);
    while (m_entries.size() > m_capacity)
        dropOne();
    return save();
}

bool AlertQueue::popHead()
{
    if (!m_entries.isEmpty())
        m_entries.removeFirst();
    return save();
}
