// Tarvo2: a desktop alarm for a computer left unattended.

#include "app/AfterFirstPaint.h"
#include "app/CommandLine.h"
#include "app/DeferredIconStyle.h"
#include "app/RemoteControl.h"
#include "app/SingleInstance.h"
#include "app/fmMain.h"
#include "guard/GuardBus.h"
#include "guard/GuardCommands.h"
#include "app/gUtils.h"
#include "info/fmThanx.h"
#include "settings/StoreKeys.h"

#include <QApplication>
#include <QIcon>
#include <QList>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

QtMessageHandler previousHandler = nullptr;
struct HeldMessage
{
    QtMsgType type;
    QString category;
    QString text;
};
QList<HeldMessage> heldMessages;

// While the platform plugin starts, its messages are held back: a plugin
// that cannot start (a display that is named but not there) ends the
// process through qFatal, which aborts and dumps core after several lines
// of plugin text. A missing display is no crash: say so in one line, end.
void fatalWithoutCore(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        heldMessages.append({type, QString::fromLatin1(context.category), message});
        return;
    }
    QString reason = message.section(QLatin1Char('\n'), 0, 0);
    for (const HeldMessage &held : std::as_const(heldMessages)) {
        if (held.text.contains(QLatin1String("connect to display")))
            reason = held.text.section(QLatin1Char('\n'), 0, 0);
    }
    std::fprintf(stderr, "tarvo2: cannot open a window: %s\n", qPrintable(reason));
    std::fflush(stderr);
    std::_Exit(1);
}

// The platform started: what it said is passed on as usual.
void releaseHeldMessages()
{
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage &held : std::exchange(heldMessages, {})) {
        const QByteArray category = held.category.toLatin1();
        const QMessageLogContext context(nullptr, 0, nullptr, category.constData());
        qt_message_output(held.type, context, held.text);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Tarvo2"));
    QCoreApplication::setOrganizationName(QStringLiteral("VEKOR"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVO2_VERSION));

    // The command line is read before anything needs a display.
    QStringList arguments;
    CommandLineOutcome outcome;
    {
        QCoreApplication core(argc, argv);
        arguments = QCoreApplication::arguments();
        outcome = ParseCommandLine(arguments);
        // --arm, --disarm, --status act on a running copy and end.
        if (outcome.action == CommandLineOutcome::Action::Run &&
            outcome.request != CommandLineOutcome::Request::None) {
            std::optional<RemoteOutcome> remote = SendRemoteRequest(outcome);
            if (!remote)
                remote = NoCopyRunning(outcome);
            if (remote) {
                std::fputs(qPrintable(remote->out), stdout);
                std::fputs(qPrintable(remote->err), stderr);
                return remote->exitCode;
            }
        }
    }
    if (outcome.action == CommandLineOutcome::Action::Exit) {
        std::fputs(qPrintable(outcome.text), outcome.exitCode == 0 ? stdout : stderr);
        return outcome.exitCode;
    }
    const QString noDisplay =
        MissingDisplayReason(arguments, qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                             qgetenv("WAYLAND_DISPLAY"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "tarvo2: cannot open a window: %s\n", qPrintable(noDisplay));
        return 1;
    }

    // The menu stays in the window: asking the session whether a desktop-wide
    // menu bar exists is a round trip on the session bus before the window
    // can show (and, without a session bus, the start of one).
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    previousHandler = qInstallMessageHandler(fatalWithoutCore);
    QApplication app(argc, argv);
    releaseHeldMessages();
    QApplication::setStyle(new DeferredIconStyle(QApplication::style()));
    // Docks and Wayland compositors match the windows to the installed
    // launcher and icon by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.vekor.Tarvo2"));

    // A second start hands over to the running copy and ends: it shows
    // nothing, writes nothing and touches no audio device.
    SingleInstance instance; // SingleInstance::DefaultName()
    if (!instance.tryBecomePrimary()) {
        if (instance.sendRestoreRequest())
            std::fputs("tarvo2: already running; its window is shown\n", stderr);
        else
            std::fputs("tarvo2: already running, but it did not answer\n", stderr);
        return 0;
    }

    try {
        WriteRegString(StoreKeys::Version, StoreKeys::ProgramLocation,
                       QCoreApplication::applicationFilePath());
    } catch (const RegistryError &) {
        // Nothing reads it; a store that cannot be written is reported by
        // the first setting the user changes.
    }

    Guard guard(WorkingDirectoryFor(QCoreApplication::applicationFilePath()));
    TfrmMain window(guard);
    if (!window.FormCreate())
        return 0;
    // Launchers, panels and the command line reach the guard here.
    GuardBus bus(guard);
    instance.setCommandHandler(
        [&guard](const QByteArray &request) { return GuardCommands::Answer(guard, request); });
    if (outcome.request == CommandLineOutcome::Request::Arm)
        guard.armWhenActive(Guard::Origin::CommandLine);
    QObject::connect(&instance, &SingleInstance::restoreRequested, &window,
                     &TfrmMain::RestoreFromMessage);

    // The greeting waits for a start without a stored armed state: as a
    // modal window it would hold up the resume.
    // Looking the icon up in the icon themes costs about as much as a minimal
    // window's whole start: the main window gets it after its first paint,
    // a welcome window shown before it beforehand.
    const auto setIcon = [] {
        QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.vekor.Tarvo2")));
    };
    if (!AlarmControl::StoredAlarmActive() &&
        WelcomeWindowDue(StoreKeys::Settings, StoreKeys::MsgThanx)) {
        setIcon();
        ShowWelcomeWindow(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
    } else {
        window.afterFirstPaint().add(setIcon);
    }
    window.show();
    app.exec();
    return 0;
}
