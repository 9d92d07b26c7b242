#pragma once
// Desktop notifications through org.freedesktop.Notifications on the session
// bus. Calls are sent without waiting for an answer; without a session bus or
// a notification service nothing is shown and nothing fails.

#include <QObject>
#include <QString>

class Notifications : public QObject
{
    Q_OBJECT
public:
    enum class Urgency
    {
        Low = 0,
        Normal = 1,
        Critical = 2
    };

    explicit Notifications(QObject *parent = nullptr);

    // Sends one notification; returns whether it was handed to the bus.
    bool notify(const QString &summary, const QString &body, Urgency urgency = Urgency::Normal);

    // Texts for the alarm's events.
    void armed() { notify(QStringLiteral("Tarvo2 armed"), QStringLiteral("The alarm is on.")); }
    void disarmed()
    {
        notify(QStringLiteral("Tarvo2 disarmed"), QStringLiteral("The alarm is off."));
    }
    void alarmRaised(const QString &event)
    {
        notify(QStringLiteral("Tarvo2 alarm"), event, Urgency::Critical);
    }
    void failure(const QString &text)
    {
        notify(QStringLiteral("Tarvo2 problem"), text, Urgency::Critical);
    }

    int sent() const { return m_sent; }

private:
    int m_sent = 0;
    bool m_warned = false;
};
