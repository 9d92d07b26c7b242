#pragma once
// Turns new report lines into events for the owner's channels (journal,
// notifications, remote alerts). A line is held until control returns to the
// event loop, so the alarm rules can first say that it was an alarm (they
// tell that right after writing the line).

#include "alerts/AlertEvent.h"

#include <QList>
#include <QObject>
#include <functional>

class ReportFeed : public QObject
{
    Q_OBJECT
public:
    using ArmedTest = std::function<bool(const QString &message)>;

    // armed: whether a line written now counts as written while armed.
    explicit ReportFeed(ArmedTest armed, QObject *parent = nullptr);

    // For ReportLog::addLineObserver.
    void lineWritten(const QString &message, const QString &line);
    // For AlarmControl::alarmRaised: marks the held line of that message.
    void alarmRaised(const QString &message);
    // Hands on what is held now (also done by the event loop).
    void flush();

Q_SIGNALS:
    // Every line, armed or not.
    void line(const AlertEvent &event, bool armed);

private:
    struct Held
    {
        AlertEvent event;
        bool armed;
    };
    ArmedTest m_armed;
    QList<Held> m_held;
    bool m_flushPosted = false;
};
