#include "evidence/EvidenceSettings.h"

#include "settings/gRegistry.h"

#include <algorithm>

const QString EvidenceSettings::KeyPath = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\S\\evidence");

namespace {
const QString PhotoName = QStringLiteral("Photo");
const QString ScreenName = QStringLiteral("Screen");
const QString SoundName = QStringLiteral("Sound");
const QString SendName = QStringLiteral("Send");
const QString KeepDaysName = QStringLiteral("Keep Days");
const QString MaxMBName = QStringLiteral("Max MB");

int ReadNumber(const QString &name, int fallback, int low, int high)
{
    bool ok = false;
    const int value = ReadRegString(EvidenceSettings::KeyPath, name).trimmed().toInt(&ok);
    return ok ? std::clamp(value, low, high) : fallback;
}

void WriteSwitch(const QString &name, bool on)
{
    if (on)
        WriteRegString(EvidenceSettings::KeyPath, name, QStringLiteral("T"));
    else
        DeleteRegValue(EvidenceSettings::KeyPath, name);
}
} // namespace

EvidenceSettings EvidenceSettings::Load()
{
    EvidenceSettings settings;
    settings.photo = ReadRegString(KeyPath, PhotoName) == QLatin1String("T");
    settings.screen = ReadRegString(KeyPath, ScreenName) == QLatin1String("T");
    settings.sound = ReadRegString(KeyPath, SoundName) == QLatin1String("T");
    // On unless turned off: a missing or unreadable value sends.
    settings.send = ReadRegString(KeyPath, SendName) != QLatin1String("F");
    settings.limits.keepDays = ReadNumber(KeepDaysName, settings.limits.keepDays, 0, MaxKeepDays);
    settings.limits.maxMB = ReadNumber(MaxMBName, settings.limits.maxMB, 1, MaxMB);
    return settings;
}

void EvidenceSettings::save() const
{
    WriteSwitch(PhotoName, photo);
    WriteSwitch(ScreenName, screen);
    WriteSwitch(SoundName, sound);
    WriteRegString(KeyPath, SendName, send ? QStringLiteral("T") : QStringLiteral("F"));
    WriteRegString(KeyPath, KeepDaysName,
                   QString::number(std::clamp(limits.keepDays, 0, MaxKeepDays)));
    WriteRegString(KeyPath, MaxMBName, QString::number(std::clamp(limits.maxMB, 1, MaxMB)));
}
