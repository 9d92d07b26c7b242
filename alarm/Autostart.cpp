#include "alarm/Autostart.h"

#include "files/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <optional>

namespace {

const QString EnvProgram = QStringLiteral("/usr/bin/env");

bool IsUnsupportedControl(QChar c)
{
    return c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t') &&
           c != QLatin1Char('\r');
}

bool IsReservedUnquoted(QChar c)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

// Turns the string escapes of a desktop entry value back into characters.
std::optional<QString> UnescapeString(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++i >= value.size())
            return std::nullopt;
        switch (value.at(i).unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

// "%%" is a literal percent; every other field code is refused, as the
// program never writes one.
std::optional<QString> ExpandFieldCodes(const QString &argument)
{
    QString out;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument.at(i) != QLatin1Char('%')) {
            out += argument.at(i);
            continue;
        }
        if (i + 1 >= argument.size() || argument.at(i + 1) != QLatin1Char('%'))
            return std::nullopt;
        out += QLatin1Char('%');
        ++i;
    }
    return out;
}

QByteArray EntryText(const QString &exec)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tarvo2\n"
                          "Comment=Resumes the armed alarm\n"
                          "Exec=%1\n"
                          "Terminal=false\n")
        .arg(exec)
        .toUtf8();
}

} // namespace

QString AutostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/tarvo2.desktop");
}

QString AutostartLauncherPath()
{
    // Not in the autostart folder: systemd's generator reads every file there
    // and warns about executable ones.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VEKOR/tarvo2-launch");
}

bool IsPlainLaunchPath(const QString &path)
{
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                           (u >= '0' && u <= '9') || QStringView(u"/._+,:@=-").contains(c);
        if (!plain)
            return false;
    }
    return true;
}

QByteArray LauncherScript(const QString &executablePath)
{
    // Single quotes keep every byte but the quote itself, which is closed,
    // escaped and reopened; tabs and line breaks need nothing.
    QByteArray quoted = QFile::encodeName(executablePath);
    quoted.replace('\'', QByteArrayLiteral("'\\''"));
    return QByteArrayLiteral("#!/bin/sh\n"
                             "# Written by Tarvo2 for its autostart entry: the program's path\n"
                             "# holds characters that launchers do not all take.\n"
                             "exec '") +
           quoted + QByteArrayLiteral("' \"$@\"\n");
}

QString DesktopEntryExec(const QString &executablePath)
{
    if (executablePath.isEmpty())
        return {};
    QString quoted = QStringLiteral("\"");
    for (const QChar c : executablePath) {
        if (IsUnsupportedControl(c))
            return {};
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    // Launchers treat the program name itself strictly; a literal percent is
    // safe only as an argument.
    const QString command =
        executablePath.contains(QLatin1Char('%')) ? EnvProgram + QLatin1Char(' ') + quoted : quoted;
    // The entry file's own string escaping, applied last.
    QString escaped;
    escaped.reserve(command.size() * 2);
    for (const QChar c : command) {
        switch (c.unicode()) {
        case '\\':
            escaped += QStringLiteral("\\\\");
            break;
        case '\n':
            escaped += QStringLiteral("\\n");
            break;
        case '\t':
            escaped += QStringLiteral("\\t");
            break;
        case '\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QStringList ParseDesktopExec(const QString &execValue)
{
    const std::optional<QString> unescaped = UnescapeString(execValue);
    if (!unescaped)
        return {};
    const QString &s = *unescaped;
    QStringList arguments;
    qsizetype i = 0;
    while (i < s.size()) {
        if (s.at(i) == QLatin1Char(' ')) {
            ++i;
            continue;
        }
        QString argument;
        if (s.at(i) == QLatin1Char('"')) {
            bool closed = false;
            for (++i; i < s.size(); ++i) {
                const QChar c = s.at(i);
                if (c == QLatin1Char('"')) {
                    closed = true;
                    ++i;
                    break;
                }
                if (c == QLatin1Char('\\')) {
                    if (++i >= s.size())
                        return {};
                    const QChar next = s.at(i);
                    if (next != QLatin1Char('"') && next != QLatin1Char('`') &&
                        next != QLatin1Char('$') && next != QLatin1Char('\\'))
                        return {};
                    argument += next;
                    continue;
                }
                if (c == QLatin1Char('`') || c == QLatin1Char('$'))
                    return {}; // must have been escaped
                argument += c;
            }
            if (!closed || (i < s.size() && s.at(i) != QLatin1Char(' ')))
                return {};
        } else {
            for (; i < s.size() && s.at(i) != QLatin1Char(' '); ++i) {
                if (IsReservedUnquoted(s.at(i)))
                    return {};
                argument += s.at(i);
            }
        }
        const std::optional<QString> expanded = ExpandFieldCodes(argument);
        if (!expanded)
            return {};
        arguments.append(*expanded);
    }
    return arguments;
}

bool WriteAutostartEntry(const QString &executablePath)
{
    if (DesktopEntryExec(executablePath).isEmpty())
        return false;
    const QString path = AutostartEntryPath();
    if (!SafeFile::MakePrivateFolder(QFileInfo(path).absolutePath()))
        return false;
    QString exec;
    const QString launcher = AutostartLauncherPath();
    if (IsPlainLaunchPath(executablePath)) {
        exec = executablePath;
        QFile::remove(launcher);
    } else {
        // A home whose own path is not plain cannot hold a plain launcher:
        // then the quoted path is the best there is.
        if (IsPlainLaunchPath(launcher) &&
            SafeFile::MakePrivateFolder(QFileInfo(launcher).absolutePath())) {
            const QByteArray script = LauncherScript(executablePath);
            // Checked like the entry itself; a replaced launcher keeps its mode.
            if (!SafeFile::Replace(launcher, script) ||
                !QFile::setPermissions(launcher,
                                       QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
                return false;
            exec = launcher;
        } else {
            exec = DesktopEntryExec(executablePath);
        }
    }
    // Checked to the last byte before it replaces an earlier entry: a full
    // disk must not leave an empty entry behind.
    return SafeFile::Replace(path, EntryText(exec));
}

bool AutostartEntryCurrent(const QString &executablePath)
{
    QByteArray entry;
    if (SafeFile::ReadAll(AutostartEntryPath(), &entry) != SafeFile::ReadResult::Ok)
        return false;
    if (entry == EntryText(executablePath) && IsPlainLaunchPath(executablePath))
        return true;
    const QString launcher = AutostartLauncherPath();
    QByteArray script;
    if (entry == EntryText(launcher))
        return SafeFile::ReadAll(launcher, &script) == SafeFile::ReadResult::Ok &&
               script == LauncherScript(executablePath) && QFileInfo(launcher).isExecutable();
    return entry == EntryText(DesktopEntryExec(executablePath));
}

bool RemoveAutostartEntry()
{
    const QString path = AutostartEntryPath();
    const bool entryGone = QFile::remove(path) || !QFileInfo::exists(path);
    const QString launcher = AutostartLauncherPath();
    const bool launcherGone = QFile::remove(launcher) || !QFileInfo::exists(launcher);
    return entryGone && launcherGone;
}

bool AutostartEntryExists()
{
    return QFileInfo::exists(AutostartEntryPath());
}
