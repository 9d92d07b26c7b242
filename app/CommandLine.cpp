#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// Qt's own GUI options: QApplication takes them out of the arguments later,
// so they pass here unchecked (the value options take their value).
const char *const QtValueOptions[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "display",    "qwindowgeometry",
    "geometry", "qwindowicon",        "qwindowtitle",  "style",  "stylesheet", "session",
    "title"};
const char *const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// Platforms that open a window without a display server.
bool needsNoDisplay(const QString &platform)
{
    static const QStringList headless = {
        QStringLiteral("offscreen"), QStringLiteral("minimal"), QStringLiteral("vnc"),
        QStringLiteral("eglfs"),     QStringLiteral("linuxfb"), QStringLiteral("vkkhrdisplay"),
        QStringLiteral("minimalegl")};
    return headless.contains(platform);
}

} // namespace

CommandLineOutcome ParseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Desktop alarm for an unattended computer."));
    // Qt's options are single-dash words ("-platform xcb").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption arm(QStringLiteral("arm"),
                                 QStringLiteral("Arm the running copy, or start armed."));
    const QCommandLineOption disarm(
        QStringLiteral("disarm"),
        QStringLiteral("Disarm the running copy (asks for the PIN where one is set)."));
    const QCommandLineOption status(
        QStringLiteral("status"),
        QStringLiteral("Tell the running copy's state; exit status 0 armed, 3 not armed, "
                       "1 not running."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("With --status: one line of JSON."));
    parser.addOptions({arm, disarm, status, json});
    for (const char *name : QtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : QtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLineOutcome outcome;
    if (!parser.parse(arguments)) {
        outcome.action = CommandLineOutcome::Action::Exit;
        outcome.exitCode = 2;
        outcome.text = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                           .arg(QCoreApplication::applicationName().toLower(), parser.errorText());
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty()) {
        outcome.action = CommandLineOutcome::Action::Exit;
        outcome.exitCode = 2;
        outcome.text = QStringLiteral("%1: unexpected argument '%2'\nTry '%1 --help' for more "
                                      "information.\n")
                           .arg(QCoreApplication::applicationName().toLower(),
                                parser.positionalArguments().constFirst());
        return outcome;
    }
    const int requests = int(parser.isSet(arm)) + int(parser.isSet(disarm)) + int(parser.isSet(status));
    QString conflict;
    if (requests > 1)
        conflict = QStringLiteral("--arm, --disarm and --status go one at a time");
    else if (parser.isSet(json) && !parser.isSet(status))
        conflict = QStringLiteral("--json goes with --status");
    if (!conflict.isEmpty()) {
        outcome.action = CommandLineOutcome::Action::Exit;
        outcome.exitCode = 2;
        outcome.text = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                           .arg(QCoreApplication::applicationName().toLower(), conflict);
        return outcome;
    }
    if (parser.isSet(arm))
        outcome.request = CommandLineOutcome::Request::Arm;
    else if (parser.isSet(disarm))
        outcome.request = CommandLineOutcome::Request::Disarm;
    else if (parser.isSet(status))
        outcome.request = CommandLineOutcome::Request::Status;
    outcome.json = parser.isSet(json);
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        outcome.action = CommandLineOutcome::Action::Exit;
        outcome.text = parser.helpText();
    } else if (parser.isSet(version)) {
        outcome.action = CommandLineOutcome::Action::Exit;
        outcome.text = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                     QCoreApplication::applicationVersion());
    }
    return outcome;
}

QString MissingDisplayReason(const QStringList &arguments, const QByteArray &qpaPlatform,
                             const QByteArray &display, const QByteArray &waylandDisplay,
                             const QString &runtimeDir)
{
    const QString wayland = QString::fromLocal8Bit(waylandDisplay);
    const QString socket =
        QDir::isAbsolutePath(wayland) ? wayland : runtimeDir + QLatin1Char('/') + wayland;
    const bool staleWayland =
        !wayland.isEmpty() && !runtimeDir.isEmpty() && !QFileInfo::exists(socket);
    const QString staleNote =
        staleWayland ? QStringLiteral("; WAYLAND_DISPLAY is %1, but no such display runs (%2 is "
                                      "missing): start Tarvo2 from your desktop session, or set "
                                      "WAYLAND_DISPLAY or DISPLAY to a running display")
                           .arg(wayland, socket)
                     : QString();
    // The -platform argument wins over QT_QPA_PLATFORM, as in Qt.
    QString platforms = QString::fromLocal8Bit(qpaPlatform);
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("-platform") ||
            arguments.at(i) == QLatin1String("--platform"))
            platforms = arguments.at(i + 1);
    }
    bool haveX = !display.isEmpty();
    if (arguments.contains(QLatin1String("-display")) ||
        arguments.contains(QLatin1String("--display")))
        haveX = true;
    const bool haveWayland = !waylandDisplay.isEmpty() && !staleWayland;
    if (platforms.isEmpty()) {
        if (haveX || haveWayland)
            return QString();
        if (staleWayland)
            return QStringLiteral("no display: DISPLAY is not set") + staleNote;
        return QStringLiteral("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
    }
    // "wayland;xcb": Qt tries each in turn; one usable is enough.
    QStringList missing; // the variables the named platforms would need
    for (const QString &entry : platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
        if (needsNoDisplay(name))
            return QString();
        if (name == QLatin1String("xcb") && haveX)
            return QString();
        if (name.startsWith(QLatin1String("wayland")) && haveWayland)
            return QString();
        if (name != QLatin1String("xcb") && !name.startsWith(QLatin1String("wayland")))
            return QString(); // a platform of its own: let Qt judge it
        const QString variable = name == QLatin1String("xcb") ? QStringLiteral("DISPLAY")
                                                              : QStringLiteral("WAYLAND_DISPLAY");
        if (!missing.contains(variable))
            missing << variable;
    }
    if (staleWayland)
        missing.removeAll(QStringLiteral("WAYLAND_DISPLAY"));
    if (missing.isEmpty())
        return QStringLiteral("no display for platform '%1'").arg(platforms) + staleNote;
    return QStringLiteral("no display for platform '%1': %2 %3 not set")
               .arg(platforms, missing.join(QStringLiteral(" and ")),
                    missing.size() == 1 ? QStringLiteral("is") : QStringLiteral("are")) +
           staleNote;
}
