#pragma once
// Shared set-up of the fuzz targets: a private temporary home, so a target
// never reads or writes the real user's files, and a core application for
// the Qt classes that want one.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

namespace tarvo::fuzz {

inline QString prepareHome()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/tarvo2-fuzz-XXXXXX"));
    const QString root = home.path();
    QDir(root).mkpath(QStringLiteral("config"));
    ::setenv("HOME", QFile::encodeName(root).constData(), 1);
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")).constData(), 1);
    static int argc = 1;
    static char name[] = "tarvo2-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return root;
}

inline bool writeFile(const QString &path, const char *data, std::size_t size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(data, qint64(size)) == qint64(size);
}

} // namespace tarvo::fuzz
