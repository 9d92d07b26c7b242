#pragma once
// Turns new report lines into events for the owner's channels (journal,
// notifications, remote alerts).
//
// A line written while armed is handed to keep (the alert queue) before it
// reaches the report file, so a kill in between loses no alert. The alarm
// rules announce an accepted trigger before its line, so the line is kept as
// an alarm at once; an alarm whose line the report dropped as a repeat is
// kept all the same. A simulated alarm (made by the program itself as a
// deterrent) is a plain line: it must not page the owner. The journal's
// signal waits for the event loop.

#include "alerts/AlertEvent.h"

#include <QList>
#include <QObject>
#include <functional>

class ReportFeed : public QObject
{
    Q_OBJECT
public:
    using ArmedTest = std::function<bool(const QString &message)>;
    using Keep = std::function<void(const AlertEvent &event)>;
    // The file that goes along with a message (a photo, the screen picture,
    // the sound clip); an empty path for none.
    struct Attached
    {
        QString path;
        AlertEvent::FileKind kind = AlertEvent::FileKind::Photo;
    };
    using AttachmentOf = std::function<Attached(const QString &message)>;

    // armed: whether a line written now counts as written while armed.
    explicit ReportFeed(ArmedTest armed, Keep keep = {}, QObject *parent = nullptr);

    // For ReportLog::addLineKeeper (before the line reaches the file).
    void lineWritten(const QString &message, const QString &line);
    // For AlarmControl::alarmAccepted: the next line of that message is an alarm.
    void alarmAccepted(const QString &message);
    // For AlarmControl::alarmRaised: an alarm whose line was dropped as a
    // repeat goes out without it.
    void alarmRaised(const QString &message);
    // The alarm the simulation raises.
    static bool IsSimulated(const QString &message);
    // Set by the owner of the files; asked for every line written.
    void setAttachmentOf(AttachmentOf attachmentOf) { m_attachmentOf = std::move(attachmentOf); }
    // Hands on what is held now (also done by the event loop).
    void flush();

Q_SIGNALS:
    // Every line, armed or not.
    void line(const AlertEvent &event, bool armed);

private:
    void take(const AlertEvent &event, bool armed);

    struct Held
    {
        AlertEvent event;
        bool armed;
    };
    ArmedTest m_armed;
    Keep m_keep;
    AttachmentOf m_attachmentOf;
    QString m_comingAlarm;
    QList<Held> m_held;
    bool m_flushPosted = false;
};
