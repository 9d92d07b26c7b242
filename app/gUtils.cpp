#include "app/gUtils.h"

#include "files/SafeFile.h"
#include "sounds/SoundLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

QString withOneSlash(QString folder)
{
    while (folder.endsWith(QLatin1Char('/')) && folder.size() > 1)
        folder.chop(1);
    return folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
}

bool canCreateFilesIn(const QString &folder)
{
    // QFileInfo::isWritable is not enough on read-only mounts: really try.
    QTemporaryFile probe(folder + QStringLiteral(".tarvo2-probe-XXXXXX"));
    return probe.open();
}

// Sounds found beside the executable move along the first time the
// program's files live elsewhere, so their check marks still have sounds.
void carrySoundsAlong(const QString &from, const QString &to)
{
    if (QDir(from) == QDir(to) || !ScanSoundsFolder(to, 1).isEmpty())
        return;
    const QStringList names = ScanSoundsFolder(from);
    if (names.isEmpty() || !SafeFile::MakePrivateFolder(to))
        return;
    for (const QString &name : names)
        CopyFileReplacing(from + name, to + name);
}

} // namespace

bool IsInstalledCopy(const QString &executablePath)
{
    const QDir bin = QFileInfo(executablePath).absoluteDir();
    return bin.dirName() == QLatin1String("bin") &&
           QFileInfo(bin.filePath(QStringLiteral("../share/tarvo2"))).isDir();
}

QString WorkingDirectoryFor(const QString &executablePath)
{
    const QString exeFolder = withOneSlash(QFileInfo(executablePath).absolutePath());
    // An installed copy's folder is shared by every user and owned by the
    // package: whether it happens to be writable (run by root) says nothing.
    if (!IsInstalledCopy(executablePath) && canCreateFilesIn(exeFolder))
        return exeFolder;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString fallback = withOneSlash(data + QStringLiteral("/Tarvo2"));
    // With nowhere to write at all, the sounds beside the executable can
    // still be read and played.
    if (!SafeFile::MakePrivateFolder(fallback))
        return exeFolder;
    carrySoundsAlong(exeFolder + QStringLiteral("Sounds/"), fallback + QStringLiteral("Sounds/"));
    return fallback;
}

void OpenSystemVolumeControl(bool recording)
{
    struct Tool
    {
        const char *desktop; // matched against XDG_CURRENT_DESKTOP, empty = any
        const char *program;
        QStringList arguments;
    };
    const QString tab = recording ? QStringLiteral("--tab=4") : QStringLiteral("--tab=3");
    const QList<Tool> tools = {
        {"GNOME", "gnome-control-center", {QStringLiteral("sound")}},
        {"KDE", "systemsettings", {QStringLiteral("kcm_pulseaudio")}},
        {"MATE", "mate-volume-control", {}},
        {"", "pavucontrol", {tab}},
        {"", "pavucontrol-qt", {tab}},
    };
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toUpper().split(QLatin1Char(':'));
    for (const Tool &tool : tools) {
        const QString desktop = QString::fromLatin1(tool.desktop);
        if (!desktop.isEmpty() && !desktops.contains(desktop))
            continue;
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool.program));
        if (!program.isEmpty() && QProcess::startDetached(program, tool.arguments))
            return;
    }
}
