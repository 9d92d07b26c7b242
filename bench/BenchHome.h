#pragma once
// Shared by the benchmarks: a temporary home so the user's settings and
// display stay out of it, a settings store read afresh, the process's
// resident memory, and medians.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace bench {

// Made first in main(), before the application object: HOME and the XDG
// folders point into a temporary folder, the display is offscreen and the
// sound device a dummy. Without a temporary folder the benchmark ends.
class Home
{
public:
    Home()
    {
        if (!m_dir.isValid()) {
            std::fprintf(stderr, "no temporary folder for the benchmark's home\n");
            std::exit(1);
        }
        auto set = [&](const char *name, const QString &sub) {
            ::setenv(name, QFile::encodeName(path() + sub).constData(), 1);
        };
        set("HOME", QString());
        set("XDG_CONFIG_HOME", QStringLiteral("/config"));
        set("XDG_DATA_HOME", QStringLiteral("/data"));
        QDir(path()).mkdir(QStringLiteral("runtime"));
        QFile::setPermissions(path() + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        set("XDG_RUNTIME_DIR", QStringLiteral("/runtime"));
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/tarvo2-bench-XXXXXX")};
};

// Points the settings store at a new folder, lets write() fill it, then
// moves the folder so that the next read parses the file as a newly
// started process would, not the copy this process already holds.
inline void FreshStore(const QString &folder, const std::function<void()> &write)
{
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(folder).constData(), 1);
    write();
    const QString moved = folder + QStringLiteral("-started");
    QDir().rename(folder, moved);
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(moved).constData(), 1);
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
