#pragma once
// This process's threads, read from /proc, to check that a part runs no
// thread of its own while at rest.

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>
#include <QStringList>

namespace tarvo::test {

// This process's threads by id, with their names.
inline QMap<QString, QString> threads()
{
    QMap<QString, QString> found;
    QDirIterator it(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString dir = it.next();
        QFile comm(dir + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly))
            found.insert(it.fileName(), QString::fromUtf8(comm.readAll()).trimmed());
    }
    return found;
}

// Threads that did not run at the time of before, as "id:name".
inline QStringList threadsSince(const QMap<QString, QString> &before)
{
    QStringList added;
    const auto now = threads();
    for (auto it = now.begin(); it != now.end(); ++it)
        if (!before.contains(it.key()))
            added << it.key() + QLatin1Char(':') + it.value();
    return added;
}

} // namespace tarvo::test
