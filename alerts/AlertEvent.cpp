#include "alerts/AlertEvent.h"

#include <QDateTime>
#include <QHostInfo>

QJsonObject AlertEvent::toJson() const
{
    QJsonObject object{{QStringLiteral("host"), host},
                       {QStringLiteral("event"), event},
                       {QStringLiteral("time"), time},
                       {QStringLiteral("line"), line},
                       {QStringLiteral("alarm"), alarm}};
    if (!attachment.isEmpty())
        object.insert(QStringLiteral("attachment"), attachment);
    if (!attachment.isEmpty() && attachmentKind != FileKind::Photo)
        object.insert(QStringLiteral("attachmentKind"), FileKindName(attachmentKind));
    if (runStart)
        object.insert(QStringLiteral("runStart"), true);
    return object;
}

AlertEvent AlertEvent::FromJson(const QJsonObject &object)
{
    AlertEvent event;
    event.host = object.value(QStringLiteral("host")).toString();
    event.event = object.value(QStringLiteral("event")).toString();
    event.time = object.value(QStringLiteral("time")).toString();
    event.line = object.value(QStringLiteral("line")).toString();
    event.alarm = object.value(QStringLiteral("alarm")).toBool();
    event.attachment = object.value(QStringLiteral("attachment")).toString();
    event.attachmentKind =
        FileKindFromName(object.value(QStringLiteral("attachmentKind")).toString());
    event.runStart = object.value(QStringLiteral("runStart")).toBool();
    return event;
}

QString AlertEvent::FileKindName(FileKind kind)
{
    switch (kind) {
    case FileKind::Screen:
        return QStringLiteral("screen");
    case FileKind::Sound:
        return QStringLiteral("sound");
    case FileKind::Photo:
        break;
    }
    return QStringLiteral("photo");
}

AlertEvent::FileKind AlertEvent::FileKindFromName(const QString &name)
{
    if (name == QLatin1String("screen"))
        return FileKind::Screen;
    if (name == QLatin1String("sound"))
        return FileKind::Sound;
    return FileKind::Photo;
}

QString AlertEvent::CurrentTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    // An explicit offset, so the receiver knows the desk's local time.
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
}

QString AlertEvent::HostName()
{
    const QString name = QHostInfo::localHostName();
    return name.isEmpty() ? QStringLiteral("unknown host") : name;
}
