// Tarvo2: a desktop alarm for a computer left unattended.

#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/fmMain.h"
#include "info/fmThanx.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

namespace {

QtMessageHandler previousHandler = nullptr;

// A platform plugin that cannot start ends the process through qFatal,
// which aborts and dumps core; a missing display is no crash: say so, end.
void fatalWithoutCore(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "tarvo2: cannot start: %s\n", qPrintable(message));
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (previousHandler)
        previousHandler(type, context, message);
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
    }
    if (outcome.action == CommandLineOutcome::Action::Exit) {
        std::fputs(qPrintable(outcome.text), outcome.exitCode == 0 ? stdout : stderr);
        return outcome.exitCode;
    }
    const QString noDisplay = MissingDisplayReason(arguments, qgetenv("QT_QPA_PLATFORM"),
                                                   qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"));
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
    qInstallMessageHandler(previousHandler);
    // Docks and Wayland compositors match the windows to the installed
    // launcher and icon by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.vekor.Tarvo2"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.vekor.Tarvo2")));

    // A second start hands over to the running copy and ends: it shows
    // nothing, writes nothing and touches no audio device.
    SingleInstance instance; // SingleInstance::DefaultName()
    if (!instance.tryBecomePrimary()) {
        instance.sendRestoreRequest();
        return 0;
    }

    try {
        WriteRegString(StoreKeys::Version, StoreKeys::ProgramLocation,
                       QCoreApplication::applicationFilePath());
    } catch (const RegistryError &) {
        // Nothing reads it; a store that cannot be written is reported by
        // the first setting the user changes.
    }

    TfrmMain window;
    if (!window.FormCreate())
        return 0;
    QObject::connect(&instance, &SingleInstance::restoreRequested, &window,
                     &TfrmMain::RestoreFromMessage);

    ShowWelcomeWindow(StoreKeys::Settings, StoreKeys::MsgThanx, QStringLiteral("Tarvo2"));
    window.show();
    app.exec();
    return 0;
}
