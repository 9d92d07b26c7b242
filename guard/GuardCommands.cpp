#include "guard/GuardCommands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace GuardCommands {

QString Arm(Guard &guard, Guard::Origin origin)
{
    return guard.arm(origin);
}

QString Disarm(Guard &guard, const QString &pin, bool askInWindow, Guard::Origin origin)
{
    if (!guard.alarm().isOn(AlarmControl::Switch::Alarm))
        return QString::fromLatin1(NotArmed);
    if (!guard.protection().needsPin(DisarmProtection::Step::Disarm) || !pin.isEmpty())
        return guard.disarmWithPin(pin, origin) ? QString::fromLatin1(Disarmed)
                                                : QString::fromLatin1(WrongPin);
    if (!askInWindow)
        return QString::fromLatin1(PinNeeded);
    guard.requestDisarm(origin);
    return QString::fromLatin1(PinAsked);
}

QByteArray StatusJson(Guard &guard)
{
    QJsonObject status;
    status.insert(QStringLiteral("state"), Guard::StateName(guard.state()));
    status.insert(QStringLiteral("armedSince"),
                  guard.armedSince().isValid()
                      ? QJsonValue(guard.armedSince().toString(Qt::ISODate))
                      : QJsonValue());
    status.insert(QStringLiteral("lastAlarm"), guard.lastAlarmLine().isEmpty()
                                                   ? QJsonValue()
                                                   : QJsonValue(guard.lastAlarmLine()));
    status.insert(QStringLiteral("detectors"), QJsonArray::fromStringList(guard.detectorsOn()));
    return QJsonDocument(status).toJson(QJsonDocument::Compact);
}

QByteArray Answer(Guard &guard, const QByteArray &request)
{
    const qsizetype space = request.indexOf(' ');
    const QByteArray word = space < 0 ? request : request.left(space);
    const QString argument = space < 0 ? QString() : QString::fromUtf8(request.mid(space + 1));
    const auto origin = Guard::Origin::CommandLine;
    if (word == "arm") {
        const QString why = Arm(guard, origin);
        return why.isEmpty() ? QByteArrayLiteral("armed") : "refused: " + why.toUtf8();
    }
    if (word == "disarm")
        return Disarm(guard, argument, false, origin).toUtf8();
    if (word == "disarm-ask")
        return Disarm(guard, QString(), true, origin).toUtf8();
    if (word == "status")
        return StatusJson(guard);
    return QByteArray();
}

} // namespace GuardCommands
