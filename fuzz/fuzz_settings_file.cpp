// The settings store reading a file of any content: whatever the bytes, reads
// return (possibly empty) values and nothing crashes. Goes through the public
// functions only, like the program does.

#include "fuzz/FuzzHome.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFileInfo>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    tarvo::fuzz::prepareHome();
    QDir().mkpath(QFileInfo(RegistryFilePath()).path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = RegistryFilePath();
    const QString folder = QFileInfo(path).path();
    // A file found broken is moved aside; start every input from a clean folder.
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    if (!tarvo::fuzz::writeFile(path, reinterpret_cast<const char *>(data), size))
        return 0;

    QStringList names;
    for (const QString &key : {StoreKeys::Settings, StoreKeys::ResetableSettings,
                               StoreKeys::CheckedSounds, StoreKeys::Version}) {
        names.clear();
        if (ReadRegValueNames(key, names)) {
            // Each read parses the file again: a few names are enough.
            for (const QString &name : names.mid(0, 3))
                (void)ReadRegString(key, name);
        }
    }
    (void)ReadRegString(StoreKeys::Settings, StoreKeys::AlarmActive);
    return 0;
}
