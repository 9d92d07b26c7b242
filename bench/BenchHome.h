#pragma once
// Shared by the benchmarks: a temporary home so the user's settings and
// display stay out of it, the process's resident memory, and medians.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace bench {

inline void UseHome(const QTemporaryDir &home)
{
    auto set = [&](const char *name, const QString &sub) {
        ::setenv(name, QFile::encodeName(home.path() + sub).constData(), 1);
    };
    set("HOME", QString());
    set("XDG_CONFIG_HOME", QStringLiteral("/config"));
    set("XDG_DATA_HOME", QStringLiteral("/data"));
    QDir(home.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    set("XDG_RUNTIME_DIR", QStringLiteral("/runtime"));
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
}

// Resident set size in MB, from /proc/self/status.
inline double RssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A report file of about size bytes of ordinary report lines.
inline void WriteReport(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    QByteArray block;
    for (int i = 0; block.size() < 1 << 20; ++i)
        block += "[06.12.26 09:" + QByteArray::number(10 + i % 50) + "] " +
                 (i % 3 ? "Mouse detected" : "Microphone Detection - Enabled") + "\r\n";
    qint64 written = 0;
    while (written + block.size() <= size) {
        file.write(block);
        written += block.size();
    }
    const qsizetype rest = qsizetype(size - written);
    file.write(block.left(block.lastIndexOf('\n', rest - 1) + 1));
}

} // namespace bench
