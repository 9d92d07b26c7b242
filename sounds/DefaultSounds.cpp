#include "sounds/DefaultSounds.h"

#include "files/SafeFile.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"
#include "sounds/SoundLibrary.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString CheckedMark = QStringLiteral("T");

bool holdsSounds(const QString &folder)
{
    return !folder.isEmpty() && !ScanSoundsFolder(folder, 1).isEmpty();
}

QString withSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

QString FindDefaultSoundsFolder(const QString &executablePath, const QString &installedFolder)
{
    // TARVO2_DEFAULT_SOUNDS names the folder outright (empty: none), for
    // relocated installs and for tests that want a sounds folder of their own.
    if (qEnvironmentVariableIsSet("TARVO2_DEFAULT_SOUNDS")) {
        const QString chosen = qEnvironmentVariable("TARVO2_DEFAULT_SOUNDS");
        return holdsSounds(chosen) ? withSlash(QDir::cleanPath(chosen)) : QString();
    }
    const QString exeFolder = QFileInfo(executablePath).absolutePath();
    const QStringList candidates = {
        exeFolder + QStringLiteral("/../data/sounds"),
        exeFolder + QStringLiteral("/../share/tarvo2/sounds"),
        installedFolder,
    };
    for (const QString &candidate : candidates) {
        if (holdsSounds(candidate))
            return withSlash(QDir::cleanPath(candidate));
    }
    return QString();
}

DefaultSoundsResult OfferDefaultSounds(const QString &soundsFolder, const QString &sourceFolder)
{
    DefaultSoundsResult result;
    if (!ReadRegString(StoreKeys::Version, DefaultSoundsOfferedValue).isEmpty())
        return result;
    if (sourceFolder.isEmpty())
        return result; // nothing to offer yet; a later start with the sounds may

    if (!holdsSounds(soundsFolder)) {
        if (!SafeFile::MakePrivateFolder(soundsFolder)) {
            result.error = QStringLiteral("Cannot create %1").arg(soundsFolder);
            return result;
        }
        const QString target = withSlash(soundsFolder);
        const QString source = withSlash(sourceFolder);
        for (const QString &name : ScanSoundsFolder(source)) {
            if (CopyFileReplacing(source + name, target + name))
                result.copied.append(name);
            else
                result.error = QStringLiteral("Cannot copy %1 to %2").arg(name, target);
        }
        if (!result.error.isEmpty()) {
            // Half a set is no offer: take back what was copied, try again next start.
            for (const QString &name : std::as_const(result.copied))
                QFile::remove(target + name);
            result.copied.clear();
            return result;
        }
    }
    try {
        if (!result.copied.isEmpty()) {
            QStringList checked;
            ReadRegValueNames(StoreKeys::CheckedSounds, checked);
            for (const QString &name : std::as_const(result.copied)) {
                if (!checked.contains(name, Qt::CaseInsensitive))
                    checked.append(name);
            }
            ReplaceRegKeyValues(StoreKeys::CheckedSounds, checked, CheckedMark);
        }
        WriteRegString(StoreKeys::Version, DefaultSoundsOfferedValue, StoreKeys::SwitchOn);
    } catch (const RegistryError &error) {
        // The sounds stay (unchecked); the offer is made again next start,
        // and the copies then are not new to the folder, so nothing doubles.
        result.error = error.message();
        return result;
    }
    result.offered = true;
    return result;
}
