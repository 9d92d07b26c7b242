#include "app/gUtils.h"

#include "files/SafeFile.h"
#include "sounds/SoundLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
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

namespace {

// An installed application of the Mixer category, started by its Exec line
// without the field codes.
MixerCommand MixerApplication()
{
    const QStringList folders =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString &folder : folders) {
        for (const QFileInfo &entry :
             QDir(folder).entryInfoList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
            QFile file(entry.filePath());
            if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
                continue;
            QString exec;
            bool mixer = false, hidden = false;
            for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
                if (line.startsWith(QLatin1String("Exec=")) && exec.isEmpty())
                    exec = line.mid(5);
                else if (line.startsWith(QLatin1String("Categories=")))
                    mixer = line.mid(11).split(QLatin1Char(';')).contains(QLatin1String("Mixer"));
                else if (line == QLatin1String("NoDisplay=true") ||
                         line == QLatin1String("Hidden=true"))
                    hidden = true;
                else if (line.startsWith(QLatin1Char('[')) &&
                         line != QLatin1String("[Desktop Entry]"))
                    break; // the actions' own Exec lines are not the application's
            }
            if (!mixer || hidden)
                continue;
            exec.remove(QRegularExpression(QStringLiteral("%[a-zA-Z]")));
            QStringList words = QProcess::splitCommand(exec);
            if (words.isEmpty())
                continue;
            const QString program = QStandardPaths::findExecutable(words.takeFirst());
            if (!program.isEmpty())
                return {program, words};
        }
    }
    return {};
}

} // namespace

MixerCommand FindSystemMixer(bool recording)
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
        {"UNITY", "gnome-control-center", {QStringLiteral("sound")}},
        {"BUDGIE", "gnome-control-center", {QStringLiteral("sound")}},
        {"X-CINNAMON", "cinnamon-settings", {QStringLiteral("sound")}},
        {"KDE", "systemsettings", {QStringLiteral("kcm_pulseaudio")}},
        {"KDE", "kcmshell6", {QStringLiteral("kcm_pulseaudio")}},
        {"KDE", "kcmshell5", {QStringLiteral("kcm_pulseaudio")}},
        {"MATE", "mate-volume-control", {}},
        {"LXQT", "pavucontrol-qt", {tab}},
        {"", "pavucontrol", {tab}},
        {"", "pavucontrol-qt", {tab}},
        {"", "pwvucontrol", {}},
    };
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").toUpper().split(QLatin1Char(':'));
    for (const Tool &tool : tools) {
        const QString desktop = QString::fromLatin1(tool.desktop);
        if (!desktop.isEmpty() && !desktops.contains(desktop))
            continue;
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool.program));
        if (!program.isEmpty())
            return {program, tool.arguments};
    }
    return MixerApplication();
}

QString OpenSystemVolumeControl(bool recording)
{
    const MixerCommand mixer = FindSystemMixer(recording);
    if (mixer.program.isEmpty())
        return QStringLiteral("No volume control is installed. Install pavucontrol, or open "
                              "your desktop's sound settings.");
    if (!QProcess::startDetached(mixer.program, mixer.arguments))
        return QStringLiteral("The volume control %1 could not be started.")
            .arg(QFileInfo(mixer.program).fileName());
    return {};
}
