#pragma once
// Key paths and value names of everything the program keeps in the store.

#include <QString>

namespace StoreKeys {
inline const QString Settings = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\S");
inline const QString ResetableSettings = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\S\\set");
inline const QString CheckedSounds = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\S\\snd");
inline const QString Version = QStringLiteral("\\SoftWare\\VEKOR\\Tarvo2\\V");

inline const QString AlarmActive = QStringLiteral("Alarm Active");
inline const QString MsgThanx = QStringLiteral("MsgThanx");
inline const QString ProgramLocation = QStringLiteral("ProgramLocation");
inline const QString SwitchOn = QStringLiteral("T");
// Only the switches whose default follows the machine (lid, power cable)
// store "F" when turned off; absent means never set, any other data on.
inline const QString SwitchOff = QStringLiteral("F");
} // namespace StoreKeys
