#pragma once
// One report line on its way to the owner.

#include <QJsonObject>
#include <QString>

struct AlertEvent
{
    // What the attachment is: the camera's photo, the screen picture or the
    // room's sound clip (the receiver takes each its own way).
    enum class FileKind
    {
        Photo,
        Screen,
        Sound
    };

    QString host;
    QString event; // the report message without its time stamp
    QString time;  // ISO 8601 with the UTC offset
    QString line;  // the report line as written
    bool alarm = false;
    // The first alarm of its run (no alarm queued just before it): a full
    // queue keeps it. Set by the queue.
    bool runStart = false;
    QString attachment; // a file that goes along where the receiver takes one
    FileKind attachmentKind = FileKind::Photo;

    // "Tarvo2 on <host>", and that with the line for receivers without a title.
    QString title() const { return QStringLiteral("Tarvo2 on ") + host; }
    QString text() const { return title() + QStringLiteral(": ") + line; }

    QJsonObject toJson() const;
    static AlertEvent FromJson(const QJsonObject &object);
    bool operator==(const AlertEvent &) const = default;

    // "photo", "screen" or "sound"; unknown names read as a photo (the
    // kind of every file queued before sound and screen went along).
    static QString FileKindName(FileKind kind);
    static FileKind FileKindFromName(const QString &name);

    static QString CurrentTime();
    static QString HostName();
};

Q_DECLARE_METATYPE(AlertEvent)
