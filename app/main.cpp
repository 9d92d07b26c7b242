// Tarvo2: a desktop alarm for a computer left unattended.

#include "app/SingleInstance.h"
#include "app/fmMain.h"
#include "info/fmThanx.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvo2"));
    QApplication::setOrganizationName(QStringLiteral("VEKOR"));

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
