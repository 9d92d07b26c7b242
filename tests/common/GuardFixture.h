#pragma once
// A program folder with one checked sound, and a guard started in it with no
// delays: where the guard's and the window's tests begin.

#include "guard/Guard.h"
#include "report/ReportLog.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QDir>
#include <QFile>
#include <memory>

namespace tarvo::test {

// The folder (with its trailing slash), or an empty string when the sound
// could not be made.
inline QString FolderWithOneSound(const QString &root)
{
    const QString folder = root + QLatin1Char('/');
    QDir().mkpath(folder + QStringLiteral("Sounds"));
    QFile sound(folder + QStringLiteral("Sounds/a.wav"));
    if (!sound.open(QIODevice::WriteOnly))
        return {};
    WriteRegString(StoreKeys::CheckedSounds, QStringLiteral("a.wav"), QStringLiteral("T"));
    return folder;
}

inline std::unique_ptr<Guard> StartedGuard(const QString &root)
{
    const QString folder = FolderWithOneSound(root);
    if (folder.isEmpty())
        return nullptr;
    auto guard = std::make_unique<Guard>(folder);
    if (!guard->start().isEmpty())
        return nullptr;
    guard->settings().setValue(QStringLiteral("spnActivationDelay"), 0);
    guard->settings().setValue(QStringLiteral("spnTriggerDelay"), 0);
    guard->activate();
    return guard;
}

inline bool ReportHas(Guard &guard, const QString &text)
{
    for (const QString &line : guard.report().lines())
        if (line.endsWith(text))
            return true;
    return false;
}

} // namespace tarvo::test
