#pragma once
// Start at log-on while the alarm is on: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/tarvo2.desktop, that exists exactly while the
// alarm switch is on.

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

bool WriteAutostartEntry(const QString &executablePath);
bool RemoveAutostartEntry(); // true when no entry is left
bool AutostartEntryExists();
