#pragma once
// Start at log-on while the alarm is on: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/tarvo2.desktop, that exists exactly while the
// alarm switch is on.
//
// Launchers disagree on quoting (dex and systemd's autostart generator refuse
// or mangle quotes, '$', '\', '%', backticks, tabs and line breaks), so a
// program path outside a plain set of characters is started through a small
// launcher script, $XDG_CONFIG_HOME/VEKOR/tarvo2-launch, whose own path is
// plain; it holds the real path in shell quoting and execs it.

#include <QString>
#include <QStringList>

QString AutostartEntryPath();

// The text after "Exec=" in the entry: the path double-quoted by the desktop
// entry rules, started through /usr/bin/env when it holds '%'. Empty when
// the path cannot be written into an entry (empty, or a control character
// other than tab, CR or LF).
QString DesktopEntryExec(const QString &executablePath);

// Reads an Exec value back into the argument list a launcher would run,
// following the freedesktop.org desktop entry rules (string escapes, then quoting,
// then "%%"). Empty for anything malformed.
QStringList ParseDesktopExec(const QString &execValue);

// True when every launcher takes the path as it is: ASCII letters, digits
// and / . _ + , : @ = - only.
bool IsPlainLaunchPath(const QString &path);
QString AutostartLauncherPath();
// The launcher script's text for a program path (a POSIX shell script).
QByteArray LauncherScript(const QString &executablePath);

// Writes the launcher first when the path needs one, then the entry; false
// when either could not be written completely.
bool WriteAutostartEntry(const QString &executablePath);
// True when the entry (and the launcher it starts) is exactly what
// WriteAutostartEntry would write for this path.
bool AutostartEntryCurrent(const QString &executablePath);
bool RemoveAutostartEntry(); // true when no entry (and no launcher) is left
bool AutostartEntryExists();
