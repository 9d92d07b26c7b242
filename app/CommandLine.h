#pragma once
// The command line, read before anything needs a display: --help and
// --version answer and end without touching a setting; an unknown option is
// an error; a start without a display ends with one line instead of an abort
// inside the platform plugin.

#include <QString>
#include <QStringList>

struct CommandLineOutcome
{
    enum class Action
    {
        Run, // go on and open the window
        Exit // print text and end with exitCode
    };
    Action action = Action::Run;
    // A request to a running copy (or, for Arm, a start armed).
    enum class Request
    {
        None,
        Arm,
        Disarm,
        Status
    };
    Request request = Request::None;
    bool json = false; // --status --json
    int exitCode = 0;
    QString text; // printed to stdout (exit code 0) or stderr
};

// Parses the program's arguments (arguments[0] is the program). Needs a
// QCoreApplication with the application name and version set (for --help).
CommandLineOutcome ParseCommandLine(const QStringList &arguments);

// Why no window can be opened with this environment and these arguments
// (a -platform argument, QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY); empty
// when a display, or a platform that needs none, is there. With
// runtimeDir (XDG_RUNTIME_DIR), a WAYLAND_DISPLAY whose socket is not there
// counts as none, and the reason names it and what to do.
QString MissingDisplayReason(const QStringList &arguments, const QByteArray &qpaPlatform,
                             const QByteArray &display, const QByteArray &waylandDisplay,
                             const QString &runtimeDir = QString());
