#pragma once
// The requests that reach a running guard from outside (D-Bus, the
// command line over the single-instance channel), answered the same way
// whichever road they took. Every request is on the record.

#include "guard/Guard.h"

#include <QByteArray>
#include <QString>

namespace GuardCommands {
// Replies of disarm.
inline constexpr const char *Disarmed = "disarmed";
inline constexpr const char *NotArmed = "not armed";
inline constexpr const char *PinAsked = "pin asked in the window";
inline constexpr const char *PinNeeded = "pin needed";
inline constexpr const char *WrongPin = "wrong pin";

// Empty when armed (or already on), else why it cannot arm.
QString Arm(Guard &guard, Guard::Origin origin);
// pin empty: disarms without a PIN, or asks for it in the window (askInWindow)
// or answers PinNeeded. A wrong PIN counts like one typed in the window.
QString Disarm(Guard &guard, const QString &pin, bool askInWindow, Guard::Origin origin);
// {"state", "armedSince", "lastAlarm", "detectors"} as one line of JSON.
QByteArray StatusJson(Guard &guard);
// The channel's request line ("arm", "disarm <pin>", "disarm-ask", "status")
// answered; empty for an unknown request.
QByteArray Answer(Guard &guard, const QByteArray &request);
} // namespace GuardCommands
